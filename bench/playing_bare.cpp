// SPDX-License-Identifier: GPL-3.0-or-later

// A child of bench_playing, the floor it measures against: a bare Qt window
// beside a plain libVLC player playing the stream at the URL it is given.
// Prints its resident memory (KiB) and the share of one core it used while
// playing.

#include "bench/playing_measure.h"

#include <QWidget>
#include <vlc/vlc.h>

int main(int argc, char *argv[]) {
    if (argc < 2)
        return 2;
    QApplication application(argc, argv);
    QWidget window;
    window.show();
    const char *arguments[] = {"--quiet", "--no-video"};
    libvlc_instance_t *instance = libvlc_new(2, arguments);
    libvlc_media_player_t *player = libvlc_media_player_new(instance);
    libvlc_media_t *media = libvlc_media_new_location(instance, argv[1]);
    libvlc_media_player_set_media(player, media);
    libvlc_media_release(media);
    libvlc_media_player_play(player);
    bench::MeasureThenQuit();
    const int result = QApplication::exec();
    libvlc_media_player_release(player);
    libvlc_release(instance);
    return result;
}
