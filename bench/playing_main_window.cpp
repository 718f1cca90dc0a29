// SPDX-License-Identifier: GPL-3.0-or-later

// A child of bench_playing: the main window playing the stream at the URL it
// is given through its own player. Prints its resident memory (KiB) and the
// share of one core it used while playing.

#include "bench/playing_measure.h"
#include "platform/background_task.h"
#include "platform/http_transfer.h"
#include "platform/real_platform.h"
#include "platform/vlc_media_player.h"
#include "tests/support/main_window.h"

int main(int argc, char *argv[]) {
    if (argc < 2)
        return 2;
    platform::SetUpAllocator();
    QApplication application(argc, argv);
    platform::LoadHttpModuleAfterWindowsShow();
    platform::VlcMediaPlayer *player = nullptr;
    // A directory server that answers nothing, so that only the stream runs.
    platform::RealPlatform platform(
        platform::Endpoints{"http://127.0.0.1:9", "http://127.0.0.1:9/",
                            "http://127.0.0.1:9/maiz.asp", "http://127.0.0.1:9/fallback.asx"},
        [&player] {
            auto created = std::make_unique<platform::VlcMediaPlayer>(QStringList{});
            player = created.get();
            return created;
        });
    testsupport::MainWindow window(platform);
    window.form.show();
    player->setURL(QString::fromLocal8Bit(argv[1]));
    bench::MeasureThenQuit();
    return QApplication::exec();
}
