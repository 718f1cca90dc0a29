// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/directory_server_process.h"

#include "tests/support/loopback_server.h"

#include <QFile>
#include <QTest>
#include <regex>
#include <sqlite3.h>

namespace testsupport {

namespace {

constexpr int kStartWaitMs = 15000;
constexpr int kExitWaitMs = 15000;

} // namespace

DirectoryServerProcess::DirectoryServerProcess()
    : dataDir_(root_.path() + "/data"), port_(UnusedPort()) {}

DirectoryServerProcess::~DirectoryServerProcess() {
    if (process_.state() != QProcess::NotRunning) {
        kill9();
    }
}

bool DirectoryServerProcess::start(const QStringList &extra) {
    process_.start(QUORVEL_DIRECTORY_BINARY,
                   QStringList{"--port", QString::number(port_), "--data", dataDir_} + extra);
    if (!process_.waitForStarted(kStartWaitMs)) {
        return false;
    }
    const auto probe = client();
    return QTest::qWaitFor(
               [&] { return process_.state() != QProcess::Running || probe->Get("/download/"); },
               kStartWaitMs) &&
           process_.state() == QProcess::Running;
}

int DirectoryServerProcess::runToExit(const QStringList &arguments) {
    process_.start(QUORVEL_DIRECTORY_BINARY, arguments);
    if (!process_.waitForFinished(kExitWaitMs)) {
        return -1;
    }
    return process_.exitCode();
}

int DirectoryServerProcess::terminate() {
    process_.terminate();
    if (!process_.waitForFinished(kExitWaitMs) || process_.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process_.exitCode();
}

void DirectoryServerProcess::kill9() {
    process_.kill();
    process_.waitForFinished(kExitWaitMs);
}

QByteArray DirectoryServerProcess::errors() {
    errors_ += process_.readAllStandardError();
    return errors_;
}

long DirectoryServerProcess::memoryKiB(const QByteArray &field) const {
    QFile status(QString("/proc/%1/status").arg(process_.processId()));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field + ":")) {
            return line.mid(field.size() + 1).trimmed().split(' ').first().toLong();
        }
    }
    return -1;
}

std::unique_ptr<httplib::Client> DirectoryServerProcess::client() const {
    auto client = std::make_unique<httplib::Client>("127.0.0.1", port_);
    client->set_connection_timeout(5);
    client->set_read_timeout(10);
    client->set_write_timeout(10);
    return client;
}

std::string DirectoryServerProcess::get(const std::string &path) const {
    const auto result = client()->Get(path);
    return result && result->status == 200 ? result->body : std::string();
}

std::map<std::string, std::int64_t> HeatOfPage(const std::string &page) {
    static const std::regex kLine(R"(\(id\)(\d+)\(/id\).*?\(hot\)(\d+)\(/hot\))");
    std::map<std::string, std::int64_t> heat;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), kLine);
         it != std::sregex_iterator(); ++it) {
        heat[(*it)[1]] = std::stoll((*it)[2]);
    }
    return heat;
}

QList<QByteArray> DatabaseColumn(const QString &databaseFile, const QString &sql) {
    QList<QByteArray> rows;
    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(databaseFile.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt *statement = nullptr;
        sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &statement, nullptr);
        while (statement != nullptr && sqlite3_step(statement) == SQLITE_ROW) {
            rows.append(QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, 0)),
                                   sqlite3_column_bytes(statement, 0)));
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(db);
    return rows;
}

} // namespace testsupport
