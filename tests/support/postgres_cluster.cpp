// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/postgres_cluster.h"

#include "tests/support/loopback_server.h"

#include <QDir>
#include <QProcess>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr int kToolWaitMs = 60000;
constexpr const char *kUser = "quorvel";

} // namespace

PostgresCluster::PostgresCluster() : binaries_(QUORVEL_POSTGRES_BINARIES), port_(UnusedPort()) {
    if (!root_.isValid()) {
        errors_ = "cannot make a temporary folder";
        return;
    }
    if (geteuid() == 0 && QProcess::execute("chown", {"nobody", root_.path()}) != 0) {
        errors_ = "cannot hand the temporary folder to nobody";
        return;
    }
    // Trusted local connections only; commits need not reach the disk, since
    // the tests lose processes, not machines.
    made_ = runTool("initdb", {"-D", root_.path() + "/data", "-U", kUser, "--auth=trust",
                               "--encoding=UTF8", "--locale=C", "--no-sync"});
}

PostgresCluster::~PostgresCluster() {
    if (running_) {
        stopImmediately();
    }
}

bool PostgresCluster::start() {
    const QString options = QString("-p %1 -k %2 -c listen_addresses=127.0.0.1 -c fsync=off "
                                    "-c max_connections=200")
                                .arg(port_)
                                .arg(root_.path());
    running_ = made_ &&
               runTool("pg_ctl", {"-D", root_.path() + "/data", "-l", root_.path() + "/server.log",
                                  "-w", "-t", "60", "-o", options, "start"});
    return running_;
}

bool PostgresCluster::stopImmediately() {
    running_ = false;
    return runTool("pg_ctl", {"-D", root_.path() + "/data", "-m", "immediate", "-w", "stop"});
}

bool PostgresCluster::createDatabase(const QString &name) {
    return runTool("createdb",
                   {"-h", root_.path(), "-p", QString::number(port_), "-U", kUser, name});
}

QByteArray PostgresCluster::query(const QString &database, const QString &sql) {
    QByteArray output;
    if (!runTool("psql",
                 {"-h", root_.path(), "-p", QString::number(port_), "-U", kUser, "-d", database,
                  "-X", "-A", "-t", "-v", "ON_ERROR_STOP=1", "-c", sql},
                 &output)) {
        return {};
    }
    return output.isNull() ? QByteArray("") : output;
}

std::string PostgresCluster::uri(const QString &database) const {
    return "postgresql://" + std::string(kUser) + "@127.0.0.1:" + std::to_string(port_) + "/" +
           database.toStdString();
}

bool PostgresCluster::runTool(const QString &tool, const QStringList &arguments,
                              QByteArray *output) {
    const QString program = binaries_ + "/" + tool;
    QProcess process;
    process.setWorkingDirectory(root_.path());
    if (geteuid() == 0) {
        process.start("runuser", QStringList{"-u", "nobody", "--", program} + arguments);
    } else {
        process.start(program, arguments);
    }
    if (!process.waitForFinished(kToolWaitMs) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        errors_ += tool.toUtf8() + ": " + process.readAllStandardError() +
                   process.errorString().toUtf8() + "\n";
        return false;
    }
    if (output != nullptr) {
        *output = process.readAllStandardOutput();
    }
    return true;
}

} // namespace testsupport
