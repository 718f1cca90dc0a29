// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

class QSocketNotifier;

namespace desktop {

// Keeps the program to one running instance per session. Where there is a
// session bus the instance is the owner of the media-player bus name; where
// there is none it holds a lock in the runtime folder and listens on a local
// socket beside it. A later start asks the running instance to raise its
// window and ends.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    SingleInstance(QDBusConnection bus, const QString &runtimeFolder);
    ~SingleInstance() override;

    // True when another instance runs; it has been asked to raise its window.
    // Without a bus this takes the lock when it is free.
    bool raiseRunningInstance();
    // Makes this the instance later starts find: takes the bus name (export
    // the media-player object first, so that clients find it with the name),
    // or listens on the local socket. False when another instance took the
    // name meanwhile; it has been asked to raise its window.
    bool publish();

signals:
    // A later start without a bus asked for the window.
    void raiseRequested();

private:
    void askBusOwnerToRaise();
    void acceptRaiseRequests();

    QDBusConnection bus_;
    QString lockPath_;
    QString socketPath_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    QSocketNotifier *notifier_ = nullptr;
};

} // namespace desktop
