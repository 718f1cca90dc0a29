// SPDX-License-Identifier: GPL-3.0-or-later

// What assistive technology learns of the main window: the picture buttons
// as buttons named by the text on their faces, pressable through the
// accessibility interface, and names for the ID box, the volume bar and the
// station table. Nothing on the screen changes.

#include "main_window/form1.h"
#include "main_window/picture.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>
#include <QScrollBar>
#include <QTreeView>
#include <mutex>

namespace {

// Each button is two faces at one place: the normal face on top and, below
// it, the highlighted face that the pointer uncovers and that takes the click.
struct PictureButton {
    const char *face;
    const char *hotFace;
    const char16_t *name;
};

constexpr PictureButton kPictureButtons[] = {
    {"Image2", "Image3", u"ID 播放"},    {"Image4", "Image5", u"快速搜索"},
    {"Image6", "Image7", u"更新/联系"},  {"Image8", "Image9", u"播放/停止"},
    {"Image11", "Image10", u"获取频道"}, {"Image15", "Image14", u"最小化"},
    {"Image12", "Image13", u"关闭"},
};

// A face of the main window by its control name.
Picture *FaceOf(const QWidget &form, const char *name) {
    return form.findChild<Picture *>(QLatin1StringView(name), Qt::FindDirectChildrenOnly);
}

// One face of a picture button as a button. Only the face on view counts as
// visible, so a screen reader meets each button once; pressing either face
// does what a click on the button does.
class PictureButtonAccessible : public QAccessibleWidget {
public:
    PictureButtonAccessible(Picture *face, Picture *cover, Picture *hotFace)
        : QAccessibleWidget(face, QAccessible::Button), cover_(cover), hotFace_(hotFace) {}

    QAccessible::State state() const override {
        QAccessible::State state = QAccessibleWidget::state();
        if (cover_ != nullptr && cover_->isVisible()) {
            state.invisible = true;
        }
        return state;
    }

    QStringList actionNames() const override { return {pressAction()}; }

    void doAction(const QString &action) override {
        if (action == pressAction() && widget()->isEnabled()) {
            emit hotFace_->clicked();
        }
    }

private:
    Picture *cover_;   // the normal face over this one; none for the normal face
    Picture *hotFace_; // the face that takes the click
};

QAccessibleInterface *PictureButtonFactory(const QString &, QObject *object) {
    // Button faces are named once the window has all its controls; before
    // that the window's members cannot be looked at.
    auto *picture = qobject_cast<Picture *>(object);
    if (picture == nullptr || picture->accessibleName().isEmpty()) {
        return nullptr;
    }
    auto *form = qobject_cast<Form1 *>(picture->parentWidget());
    if (form == nullptr) {
        return nullptr;
    }
    for (const PictureButton &button : kPictureButtons) {
        Picture *face = FaceOf(*form, button.face);
        Picture *hotFace = FaceOf(*form, button.hotFace);
        if (picture == face) {
            return new PictureButtonAccessible(face, nullptr, hotFace);
        }
        if (picture == hotFace) {
            return new PictureButtonAccessible(hotFace, face, hotFace);
        }
    }
    return nullptr;
}

} // namespace

void Form1::describeToAssistiveTechnology() {
    static std::once_flag factoryInstalled;
    std::call_once(factoryInstalled, [] { QAccessible::installFactory(PictureButtonFactory); });
    for (const PictureButton &button : kPictureButtons) {
        for (Picture *face : {FaceOf(*this, button.face), FaceOf(*this, button.hotFace)}) {
            face->setAccessibleName(QString::fromUtf16(button.name));
            // A state change while the window was built (the fetch face is
            // disabled) made and kept a plain picture's interface: drop it,
            // so that the button's is made.
            QAccessibleInterface *made = QAccessible::queryAccessibleInterface(face);
            if (made != nullptr && made->role() != QAccessible::Button) {
                QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
            }
        }
    }
    Text1->setAccessibleName(QStringLiteral("频道ID"));
    Slider1->setAccessibleName(QStringLiteral("音量"));
    ListView1->setAccessibleName(QStringLiteral("频道列表"));
    // The status line is named by its own text, "状态：…", which changes with it.
}
