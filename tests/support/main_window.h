// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The main window over its two cores, built as the program builds it, and
// access to the window's controls by name for the window's own tests.

#include "main_window/form1.h"
#include "platform/platform.h"
#include "playback/playback_session.h"
#include "station_data/station_directory.h"

#include <QObject>
#include <QString>

namespace testsupport {

// A control of a window by its object name (its control name); the test
// aborts when there is none of that name and kind.
template <class Control> Control *Find(const QObject &window, const char *name) {
    auto *control = window.findChild<Control *>(QLatin1StringView(name));
    if (control == nullptr) {
        qFatal("no control %s", name);
    }
    return control;
}

// The directory, the playback session and the main window over them, in the
// order main() makes them.
struct MainWindow {
    explicit MainWindow(platform::Platform &platform)
        : directory(platform), session(platform, directory), form(platform, directory, session) {}

    StationDirectory directory;
    PlaybackSession session;
    Form1 form;

    template <class Control> Control *control(const char *name) const {
        return Find<Control>(form, name);
    }
};

} // namespace testsupport
