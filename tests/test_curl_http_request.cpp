// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/curl_http_request.h"
#include "tests/support/loopback_server.h"

#include <QElapsedTimer>
#include <QStringEncoder>
#include <QTest>

using platform::CurlHttpRequest;
using platform::Transfer;
using platform::TransferLimits;
using platform::TransferRequest;
using platform::TransferResult;
using testsupport::LoopbackServer;
using testsupport::RawTcpServer;

namespace {

constexpr qint64 kBigBody = 8 * 1024 * 1024;
// Every failure must come within the short limits below, with room for a slow machine.
constexpr qint64 kFailureBoundMs = 6000;

TransferLimits ShortLimits() {
    TransferLimits limits;
    limits.connectTimeoutMs = 1000;
    limits.totalTimeoutMs = 1500;
    return limits;
}

TransferRequest GetRequest(const QString &url, TransferLimits limits = {}) {
    TransferRequest request;
    request.url = url;
    request.limits = limits;
    return request;
}

void Redirect(const httplib::Request &request, httplib::Response &response) {
    const int hops = std::stoi(request.matches[1]);
    if (hops == 0)
        response.set_content("arrived", "text/plain");
    else
        response.set_redirect("/hop/" + std::to_string(hops - 1));
}

} // namespace

class TestCurlHttpRequest : public QObject {
    Q_OBJECT

public:
    TestCurlHttpRequest() {
        const QString text = QString::fromUtf8("你好，世界");
        server_.serve("/ok", text.toUtf8(), "text/html; charset=utf-8");
        server_.serve("/missing", "not here", "text/plain", 404);
        server_.serve("/gbk", encodeGbk(text), "text/plain; charset=gbk");
        server_.serve("/undeclared-gbk", encodeGbk(text), "text/plain");
        server_.serveNever("/never");
        server_.serve("/big", QByteArray(kBigBody, 'x'), "application/octet-stream");
        server_.get(R"(/hop/(\d+))", &Redirect);
        server_.get("/to-file", [](const httplib::Request &, httplib::Response &response) {
            response.set_redirect("file:///etc/passwd");
        });
        server_.serveStream("/stream", "audio/mpeg", [] { return QByteArray(4096, 'x'); });
    }

private slots:
    void responses_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("text");
        const QString text = QString::fromUtf8("你好，世界");
        QTest::newRow("200") << "/ok" << 200 << text;
        QTest::newRow("404 still completes") << "/missing" << 404 << "not here";
        QTest::newRow("gbk by Content-Type") << "/gbk" << 200 << text;
        QTest::newRow("undeclared gbk") << "/undeclared-gbk" << 200 << text;
        QTest::newRow("five redirects") << "/hop/5" << 200 << "arrived";
    }
    void responses() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, text);
        for (const bool async : {false, true}) {
            CurlHttpRequest request(ShortLimits());
            request.Open("GET", server_.url(path), async);
            QVERIFY(request.send());
            if (async) {
                QVERIFY(waitUntilDone(request));
            }
            QCOMPARE(request.ReadyState(), 4);
            QCOMPARE(request.status(), status);
            QCOMPARE(request.responseText(), text);
        }
    }

    void failures_data() {
        QTest::addColumn<QString>("url");
        QTest::newRow("silent server") << server_.url("/never");
        QTest::newRow("refused") << QString("http://127.0.0.1:%1/").arg(testsupport::UnusedPort());
        QTest::newRow("six redirects") << server_.url("/hop/6");
        QTest::newRow("redirect to a file") << server_.url("/to-file");
        QTest::newRow("body over the cap") << server_.url("/big");
        QTest::newRow("file scheme") << "file:///etc/passwd";
        QTest::newRow("not an address") << "no address at all";
    }
    void failures() {
        QFETCH(QString, url);
        CurlHttpRequest request(ShortLimits());
        request.Open("GET", url);
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!request.send());
        QVERIFY2(timer.elapsed() < kFailureBoundMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(request.ReadyState() < 4);
        QCOMPARE(request.status(), 0);
        QCOMPARE(request.responseText(), QString());

        // Sent without waiting, the same failure is told later, within the same bound.
        request.Open("GET", url, true);
        timer.restart();
        QVERIFY(request.send());
        QVERIFY(timer.elapsed() < 500);
        QVERIFY(waitUntilDone(request));
        QVERIFY2(timer.elapsed() < kFailureBoundMs, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(request.ReadyState() < 4);
        QCOMPARE(request.status(), 0);
    }

    // A request destroyed while its answer is awaited stops at once and never
    // reports; one destroyed inside its report is fine.
    void asyncRequestEndsWithItsOwner() {
        bool reported = false;
        QElapsedTimer timer;
        timer.start();
        {
            CurlHttpRequest request(ShortLimits());
            request.Open("GET", server_.url("/never"), true);
            request.onDone([&] { reported = true; });
            QVERIFY(request.send());
        }
        QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed())));
        QCoreApplication::processEvents();
        QVERIFY(!reported);

        auto request = std::make_unique<CurlHttpRequest>(ShortLimits());
        request->Open("GET", server_.url("/ok"), true);
        request->onDone([&] {
            reported = request->ReadyState() == platform::HttpRequest::kDone;
            request.reset();
        });
        QVERIFY(request->send());
        QTRY_VERIFY_WITH_TIMEOUT(!request, kFailureBoundMs);
        QVERIFY(reported);
    }

    void otherSchemesNeverConnect_data() {
        QTest::addColumn<QString>("scheme");
        QTest::newRow("ftp") << "ftp";
        QTest::newRow("gopher") << "gopher";
        QTest::newRow("telnet") << "telnet";
        QTest::newRow("dict") << "dict";
    }
    void otherSchemesNeverConnect() {
        QFETCH(QString, scheme);
        RawTcpServer listener(RawTcpServer::Mode::AcceptAndStaySilent);
        QString url = listener.url();
        url.replace(0, 4, scheme);
        const TransferResult result = Transfer(GetRequest(url, ShortLimits()));
        QVERIFY(!result.responded);
        QCOMPARE(listener.connectionsAccepted(), 0);
    }

    // A URL named by a server in one address space reaches no more private
    // one: the connection is refused before the request leaves, as an
    // unreachable address is. Judged by the address connected to, through
    // redirects too.
    void addressSpaces_data() {
        QTest::addColumn<std::optional<platform::AddressSpace>>("from");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("reached");
        using platform::AddressSpace;
        QTest::newRow("own url") << std::optional<AddressSpace>() << "/ok" << true;
        QTest::newRow("loopback to loopback")
            << std::optional(AddressSpace::Loopback) << "/hop/2" << true;
        QTest::newRow("private to loopback")
            << std::optional(AddressSpace::Private) << "/ok" << false;
        QTest::newRow("public to loopback")
            << std::optional(AddressSpace::Public) << "/hop/1" << false;
    }
    void addressSpaces() {
        QFETCH(std::optional<platform::AddressSpace>, from);
        QFETCH(QString, path);
        QFETCH(bool, reached);
        const int before = static_cast<int>(server_.received().size());
        TransferRequest request = GetRequest(server_.url(path), ShortLimits());
        request.from = from;
        const TransferResult result = Transfer(request);
        QCOMPARE(result.responded, reached);
        QCOMPARE(static_cast<int>(server_.received().size()) > before, reached);
        if (reached)
            QCOMPARE(result.space, platform::AddressSpace::Loopback);
    }

    void spaceOfAddress_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("space");
        using platform::AddressSpace;
        const auto row = [](const char *address, AddressSpace space) {
            QTest::newRow(address) << QString::fromLatin1(address) << static_cast<int>(space);
        };
        for (const char *address :
             {"127.0.0.1", "127.1.2.3", "0.0.0.0", "::1", "::", "::ffff:127.0.0.1"})
            row(address, AddressSpace::Loopback);
        for (const char *address :
             {"10.1.2.3", "172.16.0.1", "172.31.255.255", "192.168.1.1", "169.254.1.1",
              "100.64.0.1", "fd00::1", "fe80::1", "::ffff:192.168.0.1"})
            row(address, AddressSpace::Private);
        for (const char *address : {"8.8.8.8", "172.32.0.1", "192.169.0.1", "100.128.0.1",
                                    "2001:db8::1", "::ffff:8.8.8.8"})
            row(address, AddressSpace::Public);
    }
    void spaceOfAddress() {
        QFETCH(QString, address);
        QFETCH(int, space);
        const std::optional<platform::AddressSpace> found =
            platform::SpaceOfAddressText(address.toLatin1().constData());
        QVERIFY(found);
        QCOMPARE(static_cast<int>(*found), space);
    }

    // A cut body keeps only the cap, and its buffer never grows past it.
    void longBodyIsCutAtTheCap() {
        const TransferResult result = Transfer(GetRequest(server_.url("/big")));
        const qsizetype cap = static_cast<qsizetype>(TransferLimits{}.maxBodyBytes);
        QVERIFY(result.responded);
        QVERIFY(result.bodyTruncated);
        QCOMPARE(result.body.size(), cap);
        QVERIFY(result.body.capacity() <= cap);
        QCOMPARE(result.body.count('x'), cap);
    }

    void headersDecideWhetherToRead_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("goOn");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("endless stream left at its headers")
            << "/stream" << false << 200 << QByteArray("audio/mpeg") << QByteArray();
        QTest::newRow("redirects are followed before judging")
            << "/hop/2" << true << 200 << QByteArray("text/plain") << QByteArray("arrived");
        QTest::newRow("an error status is judged too")
            << "/missing" << false << 404 << QByteArray("text/plain") << QByteArray();
    }
    void headersDecideWhetherToRead() {
        QFETCH(QString, path);
        QFETCH(bool, goOn);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(QByteArray, body);
        QList<QPair<int, QByteArray>> asked;
        TransferRequest request = GetRequest(server_.url(path), ShortLimits());
        request.continueAfterHeaders = [&](const TransferResult &head) {
            asked.append({head.status, head.contentType});
            return goOn;
        };
        const TransferResult result = Transfer(request);
        QVERIFY(result.responded);
        QCOMPARE(asked, (QList<QPair<int, QByteArray>>{{status, contentType}}));
        QCOMPARE(result.status, status);
        QCOMPARE(result.contentType, contentType);
        QCOMPARE(result.body, body);
    }

    void cancelStopsAWaitingTransfer() {
        // The flags outlive this function: the server may still be in the handler after it.
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        auto release = std::make_shared<std::atomic<bool>>(false);
        server_.get("/hold",
                    [cancel, release](const httplib::Request &, httplib::Response &response) {
                        *cancel = true;
                        for (int step = 0; step < 500 && !*release; ++step)
                            std::this_thread::sleep_for(std::chrono::milliseconds(20));
                        response.set_content("late", "text/plain");
                    });
        QElapsedTimer timer;
        timer.start();
        const TransferResult result = Transfer(GetRequest(server_.url("/hold")), cancel.get());
        const qint64 elapsed = timer.elapsed();
        *release = true;
        QVERIFY(!result.responded);
        QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
    }

private:
    // Waits for the report of an asynchronous send.
    static bool waitUntilDone(CurlHttpRequest &request) {
        bool done = false;
        request.onDone([&done] { done = true; });
        return QTest::qWaitFor([&done] { return done; }, kFailureBoundMs);
    }

    static QByteArray encodeGbk(const QString &text) { return QStringEncoder("gbk")(text); }

    LoopbackServer server_;
};

QTEST_GUILESS_MAIN(TestCurlHttpRequest)
#include "test_curl_http_request.moc"
