#include "main_window/cursor_blink.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "tests/support/fake_platform.h"
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
    void closeStopsSound();
    void pictureButtonsForAssistiveTechnology_data();
    void pictureButtonsForAssistiveTechnology();
    void pressThroughAssistiveTechnology();
    void controlsNamedForAssistiveTechnology();

private:
    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<Form1> form_;
};

void TestForm1Chrome::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    form_ = std::make_unique<Form1>(*platform_);
    form_->move(100, 100);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void TestForm1Chrome::cleanup() {
    form_.reset();
    platform_.reset();
}

void TestForm1Chrome::windowFrame() {
    QVERIFY(form_->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(form_->size(), QSize(629, 466));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());
    QCOMPARE(form_->windowTitle(), QStringLiteral("Quorvel收音机"));
    QVERIFY(!form_->Frame1->isVisible());
    QCOMPARE(form_->Text1->text(), QStringLiteral("输入ID"));
    QCOMPARE(form_->Text1->palette().color(QPalette::Text), QColor(192, 192, 192));
    QCOMPARE(form_->Text1->toolTip(), QStringLiteral("根据频道ID 快速播放"));
    QCOMPARE(form_->Slider1->maximum(), 100);
    QVERIFY(!form_->Timer2->isActive()); // switched off by the first show
    QVERIFY(form_->Timer1->isActive());
    QCOMPARE(form_->Timer1->interval(), 800);
    QVERIFY(form_->Timer3->isActive());
    QCOMPARE(form_->Timer3->interval(), 10000);
    QCOMPARE(form_->Timer2->interval(), 1000);
}

void TestForm1Chrome::dragFollowsPointer_data() {
    QTest::addColumn<bool>("byTitle");
    QTest::newRow("title text") << true;
    QTest::newRow("background") << false;
}

void TestForm1Chrome::dragFollowsPointer() {
    QFETCH(bool, byTitle);
    Picture *handle = byTitle ? form_->Label1 : form_->Image1;
    const QPoint start = form_->pos();
    const QPoint press(6, 5);
    SendMouse(handle, QEvent::MouseButtonPress, press, Qt::LeftButton, Qt::LeftButton);
    // The handle moves with the window, so each move reports the travel since
    // the last step relative to the handle.
    Move(handle, press + QPoint(30, 12), Qt::LeftButton);
    QCOMPARE(form_->pos(), start + QPoint(30, 12));
    Move(handle, press + QPoint(-7, 4), Qt::LeftButton);
    QCOMPARE(form_->pos(), start + QPoint(23, 16));
    SendMouse(handle, QEvent::MouseButtonRelease, press, Qt::LeftButton, Qt::NoButton);
    Move(handle, press + QPoint(50, 50));
    QCOMPARE(form_->pos(), start + QPoint(23, 16));
}

void TestForm1Chrome::dragNeedsLeftButtonAlone() {
    const QPoint start = form_->pos();
    SendMouse(form_->Image1, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    Move(form_->Image1, {40, 40}, Qt::LeftButton | Qt::RightButton);
    Move(form_->Image1, {40, 40}, Qt::RightButton);
    QCOMPARE(form_->pos(), start);
}

void TestForm1Chrome::rightClickEndsDrag() {
    const QPoint start = form_->pos();
    SendMouse(form_->Image1, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton, Qt::LeftButton);
    SendMouse(form_->Image1, QEvent::MouseButtonPress, {10, 10}, Qt::RightButton,
              Qt::LeftButton | Qt::RightButton);
    SendMouse(form_->Image1, QEvent::MouseButtonRelease, {10, 10}, Qt::RightButton, Qt::LeftButton);
    QVERIFY(!form_->DragActive);
    Move(form_->Image1, {60, 30}, Qt::LeftButton);
    QCOMPARE(form_->pos(), start);
}

void TestForm1Chrome::hoverGroupsAreIndependent() {
    form_->Image11->setEnabled(true);
    Move(form_->Image4, {5, 5});
    QVERIFY(form_->Image4->isHidden());
    Move(form_->Image12, {5, 5});
    QVERIFY(form_->Image12->isHidden());
    QVERIFY(form_->Image4->isHidden()); // group A keeps its highlight
    Move(form_->Image15, {5, 5});
    QVERIFY(form_->Image15->isHidden());
    QVERIFY(!form_->Image12->isHidden());
    QVERIFY(form_->Image4->isHidden());
    Move(form_->Image11, {5, 5});
    QVERIFY(form_->Image11->isHidden());
    QVERIFY(!form_->Image4->isHidden());
    QVERIFY(form_->Image15->isHidden()); // group B keeps its highlight
    // Only the drag handles and the table clear both groups.
    Move(form_->ListView1->viewport(), {20, 20});
    for (Picture *face : {form_->Image2, form_->Image4, form_->Image6, form_->Image8,
                          form_->Image11, form_->Image12, form_->Image15}) {
        QVERIFY(!face->isHidden());
    }
    Move(form_->Image8, {5, 5});
    Move(form_->Label1, {5, 5});
    QVERIFY(!form_->Image8->isHidden());
}

void TestForm1Chrome::disabledFetchFaceNeverHighlights() {
    // Disabled, the face is drawn as it is, not greyed.
    QCOMPARE(form_->Image11->grab().toImage().convertToFormat(QImage::Format_RGB32),
             form_->Image11->pixmap().toImage().convertToFormat(QImage::Format_RGB32));
    // Through the window system, as a real pointer arrives.
    QTest::mouseMove(form_->windowHandle(), QPoint(440, 12));
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(440, 12));
    QVERIFY(!form_->Image11->isHidden());
    QVERIFY(platform_->boxes.shown.isEmpty()); // the click never reached Image10
    // Once enabled, the same pointer highlights it and the click lands on Image10.
    form_->Image11->setEnabled(true);
    QTest::mouseMove(form_->windowHandle(), QPoint(441, 13));
    QVERIFY(form_->Image11->isHidden());
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(441, 13));
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
    const QMap<QString, QWidget *> controls{
        {"Image2", form_->Image2},   {"Image4", form_->Image4},   {"Image6", form_->Image6},
        {"Image8", form_->Image8},   {"Image11", form_->Image11}, {"Image12", form_->Image12},
        {"Image15", form_->Image15}, {"Label1", form_->Label1},   {"ListView1", form_->ListView1}};
    QWidget *hit = form_->childAt(at);
    while (hit && hit->parentWidget() != form_.get()) {
        hit = hit->parentWidget();
    }
    QCOMPARE(hit, controls.value(face));
}

void TestForm1Chrome::picturesTakeNoFocus() {
    form_->activateWindow();
    form_->Text1->setFocus();
    QTRY_VERIFY(form_->Text1->hasFocus());
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(200, 12)); // Image2
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(20, 12)); // Label1
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(300, 440)); // Image1
    QVERIFY(form_->Text1->hasFocus());
}

void TestForm1Chrome::text1ClickClears() {
    QTest::mouseClick(form_->Text1, Qt::LeftButton);
    QCOMPARE(form_->Text1->text(), QString());
    QCOMPARE(form_->Text1->palette().color(QPalette::Text), QColor(Qt::black));
    QTest::keyClicks(form_->Text1, "123");
    QCOMPARE(form_->Text1->text(), "123");
    QTest::mouseClick(form_->Text1, Qt::LeftButton);
    QCOMPARE(form_->Text1->text(), QString());
}

// Without input the cursor stops blinking; a key makes it blink again, and the
// desktop's rate comes back when the watcher goes.
void TestForm1Chrome::cursorBlinkRests() {
    const int desktop = QApplication::cursorFlashTime();
    QVERIFY(desktop > 0);
    {
        CursorBlinkTimeout timeout(nullptr, std::chrono::milliseconds(20));
        QTRY_COMPARE(QApplication::cursorFlashTime(), 0);
        QTest::keyClick(form_->Text1, Qt::Key_1);
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
    form_->activateWindow();
    form_->Text1->setFocus();
    QTRY_VERIFY(form_->Text1->hasFocus());
    QTest::mouseClick(form_->Text1, Qt::LeftButton);
    QTest::keyClicks(form_->Text1, typed);
    // A click into the station table takes the focus.
    QTest::mouseClick(form_->ListView1->viewport(), Qt::LeftButton, Qt::NoModifier, {30, 30});
    QTRY_VERIFY(!form_->Text1->hasFocus());
    QCOMPARE(form_->Text1->text(), after);
    const QColor colour = after == typed ? QColor(Qt::black) : QColor(192, 192, 192);
    QCOMPARE(form_->Text1->palette().color(QPalette::Text), colour);
}

void TestForm1Chrome::text1ContextMenuKeepsTheBox() {
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTest::mouseClick(form_->Text1, Qt::LeftButton);
    QGuiApplication::clipboard()->setText("391");
    const QPoint at(10, 5);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, form_->Text1->mapToGlobal(at));
    QCoreApplication::sendEvent(form_->Text1, &menuEvent);
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
    QCOMPARE(form_->Text1->text(), "391");
    QCOMPARE(form_->Text1->palette().color(QPalette::Text), QColor(Qt::black));
}

void TestForm1Chrome::keyboardFocusChain() {
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(form_->Text1->hasFocus());
    QTest::keyClick(form_->Text1, Qt::Key_Tab);
    QVERIFY(form_->Slider1->hasFocus());
    QCOMPARE(form_->Text1->text(), QStringLiteral("频道ID"));
    // The keyboard moves the bar; only dragging its thumb sets the volume.
    QTest::keyClick(form_->Slider1, Qt::Key_Right);
    QCOMPARE(form_->Slider1->value(), 75);
    QCOMPARE(platform_->player->volume(), 70);
    QTest::keyClick(form_->Slider1, Qt::Key_Tab);
    QVERIFY(form_->ListView1->hasFocus());
    QTest::keyClick(form_->ListView1, Qt::Key_Tab);
    QVERIFY(form_->Text1->hasFocus());
    // Focus by the keyboard leaves the placeholder; typing adds to it.
    QTest::keyClicks(form_->Text1, "12");
    QCOMPARE(form_->Text1->text(), QStringLiteral("频道ID12"));
}

void TestForm1Chrome::reminimiseKeeper() {
    form_->setWindowState(Qt::WindowMinimized);
    QVERIFY(form_->Timer2->isActive());
    for (int tick = 0; tick < 20; ++tick) {
        Tick(form_->Timer2);
    }
    QCOMPARE(form_->MinimisedTicks, 20);
    form_->setWindowState(Qt::WindowNoState);
    QVERIFY(!form_->Timer2->isActive());
    QCOMPARE(form_->MinimisedTicks, 20); // carried over to the next period
    form_->setWindowState(Qt::WindowMinimized);
    for (int tick = 0; tick < 10; ++tick) {
        Tick(form_->Timer2);
    }
    QCOMPARE(form_->MinimisedTicks, 0);
    QVERIFY(form_->isMinimized());
}

void TestForm1Chrome::closeStopsSound() {
    QTest::mouseMove(form_->windowHandle(), QPoint(600, 10)); // highlight: Image13 takes the click
    QVERIFY(form_->Image12->isHidden());
    QTest::mouseClick(form_->windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(600, 10));
    QCOMPARE(platform_->player->stopCalls, 1);
    QVERIFY(!form_->isVisible());
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
    const QHash<QString, Picture *> pictures = {
        {"Image2", form_->Image2},   {"Image3", form_->Image3},   {"Image4", form_->Image4},
        {"Image5", form_->Image5},   {"Image6", form_->Image6},   {"Image7", form_->Image7},
        {"Image8", form_->Image8},   {"Image9", form_->Image9},   {"Image10", form_->Image10},
        {"Image11", form_->Image11}, {"Image12", form_->Image12}, {"Image13", form_->Image13},
        {"Image14", form_->Image14}, {"Image15", form_->Image15}};
    QAccessibleInterface *onView = QAccessible::queryAccessibleInterface(pictures[face]);
    QAccessibleInterface *below = QAccessible::queryAccessibleInterface(pictures[hotFace]);
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
    pictures[face]->hide(); // the pointer is over the button
    QVERIFY(onView->state().invisible);
    QVERIFY(!below->state().invisible);
}

void TestForm1Chrome::pressThroughAssistiveTechnology() {
    const auto press = [](Picture *face) {
        QAccessible::queryAccessibleInterface(face)->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
    };
    press(form_->Image8);
    QVERIFY(form_->StoppedByButton);
    QCOMPARE(platform_->player->stopCalls, 1);
    press(form_->Image11); // disabled until the server is ready: nothing happens
    QVERIFY(platform_->boxes.shown.isEmpty());
    press(form_->Image4);
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("请先获取频道！"));
    press(form_->Image15);
    QVERIFY(form_->isMinimized());
}

void TestForm1Chrome::controlsNamedForAssistiveTechnology() {
    const auto name = [](QWidget *control) {
        return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Name);
    };
    QCOMPARE(name(form_->Text1), QStringLiteral("频道ID"));
    QCOMPARE(name(form_->Slider1), QStringLiteral("音量"));
    QCOMPARE(name(form_->ListView1), QStringLiteral("频道列表"));
    QVERIFY(name(form_->Label2).startsWith(QStringLiteral("状态："))); // named by its own text
}

QTEST_MAIN(TestForm1Chrome)
#include "test_form1_chrome.moc"
