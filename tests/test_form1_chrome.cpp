// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window/cursor_blink.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"
#include "tests/support/tick.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeView>

using testsupport::Tick;

namespace {

// Sends a mouse event straight to a control, with an explicit button state.
void SendMouse(QWidget *target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons buttons) {
    QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, buttons,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(target, &event);
}

void Move(QWidget *target, QPoint at, Qt::MouseButtons buttons = Qt::NoButton) {
    SendMouse(target, QEvent::MouseMove, at, Qt::NoButton, buttons);
}

} // namespace

class TestForm1Chrome : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void windowFrame();
    void dragFollowsPointer_data();
    void dragFollowsPointer();
    void dragNeedsLeftButtonAlone();
    void rightClickEndsDrag();
    void hoverGroupsAreIndependent();
    void disabledFetchFaceNeverHighlights();
    void overlapBelongsToEarlierFace_data();
    void overlapBelongsToEarlierFace();
    void picturesTakeNoFocus();
    void text1ClickClears();
    void text1LostFocus_data();
    void text1LostFocus();
    void text1ContextMenuKeepsTheBox();
    void cursorBlinkRests();
    void keyboardFocusChain();
    void reminimiseKeeper();
    void closeStopsSound_data();
    void closeStopsSound();
    void pictureButtonsForAssistiveTechnology_data();
    void pictureButtonsForAssistiveTechnology();
    void pressThroughAssistiveTechnology();
    void controlsNamedForAssistiveTechnology();

private:
    Form1 &form() const { return window_->form; }
    template <class Control> Control *control(const char *name) const {
        return window_->control<Control>(name);
    }
    Picture *picture(const char *name) const { return control<Picture>(name); }

    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<testsupport::MainWindow> window_;
};

void TestForm1Chrome::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    window_ = std::make_unique<testsupport::MainWindow>(*platform_);
    form().move(100, 100);
    form().show();
    QVERIFY(QTest::qWaitForWindowExposed(&form()));
}

void TestForm1Chrome::cleanup() {
    window_.reset();
    platform_.reset();
}

void TestForm1Chrome::windowFrame() {
    QVERIFY(form().windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form().size(), QSize(629, 466));
    QCOMPARE(form().minimumSize(), form().maximumSize());
    QCOMPARE(form().windowTitle(), QStringLiteral("Quorvel收音机"));
    QCOMPARE(form().windowIcon().availableSizes(), (QList<QSize>{{48, 48}, {128, 128}}));
    QVERIFY(!control<QGroupBox>("Frame1")->isVisible());
    auto *text1 = control<QLineEdit>("Text1");
    QCOMPARE(text1->text(), QStringLiteral("输入ID"));
    QCOMPARE(text1->palette().color(QPalette::Text), QColor(192, 192, 192));
    QCOMPARE(text1->toolTip(), QStringLiteral("根据频道ID 快速播放"));
    QCOMPARE(control<QScrollBar>("Slider1")->maximum(), 100);
    // A label's text of several lines shows its first line at the top.
    for (const char *label : {"Label1", "Label2", "Label3", "Label4"}) {
        QCOMPARE(picture(label)->alignment(), Qt::Alignment(Qt::AlignTop | Qt::AlignLeft));
    }
    auto *timer1 = control<QTimer>("Timer1");
    auto *timer2 = control<QTimer>("Timer2");
    auto *timer3 = control<QTimer>("Timer3");
    QVERIFY(!timer2->isActive()); // switched off by the first show
    QVERIFY(timer1->isActive());
    QCOMPARE(timer1->interval(), 800);
    QVERIFY(timer3->isActive());
    QCOMPARE(timer3->interval(), 10000);
    QCOMPARE(timer2->interval(), 1000);
}

void TestForm1Chrome::dragFollowsPointer_data() {
    QTest::addColumn<bool>("byTitle");
    QTest::newRow("title text") << true;
    QTest::newRow("background") << false;
}

// The window is first offered to the window system to move; the test
// platform's moves none itself, so the window follows the pointer on its own.
void TestForm1Chrome::dragFollowsPointer() {
    QFETCH(bool, byTitle);
    Picture *handle = byTitle ? picture("Label1") : picture("Image1");
    const QPoint start = form().pos();
    const QPoint press(6, 5);
    SendMouse(handle, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    // The handle moves with the window, so each move reports the travel since
    // the last step relative to the handle.
    Move(handle, press + QPoint(30, 12), Qt::LeftButton);
    QCOMPARE(form().pos(), start + QPoint(30, 12));
    Move(handle, press + QPoint(-7, 4), Qt::LeftButton);
    QCOMPARE(form().pos(), start + QPoint(23, 16));
    SendMouse(handle, QEvent::MouseButtonRelease, press, Qt::LeftButton, Qt::NoButton);
    Move(handle, press + QPoint(50, 50));
    QCOMPARE(form().pos(), start + QPoint(23, 16));
}

void TestForm1Chrome::dragNeedsLeftButtonAlone() {
    Picture *background = picture("Image1");
    const QPoint start = form().pos();
    SendMouse(background, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    Move(background, {40, 40}, Qt::LeftButton | Qt::RightButton);
    Move(background, {40, 40}, Qt::RightButton);
    QCOMPARE(form().pos(), start);
}

void TestForm1Chrome::rightClickEndsDrag() {
    Picture *background = picture("Image1");
    const QPoint start = form().pos();
    SendMouse(background, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(background, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton,
              Qt::LeftButton | Qt::RightButton);
    SendMouse(background, QEvent::MouseButtonRelease, {10, 10}, Qt::RightButton, Qt::LeftButton);
    // The drag is over: the left button alone no longer moves the window.
    Move(background, {60, 30}, Qt::LeftButton);
    QCOMPARE(form().pos(), start);
}

void TestForm1Chrome::hoverGroupsAreIndependent() {
    picture("Image11")->setEnabled(true);
    Move(picture("Image4"), {5, 5});
    QVERIFY(picture("Image4")->isHidden());
    Move(picture("Image12"), {5, 5});
    QVERIFY(picture("Image12")->isHidden());
    QVERIFY(picture("Image4")->isHidden()); // group A keeps its highlight
    Move(picture("Image15"), {5, 5});
    QVERIFY(picture("Image15")->isHidden());
    QVERIFY(!picture("Image12")->isHidden());
    QVERIFY(picture("Image4")->isHidden());
    Move(picture("Image11"), {5, 5});
    QVERIFY(picture("Image11")->isHidden());
    QVERIFY(!picture("Image4")->isHidden());
    QVERIFY(picture("Image15")->isHidden()); // group B keeps its highlight
    // Only the drag handles and the table clear both groups.
    Move(control<QTreeView>("ListView1")->viewport(), {20, 20});
    for (const char *face :
         {"Image2", "Image4", "Image6", "Image8", "Image11", "Image12", "Image15"}) {
        QVERIFY2(!picture(face)->isHidden(), face);
    }
    Move(picture("Image8"), {5, 5});
    Move(picture("Label1"), {5, 5});
    QVERIFY(!picture("Image8")->isHidden());
}

void TestForm1Chrome::disabledFetchFaceNeverHighlights() {
    // Disabled, the face is drawn as it is, not greyed.
    QCOMPARE(picture("Image11")->grab().toImage().convertToFormat(QImage::Format_RGB32),
             picture("Image11")->pixmap().toImage().convertToFormat(QImage::Format_RGB32));
    // Through the window system, as a real pointer arrives.
    QTest::mouseMove(form().windowHandle(), QPoint(440, 12));
    QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(440, 12));
    QVERIFY(!picture("Image11")->isHidden());
    QVERIFY(platform_->boxes.shown.isEmpty()); // the click never reached Image10
    // Once enabled, the same pointer highlights it and the click lands on Image10.
    picture("Image11")->setEnabled(true);
    QTest::mouseMove(form().windowHandle(), QPoint(441, 13));
    QVERIFY(picture("Image11")->isHidden());
    QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(441, 13));
    QCOMPARE(platform_->boxes.shown.size(), 1);
}

void TestForm1Chrome::overlapBelongsToEarlierFace_data() {
    QTest::addColumn<QPoint>("at");
    QTest::addColumn<QString>("face");
    QTest::newRow("Image4 over Image2") << QPoint(232, 10) << "Image4";
    QTest::newRow("Image2 left of the strip") << QPoint(231, 10) << "Image2";
    QTest::newRow("Image6 over Image4") << QPoint(297, 10) << "Image6";
    QTest::newRow("Image8 over Image6") << QPoint(361, 10) << "Image8";
    QTest::newRow("Image8 over Image11") << QPoint(424, 10) << "Image8";
    QTest::newRow("Image11 right of the strip") << QPoint(426, 10) << "Image11";
    QTest::newRow("Image15 over Image12") << QPoint(585, 10) << "Image15";
    QTest::newRow("Image12 right of the strip") << QPoint(586, 10) << "Image12";
    QTest::newRow("title text over background") << QPoint(8, 12) << "Label1";
    QTest::newRow("table over background") << QPoint(100, 200) << "ListView1";
}

void TestForm1Chrome::overlapBelongsToEarlierFace() {
    QFETCH(QPoint, at);
    QFETCH(QString, face);
    QWidget *hit = form().childAt(at);
    while (hit && hit->parentWidget() != &form()) {
        hit = hit->parentWidget();
    }
    QVERIFY(hit != nullptr);
    QCOMPARE(hit->objectName(), face);
}

void TestForm1Chrome::picturesTakeNoFocus() {
    QLineEdit *text1 = control<QLineEdit>("Text1");
    form().activateWindow();
    text1->setFocus();
    QTRY_VERIFY(text1->hasFocus());
    QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(200, 12)); // Image2
    QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(20, 12)); // Label1
    QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(300, 440)); // Image1
    QVERIFY(text1->hasFocus());
}

void TestForm1Chrome::text1ClickClears() {
    QLineEdit *text1 = control<QLineEdit>("Text1");
    QTest::mouseClick(text1, Qt::LeftButton);
    QCOMPARE(text1->text(), QString());
    QCOMPARE(text1->palette().color(QPalette::Text), QColor(Qt::black));
    QTest::keyClicks(text1, "123");
    QCOMPARE(text1->text(), "123");
    QTest::mouseClick(text1, Qt::LeftButton);
    QCOMPARE(text1->text(), QString());
}

// Without input the cursor stops blinking; a key makes it blink again, and the
// desktop's rate comes back when the watcher goes.
void TestForm1Chrome::cursorBlinkRests() {
    const int desktop = QApplication::cursorFlashTime();
    QVERIFY(desktop > 0);
    {
        CursorBlinkTimeout timeout(nullptr, std::chrono::milliseconds(20));
        QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
        QTest::keyClick(control<QLineEdit>("Text1"), Qt::Key_1);
        QCOMPARE(QApplication::cursorFlashTime(), desktop);
        QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
    }
    QCOMPARE(QApplication::cursorFlashTime(), desktop);
}

void TestForm1Chrome::text1LostFocus_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("after");
    QTest::newRow("digits stay") << "123"
                                 << "123";
    QTest::newRow("decimal stays") << " 1.5 "
                                   << " 1.5 ";
    QTest::newRow("empty") << "" << QStringLiteral("频道ID");
    QTest::newRow("letters") << "abc" << QStringLiteral("频道ID");
}

void TestForm1Chrome::text1LostFocus() {
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QLineEdit *text1 = control<QLineEdit>("Text1");
    form().activateWindow();
    text1->setFocus();
    QTRY_VERIFY(text1->hasFocus());
    QTest::mouseClick(text1, Qt::LeftButton);
    QTest::keyClicks(text1, typed);
    // A click into the station table takes the focus.
    QTest::mouseClick(control<QTreeView>("ListView1")->viewport(), Qt::LeftButton, Qt::NoModifier,
                      {30, 30});
    QTRY_VERIFY(!text1->hasFocus());
    QCOMPARE(text1->text(), after);
    const QColor colour = after == typed ? QColor(Qt::black) : QColor(192, 192, 192);
    QCOMPARE(text1->palette().color(QPalette::Text), colour);
}

void TestForm1Chrome::text1ContextMenuKeepsTheBox() {
    QLineEdit *text1 = control<QLineEdit>("Text1");
    form().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form()));
    QTest::mouseClick(text1, Qt::LeftButton);
    QGuiApplication::clipboard()->setText("391");
    const QPoint at(10, 5);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, text1->mapToGlobal(at));
    QCoreApplication::sendEvent(text1, &menuEvent);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    // The menu names each action's shortcut after a tab.
    const QString pasteKey =
        '\t' + QKeySequence(QKeySequence::Paste).toString(QKeySequence::NativeText);
    const QList<QAction *> actions = menu->actions();
    const auto paste = std::find_if(actions.begin(), actions.end(), [&](const QAction *action) {
        return action->text().endsWith(pasteKey);
    });
    QVERIFY(paste != actions.end());
    (*paste)->trigger();
    menu->close();
    QCOMPARE(text1->text(), "391");
    QCOMPARE(text1->palette().color(QPalette::Text), QColor(Qt::black));
}

void TestForm1Chrome::keyboardFocusChain() {
    QLineEdit *text1 = control<QLineEdit>("Text1");
    QScrollBar *slider1 = control<QScrollBar>("Slider1");
    QTreeView *listView1 = control<QTreeView>("ListView1");
    form().activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form()));
    QTRY_VERIFY(text1->hasFocus());
    QTest::keyClick(text1, Qt::Key_Tab);
    QVERIFY(slider1->hasFocus());
    QCOMPARE(text1->text(), QStringLiteral("频道ID"));
    // The keyboard moves the bar; only dragging its thumb sets the volume.
    QTest::keyClick(slider1, Qt::Key_Right);
    QCOMPARE(slider1->value(), 75);
    QCOMPARE(platform_->player->volume(), 70);
    QTest::keyClick(slider1, Qt::Key_Tab);
    QVERIFY(listView1->hasFocus());
    QTest::keyClick(listView1, Qt::Key_Tab);
    QVERIFY(text1->hasFocus());
    // Focus by the keyboard leaves the placeholder; typing adds to it.
    QTest::keyClicks(text1, "12");
    QCOMPARE(text1->text(), QStringLiteral("频道ID12"));
}

// Every thirtieth tick of the keeper minimises the window again. That shows
// only while the window is not minimised, so the ticks that follow a restore
// are run by hand: they are the ticks of the next minimised period.
void TestForm1Chrome::reminimiseKeeper() {
    QTimer *timer2 = control<QTimer>("Timer2");
    const auto tickTimes = [timer2](int ticks) {
        for (int tick = 0; tick < ticks; ++tick) {
            Tick(timer2);
        }
    };
    form().setWindowState(Qt::WindowMinimized);
    QVERIFY(timer2->isActive());
    tickTimes(20);
    form().setWindowState(Qt::WindowNoState);
    QVERIFY(!timer2->isActive());
    // The twenty ticks carry over: the tenth tick after them minimises.
    tickTimes(9);
    QVERIFY(!form().isMinimized());
    Tick(timer2);
    QVERIFY(form().isMinimized());
    // The count starts afresh after it.
    form().setWindowState(Qt::WindowNoState);
    tickTimes(29);
    QVERIFY(!form().isMinimized());
    Tick(timer2);
    QVERIFY(form().isMinimized());
}

void TestForm1Chrome::closeStopsSound_data() {
    QTest::addColumn<bool>("byCloseBox");
    QTest::newRow("close box") << true;
    QTest::newRow("window closed") << false;
}

void TestForm1Chrome::closeStopsSound() {
    QFETCH(bool, byCloseBox);
    if (byCloseBox) {
        // The highlight uncovers Image13, which takes the click.
        QTest::mouseMove(form().windowHandle(), QPoint(600, 10));
        QVERIFY(picture("Image12")->isHidden());
        QTest::mouseClick(form().windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(600, 10));
    } else {
        form().close();
    }
    QCOMPARE(platform_->player->stopCalls, 1);
    QVERIFY(!form().isVisible());
}

void TestForm1Chrome::pictureButtonsForAssistiveTechnology_data() {
    QTest::addColumn<QString>("face"); // the normal face; the highlighted face lies below it
    QTest::addColumn<QString>("hotFace");
    QTest::addColumn<QString>("name");
    QTest::newRow("ID play") << "Image2"
                             << "Image3"
                             << "ID 播放";
    QTest::newRow("quick search") << "Image4"
                                  << "Image5"
                                  << "快速搜索";
    QTest::newRow("about") << "Image6"
                           << "Image7"
                           << "更新/联系";
    QTest::newRow("play/stop") << "Image8"
                               << "Image9"
                               << "播放/停止";
    QTest::newRow("fetch") << "Image11"
                           << "Image10"
                           << "获取频道";
    QTest::newRow("minimise") << "Image15"
                              << "Image14"
                              << "最小化";
    QTest::newRow("close") << "Image12"
                           << "Image13"
                           << "关闭";
}

void TestForm1Chrome::pictureButtonsForAssistiveTechnology() {
    QFETCH(QString, face);
    QFETCH(QString, hotFace);
    QFETCH(QString, name);
    QAccessibleInterface *onView = QAccessible::queryAccessibleInterface(picture(qPrintable(face)));
    QAccessibleInterface *below =
        QAccessible::queryAccessibleInterface(picture(qPrintable(hotFace)));
    for (QAccessibleInterface *button : {onView, below}) {
        QVERIFY(button != nullptr);
        QCOMPARE(button->role(), QAccessible::Button);
        QCOMPARE(button->text(QAccessible::Name), name);
        QVERIFY(button->actionInterface() != nullptr);
        QVERIFY(button->actionInterface()->actionNames().contains(
            QAccessibleActionInterface::pressAction()));
    }
    // A screen reader meets each button once: only the face on view counts.
    QVERIFY(!onView->state().invisible);
    QVERIFY(below->state().invisible);
    picture(qPrintable(face))->hide(); // the pointer is over the button
    QVERIFY(onView->state().invisible);
    QVERIFY(!below->state().invisible);
}

void TestForm1Chrome::pressThroughAssistiveTechnology() {
    const auto press = [](Picture *face) {
        QAccessible::queryAccessibleInterface(face)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
    };
    press(picture("Image8"));
    QVERIFY(window_->session.stoppedByButton());
    QCOMPARE(platform_->player->stopCalls, 1);
    press(picture("Image11")); // disabled until the server is ready: nothing happens
    QVERIFY(platform_->boxes.shown.isEmpty());
    press(picture("Image4"));
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("请先获取频道！"));
    press(picture("Image15"));
    QVERIFY(form().isMinimized());
}

void TestForm1Chrome::controlsNamedForAssistiveTechnology() {
    const auto name = [](QWidget *control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    QCOMPARE(name(control<QLineEdit>("Text1")), QStringLiteral("频道ID"));
    QCOMPARE(name(control<QScrollBar>("Slider1")), QStringLiteral("音量"));
    QCOMPARE(name(control<QTreeView>("ListView1")), QStringLiteral("频道列表"));
    QVERIFY(name(picture("Label2")).startsWith(QStringLiteral("状态："))); // named by its own text
}

QTEST_MAIN(TestForm1Chrome)
#include "test_form1_chrome.moc"
