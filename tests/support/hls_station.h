// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// HTTP Live Streaming stations on a loopback server, with segments of one
// second made as they are asked for: MP3 packed audio, or AAC in an MPEG
// transport stream; plain or AES-128 encrypted; live, finished, or a live
// playlist that stops advancing.

#include "tests/support/loopback_server.h"

#include <QByteArray>
#include <string>

namespace testsupport {

struct HlsPlan {
    enum class Format { PackedMp3, TsAac };
    Format format = Format::PackedMp3;
    // AES-128 with the key at key.bin and the IV from the sequence number.
    bool encrypted = false;
    // Above zero: a finished playlist (ENDLIST) of so many segments.
    int segments = 0;
    // Zero or more: the live playlist gains so many segments, then no more.
    int advancesFor = -1;
    // The media playlist sits behind a master playlist.
    bool master = false;
    std::string contentType = "application/vnd.apple.mpegurl"; // of the playlists
};

// Serves the station at folder + "/index.m3u8" (master or media playlist),
// folder + "/media.m3u8", the segments and the key.
void ServeHls(LoopbackServer &server, const std::string &folder, const HlsPlan &plan);

// A second of a tone as ADTS AAC frames (44.1 kHz stereo), seamless when repeated.
QByteArray AdtsToneLoop();

// An MPEG transport stream (PAT, PMT, one PES packet per frame) of the ADTS
// AAC frames: a second of a tone, from frame `first` of an endless repetition;
// continuity counters and timestamps continue from segment to segment.
QByteArray TsAacSegment(qint64 first, int frames);

// AES-128-CBC with PKCS#7 padding, as HLS encrypts a segment.
QByteArray EncryptAes128(const QByteArray &plain, const QByteArray &key, const QByteArray &iv);

} // namespace testsupport
