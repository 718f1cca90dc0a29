// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// What a stream is, told from its first bytes where its type does not say.

#include <QByteArray>

namespace platform {

// The libVLC demuxer for audio that starts with these bytes: "ts" for an MPEG
// transport stream, "aac" for ADTS frames of AAC, "mpga" for MPEG audio
// frames (MP3); empty when the bytes are none of these. ADTS and MPEG audio
// count only when a second frame follows the first where its header says.
QByteArray DemuxerForBytes(const QByteArray &start);

} // namespace platform
