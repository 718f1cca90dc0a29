// SPDX-License-Identifier: GPL-3.0-or-later

// The companion directory server as a running program: its pages, play
// counting, message board, start-up errors, and what survives a kill -9.

#include "tests/support/directory_server_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <arpa/inet.h>
#include <latch>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using testsupport::DatabaseColumn;
using testsupport::DirectoryServerProcess;
using testsupport::HeatOfPage;

namespace {

constexpr const char *kDirectory = "/radio/1.59.asp";
constexpr std::size_t kMaxBody = 64 * 1024;

std::string Utf8(const char *text) {
    return text;
}

// GETs path from many threads at once, all released together; how many
// answers were 200 with exactly the expected body.
int ConcurrentGets(const DirectoryServerProcess &server, int clients, const std::string &path,
                   const std::string &expected) {
    std::latch ready(clients);
    std::atomic<int> correct{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&] {
            const auto client = server.client();
            ready.arrive_and_wait();
            const auto result = client->Get(path);
            if (result && result->status == 200 && (expected.empty() || result->body == expected)) {
                ++correct;
            }
        });
    }
    for (std::thread &thread : threads) {
        thread.join();
    }
    return correct.load();
}

QList<QByteArray> Messages(const DirectoryServerProcess &server) {
    return DatabaseColumn(server.file("directory.sqlite3"),
                          "SELECT body FROM messages ORDER BY id");
}

// Posts a message body, chunked (without a declared length) when asked; the status.
int PostMessage(const DirectoryServerProcess &server, const std::string &body,
                const std::string &contentType, bool chunked = false) {
    const auto client = server.client();
    const auto result = chunked ? client->Post(
                                      "/maiz.asp",
                                      [&body](std::size_t offset, httplib::DataSink &sink) {
                                          const std::size_t piece =
                                              std::min<std::size_t>(4096, body.size() - offset);
                                          sink.write(body.data() + offset, piece);
                                          if (offset + piece == body.size()) {
                                              sink.done();
                                          }
                                          return true;
                                      },
                                      contentType)
                                : client->Post("/maiz.asp", body, contentType);
    return result ? result->status : 0;
}

// A plain TCP connection to the server, for requests no well-behaved client sends.
class RawConnection {
public:
    explicit RawConnection(int port) : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const timeval sendLimit{10, 0}; // a server that stops reading ends the attack
        setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = connect(fd_, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }
    ~RawConnection() { close(fd_); }
    RawConnection(const RawConnection &) = delete;
    RawConnection &operator=(const RawConnection &) = delete;

    int fd() const { return fd_; }
    // False when not all of data could be sent.
    bool send(std::string_view data) {
        while (connected_ && !data.empty()) {
            const ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
            if (sent <= 0) {
                return false;
            }
            data.remove_prefix(static_cast<std::size_t>(sent));
        }
        return connected_;
    }
    // True when an answer, or the end of the connection, arrives within ms.
    bool readable(int ms) const {
        pollfd entry{fd_, POLLIN, 0};
        return poll(&entry, 1, ms) > 0;
    }
    // The status of the answer arriving within a deadline; 0 without one.
    int status() const {
        std::string answer;
        char buffer[4096];
        for (int i = 0; i < 16 && answer.find("\r\n") == std::string::npos && readable(10000);
             ++i) {
            const ssize_t got = recv(fd_, buffer, sizeof buffer, 0);
            if (got <= 0) {
                break;
            }
            answer.append(buffer, static_cast<std::size_t>(got));
        }
        return answer.starts_with("HTTP/1.1 ") ? std::atoi(answer.c_str() + 9) : 0;
    }

private:
    const int fd_;
    bool connected_ = false;
};

} // namespace

class TestDirectoryServer : public QObject {
    Q_OBJECT

private slots:
    // Every play counts here; the report window has a test of its own.
    void init() {
        server_ = std::make_unique<DirectoryServerProcess>();
        QVERIFY2(server_->start({"--report-window", "0"}), server_->errors().constData());
    }
    void cleanup() { server_.reset(); }

    void firstStartFillsTheDataFolder() {
        for (const char *name : {"stations.txt", "announcements.txt", "directory.sqlite3"}) {
            QVERIFY2(QFile::exists(server_->file(name)), name);
        }
        const std::string page = server_->get(kDirectory);
        QVERIFY(page.find("<body>(zebok)<br>(id)") != std::string::npos);
        QVERIFY(HeatOfPage(page).size() >= 28);
        // Streams are published under the address the server was started with.
        const std::string url =
            "(url)http://127.0.0.1:" + std::to_string(server_->port()) + "/stream/101.mp3(/url)";
        QVERIFY(page.find(url) != std::string::npos);
    }

    void pages_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("contentType");
        QTest::addColumn<QStringList>("contains");
        QTest::newRow("directory") << kDirectory << 200 << "text/html; charset=utf-8"
                                   << QStringList{"<meta charset=\"utf-8\">", "(zebok)",
                                                  "(local)北京(/local)", "(hot)2380(/hot)"};
        QTest::newRow("announcement") << "/radio/new.asp" << 200 << "text/plain; charset=utf-8"
                                      << QStringList{"(radiomsg)欢迎使用", "(/radiomsg)"};
        QTest::newRow("home") << "/" << 200 << "text/html; charset=utf-8"
                              << QStringList{"(radioban)1.59(/radioban)",
                                             "(radio)http://127.0.0.1:", "/download/(/radio)",
                                             "(radiomsg)"};
        QTest::newRow("download") << "/download/" << 200 << "text/html; charset=utf-8"
                                  << QStringList{"1.59"};
        QTest::newRow("board") << "/maiz.asp" << 200 << "text/html; charset=utf-8"
                               << QStringList{"method=\"post\"", "action=\"/maiz.asp\"",
                                              "<textarea id=\"textarea\"",
                                              "type=\"submit\" id=\"button\""};
        QTest::newRow("fallback") << "/fallback.asx" << 200 << "video/x-ms-asf"
                                  << QStringList{"<asx version=\"3.0\">",
                                                 "/stream/fallback.mp3\"/>"};
        QTest::newRow("health") << "/healthz" << 200 << "text/plain; charset=utf-8"
                                << QStringList{"OK"};
        QTest::newRow("unknown page")
            << "/nothing.asp" << 404 << "text/html; charset=utf-8" << QStringList{"404"};
        QTest::newRow("other version")
            << "/radio/1.58.asp" << 404 << "text/html; charset=utf-8" << QStringList{};
        QTest::newRow("unknown stream")
            << "/stream/999.mp3" << 404 << "text/html; charset=utf-8" << QStringList{};
    }
    void pages() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, contentType);
        QFETCH(QStringList, contains);
        const auto result = server_->client()->Get(path.toStdString());
        QVERIFY(result);
        QCOMPARE(result->status, status);
        QCOMPARE(QString::fromStdString(result->get_header_value("Content-Type")), contentType);
        const QString body = QString::fromStdString(result->body);
        for (const QString &part : contains) {
            QVERIFY2(body.contains(part), qPrintable(part));
        }
    }

    void announcementsGoInTurn() {
        std::set<std::string> seen;
        std::string first = server_->get("/radio/new.asp");
        for (int i = 0; i < 4; ++i) {
            seen.insert(server_->get("/radio/new.asp"));
        }
        QCOMPARE(seen.size(), std::size_t(4));
        QVERIFY(!seen.contains(first)); // the demo has five
        QCOMPARE(server_->get("/radio/new.asp"), first);
    }

    void playReports_data() {
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("counted"); // plays added to station 101
        QTest::newRow("known id") << "id=101" << 1;
        QTest::newRow("first of two ids") << "id=101&id=102" << 1;
        QTest::newRow("other parameters too") << "x=1&id=101&y" << 1;
        QTest::newRow("unknown id") << "id=100" << 0;
        QTest::newRow("leading zero") << "id=0101" << 0;
        QTest::newRow("letters after") << "id=101abc" << 0;
        QTest::newRow("sign") << "id=%2B101" << 0;
        QTest::newRow("space") << "id=101%20" << 0;
        QTest::newRow("empty") << "id=" << 0;
        QTest::newRow("no id") << "" << 0;
        QTest::newRow("broken escapes") << "id=%zz%&&==&" << 0;
        QTest::newRow("sql text") << "id=101%27%3B%20DROP%20TABLE%20heat%3B--" << 0;
        QTest::newRow("huge number") << "id=99999999999999999999999" << 0;
    }
    void playReports() {
        QFETCH(QString, query);
        QFETCH(int, counted);
        const auto before = HeatOfPage(server_->get(kDirectory));
        const auto result = server_->client()->Get("/radio/hot.asp?" + query.toStdString());
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        auto expected = before;
        expected["101"] += counted;
        QCOMPARE(HeatOfPage(server_->get(kDirectory)), expected);
    }

    void repeatedDirectoryRequestIsAnsweredCheaply() {
        const auto client = server_->client();
        const auto first = client->Get(kDirectory);
        QVERIFY(first);
        const std::string etag = first->get_header_value("ETag");
        QVERIFY(!etag.empty());
        const auto repeat = client->Get(kDirectory, {{"If-None-Match", etag}});
        QVERIFY(repeat);
        QCOMPARE(repeat->status, 304);
        QVERIFY(repeat->body.empty());
        // A play changes the page: the old tag no longer matches.
        QCOMPARE(client->Get("/radio/hot.asp?id=101")->status, 200);
        const auto changed = client->Get(kDirectory, {{"If-None-Match", etag}});
        QVERIFY(changed);
        QCOMPARE(changed->status, 200);
        QCOMPARE(HeatOfPage(changed->body)["101"], HeatOfPage(first->body)["101"] + 1);
    }

    void manyClientsGetCorrectPages() {
        const std::string page = server_->get(kDirectory);
        QVERIFY(!page.empty());
        QCOMPARE(ConcurrentGets(*server_, 200, kDirectory, page), 200);
    }

    void concurrentPlaysAreCountedExactly() {
        const auto before = HeatOfPage(server_->get(kDirectory));
        QCOMPARE(ConcurrentGets(*server_, 1000, "/radio/hot.asp?id=291", {}), 1000);
        auto expected = before;
        expected["291"] += 1000;
        QCOMPARE(HeatOfPage(server_->get(kDirectory)), expected);
    }

    void messages_data() {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QByteArray>("contentType");
        QTest::addColumn<bool>("chunked");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("stored"); // empty: nothing stored
        const QByteArray form = "application/x-www-form-urlencoded";
        const QByteArray atLimit = "message=" + QByteArray(kMaxBody - 8, 'x');
        const QByteArray overLimit = atLimit + "x";
        QTest::newRow("utf-8 form") << QByteArray("message=%E5%A5%BD%E5%90%AC+a%26b") << form
                                    << false << 200 << QByteArray("好听 a&b");
        QTest::newRow("gbk form") << QByteArray("message=%BA%C3%CC%FD") << form << false << 200
                                  << QByteArray("\xBA\xC3\xCC\xFD");
        QTest::newRow("multipart")
            << QByteArray("--b\r\nContent-Disposition: form-data; name=\"message\"\r\n\r\n"
                          "多部分\r\n--b--\r\n")
            << QByteArray("multipart/form-data; boundary=b") << false << 200
            << QByteArray("多部分");
        QTest::newRow("blank message")
            << QByteArray("message=+%0D%0A+") << form << false << 400 << QByteArray();
        QTest::newRow("no message field")
            << QByteArray("other=1") << form << false << 400 << QByteArray();
        QTest::newRow("just at the limit")
            << atLimit << form << false << 200 << QByteArray(kMaxBody - 8, 'x');
        QTest::newRow("chunked at the limit")
            << atLimit << form << true << 200 << QByteArray(kMaxBody - 8, 'x');
        QTest::newRow("over the limit") << overLimit << form << false << 413 << QByteArray();
        QTest::newRow("chunked over the limit") << overLimit << form << true << 413 << QByteArray();
        QTest::newRow("far over the limit")
            << "message=" + QByteArray(1024 * 1024, 'x') << form << false << 413 << QByteArray();
    }
    void messages() {
        QFETCH(QByteArray, body);
        QFETCH(QByteArray, contentType);
        QFETCH(bool, chunked);
        QFETCH(int, status);
        QFETCH(QByteArray, stored);
        QCOMPARE(PostMessage(*server_, body.toStdString(), contentType.toStdString(), chunked),
                 status);
        const QList<QByteArray> expected =
            stored.isEmpty() ? QList<QByteArray>{} : QList<QByteArray>{stored};
        QCOMPARE(Messages(*server_), expected);
    }

    void thankYouPage() {
        const auto result = server_->client()->Post("/maiz.asp", "message=hello",
                                                    "application/x-www-form-urlencoded");
        QVERIFY(result);
        QCOMPARE(result->status, 200);
        QVERIFY(result->body.find(Utf8("谢谢")) != std::string::npos);
    }

    void answeredWritesSurviveKillNine() {
        const auto before = HeatOfPage(server_->get(kDirectory));
        // Reports arriving together are stored in groups: every answered one
        // must be on disk when the process dies right after.
        QCOMPARE(ConcurrentGets(*server_, 200, "/radio/hot.asp?id=121", {}), 200);
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(PostMessage(*server_, "message=note" + std::to_string(i),
                                 "application/x-www-form-urlencoded"),
                     200);
        }
        server_->kill9();
        QVERIFY2(server_->start(), server_->errors().constData());
        auto expected = before;
        expected["121"] += 200;
        QCOMPARE(HeatOfPage(server_->get(kDirectory)), expected);
        QCOMPARE(Messages(*server_),
                 (QList<QByteArray>{"note0", "note1", "note2", "note3", "note4"}));
    }

    // Behind a trusted proxy, each client named in X-Forwarded-For has its
    // shares: a play of a station counts once in the window, ten board
    // messages an hour; the figures at /metrics say what happened.
    void fairSharesAndMetrics() {
        server_ = std::make_unique<DirectoryServerProcess>();
        QVERIFY2(server_->start({"--trusted-proxy", "127.0.0.1"}), server_->errors().constData());
        const std::int64_t before = HeatOfPage(server_->get(kDirectory))["101"];
        const auto client = server_->client();
        for (const char *forwarded : {"10.0.0.1", "10.0.0.1", "192.0.2.7, 10.0.0.1", "10.0.0.2"}) {
            const auto result =
                client->Get("/radio/hot.asp?id=101", {{"X-Forwarded-For", forwarded}});
            QVERIFY(result && result->status == 200);
        }
        QCOMPARE(HeatOfPage(server_->get(kDirectory))["101"], before + 2);
        for (int i = 0; i < 11; ++i) {
            const auto result = client->Post("/maiz.asp", {{"X-Forwarded-For", "10.0.0.9"}},
                                             "message=hello", "application/x-www-form-urlencoded");
            QVERIFY(result);
            QCOMPARE(result->status, i < 10 ? 200 : 429);
            if (i == 10) {
                const int wait = std::atoi(result->get_header_value("Retry-After").c_str());
                QVERIFY2(wait > 3500 && wait <= 3600, qPrintable(QString::number(wait)));
            }
        }
        QCOMPARE(Messages(*server_).size(), 10);
        const std::string metrics = server_->get("/metrics");
        for (const char *line :
             {"# TYPE quorvel_directory_play_reports_total counter\n",
              "quorvel_directory_play_reports_total{result=\"counted\"} 2\n",
              "quorvel_directory_play_reports_total{result=\"ignored\"} 2\n",
              "quorvel_directory_board_posts_total{result=\"stored\"} 10\n",
              "quorvel_directory_board_posts_total{result=\"refused_limit\"} 1\n",
              "quorvel_directory_requests_total{path=\"/maiz.asp\",status=\"429\"} 1\n",
              "quorvel_directory_stream_listeners 0\n"}) {
            QVERIFY2(metrics.find(line) != std::string::npos, line);
        }
    }

    void restartKeepsTheDataFolder() {
        QFile stations(server_->file("stations.txt"));
        QVERIFY(stations.open(QIODevice::Append));
        stations.write("900 | 台湾 | 台湾宝岛之声 | mms://127.0.0.1/live | 5\n");
        stations.close();
        QCOMPARE(server_->terminate(), 0);
        QVERIFY2(server_->start(), server_->errors().constData());
        const std::string page = server_->get(kDirectory);
        QVERIFY(page.find("(url)mms://127.0.0.1/live(/url)(local)台湾(/local)(hot)5(/hot)") !=
                std::string::npos);
    }

    void hostHeaderDoesNotChooseTheAddress() {
        const auto result = server_->client()->Get(kDirectory, {{"Host", "evil.example:80"}});
        QVERIFY(result);
        QVERIFY(result->body.find("evil") == std::string::npos);
        QVERIFY(result->body.find("(url)http://127.0.0.1:") != std::string::npos);
    }

    void terminateEndsPromptlyWhileStreaming() {
        const auto listener = server_->client();
        std::atomic<bool> receiving{false};
        std::thread stream([&] {
            listener->Get("/stream/101.mp3", [&](const char *, size_t) {
                receiving = true;
                return true;
            });
        });
        QTRY_VERIFY_WITH_TIMEOUT(receiving.load(), 10000);
        QCOMPARE(server_->terminate(), 0);
        stream.join();
    }

    // Clients that send too slowly or too much: the server answers everyone
    // else, refuses the request and keeps its memory.
    void slowClientsDoNotStarveOthers() {
        std::vector<std::unique_ptr<RawConnection>> slow;
        for (int i = 0; i < 300; ++i) {
            slow.push_back(std::make_unique<RawConnection>(server_->port()));
            QVERIFY(slow.back()->send("G"));
        }
        int answered = 0;
        qint64 slowestMs = 0;
        for (int i = 0; i < 8; ++i) {
            QElapsedTimer timer;
            timer.start();
            const auto result = server_->client()->Get("/radio/new.asp");
            answered += result && result->status == 200 ? 1 : 0;
            slowestMs = std::max(slowestMs, timer.elapsed());
        }
        qInfo("300 slow connections open: %d of 8 requests answered, slowest in %lld ms", answered,
              slowestMs);
        QCOMPARE(answered, 8);

        // Each slow connection is ended by the server, also while it keeps
        // sending a byte now and then.
        QElapsedTimer ending;
        ending.start();
        const QDeadlineTimer deadline(30000);
        while (!slow.empty() && !deadline.hasExpired()) {
            std::vector<pollfd> entries;
            for (const auto &connection : slow) {
                entries.push_back({connection->fd(), POLLIN, 0});
            }
            poll(entries.data(), entries.size(), 1000);
            for (std::size_t i = slow.size(); i-- > 0;) {
                if (entries[i].revents != 0) {
                    slow.erase(slow.begin() + static_cast<std::ptrdiff_t>(i));
                } else {
                    slow[i]->send("E");
                }
            }
        }
        qInfo("slow connections ended after %lld ms", ending.elapsed());
        QCOMPARE(slow.size(), std::size_t(0));
    }

    void hugeRequestsAreRefused_data() {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<QByteArray>("filler"); // sent again and again after the head
        QTest::addColumn<qint64>("total");      // at most this much filler
        QTest::addColumn<int>("status");
        const QByteArray chunk = "10000\r\n" + QByteArray(0x10000, 'x') + "\r\n";
        const QByteArray chunked = " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: "
                                   "application/x-www-form-urlencoded\r\n"
                                   "Transfer-Encoding: chunked\r\n\r\n";
        const qint64 megabytes500 = 500LL * 1024 * 1024;
        QTest::newRow("chunked POST to a page")
            << "POST /radio/new.asp" + chunked << chunk << megabytes500 << 413;
        QTest::newRow("chunked PUT to play counting")
            << "PUT /radio/hot.asp" + chunked << chunk << megabytes500 << 413;
        QTest::newRow("chunked message")
            << "POST /maiz.asp" + chunked
            << "10000\r\nmessage=" + QByteArray(0x10000 - 8, 'x') + "\r\n" + chunk << megabytes500
            << 413;
        QTest::newRow("declared length")
            << QByteArray("POST /maiz.asp HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          "Content-Length: 524288000\r\n\r\n")
            << QByteArray(0x10000, 'x') << megabytes500 << 413;
        QByteArray lines;
        for (int i = 0; i < 1000; ++i) {
            lines += "X-Line: 0123456789abcdef\r\n";
        }
        QTest::newRow("2,000,000 header lines")
            << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n") << lines
            << qint64(lines.size()) * 2000 << 431;
    }
    void hugeRequestsAreRefused() {
        QFETCH(QByteArray, head);
        QFETCH(QByteArray, filler);
        QFETCH(qint64, total);
        QFETCH(int, status);
        QVERIFY(!server_->get("/download/").empty());
        const long idleKiB = server_->memoryKiB("VmRSS");
        RawConnection attack(server_->port());
        QVERIFY(attack.send(head.toStdString()));
        // Sends until the server answers or ends the connection.
        qint64 sent = 0;
        while (sent < total && !attack.readable(0) && attack.send(filler.toStdString())) {
            sent += filler.size();
        }
        const int answer = attack.status();
        const long peakKiB = server_->memoryKiB("VmHWM");
        qInfo("%lld MB sent, answer %d; server memory idle %ld KiB, peak %ld KiB",
              sent / (1024 * 1024), answer, idleKiB, peakKiB);
        QCOMPARE(answer, status);
        QVERIFY(peakKiB - idleKiB < 8 * 1024);
        QVERIFY(!server_->get("/download/").empty());
    }

private:
    std::unique_ptr<DirectoryServerProcess> server_;
};

// Start-up with a bad data folder or command line: a clear message and no server.
class TestDirectoryServerStartErrors : public QObject {
    Q_OBJECT

private slots:
    void badStationLinesAreLeftOut() {
        DirectoryServerProcess server;
        QVERIFY(QDir().mkpath(server.dataDir()));
        writeFile(server.file("stations.txt"), "1 | 北京 | 好台 | /stream/1.mp3\n"
                                               "2 | 北京 | 坏(/title)台 | /stream/2.mp3\n"
                                               "3 | 上海 | <b>粗 & 体</b> | /stream/3.mp3 | 7\n");
        writeFile(server.file("announcements.txt"), "公告\n");
        QVERIFY2(server.start(), server.errors().constData());
        const std::string page = server.get(kDirectory);
        QCOMPARE(HeatOfPage(page), (std::map<std::string, std::int64_t>{{"1", 0}, {"3", 7}}));
        QVERIFY(page.find("(title)&lt;b&gt;粗 &amp; 体&lt;/b&gt;(/title)") != std::string::npos);
        QCOMPARE(server.terminate(), 0);
        QVERIFY(server.errors().contains("stations.txt line 2: title holds the marker"));
    }

    void startErrors_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("message");
        QTest::newRow("port in use") << "port in use" << 1 << "Address already in use";
        QTest::newRow("station file missing") << "no stations" << 1 << "cannot read station list";
        QTest::newRow("station file unreadable")
            << "stations is a folder" << 1 << "cannot read station list";
        QTest::newRow("data folder is a file") << "data is a file" << 1 << "cannot";
        QTest::newRow("bad port") << "bad port" << 2 << "--port needs a number";
        QTest::newRow("unknown option") << "unknown option" << 2 << "unknown option";
    }
    void startErrors() {
        QFETCH(QString, setup);
        QFETCH(int, exitCode);
        QFETCH(QString, message);
        DirectoryServerProcess server;
        DirectoryServerProcess occupant; // holds the port in the "port in use" case
        QStringList arguments{"--port", QString::number(server.port()), "--data", server.dataDir()};
        if (setup == "port in use") {
            QVERIFY(occupant.start());
            arguments[1] = QString::number(occupant.port());
        } else if (setup == "no stations") {
            QVERIFY(QDir().mkpath(server.dataDir()));
            writeFile(server.file("announcements.txt"), "公告\n");
        } else if (setup == "stations is a folder") {
            QVERIFY(QDir().mkpath(server.file("stations.txt")));
        } else if (setup == "data is a file") {
            writeFile(server.dataDir(), "x");
        } else if (setup == "bad port") {
            arguments[1] = "80a";
        } else {
            arguments << "--verbose";
        }
        QCOMPARE(server.runToExit(arguments), exitCode);
        const QByteArray errors = server.errors();
        QVERIFY2(errors.contains(message.toUtf8()), errors.constData());
    }

    void helpNeedsNoDataFolder() {
        DirectoryServerProcess server;
        QCOMPARE(server.runToExit({"--help", "--data", server.dataDir()}), 0);
        QVERIFY(!QFile::exists(server.dataDir()));
    }

private:
    static void writeFile(const QString &path, const QByteArray &content) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
};

int main(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    TestDirectoryServer running;
    TestDirectoryServerStartErrors startErrors;
    return QTest::qExec(&running, argc, argv) | QTest::qExec(&startErrors, argc, argv);
}

#include "test_directory_server.moc"
