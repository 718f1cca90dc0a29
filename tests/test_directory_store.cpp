// SPDX-License-Identifier: GPL-3.0-or-later

// The directory server's store, the same behaviour asked of both engines:
// SQLite in a file, and PostgreSQL in a real cluster started for the test.

#include "directory_server/postgres_store.h"
#include "directory_server/sqlite_store.h"
#include "tests/support/directory_server_process.h"
#include "tests/support/postgres_cluster.h"

#include <QTemporaryDir>
#include <QTest>
#include <latch>
#include <sqlite3.h>
#include <thread>

using namespace directory;
using testsupport::DatabaseColumn;
using testsupport::PostgresCluster;

namespace {

// The tables of the servers released before the schema was versioned.
constexpr const char *kUnversionedSqlite = R"sql(
CREATE TABLE heat (station TEXT PRIMARY KEY, plays INTEGER NOT NULL);
CREATE TABLE messages (id INTEGER PRIMARY KEY, received TEXT NOT NULL DEFAULT (datetime('now')),
                       client TEXT NOT NULL, body NOT NULL);
)sql";

// Values that text arrays and quoting get wrong.
DataLists FirstLists() {
    return {{{"101", "北京", "Quote \" back\\slash {brace}, comma", "/stream/101.mp3", 7},
             {"102", "", "NULL", "http://example.net/live?a=1&b=2", 0}},
            {"第一条", "\"quoted\", {x}"}};
}

DataLists SecondLists() {
    return {{{"103", "上海", "Third", "/stream/103.mp3", 5}, {"101", "北京", "First", "/s", 99}},
            {"again"}};
}

QStringList Titles(const std::vector<Station> &stations) {
    QStringList titles;
    for (const Station &station : stations) {
        titles << QString::fromStdString(station.id + " " + station.region + " " + station.title +
                                         " " + station.url);
    }
    return titles;
}

QStringList Texts(const std::vector<std::string> &texts) {
    QStringList list;
    for (const std::string &text : texts) {
        list << QString::fromStdString(text);
    }
    return list;
}

std::map<std::string, std::int64_t> Heat(Store &store) {
    std::map<std::string, std::int64_t> heat;
    store.forEachHeat(
        [&](const std::string &station, std::int64_t plays) { heat[station] = plays; });
    return heat;
}

} // namespace

class TestDirectoryStore : public QObject {
    Q_OBJECT

    QTemporaryDir files_;
    std::unique_ptr<PostgresCluster> cluster_;
    int made_ = 0;

    // A place for a new, empty store of the engine: a file or a database.
    QString freshPlace(const QString &engine) {
        const QString name = QString("store%1").arg(++made_);
        if (engine == "sqlite") {
            return files_.filePath(name + ".sqlite3");
        }
        return cluster_->createDatabase(name) ? name : QString();
    }

    std::span<const Migration> migrationsOf(const QString &engine) {
        return engine == "sqlite" ? SqliteMigrations() : PostgresMigrations();
    }

    std::unique_ptr<Store> open(const QString &engine, const QString &place,
                                std::span<const Migration> migrations) {
        if (engine == "sqlite") {
            return std::make_unique<SqliteStore>(place.toStdString(), migrations);
        }
        return std::make_unique<PostgresStore>(
            cluster_->uri(place), [](const std::string &) {}, migrations);
    }
    std::unique_ptr<Store> open(const QString &engine, const QString &place) {
        return open(engine, place, migrationsOf(engine));
    }

    // Runs SQL on the store's database directly.
    bool execute(const QString &engine, const QString &place, const QString &sql) {
        if (engine == "postgresql") {
            return !cluster_->query(place, sql).isNull();
        }
        sqlite3 *db = nullptr;
        bool done =
            sqlite3_open(place.toUtf8().constData(), &db) == SQLITE_OK &&
            sqlite3_exec(db, sql.toUtf8().constData(), nullptr, nullptr, nullptr) == SQLITE_OK;
        sqlite3_close(db);
        return done;
    }

    // One column of a query's rows, as bytes (PostgreSQL answers hex for bytea).
    QList<QByteArray> column(const QString &engine, const QString &place, const QString &sql) {
        if (engine == "sqlite") {
            return DatabaseColumn(place, sql);
        }
        return cluster_->query(place, sql).trimmed().split('\n');
    }

    static void addEngines() {
        QTest::addColumn<QString>("engine");
        QTest::newRow("sqlite") << "sqlite";
        QTest::newRow("postgresql") << "postgresql";
    }

private slots:
    void initTestCase() {
        cluster_ = std::make_unique<PostgresCluster>();
        QVERIFY2(cluster_->start(), cluster_->errors().constData());
    }
    void cleanupTestCase() { cluster_.reset(); }

    // The data folder's lists: a store of its own lists (PostgreSQL) takes the
    // first it is given and keeps them; the SQLite store serves the folder's
    // lists as they are and keeps the heat it counts.
    void dataLists_data() { addEngines(); }
    void dataLists() {
        QFETCH(QString, engine);
        const QString place = freshPlace(engine);
        {
            const auto store = open(engine, place);
            store->adoptDataLists(FirstLists());
            QCOMPARE(Titles(*store->stations()), Titles(FirstLists().stations));
            QCOMPARE(Texts(store->announcements()), Texts(FirstLists().announcements));
            QCOMPARE(Heat(*store), (std::map<std::string, std::int64_t>{{"101", 7}, {"102", 0}}));
        }
        // The server starts again, and its data folder's lists have changed.
        const auto store = open(engine, place);
        store->adoptDataLists(SecondLists());
        const bool keepsFirst = engine == "postgresql";
        const DataLists expected = keepsFirst ? FirstLists() : SecondLists();
        QCOMPARE(Titles(*store->stations()), Titles(expected.stations));
        QCOMPARE(Texts(store->announcements()), Texts(expected.announcements));
        auto heat = std::map<std::string, std::int64_t>{{"101", 7}, {"102", 0}};
        if (!keepsFirst) {
            heat["103"] = 5;
        }
        QCOMPARE(Heat(*store), heat);
    }

    // Plays counted at once from many threads are each counted and durable.
    void concurrentPlays_data() { addEngines(); }
    void concurrentPlays() {
        QFETCH(QString, engine);
        const QString place = freshPlace(engine);
        {
            const auto store = open(engine, place);
            store->adoptDataLists(FirstLists());
            constexpr int kClients = 40;
            std::latch ready(kClients);
            std::vector<std::thread> clients;
            for (int i = 0; i < kClients; ++i) {
                clients.emplace_back([&, i] {
                    ready.arrive_and_wait();
                    store->countPlay(i % 4 == 0 ? "102" : "101");
                });
            }
            for (std::thread &client : clients) {
                client.join();
            }
        }
        QCOMPARE(Heat(*open(engine, place)),
                 (std::map<std::string, std::int64_t>{{"101", 7 + 30}, {"102", 10}}));
    }

    // Messages keep their bytes, whether or not they are UTF-8, and the sender.
    void messages_data() { addEngines(); }
    void messages() {
        QFETCH(QString, engine);
        const QString place = freshPlace(engine);
        const QByteArray utf8 = "好听 a&b";
        const QByteArray gbk = "\xba\xc3\xcc\xfd";
        {
            const auto store = open(engine, place);
            store->storeMessage({utf8.toStdString(), "127.0.0.1"});
            store->storeMessage({gbk.toStdString(), "::1"});
        }
        QList<QByteArray> stored = column(engine, place, "SELECT body FROM messages ORDER BY id");
        if (engine == "postgresql") {
            for (QByteArray &body : stored) {
                body = QByteArray::fromHex(body.mid(2)); // "\x…"
            }
        }
        QCOMPARE(stored, (QList<QByteArray>{utf8, gbk}));
        QCOMPARE(column(engine, place, "SELECT client FROM messages ORDER BY id"),
                 (QList<QByteArray>{"127.0.0.1", "::1"}));
    }

    // The schema is made from nothing and upgraded from the version before
    // (for SQLite, the unversioned tables of earlier servers), keeping what
    // was stored; two servers starting at once upgrade it once.
    void migrations_data() {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<bool>("fromPrevious");
        QTest::addColumn<int>("startingAtOnce");
        QTest::newRow("sqlite, empty") << "sqlite" << false << 1;
        QTest::newRow("sqlite, unversioned tables") << "sqlite" << true << 1;
        QTest::newRow("sqlite, empty, four at once") << "sqlite" << false << 4;
        QTest::newRow("postgresql, empty") << "postgresql" << false << 1;
        QTest::newRow("postgresql, previous version") << "postgresql" << true << 1;
        QTest::newRow("postgresql, empty, four at once") << "postgresql" << false << 4;
    }
    void migrations() {
        QFETCH(QString, engine);
        QFETCH(bool, fromPrevious);
        QFETCH(int, startingAtOnce);
        const QString place = freshPlace(engine);
        const auto migrations = migrationsOf(engine);
        if (fromPrevious) {
            if (engine == "sqlite") {
                QVERIFY(execute(engine, place, kUnversionedSqlite));
            } else {
                open(engine, place, migrations.first(migrations.size() - 1));
            }
            QVERIFY(execute(engine, place, "INSERT INTO heat VALUES('101', 41)"));
        }
        std::latch ready(startingAtOnce);
        std::atomic<int> opened{0};
        std::vector<std::thread> servers;
        for (int i = 0; i < startingAtOnce; ++i) {
            servers.emplace_back([&] {
                ready.arrive_and_wait();
                try {
                    open(engine, place);
                    ++opened;
                } catch (const StoreError &error) {
                    qWarning("%s", error.what());
                }
            });
        }
        for (std::thread &server : servers) {
            server.join();
        }
        QCOMPARE(opened.load(), startingAtOnce);
        QList<QByteArray> versions;
        for (const Migration &migration : migrations) {
            versions << QByteArray::number(migration.version);
        }
        QCOMPARE(column(engine, place, "SELECT version FROM schema_migrations ORDER BY version"),
                 versions);
        const auto store = open(engine, place);
        store->countPlay("101");
        QCOMPARE(Heat(*store)["101"], fromPrevious ? 42 : 1);
    }

    // A client's plays of a station count once in the report window, whether
    // they come together, one after the other or through two servers sharing
    // the store; another client's count too. Nothing is kept for the others.
    void reportWindow_data() {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<int>("servers");
        QTest::addColumn<QStringList>("clients");
        QTest::addColumn<int>("counted");
        for (const char *engine : {"sqlite", "postgresql"}) {
            QTest::addRow("%s, one address", engine) << engine << 1 << QStringList{"10.0.0.1"} << 1;
            QTest::addRow("%s, two addresses", engine)
                << engine << 1 << QStringList{"10.0.0.1", "10.0.0.2"} << 2;
            QTest::addRow("%s, one address, two servers", engine)
                << engine << 2 << QStringList{"10.0.0.1"} << 1;
        }
    }
    void reportWindow() {
        QFETCH(QString, engine);
        QFETCH(int, servers);
        QFETCH(QStringList, clients);
        QFETCH(int, counted);
        const QString place = freshPlace(engine);
        std::vector<std::unique_ptr<Store>> stores;
        for (int i = 0; i < servers; ++i) {
            stores.push_back(open(engine, place));
        }
        stores[0]->adoptDataLists(FirstLists());
        constexpr int kReports = 100;
        std::atomic<int> countedNow{0};
        std::latch ready(kReports);
        std::vector<std::thread> reporters;
        for (int i = 0; i < kReports; ++i) {
            reporters.emplace_back([&, i] {
                const std::string client = clients[i % clients.size()].toStdString();
                ready.arrive_and_wait();
                countedNow += stores[i % stores.size()]->countPlay("102", client) ? 1 : 0;
            });
        }
        for (std::thread &reporter : reporters) {
            reporter.join();
        }
        for (int i = 0; i < 10; ++i) { // and one after the other
            countedNow += stores[i % stores.size()]->countPlay("102", "10.0.0.1") ? 1 : 0;
        }
        QCOMPARE(countedNow.load(), counted);
        QCOMPARE(Heat(*stores[0])["102"], counted);
        // Without a window every play counts.
        stores[0]->setFairShares({std::chrono::seconds(0)});
        QVERIFY(stores[0]->countPlay("102", "10.0.0.1"));
        QCOMPARE(Heat(*stores[0])["102"], counted + 1);
    }

    // Ten messages an hour from an address, then 429 with the wait; past the
    // board's size, 507. Nothing refused is stored.
    void boardShares_data() { addEngines(); }
    void boardShares() {
        QFETCH(QString, engine);
        const QString place = freshPlace(engine);
        const auto store = open(engine, place);
        store->setFairShares({std::chrono::seconds(600), 10, 1000});
        for (int i = 0; i < 10; ++i) {
            QCOMPARE(store->storeMessage({"note", "10.0.0.1"}).kind, MessageOutcome::Stored);
        }
        const MessageOutcome refused = store->storeMessage({"one more", "10.0.0.1"});
        QCOMPARE(refused.kind, MessageOutcome::TooMany);
        QVERIFY2(refused.retryAfterSeconds > 3500 && refused.retryAfterSeconds <= 3600,
                 qPrintable(QString::number(refused.retryAfterSeconds)));
        QCOMPARE(store->storeMessage({std::string(960, 'x'), "10.0.0.2"}).kind,
                 MessageOutcome::Stored);
        QCOMPARE(store->storeMessage({std::string(1, 'y'), "10.0.0.3"}).kind,
                 MessageOutcome::BoardFull);
        QCOMPARE(store->messages("").size(), std::size_t(11));
        QCOMPARE(store->messages("").front().client, std::string("10.0.0.2"));
    }

    // A database a newer server upgraded is refused, not misread.
    void newerDatabaseIsRefused_data() { addEngines(); }
    void newerDatabaseIsRefused() {
        QFETCH(QString, engine);
        const QString place = freshPlace(engine);
        std::vector<Migration> newer(migrationsOf(engine).begin(), migrationsOf(engine).end());
        newer.push_back({newer.back().version + 1, "CREATE TABLE later (x integer)"});
        open(engine, place, newer);
        QVERIFY_THROWS_EXCEPTION(SchemaTooNew, open(engine, place));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryStore)
#include "test_directory_store.moc"
