// SPDX-License-Identifier: GPL-3.0-or-later
#include "desktop/single_instance.h"

#include "desktop/media_player_service.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace desktop {

namespace {

// A raise request that gets no answer in this time is given up: the later
// start ends anyway.
constexpr int kRaiseCallTimeoutMs = 500;

// The socket address for a path, or nothing when the path does not fit.
std::optional<sockaddr_un> SocketAddress(const QString &path) {
    const QByteArray bytes = QFile::encodeName(path);
    sockaddr_un address{};
    if (bytes.isEmpty() || static_cast<size_t>(bytes.size()) >= sizeof(address.sun_path)) {
        return std::nullopt;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, bytes.constData(), static_cast<size_t>(bytes.size()));
    return address;
}

int NewLocalSocket() {
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

} // namespace

SingleInstance::SingleInstance(QDBusConnection bus, const QString &runtimeFolder)
    : bus_(std::move(bus)), lockPath_(runtimeFolder + QStringLiteral("/quorvel-radio.lock")),
      socketPath_(runtimeFolder + QStringLiteral("/quorvel-radio.socket")) {}

SingleInstance::~SingleInstance() {
    if (listenFd_ >= 0) {
        ::unlink(QFile::encodeName(socketPath_).constData());
        ::close(listenFd_);
    }
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
}

bool SingleInstance::raiseRunningInstance() {
    if (bus_.isConnected()) {
        if (!bus_.interface()->isServiceRegistered(kMprisBusName).value()) {
            return false;
        }
        askBusOwnerToRaise();
        return true;
    }
    // The lock, not the socket file, tells whether an instance runs: the
    // kernel drops it with its holder, so a crashed run leaves nothing behind
    // that counts.
    lockFd_ = ::open(QFile::encodeName(lockPath_).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (lockFd_ < 0 || ::flock(lockFd_, LOCK_EX | LOCK_NB) == 0) {
        return false;
    }
    ::close(lockFd_);
    lockFd_ = -1;
    // The connection itself is the request; the running instance may not be
    // listening yet, and then there is nobody to ask.
    const std::optional<sockaddr_un> address = SocketAddress(socketPath_);
    const int fd = NewLocalSocket();
    if (address && fd >= 0) {
        ::connect(fd, reinterpret_cast<const sockaddr *>(&*address), sizeof(*address));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return true;
}

void SingleInstance::askBusOwnerToRaise() {
    const QDBusMessage raise = QDBusMessage::createMethodCall(
        kMprisBusName, kMprisObjectPath, QStringLiteral("org.mpris.MediaPlayer2"),
        QStringLiteral("Raise"));
    bus_.call(raise, QDBus::Block, kRaiseCallTimeoutMs);
}

bool SingleInstance::publish() {
    if (bus_.isConnected()) {
        const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
            bus_.interface()->registerService(kMprisBusName,
                                              QDBusConnectionInterface::DontQueueService,
                                              QDBusConnectionInterface::DontAllowReplacement);
        if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceNotRegistered) {
            askBusOwnerToRaise();
            return false;
        }
        return true;
    }
    const std::optional<sockaddr_un> address = SocketAddress(socketPath_);
    if (lockFd_ < 0 || !address) {
        return true; // no runtime folder to share: this start runs on its own
    }
    // Whatever is at the path was left by an instance that no longer holds the lock.
    ::unlink(address->sun_path);
    listenFd_ = NewLocalSocket();
    if (listenFd_ < 0) {
        return true;
    }
    if (::bind(listenFd_, reinterpret_cast<const sockaddr *>(&*address), sizeof(*address)) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return true;
    }
    notifier_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &SingleInstance::acceptRaiseRequests);
    return true;
}

void SingleInstance::acceptRaiseRequests() {
    bool accepted = false;
    for (int fd; (fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
        ::close(fd);
        accepted = true;
    }
    if (accepted) {
        emit raiseRequested();
    }
}

} // namespace desktop
