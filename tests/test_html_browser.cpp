// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_browser.h"
#include "tests/support/loopback_server.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>

using platform::HtmlBrowser;
using testsupport::LoopbackServer;

namespace {

constexpr int kLoadWaitMs = 10000;

const QString kThanks = QString::fromUtf8("谢谢您的留言！");
const QString kTyped = QString::fromUtf8("好听 a&b😀");

QByteArray Gbk(const QString &text) {
    return QStringEncoder("gbk")(text);
}

std::string Header(const testsupport::ReceivedRequest &request, const std::string &name) {
    const auto found = request.headers.find(name);
    return found == request.headers.end() ? std::string() : found->second;
}

QString BoardPage(const QString &head, const QString &method, const QString &action) {
    return "<html><head>" + head + "</head><body><form method=\"" + method + "\" action=\"" +
           action +
           "\"><textarea id=\"textarea\" name=\"message\"></textarea>"
           "<input type=\"hidden\" name=\"ver\" value=\"1.59\">"
           "<input type=\"submit\" id=\"button\" name=\"send\" "
           "value=\"提交\"></form></body></html>";
}

// Navigates and waits for the one DocumentComplete that follows.
bool Load(HtmlBrowser &browser, QSignalSpy &completions, const QString &url) {
    const qsizetype before = completions.size();
    browser.Navigate2(url);
    return QTest::qWaitFor([&] { return completions.size() > before; }, kLoadWaitMs) &&
           completions.size() == before + 1;
}

} // namespace

class TestHtmlBrowser : public QObject {
    Q_OBJECT

public:
    TestHtmlBrowser() {
        server_.serve("/page",
                      QString::fromUtf8("<html><head><style>p{color:red}</style><script>"
                                        "document.write('x')</script></head><body>第一行<br>第二行"
                                        "<p>段落</p><table><tr><td>a</td><td>b</td></tr></table>"
                                        "</body></html>")
                          .toUtf8());
        server_.serve("/missing", "<p>not here</p>", "text/html", 404);
        server_.serve("/meta-gb2312",
                      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                      "charset=gb2312\"></head><body>" +
                          Gbk(QString::fromUtf8("中文电台")) + "</body></html>",
                      "text/html");
        server_.serve("/junk", QByteArray::fromHex("00ff3c3cfe3e3e0080e9").repeated(5000),
                      "text/html");
        server_.get("/moved", [](const httplib::Request &, httplib::Response &response) {
            response.set_redirect("/page");
        });
        server_.serveSlowly("/slow", std::chrono::milliseconds(500), "<p>slow</p>");
        server_.serveNever("/never");
        const QByteArray directory =
            QString::fromUtf8("(zebok)\r\n(id)1(/id)<b>\n\n(id)2(/id)").toUtf8();
        server_.serve("/plain", directory, "Text/Plain; charset=utf-8");
        server_.serve("/untyped-text", directory, "");
        server_.serve("/untyped-html", " <p>(id)1(/id)\n(id)2(/id)", "");
        server_.serve("/board", BoardPage("", "post", "/maiz.asp").toUtf8());
        server_.serve("/board-get", BoardPage("", "get", "maiz.asp?old=1").toUtf8());
        server_.serve("/board-gbk", Gbk(BoardPage("<meta charset=gbk>", "post", "/maiz.asp")),
                      "text/html");
        const auto thanks = [](const httplib::Request &, httplib::Response &response) {
            response.set_content(("<h1>" + kThanks + "</h1>").toStdString(),
                                 "text/html; charset=utf-8");
        };
        server_.post("/maiz.asp", thanks);
        server_.get("/maiz.asp", thanks);
    }

private slots:
    void everyLoadCompletes_data() {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("location");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("whole"); // the text is all of BodyText, else how it begins
        const QString page = QString::fromUtf8("第一行\r\n第二行\r\n\r\n段落\r\n\r\na\tb");
        const QString failed = QString::fromUtf8("无法显示此页");
        const QString refused = QString("http://127.0.0.1:%1/").arg(testsupport::UnusedPort());
        QTest::newRow("page") << server_.url("/page") << server_.url("/page") << 200 << page
                              << true;
        QTest::newRow("redirect") << server_.url("/moved") << server_.url("/page") << 200 << page
                                  << true;
        QTest::newRow("404") << server_.url("/missing") << server_.url("/missing") << 404
                             << "not here" << true;
        QTest::newRow("gb2312 by meta only")
            << server_.url("/meta-gb2312") << server_.url("/meta-gb2312") << 200
            << QString::fromUtf8("中文电台") << true;
        QTest::newRow("refused") << refused << refused << 0 << failed << false;
        QTest::newRow("other scheme") << "ftp://127.0.0.1/"
                                      << "ftp://127.0.0.1/" << 0 << failed << false;
        QTest::newRow("about:blank") << "about:blank"
                                     << "about:blank" << 0 << "" << true;
        const QString lines = QString::fromUtf8("(zebok)\r\n(id)1(/id)<b>\r\n\r\n(id)2(/id)");
        QTest::newRow("plain text keeps its lines")
            << server_.url("/plain") << server_.url("/plain") << 200 << lines << true;
        QTest::newRow("untyped text keeps its lines")
            << server_.url("/untyped-text") << server_.url("/untyped-text") << 200 << lines << true;
        QTest::newRow("untyped HTML")
            << server_.url("/untyped-html") << server_.url("/untyped-html") << 200
            << "(id)1(/id) (id)2(/id)" << true;
        QTest::newRow("junk bytes")
            << server_.url("/junk") << server_.url("/junk") << 200 << "" << false;
    }
    void everyLoadCompletes() {
        QFETCH(QString, url);
        QFETCH(QString, location);
        QFETCH(int, status);
        QFETCH(QString, text);
        QFETCH(bool, whole);
        HtmlBrowser browser;
        QSignalSpy completions(&browser, &HtmlBrowser::DocumentComplete);
        QVERIFY(Load(browser, completions, url));
        QCOMPARE(browser.LocationURL(), location);
        QCOMPARE(browser.httpStatus(), status);
        if (whole)
            QCOMPARE(browser.BodyText(), text);
        else
            QVERIFY2(browser.BodyText().startsWith(text), qPrintable(browser.BodyText()));
    }

    // The quick pages asked for first would complete first if they were not superseded.
    void onlyTheNewestNavigationCompletes() {
        HtmlBrowser browser;
        QSignalSpy completions(&browser, &HtmlBrowser::DocumentComplete);
        browser.Navigate2(server_.url("/page"));
        browser.Navigate2("about:blank");
        QVERIFY(Load(browser, completions, server_.url("/slow")));
        QCOMPARE(completions.size(), 1);
        QCOMPARE(browser.LocationURL(), server_.url("/slow"));
        QCOMPARE(browser.BodyText(), "slow");
    }

    void formSubmission_data() {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("target");
        QTest::addColumn<QByteArray>("body");
        const QByteArray utf8 = "message=%E5%A5%BD%E5%90%AC+a%26b%F0%9F%98%80&ver=1.59&send=%E6%8F%"
                                "90%E4%BA%A4";
        const QByteArray gbk = "message=%BA%C3%CC%FD+a%26b%26%23128512%3B&ver=1.59&send=%CC%E1%"
                               "BD%BB";
        QTest::newRow("utf-8 post") << "/board" << QByteArray("POST") << "/maiz.asp" << utf8;
        QTest::newRow("gbk post") << "/board-gbk" << QByteArray("POST") << "/maiz.asp" << gbk;
        QTest::newRow("utf-8 get") << "/board-get" << QByteArray("GET")
                                   << QString::fromLatin1("/maiz.asp?" + utf8) << QByteArray();
    }
    void formSubmission() {
        QFETCH(QString, page);
        QFETCH(QByteArray, method);
        QFETCH(QString, target);
        QFETCH(QByteArray, body);
        const int postsBefore = server_.requestCount("/maiz.asp");
        HtmlBrowser browser;
        QSignalSpy completions(&browser, &HtmlBrowser::DocumentComplete);
        QVERIFY(Load(browser, completions, server_.url(page)));

        QVERIFY(!browser.setElementValue("no-such-id", "x"));
        QVERIFY(!browser.clickElement("no-such-id"));
        QVERIFY(browser.setElementValue("textarea", kTyped));
        QVERIFY(browser.clickElement("button"));
        QTRY_COMPARE_WITH_TIMEOUT(completions.size(), 2, kLoadWaitMs);

        QCOMPARE(browser.BodyText(), kThanks);
        QCOMPARE(browser.httpStatus(), 200);
        QCOMPARE(browser.LocationURL(), server_.url(target));
        QCOMPARE(server_.requestCount("/maiz.asp"), postsBefore + 1);
        const testsupport::ReceivedRequest sent = server_.received().back();
        QCOMPARE(QByteArray::fromStdString(sent.method), method);
        QCOMPARE(QString::fromStdString(sent.target), target);
        QCOMPARE(QByteArray::fromStdString(sent.body), body);
        QCOMPARE(Header(sent, "Referer"), server_.url(page).toStdString());
        if (method == "POST")
            QCOMPARE(Header(sent, "Content-Type"),
                     std::string("application/x-www-form-urlencoded"));
    }

    // A load ends only when the server stops sending, however long it takes.
    void onlyAStalledLoadEnds() {
        auto pieces = std::make_shared<std::atomic<int>>(0);
        // A type the server sends as it comes, uncompressed.
        server_.serveStream("/trickle", "application/octet-stream", [pieces] {
            if (*pieces == 6)
                return QByteArray();
            if (*pieces > 0) // the server's pace: slower than the stall limit overall
                std::this_thread::sleep_for(std::chrono::milliseconds(400));
            return QByteArray::number((*pieces)++);
        });
        platform::TransferLimits limits = HtmlBrowser::documentLimits();
        limits.stallTimeoutMs = 1000;
        HtmlBrowser browser(limits);
        QSignalSpy completions(&browser, &HtmlBrowser::DocumentComplete);
        QVERIFY(Load(browser, completions, server_.url("/trickle")));
        QCOMPARE(browser.httpStatus(), 200);
        QCOMPARE(browser.BodyText(), "012345");

        QElapsedTimer timer;
        timer.start();
        QVERIFY(Load(browser, completions, server_.url("/never")));
        QCOMPARE(browser.httpStatus(), 0);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }

    void destroyingDuringALoadReturnsPromptly() {
        auto browser = std::make_unique<HtmlBrowser>();
        browser->Navigate2(server_.url("/never"));
        QTRY_COMPARE_WITH_TIMEOUT(server_.requestCount("/never"), 1, kLoadWaitMs);
        QElapsedTimer timer;
        timer.start();
        browser.reset();
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
    }

private:
    LoopbackServer server_;
};

QTEST_GUILESS_MAIN(TestHtmlBrowser)
#include "test_html_browser.moc"
