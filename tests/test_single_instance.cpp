// SPDX-License-Identifier: GPL-3.0-or-later

// One instance per session: this test process plays the running instance
// and the real program is started a second time against it, over a private
// session bus and, without a bus, over the local socket.

#include "desktop/media_player_service.h"
#include "desktop/single_instance.h"
#include "tests/support/fake_platform.h"
#include "tests/support/main_window.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// Leaves a socket file behind with nobody listening, as a crashed run does.
bool LeaveStaleSocket(const QString &path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray bytes = QFile::encodeName(path);
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    const bool bound =
        ::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound && QFile::exists(path);
}

} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private slots:
    void secondStartRaisesFirst_data();
    void secondStartRaisesFirst();
};

void TestSingleInstance::secondStartRaisesFirst_data() {
    QTest::addColumn<bool>("bus");
    QTest::addColumn<bool>("staleSocket");
    QTest::newRow("session bus") << true << false;
    QTest::newRow("local socket") << false << false;
    QTest::newRow("local socket left by a crashed run") << false << true;
}

void TestSingleInstance::secondStartRaisesFirst() {
    QFETCH(bool, bus);
    QFETCH(bool, staleSocket);
    QVERIFY2(QDBusConnection::sessionBus().isConnected(), "run under dbus-run-session");
    QTemporaryDir runtimeFolder;
    QVERIFY(runtimeFolder.isValid());
    if (staleSocket) {
        QVERIFY(LeaveStaleSocket(runtimeFolder.filePath(QStringLiteral("quorvel-radio.socket"))));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtimeFolder.path());
    const QDBusConnection connection =
        bus ? QDBusConnection::sessionBus() : QDBusConnection(QStringLiteral("no bus"));
    if (!bus) {
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           "unix:path=" + runtimeFolder.filePath(QStringLiteral("no-bus")));
    }

    testsupport::FakePlatform platform;
    testsupport::MainWindow window(platform);
    Form1 &form = window.form;
    desktop::SingleInstance first(connection, runtimeFolder.path());
    QVERIFY(!first.raiseRunningInstance());
    desktop::MediaPlayerService service(window.session, form, connection);
    QVERIFY(first.publish());
    connect(&first, &desktop::SingleInstance::raiseRequested, &form,
            [&form] { desktop::RaiseWindow(form); });
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(QStringLiteral(QUORVEL_RADIO_BINARY), QStringList());
    QVERIFY(second.waitForStarted());
    // The event loop must run meanwhile: the raise request comes to this process.
    QTRY_COMPARE_WITH_TIMEOUT(second.state(), QProcess::NotRunning, 20000);
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    QTRY_VERIFY(!form.isMinimized());
    QVERIFY(form.isVisible());
    if (bus) {
        QDBusConnection::sessionBus().unregisterService(desktop::kMprisBusName);
    }
}

QTEST_MAIN(TestSingleInstance)
#include "test_single_instance.moc"
