// SPDX-License-Identifier: GPL-3.0-or-later

// The About window's message and update check through the real browser and
// requests, against message boards and a home page on a loopback server.

#include "about_window/form2.h"
#include "platform/text_decoding.h"
#include "tests/support/loopback_platform.h"
#include "tests/support/loopback_server.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using testsupport::LoopbackPlatform;
using testsupport::LoopbackServer;

namespace {

// The longest a test waits for a page or the board's answer on loopback.
constexpr int kLoadWaitMs = 10000;

const QString kBoardForm = QStringLiteral(
    "<html><head><meta charset=\"%1\"><title>留言板</title></head><body>"
    "<form method=\"post\" action=\"post.asp?board=1\">"
    "<input type=\"hidden\" name=\"from\" value=\"radio\">%2%3</form></body></html>");
const QString kTextarea = QStringLiteral("<textarea id=\"textarea\" name=\"content\"></textarea>");
const QString kButton =
    QStringLiteral("<input type=\"submit\" id=\"button\" name=\"go\" value=\"提交\">");

// The value of one field of a form body, decoded from the page's charset.
QString FormField(const std::string &body, const QByteArray &name, const QByteArray &charset) {
    for (QByteArray pair : QByteArray::fromStdString(body).split('&')) {
        pair.replace('+', ' ');
        const qsizetype equals = pair.indexOf('=');
        if (pair.left(equals) == name) {
            return platform::DecodeText(QByteArray::fromPercentEncoding(pair.mid(equals + 1)),
                                        charset);
        }
    }
    return QStringLiteral("<missing>");
}

} // namespace

class TestForm2RealBoard : public QObject {
    Q_OBJECT
private slots:
    void postsWholeText_data();
    void postsWholeText();
    void failureKeepsText_data();
    void failureKeepsText();
    void updateCheck();

private:
    // Opens the About window and waits until its hidden page has loaded.
    std::unique_ptr<Form2> open(LoopbackPlatform &platform);
};

std::unique_ptr<Form2> TestForm2RealBoard::open(LoopbackPlatform &platform) {
    auto form = std::make_unique<Form2>(platform);
    const QString board = platform.endpoints().messageBoardPage;
    [&] { QTRY_COMPARE_WITH_TIMEOUT(form->WebBrowser1->LocationURL(), board, kLoadWaitMs); }();
    return form;
}

void TestForm2RealBoard::postsWholeText_data() {
    QTest::addColumn<QByteArray>("charset");
    QTest::newRow("UTF-8 board") << QByteArray("utf-8");
    QTest::newRow("GBK board") << QByteArray("gbk");
}

void TestForm2RealBoard::postsWholeText() {
    QFETCH(QByteArray, charset);
    LoopbackServer server;
    server.serve("/maiz.asp",
                 platform::EncodeText(
                     kBoardForm.arg(QString::fromLatin1(charset), kTextarea, kButton), charset),
                 "text/html");
    server.post("/post.asp", [](const httplib::Request &, httplib::Response &response) {
        response.set_content("<html><body>谢谢</body></html>", "text/html; charset=utf-8");
    });
    LoopbackPlatform platform(LoopbackPlatform::onServer(server.url("")));
    const std::unique_ptr<Form2> form = open(platform);

    const QString message =
        QStringLiteral("致：Quorvel收音机作者\n请加上 北京交通广播 & 上海 100%+1");
    form->Text2->setPlainText(message);
    form->Command2->click();

    QTRY_COMPARE_WITH_TIMEOUT(platform.boxes.shown.size(), 1, kLoadWaitMs);
    QCOMPARE(platform.boxes.shown.first().text, QStringLiteral("发送成功！感谢你的支持"));
    QCOMPARE(form->feedbackText(), kFeedbackGreeting);
    // At once a second send in the same opening, of the bare greeting: it
    // waits for the board page to come back and posts through it.
    form->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(platform.boxes.shown.size(), 2, kLoadWaitMs);
    QCOMPARE(platform.boxes.shown.last().text, QStringLiteral("发送成功！感谢你的支持"));

    std::vector<testsupport::ReceivedRequest> posts;
    for (const testsupport::ReceivedRequest &request : server.received()) {
        if (request.method == "POST") {
            posts.push_back(request);
        }
    }
    QCOMPARE(posts.size(), size_t{2});
    const testsupport::ReceivedRequest &post = posts.front();
    QCOMPARE(post.target, std::string("/post.asp?board=1"));
    QCOMPARE(FormField(post.body, "content", charset), QString(message).replace("\n", "\r\n"));
    QCOMPARE(FormField(post.body, "from", charset), "radio");
    QCOMPARE(FormField(post.body, "go", charset), QStringLiteral("提交"));
    QCOMPARE(FormField(posts.back().body, "content", charset), kFeedbackGreeting);
}

void TestForm2RealBoard::failureKeepsText_data() {
    QTest::addColumn<QString>("page"); // empty: the server is down
    QTest::addColumn<int>("answer");
    QTest::newRow("server down") << "" << 200;
    QTest::newRow("no textarea") << kBoardForm.arg("utf-8", "", kButton) << 200;
    QTest::newRow("no button") << kBoardForm.arg("utf-8", kTextarea, "") << 200;
    QTest::newRow("server error") << kBoardForm.arg("utf-8", kTextarea, kButton) << 500;
}

void TestForm2RealBoard::failureKeepsText() {
    QFETCH(QString, page);
    QFETCH(int, answer);
    LoopbackServer server;
    server.serve("/maiz.asp", page.toUtf8(), "text/html; charset=utf-8");
    server.post("/post.asp", [answer](const httplib::Request &, httplib::Response &response) {
        response.status = answer;
        response.set_content("oops", "text/plain");
    });
    const QString root = page.isEmpty()
                             ? QStringLiteral("http://127.0.0.1:%1").arg(testsupport::UnusedPort())
                             : server.url("");
    LoopbackPlatform platform(LoopbackPlatform::onServer(root));
    const std::unique_ptr<Form2> form = open(platform);

    const QString message = QStringLiteral("致：Quorvel收音机作者\n这段话不能丢");
    form->Text2->setPlainText(message);
    form->Command2->click();
    QTRY_COMPARE_WITH_TIMEOUT(platform.boxes.shown.size(), 1, kLoadWaitMs);
    QCOMPARE(platform.boxes.shown.first().text, QStringLiteral("发送失败，请稍后再试"));
    QCOMPARE(form->Text2->toPlainText(), message);
    QVERIFY(form->Command2->isEnabled());
}

void TestForm2RealBoard::updateCheck() {
    LoopbackServer server;
    server.serve("/", QStringLiteral("<p>(radio)http://127.0.0.1/新 版.exe?a=1&b=\"2\"(/radio)"
                                     "最新：(radioban)1.60(/radioban)</p>")
                          .toUtf8());
    LoopbackPlatform platform(LoopbackPlatform::onServer(server.url("")));
    Form2 form(platform);
    form.Command3->click();
    QCOMPARE(platform.boxes.shown.size(), 1);
    QCOMPARE(platform.boxes.shown.first().text, QStringLiteral("最新版本为 1.60 需要下载？"));
    QCOMPARE(platform.opener.opened,
             QStringList{"http://127.0.0.1/%E6%96%B0%20%E7%89%88.exe?a=1&b=%222%22"});
    form.Command3->click(); // the check can run again
    QCOMPARE(platform.boxes.shown.size(), 2);
}

QTEST_MAIN(TestForm2RealBoard)
#include "test_form2_real_board.moc"
