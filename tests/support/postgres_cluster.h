// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A PostgreSQL cluster of a test's own: made with initdb in a temporary folder,
// served on a free loopback port with its socket in that folder, and removed
// at the end. When the tests run as root, the cluster runs as the unprivileged
// user nobody (PostgreSQL refuses root).

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <string>

namespace testsupport {

class PostgresCluster {
public:
    // Makes the cluster with initdb; errors() tells why when it failed.
    PostgresCluster();
    // Stops the cluster immediately if it runs; the folder goes with it.
    ~PostgresCluster();

    PostgresCluster(const PostgresCluster &) = delete;
    PostgresCluster &operator=(const PostgresCluster &) = delete;

    // Starts the server and waits until it accepts connections.
    bool start();
    // Stops the server at once, as a crash would: no shutdown checkpoint.
    bool stopImmediately();
    // Creates a database; false when it could not.
    bool createDatabase(const QString &name);
    // Runs SQL in the database with psql; its output (unaligned, tuples
    // only), or a null array when psql failed.
    QByteArray query(const QString &database, const QString &sql);

    // The libpq URI of a database over TCP on 127.0.0.1.
    std::string uri(const QString &database) const;
    int port() const { return port_; }
    // What the tools said when a step failed.
    QByteArray errors() const { return errors_; }

private:
    // Runs one of PostgreSQL's programs (as nobody when we are root); true when
    // it exited with status 0.
    bool runTool(const QString &tool, const QStringList &arguments, QByteArray *output = nullptr);

    QTemporaryDir root_;
    QString binaries_;
    int port_ = 0;
    bool made_ = false;
    bool running_ = false;
    QByteArray errors_;
};

} // namespace testsupport
