// SPDX-License-Identifier: GPL-3.0-or-later

// Two real quorvel-directory programs on one PostgreSQL database, as behind a
// load balancer: what one counts the other shows, both answer the same page,
// and nothing answered 200 is lost when a server is killed or the database
// stops at once.

#include "tests/support/directory_server_process.h"
#include "tests/support/postgres_cluster.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <latch>
#include <thread>

using testsupport::DirectoryServerProcess;
using testsupport::HeatOfPage;
using testsupport::PostgresCluster;

namespace {

constexpr const char *kDirectory = "/radio/1.59.asp";
// In the URI, to show it never reaches the log (the test cluster trusts
// local connections and ignores it).
constexpr const char *kPassword = "pw-never-shown";
constexpr int kWaitMs = 20000;

// Clients reporting plays of one station to servers in a loop, from the
// moment they are made until stopped; counts the answers that were 200.
class Reporters {
public:
    Reporters(const std::vector<const DirectoryServerProcess *> &servers, int clients) {
        for (int i = 0; i < clients; ++i) {
            threads_.emplace_back([this, server = servers[i % servers.size()]] {
                const auto client = server->client();
                client->set_connection_timeout(1);
                while (!stop_) {
                    const auto result = client->Get("/radio/hot.asp?id=102");
                    if (result && result->status == 200) {
                        ++answered_;
                    } else if (result && result->status == 503) {
                        ++refused_;
                    }
                }
            });
        }
    }
    ~Reporters() { stop(); }

    void stop() {
        stop_ = true;
        for (std::thread &thread : threads_) {
            if (thread.joinable()) {
                thread.join();
            }
        }
    }
    int answered() const { return answered_; }
    int refused() const { return refused_; }

private:
    std::atomic<bool> stop_{false};
    std::atomic<int> answered_{0};
    std::atomic<int> refused_{0};
    std::vector<std::thread> threads_;
};

// Runs an admin command of the program to its end: the exit status, -1 when
// it did not end in time; its standard output into out.
int RunCommand(const QStringList &arguments, QByteArray *out = nullptr) {
    QProcess command;
    command.start(QUORVEL_DIRECTORY_BINARY, arguments);
    if (!command.waitForFinished(kWaitMs)) {
        command.kill();
        command.waitForFinished();
        return -1;
    }
    if (out != nullptr) {
        *out = command.readAllStandardOutput();
    }
    return command.exitCode();
}

bool WriteFile(const QString &path, const QByteArray &content) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

int Status(const DirectoryServerProcess &server, const std::string &path) {
    const auto result = server.client()->Get(path);
    return result ? result->status : 0;
}

} // namespace

class TestDirectoryServerInstances : public QObject {
    Q_OBJECT

    std::unique_ptr<PostgresCluster> cluster_;
    std::unique_ptr<DirectoryServerProcess> a_;
    std::unique_ptr<DirectoryServerProcess> b_;
    int databases_ = 0;

    QString database() const { return QString("directory%1").arg(databases_); }

    std::unique_ptr<DirectoryServerProcess> startServer() {
        auto server = std::make_unique<DirectoryServerProcess>();
        std::string uri = cluster_->uri(database());
        uri.insert(uri.find('@'), std::string(":") + kPassword);
        if (!server->start({"--database", QString::fromStdString(uri), "--public",
                            "http://radio.test:8159", "--report-window", "0"})) {
            qWarning("%s", server->errors().constData());
            return nullptr;
        }
        return server;
    }

    std::int64_t storedHeat() {
        return cluster_->query(database(), "SELECT plays FROM heat WHERE station = '102'")
            .trimmed()
            .toLongLong();
    }

    bool bothRunAgain() {
        return QTest::qWaitFor(
            [&] {
                return Status(*a_, "/healthz") == 200 && Status(*b_, "/healthz") == 200 &&
                       Status(*a_, "/radio/hot.asp?id=101") == 200 &&
                       Status(*b_, "/radio/hot.asp?id=101") == 200;
            },
            kWaitMs);
    }

private slots:
    void initTestCase() {
        cluster_ = std::make_unique<PostgresCluster>();
        QVERIFY2(cluster_->start(), cluster_->errors().constData());
    }
    void init() {
        ++databases_;
        QVERIFY2(cluster_->createDatabase(database()), cluster_->errors().constData());
        a_ = startServer();
        b_ = startServer();
        QVERIFY(a_ && b_);
    }
    void cleanup() {
        for (auto *server : {&a_, &b_}) {
            if (*server) {
                QVERIFY(!(*server)->errors().contains(kPassword));
                server->reset();
            }
        }
    }
    void cleanupTestCase() { cluster_.reset(); }

    void aPlayOnOneRaisesTheHeatOnTheOther() {
        const std::int64_t before = HeatOfPage(b_->get(kDirectory))["101"];
        constexpr int kPlays = 10;
        for (int i = 0; i < kPlays; ++i) {
            QCOMPARE(Status(*a_, "/radio/hot.asp?id=101"), 200);
        }
        // Each counted once on either page, and the same content gives the
        // same bytes and tag: a client's tag is good at either.
        QVERIFY(QTest::qWaitFor(
            [&] {
                const std::string page = b_->get(kDirectory);
                return HeatOfPage(page)["101"] == before + kPlays && a_->get(kDirectory) == page;
            },
            kWaitMs));
        for (const char *encoding : {"identity", "gzip"}) {
            const httplib::Headers accept{{"Accept-Encoding", encoding}};
            const auto fromA = a_->client()->Get(kDirectory, accept);
            const auto fromB = b_->client()->Get(kDirectory, accept);
            QVERIFY(fromA && fromB);
            QCOMPARE(fromA->body, fromB->body);
            const std::string etag = fromA->get_header_value("ETag");
            QCOMPARE(fromB->get_header_value("ETag"), etag);
            const httplib::Headers revalidate{{"Accept-Encoding", encoding},
                                              {"If-None-Match", etag}};
            QCOMPARE(b_->client()->Get(kDirectory, revalidate)->status, 304);
        }
    }

    void killNineDuringReportsLosesNothingAnswered() {
        const std::int64_t before = storedHeat();
        Reporters reporters({a_.get()}, 50);
        QVERIFY(QTest::qWaitFor([&] { return reporters.answered() >= 200; }, kWaitMs));
        a_->kill9();
        reporters.stop();
        QVERIFY2(storedHeat() >= before + reporters.answered(),
                 qPrintable(QString("%1 stored, %2 answered")
                                .arg(storedHeat() - before)
                                .arg(reporters.answered())));
        // The survivor shows them.
        QVERIFY(QTest::qWaitFor(
            [&] { return HeatOfPage(b_->get(kDirectory))["102"] >= before + reporters.answered(); },
            kWaitMs));
    }

    void databaseStopLosesNothingAnsweredAndBothRecover() {
        const std::int64_t before = storedHeat();
        const std::string page = b_->get(kDirectory);
        {
            Reporters reporters({a_.get(), b_.get()}, 20);
            QVERIFY(QTest::qWaitFor([&] { return reporters.answered() >= 200; }, kWaitMs));
            QVERIFY(cluster_->stopImmediately());
            // Refused, not failed, while the database is gone; the last page
            // is still served. An answer committed just before the stop may
            // still be on its way when it returns, so the count is taken once
            // refusals come.
            QVERIFY(QTest::qWaitFor([&] { return reporters.refused() >= 50; }, kWaitMs));
            const int answered = reporters.answered();
            QVERIFY(QTest::qWaitFor([&] { return reporters.refused() >= 100; }, kWaitMs));
            QCOMPARE(reporters.answered(), answered);
            QCOMPARE(Status(*a_, "/healthz"), 503);
            QVERIFY(!b_->get(kDirectory).empty());
            QVERIFY(cluster_->start());
            QVERIFY(bothRunAgain());
            reporters.stop();
            QVERIFY(storedHeat() >= before + reporters.answered());
        }
        QVERIFY(HeatOfPage(b_->get(kDirectory))["102"] > HeatOfPage(page)["102"]);
        // Each change of state is logged once.
        for (auto *server : {a_.get(), b_.get()}) {
            QVERIFY(QTest::qWaitFor(
                [&] { return server->errors().contains("database reachable again"); }, kWaitMs));
            QCOMPARE(server->errors().count("database unreachable"), 1);
            QCOMPARE(server->errors().count("database reachable again"), 1);
        }
    }

    // An import reaches every running server through the store, for either
    // engine; a malformed file changes nothing anywhere.
    void importReachesRunningServers_data() {
        QTest::addColumn<bool>("postgresql");
        QTest::newRow("sqlite") << false;
        QTest::newRow("postgresql") << true;
    }
    void importReachesRunningServers() {
        QFETCH(bool, postgresql);
        DirectoryServerProcess alone;
        std::vector<DirectoryServerProcess *> servers{a_.get(), b_.get()};
        QStringList store{"--database", QString::fromStdString(cluster_->uri(database()))};
        if (!postgresql) {
            QVERIFY2(alone.start(), alone.errors().constData());
            servers = {&alone};
            store = QStringList{"--data", alone.dataDir()};
        }
        QTemporaryDir files;
        const QString broken = files.filePath("broken.json");
        const QString good = files.filePath("good.m3u");
        QVERIFY(WriteFile(broken, "[{\"name\":\"粤语台\",\"url\":\"http://gd.example/\","
                                  "\"countrycode\":\"CN\",\"state\":\"Guangdong\"},\n{\"name\":"));
        QVERIFY(WriteFile(good, "#EXTM3U\n#EXTINF:-1,导入台\nhttp://import.example/live\n"));
        QByteArray before;
        QCOMPARE(RunCommand(QStringList{"stations", "list"} + store, &before), 0);
        const std::string page = servers[0]->get(kDirectory);

        QCOMPARE(RunCommand(QStringList{"import", "--replace"} + store + QStringList{good, broken}),
                 1);
        QByteArray after;
        QCOMPARE(RunCommand(QStringList{"stations", "list"} + store, &after), 0);
        QCOMPARE(after, before);
        QCOMPARE(servers[0]->get(kDirectory), page);

        QCOMPARE(RunCommand(QStringList{"import"} + store + QStringList{good}), 0);
        for (DirectoryServerProcess *server : servers) {
            QVERIFY(QTest::qWaitFor(
                [&] {
                    return server->get(kDirectory)
                               .find("(title)导入台(/title)(url)http://"
                                     "import.example/live(/url)") != std::string::npos;
                },
                kWaitMs));
        }
    }

    void aNewerDatabaseIsRefused() {
        b_.reset();
        QVERIFY(
            !cluster_->query(database(), "INSERT INTO schema_migrations VALUES (999)").isNull());
        DirectoryServerProcess late;
        QCOMPARE(late.runToExit({"--port", QString::number(late.port()), "--data", late.dataDir(),
                                 "--database", QString::fromStdString(cluster_->uri(database()))}),
                 1);
        QVERIFY(late.errors().contains("newer"));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryServerInstances)
#include "test_directory_server_instances.moc"
