// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/hls_station.h"

#include "directory_server/tone/tone.h"

#include <QFile>
#include <QRegularExpression>
#include <array>
#include <chrono>
#include <memory>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <vector>

namespace testsupport {

namespace {

constexpr int kSampleRate = 44100;
constexpr int kAacFrameSamples = 1024;
constexpr int kMp3FrameSamples = 1152;
constexpr int kAacFramesPerSegment = 43;
constexpr int kMp3FramesPerSegment = 38;
// The live playlist keeps this many segments and starts with this many.
constexpr qint64 kWindow = 5;
constexpr qint64 kSegmentsAtStart = 4;
constexpr qint64 kFirstTimestamp = 126000; // 90 kHz clock
const QByteArray kKey = QByteArray::fromHex("000102030405060708090a0b0c0d0e0f");

constexpr int kTsPacket = 188;
constexpr int kPmtPid = 0x1000;
constexpr int kAudioPid = 0x100;

// The checked-in second of ADTS AAC, frame by frame.
const std::vector<QByteArray> &AacFrames() {
    static const std::vector<QByteArray> frames = [] {
        std::vector<QByteArray> split;
        const QByteArray bytes = AdtsToneLoop();
        for (qsizetype at = 0; at + 7 <= bytes.size();) {
            const auto byte = [&](qsizetype i) {
                return static_cast<unsigned char>(bytes[at + i]);
            };
            const qsizetype length = ((byte(3) & 0x03) << 11) | (byte(4) << 3) | (byte(5) >> 5);
            if (length < 7)
                break;
            split.push_back(bytes.mid(at, length));
            at += length;
        }
        return split;
    }();
    return frames;
}

const tone::ToneStream &Mp3Tone() {
    static const tone::ToneStream stream(tone::ToneSettings{});
    return stream;
}

quint32 Crc32(const QByteArray &bytes) {
    quint32 crc = 0xFFFFFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<quint32>(static_cast<unsigned char>(byte)) << 24;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80000000) ? (crc << 1) ^ 0x04C11DB7 : crc << 1;
    }
    return crc;
}

void AppendBigEndian(QByteArray &bytes, quint64 value, int length) {
    for (int shift = 8 * (length - 1); shift >= 0; shift -= 8)
        bytes.append(static_cast<char>((value >> shift) & 0xFF));
}

// Cuts a payload into transport packets of one PID, the first marked as a
// unit's start (and carrying the clock when pcr is given), the last filled up
// with an adaptation field.
QByteArray Packets(int pid, const QByteArray &payload, int &continuity, qint64 pcr = -1) {
    QByteArray out;
    for (qsizetype at = 0; at == 0 || at < payload.size();) {
        bool adapted = at == 0 && pcr >= 0;
        QByteArray adaptation; // after its length byte
        if (adapted) {
            adaptation.append('\x10');
            AppendBigEndian(adaptation, (static_cast<quint64>(pcr) << 15) | 0x7E00, 6);
        }
        const qsizetype left = payload.size() - at;
        const qsizetype room = kTsPacket - 4 - (adapted ? 1 + adaptation.size() : 0);
        if (left < room) {
            qsizetype fill = room - left;
            if (!adapted) {
                adapted = true;
                fill -= 1; // the length byte
                if (fill > 0) {
                    adaptation.append('\0'); // no flags
                    fill -= 1;
                }
            }
            adaptation.append(QByteArray(fill, '\xFF'));
        }
        const qsizetype take = std::min(left, room);
        out.append('\x47');
        out.append(static_cast<char>((at == 0 ? 0x40 : 0) | (pid >> 8)));
        out.append(static_cast<char>(pid & 0xFF));
        out.append(static_cast<char>((adapted ? 0x30 : 0x10) | continuity));
        continuity = (continuity + 1) & 0x0F;
        if (adapted) {
            out.append(static_cast<char>(adaptation.size()));
            out.append(adaptation);
        }
        out.append(payload.mid(at, take));
        at += std::max<qsizetype>(take, 1);
    }
    return out;
}

// A program-specific section (table id, body), with its length and CRC.
QByteArray Section(int tableId, int idExtension, const QByteArray &body) {
    QByteArray section;
    section.append(static_cast<char>(tableId));
    AppendBigEndian(section, 0xB000 | (body.size() + 9), 2);
    AppendBigEndian(section, static_cast<quint64>(idExtension), 2);
    section.append("\xC1\x00\x00", 3); // version 0, current; section 0 of 0
    section.append(body);
    AppendBigEndian(section, Crc32(section), 4);
    return QByteArray(1, '\0') + section; // pointer field
}

QByteArray Pes(const QByteArray &frame, quint64 pts) {
    QByteArray pes("\x00\x00\x01\xC0", 4);
    AppendBigEndian(pes, static_cast<quint64>(frame.size() + 8), 2);
    pes.append("\x80\x80\x05", 3);
    pes.append(static_cast<char>(0x21 | ((pts >> 29) & 0x0E)));
    AppendBigEndian(pes, ((pts >> 14) & 0xFFFE) | 1, 2);
    AppendBigEndian(pes, ((pts << 1) & 0xFFFE) | 1, 2);
    pes.append(frame);
    return pes;
}

QByteArray SegmentIv(qint64 sequence) {
    QByteArray iv(16, '\0');
    for (int at = 15; at >= 8; --at, sequence >>= 8)
        iv[at] = static_cast<char>(sequence & 0xFF);
    return iv;
}

QByteArray Segment(const HlsPlan &plan, qint64 sequence) {
    QByteArray segment;
    if (plan.format == HlsPlan::Format::TsAac) {
        segment = TsAacSegment(sequence * kAacFramesPerSegment, kAacFramesPerSegment);
    } else {
        const qint64 first = sequence * kMp3FramesPerSegment;
        segment = QByteArray::fromStdString(tone::PackedAudioSegment(
            Mp3Tone().frames(static_cast<std::size_t>(first), kMp3FramesPerSegment),
            static_cast<std::uint64_t>(kFirstTimestamp +
                                       first * kMp3FrameSamples * 90000 / kSampleRate)));
    }
    return plan.encrypted ? EncryptAes128(segment, kKey, SegmentIv(sequence)) : segment;
}

double SegmentSeconds(const HlsPlan &plan) {
    return plan.format == HlsPlan::Format::TsAac
               ? double(kAacFramesPerSegment * kAacFrameSamples) / kSampleRate
               : double(kMp3FramesPerSegment * kMp3FrameSamples) / kSampleRate;
}

QByteArray MediaPlaylist(const HlsPlan &plan, qint64 first, qint64 last, bool ended) {
    QByteArray text = "#EXTM3U\n#EXT-X-VERSION:3\n#EXT-X-TARGETDURATION:1\n";
    text += "#EXT-X-MEDIA-SEQUENCE:" + QByteArray::number(first) + "\n";
    if (plan.encrypted)
        text += "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"\n";
    const char *extension = plan.format == HlsPlan::Format::TsAac ? ".ts" : ".mp3";
    for (qint64 sequence = first; sequence <= last; ++sequence)
        text += "#EXTINF:" + QByteArray::number(SegmentSeconds(plan), 'f', 3) + ",\n" +
                QByteArray::number(sequence) + extension + "\n";
    if (ended)
        text += "#EXT-X-ENDLIST\n";
    return text;
}

} // namespace

QByteArray AdtsToneLoop() {
    QFile file(QStringLiteral(QUORVEL_TEST_SUPPORT_DIR "/tone.aac"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray TsAacSegment(qint64 first, int frames) {
    const std::vector<QByteArray> &source = AacFrames();
    if (source.empty())
        return {};
    // Counters continue as if every earlier segment had been sent.
    const int earlierPackets = static_cast<int>(first / kAacFramesPerSegment);
    int patContinuity = earlierPackets & 0x0F;
    int pmtContinuity = earlierPackets & 0x0F;
    int audioContinuity = 0;
    for (qint64 frame = 0; frame < first; ++frame) {
        const qsizetype pes = source[static_cast<std::size_t>(frame) % source.size()].size() + 14;
        audioContinuity += static_cast<int>((pes + 8 + kTsPacket - 5) / (kTsPacket - 4));
    }
    audioContinuity &= 0x0F;
    QByteArray pmt;
    AppendBigEndian(pmt, 0xE000 | kAudioPid, 2); // PCR PID
    pmt.append("\xF0\x00", 2);                   // no program descriptors
    pmt.append('\x0F');                          // ADTS AAC
    AppendBigEndian(pmt, 0xE000 | kAudioPid, 2);
    pmt.append("\xF0\x00", 2);
    QByteArray pat;
    AppendBigEndian(pat, 1, 2);
    AppendBigEndian(pat, 0xE000 | kPmtPid, 2);
    QByteArray out = Packets(0, Section(0x00, 1, pat), patContinuity) +
                     Packets(kPmtPid, Section(0x02, 1, pmt), pmtContinuity);
    for (qint64 frame = first; frame < first + frames; ++frame) {
        const quint64 pts =
            kFirstTimestamp + static_cast<quint64>(frame) * kAacFrameSamples * 90000 / kSampleRate;
        out += Packets(kAudioPid, Pes(source[static_cast<std::size_t>(frame) % source.size()], pts),
                       audioContinuity, static_cast<qint64>(pts) - 9000);
    }
    return out;
}

QByteArray EncryptAes128(const QByteArray &plain, const QByteArray &key, const QByteArray &iv) {
    const int padding = 16 - static_cast<int>(plain.size() % 16);
    const QByteArray padded = plain + QByteArray(padding, static_cast<char>(padding));
    aes128_ctx context;
    aes128_set_encrypt_key(&context, reinterpret_cast<const std::uint8_t *>(key.constData()));
    std::array<std::uint8_t, 16> chain;
    std::copy_n(iv.constData(), 16, chain.begin());
    QByteArray encrypted(padded.size(), Qt::Uninitialized);
    cbc_encrypt(&context, reinterpret_cast<nettle_cipher_func *>(&aes128_encrypt), 16, chain.data(),
                static_cast<std::size_t>(padded.size()),
                reinterpret_cast<std::uint8_t *>(encrypted.data()),
                reinterpret_cast<const std::uint8_t *>(padded.constData()));
    return encrypted;
}

void ServeHls(LoopbackServer &server, const std::string &folder, const HlsPlan &plan) {
    const auto start = std::chrono::steady_clock::now();
    const auto newest = [plan, start] {
        const auto elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
        qint64 last =
            kSegmentsAtStart - 1 + static_cast<qint64>(elapsed.count() / SegmentSeconds(plan));
        if (plan.advancesFor >= 0)
            last = std::min(last, kSegmentsAtStart - 1 + plan.advancesFor);
        return last;
    };
    const std::string type = plan.contentType;
    const LoopbackServer::Handler media = [plan, newest, type](const httplib::Request &,
                                                               httplib::Response &response) {
        const qint64 last = plan.segments > 0 ? plan.segments - 1 : newest();
        const QByteArray body =
            MediaPlaylist(plan, plan.segments > 0 ? 0 : std::max<qint64>(0, last - kWindow + 1),
                          last, plan.segments > 0);
        response.set_content(body.toStdString(), type);
    };
    server.get(folder + "/media\\.m3u8", media);
    if (plan.master) {
        server.serve(folder + "/index\\.m3u8",
                     "#EXTM3U\n"
                     "#EXT-X-STREAM-INF:BANDWIDTH=2000000\nmissing-hd.m3u8\n"
                     "#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS=\"mp4a.40.2\"\nmedia.m3u8\n"
                     "#EXT-X-STREAM-INF:BANDWIDTH=64000\nmissing-low.m3u8\n",
                     type);
    } else {
        server.get(folder + "/index\\.m3u8", media);
    }
    server.get(folder + "/key\\.bin", [](const httplib::Request &, httplib::Response &response) {
        response.set_content(kKey.toStdString(), "application/octet-stream");
    });
    server.get(folder + R"(/(\d+)\.(ts|mp3))", [plan](const httplib::Request &request,
                                                      httplib::Response &response) {
        const QByteArray segment = Segment(plan, std::stoll(request.matches[1]));
        response.set_content(segment.toStdString(),
                             plan.format == HlsPlan::Format::TsAac ? "video/mp2t" : "audio/mpeg");
    });
}

} // namespace testsupport
