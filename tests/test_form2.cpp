// SPDX-License-Identifier: GPL-3.0-or-later
#include "about_window/form2.h"
#include "main_window/form1.h"
#include "main_window/picture.h"
#include "platform/qt_translation.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"

#include <QGroupBox>
#include <QLoggingCategory>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

using testsupport::FakePage;

namespace {

const QString kBoard = QStringLiteral("http://board.invalid/maiz.asp");
const QString kThanks = QStringLiteral("http://board.invalid/thanks");

} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layout();
    void sendButtonEnablesOnFirstChange();
    void escapeKeepsTheWindow();
    void tabMovesFocus();
    void qtButtonsReadChinese();
    void sendSucceeds();
    void sendFails_data();
    void sendFails();
    void closingDuringSendShowsNoBox();
    void updatePrompt_data();
    void updatePrompt();
    void updateOpensOnlyWebAddresses_data();
    void updateOpensOnlyWebAddresses();
    void updateWithoutResponseShowsNothing();
    void openedModallyFromMainWindow();

private:
    // The board page with its form, answered by a page of this status.
    void serveBoard(int answerStatus);

    std::unique_ptr<testsupport::FakePlatform> platform_;
    std::unique_ptr<Form2> form_;
    testsupport::FakeWebBrowser *browser_ = nullptr;
};

void TestForm2::init() {
    platform_ = std::make_unique<testsupport::FakePlatform>();
    form_ = std::make_unique<Form2>(*platform_);
    browser_ = platform_->browsers.last();
}

void TestForm2::cleanup() {
    form_.reset();
    platform_.reset();
}

void TestForm2::serveBoard(int answerStatus) {
    browser_->pages[kBoard] = {QStringLiteral("留言板"), 200};
    browser_->pages[kThanks] = {QStringLiteral("谢谢"), answerStatus};
    QTRY_COMPARE(browser_->LocationURL(), kBoard);
    browser_->elementValues = {{"textarea", ""}};
    browser_->submitTargets = {{"button", kThanks}};
}

void TestForm2::layout() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("关于"));
    QCOMPARE(form_->size(), QSize(408, 356));
    QCOMPARE(form_->Frame1->title(), QStringLiteral(" Quorvel收音机 "));
    QCOMPARE(form_->Frame2->title(),
             QStringLiteral(" 作者联系(建议)/ 问题反馈 / 频道问题 / 频道推荐 "));
    QCOMPARE(form_->Text1->toPlainText(),
             QStringLiteral("本软件是一款几乎可以收听全国各地的广播电台。\n\n占用资源极少。\n"
                            "无插件，无病毒。\n\n\n\n制作人：Quorvel 开发组\n"));
    QVERIFY(form_->Text1->isReadOnly());
    QVERIFY(!form_->Text2->isReadOnly());
    QCOMPARE(form_->feedbackText(), QStringLiteral("致：Quorvel收音机作者\r\n"));
    QVERIFY(!form_->Command2->isEnabled());
    QCOMPARE(form_->Command2->text(), QStringLiteral("发送"));
    QCOMPARE(form_->Command1->text(), QStringLiteral("返回"));
    QCOMPARE(form_->Command3->text(), QStringLiteral("软件更新"));
    QVERIFY(form_->Frame3->isHidden());
    QCOMPARE(browser_->navigations, QStringList{kBoard});
}

void TestForm2::sendButtonEnablesOnFirstChange() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->Text2->setFocus();
    form_->Text2->moveCursor(QTextCursor::End);
    QTest::keyClick(form_->Text2, Qt::Key_A);
    QVERIFY(form_->Command2->isEnabled());
    QTest::keyClick(form_->Text2, Qt::Key_Backspace);
    QCOMPARE(form_->feedbackText(), QStringLiteral("致：Quorvel收音机作者\r\n"));
    QVERIFY(form_->Command2->isEnabled());
}

void TestForm2::escapeKeepsTheWindow() {
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    form_->Text2->setFocus();
    form_->Text2->moveCursor(QTextCursor::End);
    QTest::keyClicks(form_->Text2, "half");
    QTest::keyClick(form_->Text2, Qt::Key_Escape);
    QVERIFY(form_->isVisible());
    QCOMPARE(form_->feedbackText(), QStringLiteral("致：Quorvel收音机作者\r\nhalf"));
}

void TestForm2::tabMovesFocus() {
    form_->show();
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    form_->Text1->setFocus();
    QTest::keyClick(form_->Text1, Qt::Key_Tab);
    QVERIFY(form_->Text2->hasFocus());
    QTest::keyClick(form_->Text2, Qt::Key_Tab);
    QVERIFY(form_->Command1->hasFocus()); // 发送 is not enabled yet
    QCOMPARE(form_->feedbackText(), kFeedbackGreeting);
}

void TestForm2::qtButtonsReadChinese() {
    platform::InstallQtTranslation(*QCoreApplication::instance());
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
    QCOMPARE(box.button(QMessageBox::Ok)->text(), QStringLiteral("确定"));
    QCOMPARE(box.button(QMessageBox::Cancel)->text(), QStringLiteral("取消"));
}

void TestForm2::sendSucceeds() {
    serveBoard(200);
    form_->Text2->setPlainText(QStringLiteral("致：Quorvel收音机作者\n请加 北京 & 上海\n谢谢"));
    form_->Command2->click();
    form_->Command2->click(); // while the first is on its way: posts nothing
    QCOMPARE(browser_->submittedValues.value("textarea"),
             QStringLiteral("致：Quorvel收音机作者\r\n请加 北京 & 上海\r\n谢谢"));
    QCOMPARE(browser_->clicks, QStringList{"button"});
    QTRY_COMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("发送成功！感谢你的支持"));
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::None);
    QCOMPARE(platform_->boxes.shown.first().title, QStringLiteral("Quorvel收音机"));
    QCOMPARE(form_->feedbackText(), QStringLiteral("致：Quorvel收音机作者\r\n"));
    QVERIFY(form_->Command2->isEnabled());
}

void TestForm2::sendFails_data() {
    QTest::addColumn<QString>("missing"); // element the page lacks
    QTest::addColumn<int>("status");      // of the answer page
    QTest::addColumn<QString>("logged");  // why the board did not take it
    QTest::newRow("page not loaded") << "page" << 200 << "no board page: HTTP 0";
    QTest::newRow("no textarea") << "textarea" << 200 << "board page has no form";
    QTest::newRow("no button") << "button" << 200 << "board page has no form";
    QTest::newRow("server error") << "" << 500 << "board post failed: HTTP 500";
    QTest::newRow("answer failed to load") << "" << 0 << "board post failed: HTTP 0";
}

void TestForm2::sendFails() {
    QFETCH(QString, missing);
    QFETCH(int, status);
    QFETCH(QString, logged);
    QLoggingCategory::setFilterRules(QStringLiteral("quorvel.board.info=true"));
    QTest::ignoreMessage(QtInfoMsg, qUtf8Printable(logged));
    if (missing != "page") {
        serveBoard(status);
        browser_->elementValues.remove(missing);
        browser_->submitTargets.remove(missing);
    }
    const QString message = QStringLiteral("致：Quorvel收音机作者\n别丢了我");
    form_->Text2->setPlainText(message);
    form_->Command2->click();
    QTRY_COMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, QStringLiteral("发送失败，请稍后再试"));
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::None);
    QCOMPARE(platform_->boxes.shown.first().title, QStringLiteral("Quorvel收音机"));
    QCOMPARE(form_->Text2->toPlainText(), message);
}

void TestForm2::closingDuringSendShowsNoBox() {
    serveBoard(200);
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
    browser_->holdLoads = true;
    form_->Text2->setPlainText(QStringLiteral("致：Quorvel收音机作者\n半路关了"));
    form_->Command2->click();
    QCOMPARE(browser_->clicks, QStringList{"button"});
    form_->Command1->click();
    browser_->completePending(); // the newest load, once the window is closed
    QCoreApplication::processEvents();
    QVERIFY(platform_->boxes.shown.isEmpty());
    // The form was submitted: the board page is asked for again.
    QCOMPARE(browser_->navigations, (QStringList{kBoard, kThanks, kBoard}));
}

void TestForm2::updatePrompt_data() {
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("prompt");
    QTest::newRow("newer version") << "(radioban)1.60(/radioban)(radio)http://x/a.exe(/radio)"
                                   << QStringLiteral("最新版本为 1.60 需要下载？");
    QTest::newRow("other order, inside text, spaces kept")
        << "blog (radio)http://x/a.exe(/radio) text (radioban) 1.61 (/radioban) end"
        << QStringLiteral("最新版本为  1.61  需要下载？");
    QTest::newRow("same version") << "(radioban)1.59(/radioban)"
                                  << QStringLiteral("最新版本为 1.59 需要下载？");
    QTest::newRow("no version field")
        << "<html></html>" << QStringLiteral("最新版本为  需要下载？");
}

void TestForm2::updatePrompt() {
    QFETCH(QString, page);
    QFETCH(QString, prompt);
    platform_->httpResponder = [page](const QString &) { return FakePage{page, 404}; };
    platform_->boxes.answer = platform::BoxChoice::Cancel;
    form_->Command3->click();
    QCOMPARE(platform_->httpLog, QStringList{"http://home.invalid/"});
    QCOMPARE(platform_->boxes.shown.size(), 1);
    QCOMPARE(platform_->boxes.shown.first().text, prompt);
    QCOMPARE(platform_->boxes.shown.first().buttons, platform::BoxButtons::OkCancel);
    QCOMPARE(platform_->boxes.shown.first().icon, platform::BoxIcon::None);
    QVERIFY(platform_->opener.attempted.isEmpty()); // Cancel starts nothing
}

void TestForm2::updateOpensOnlyWebAddresses_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("opened");
    QTest::newRow("web address") << "http://x.example/setup.exe"
                                 << "http://x.example/setup.exe";
    QTest::newRow("spaces, ampersand, quotes stay one URL")
        << "https://x.example/a b.exe?p=1&q=\"2\""
        << "https://x.example/a%20b.exe?p=1&q=%222%22";
    QTest::newRow("file") << "file:///bin/sh"
                          << "";
    QTest::newRow("javascript") << "javascript:alert(1)"
                                << "";
    QTest::newRow("empty") << ""
                           << "";
    QTest::newRow("command") << "calc.exe & del x"
                             << "";
}

void TestForm2::updateOpensOnlyWebAddresses() {
    QFETCH(QString, address);
    QFETCH(QString, opened);
    const QString page = "(radioban)1.60(/radioban)(radio)" + address + "(/radio)";
    platform_->httpResponder = [page](const QString &) { return FakePage{page, 200}; };
    form_->Command3->click();
    QCOMPARE(platform_->opener.attempted, QStringList{address});
    QCOMPARE(platform_->opener.opened, opened.isEmpty() ? QStringList{} : QStringList{opened});
    QVERIFY(form_->isEnabled());
}

void TestForm2::updateWithoutResponseShowsNothing() {
    form_->Command3->click(); // the fake answers nothing by default
    QCOMPARE(platform_->httpLog.size(), 1);
    QVERIFY(platform_->boxes.shown.isEmpty());
    QVERIFY(platform_->opener.attempted.isEmpty());
}

void TestForm2::openedModallyFromMainWindow() {
    form_.reset();
    testsupport::MainWindow window(*platform_);
    Form1 &main = window.form;
    main.show();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    bool seen = false;
    bool iconless = false;
    QTimer::singleShot(0, &main, [&] {
        auto *about = qobject_cast<Form2 *>(QApplication::activeModalWidget());
        seen = about && about->isModal() && window.control<QTimer>("Timer1")->isActive() &&
               window.control<QTimer>("Timer3")->isActive();
        iconless = about && about->windowHandle()->icon().isNull();
        if (about) {
            about->Command1->click();
        }
    });
    QMetaObject::invokeMethod(window.control<Picture>("Image7"), "clicked");
    QVERIFY(seen);
    QVERIFY(iconless);                               // the main window's icon is not passed on
    QVERIFY(main.findChildren<Form2 *>().isEmpty()); // destroyed when closed
}

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
