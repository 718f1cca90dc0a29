// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Runs the real quorvel-directory program as a child process on a free
// loopback port with a data folder of its own, for the directory server's tests.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <httplib.h>
#include <map>
#include <memory>
#include <string>

namespace testsupport {

class DirectoryServerProcess {
public:
    // A server on a free port with a fresh, still missing data folder.
    DirectoryServerProcess();
    // Kills the server if it still runs.
    ~DirectoryServerProcess();

    // Starts the program with --port and --data (plus extra arguments) and
    // waits until it answers. False when it exited or did not answer in time;
    // errors() then tells why.
    bool start(const QStringList &extra = {});
    // Starts the program and waits for it to exit (for start-up errors); its
    // exit code, or -1 when it did not exit in time.
    int runToExit(const QStringList &arguments);
    // SIGTERM, and waits for the exit; the exit code, or -1.
    int terminate();
    // SIGKILL, and waits for the process to be gone.
    void kill9();

    int port() const { return port_; }
    // A figure of the program's memory from /proc, in KiB ("VmRSS", "VmHWM"); -1 if unknown.
    long memoryKiB(const QByteArray &field) const;
    QString dataDir() const { return dataDir_; }
    QString file(const QString &name) const { return dataDir_ + "/" + name; }
    // Everything the program wrote to stderr so far.
    QByteArray errors();

    // A client for this server with short time-outs.
    std::unique_ptr<httplib::Client> client() const;
    // GET path; the body, or an empty string when the request failed or the
    // status was not 200.
    std::string get(const std::string &path) const;

private:
    QTemporaryDir root_;
    QString dataDir_;
    int port_ = 0;
    QProcess process_;
    QByteArray errors_;
};

// The heat of each station of a directory page, by id.
std::map<std::string, std::int64_t> HeatOfPage(const std::string &page);

// Rows of a SQLite table column in the data folder's database, in rowid order.
QList<QByteArray> DatabaseColumn(const QString &databaseFile, const QString &sql);

} // namespace testsupport
