// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/hls_playlist.h"

#include "platform/playlist_parser.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace platform {

namespace {

constexpr QByteArrayView kHlsTypes[] = {"application/vnd.apple.mpegurl", "audio/mpegurl",
                                        "application/x-mpegurl"};
// A target duration is taken within these bounds (seconds), so that no
// playlist makes the player reload it in a busy loop or wait for ever.
constexpr double kMinTargetDuration = 1;
constexpr double kMaxTargetDuration = 30;

bool HasHlsTag(const QString &text) {
    static const QRegularExpression tag(QStringLiteral("^\\s*#EXT-X-"),
                                        QRegularExpression::MultilineOption);
    return tag.match(text).hasMatch();
}

bool OpensWithExtM3u(const QString &text) {
    return text.trimmed().startsWith(QLatin1StringView("#EXTM3U"));
}

// The attributes of a tag ("NAME=value,NAME=\"quoted, value\""), quotes taken off.
QHash<QString, QString> Attributes(const QString &list) {
    static const QRegularExpression attribute(
        QStringLiteral("([A-Z0-9-]+)=(\"[^\"]*\"|[^,]*)(?:,|$)"));
    QHash<QString, QString> attributes;
    for (const QRegularExpressionMatch &match : attribute.globalMatch(list)) {
        QString value = match.captured(2).trimmed();
        if (value.size() >= 2 && value.startsWith(u'"'))
            value = value.mid(1, value.size() - 2);
        attributes.insert(match.captured(1), value);
    }
    return attributes;
}

// An address as written, made absolute; empty unless it is http or https.
QString HttpAddress(const QString &written, const QUrl &base) {
    const QString url = base.resolved(QUrl(written)).toString(QUrl::FullyEncoded);
    return IsHttpUrl(url) ? url : QString();
}

std::optional<QByteArray> Iv(const QString &written) {
    static const QRegularExpression hex(QStringLiteral("^0[xX]([0-9A-Fa-f]{32})$"));
    const QRegularExpressionMatch match = hex.match(written);
    if (!match.hasMatch())
        return std::nullopt;
    return QByteArray::fromHex(match.captured(1).toLatin1());
}

HlsKey KeyOf(const QHash<QString, QString> &attributes, const QUrl &base) {
    HlsKey key;
    const QString method = attributes.value(QStringLiteral("METHOD"));
    if (method == u"NONE")
        return key;
    key.method = HlsKey::Method::Unsupported;
    if (method != u"AES-128")
        return key;
    key.url = HttpAddress(attributes.value(QStringLiteral("URI")), base);
    if (attributes.contains(QStringLiteral("IV"))) {
        key.iv = Iv(attributes.value(QStringLiteral("IV")));
        if (!key.iv)
            return key;
    }
    if (!key.url.isEmpty())
        key.method = HlsKey::Method::Aes128;
    return key;
}

struct Variant {
    qint64 bandwidth = 0;
    QString url;
};

// The variant to follow: the best up to kMaxHlsBandwidth, else the smallest.
QString ChosenVariant(const std::vector<Variant> &variants) {
    const Variant *best = nullptr;
    const Variant *smallest = nullptr;
    for (const Variant &variant : variants) {
        if (variant.bandwidth <= kMaxHlsBandwidth && (!best || variant.bandwidth > best->bandwidth))
            best = &variant;
        if (!smallest || variant.bandwidth < smallest->bandwidth)
            smallest = &variant;
    }
    const Variant *chosen = best ? best : smallest;
    return chosen ? chosen->url : QString();
}

QString TagValue(const QString &line) {
    return line.mid(line.indexOf(u':') + 1);
}

} // namespace

bool IsHlsPlaylist(const QByteArray &contentType, const QByteArray &body) {
    const std::optional<QString> text = PlaylistText(body.left(kMaxFetchedPlaylistBytes));
    if (!text || !HasHlsTag(*text))
        return false;
    const QByteArray type = contentType.split(';').front().trimmed().toLower();
    return OpensWithExtM3u(*text) ||
           std::ranges::find(kHlsTypes, QByteArrayView(type)) != std::ranges::end(kHlsTypes);
}

HlsPlaylist ParseHlsPlaylist(const QByteArray &body, const QString &url) {
    HlsPlaylist playlist;
    const std::optional<QString> text =
        body.size() <= kMaxFetchedPlaylistBytes ? PlaylistText(body) : std::nullopt;
    if (!text)
        return playlist;
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    const QUrl base(url);
    std::vector<Variant> variants;
    std::vector<std::pair<bool, QString>> renditions; // default, address
    qint64 sequence = 0;
    double duration = 0;
    bool discontinuity = false;
    bool variantNext = false;
    qint64 variantBandwidth = 0;
    HlsKey key;
    for (const QString &written : text->split(lineBreaks, Qt::SkipEmptyParts)) {
        const QString line = written.trimmed();
        if (line.startsWith(QLatin1StringView("#EXT-X-BYTERANGE")) ||
            line.startsWith(QLatin1StringView("#EXT-X-MAP")))
            return {};
        if (line.startsWith(QLatin1StringView("#EXT-X-TARGETDURATION:"))) {
            playlist.targetDuration =
                std::clamp(TagValue(line).toDouble(), kMinTargetDuration, kMaxTargetDuration);
        } else if (line.startsWith(QLatin1StringView("#EXT-X-MEDIA-SEQUENCE:"))) {
            sequence = std::max(0LL, TagValue(line).toLongLong());
        } else if (line.startsWith(QLatin1StringView("#EXTINF:"))) {
            duration = std::max(0.0, TagValue(line).section(u',', 0, 0).toDouble());
        } else if (line == u"#EXT-X-DISCONTINUITY") {
            discontinuity = true;
        } else if (line == u"#EXT-X-ENDLIST") {
            playlist.ended = true;
        } else if (line.startsWith(QLatin1StringView("#EXT-X-KEY:"))) {
            key = KeyOf(Attributes(TagValue(line)), base);
        } else if (line.startsWith(QLatin1StringView("#EXT-X-STREAM-INF:"))) {
            variantNext = true;
            variantBandwidth =
                Attributes(TagValue(line)).value(QStringLiteral("BANDWIDTH")).toLongLong();
        } else if (line.startsWith(QLatin1StringView("#EXT-X-MEDIA:"))) {
            const QHash<QString, QString> attributes = Attributes(TagValue(line));
            const QString address = HttpAddress(attributes.value(QStringLiteral("URI")), base);
            if (attributes.value(QStringLiteral("TYPE")) == u"AUDIO" && !address.isEmpty())
                renditions.emplace_back(attributes.value(QStringLiteral("DEFAULT")) == u"YES",
                                        address);
        } else if (!line.startsWith(u'#')) {
            if (variantNext) {
                const QString address = HttpAddress(line, base);
                if (!address.isEmpty())
                    variants.push_back({variantBandwidth, address});
                variantNext = false;
            } else {
                playlist.segments.push_back(
                    {sequence++, duration, HttpAddress(line, base), discontinuity, key});
                duration = 0;
                discontinuity = false;
            }
        }
        if (playlist.segments.size() + variants.size() + renditions.size() >
            static_cast<std::size_t>(kMaxHlsEntries))
            return {};
    }
    if (!renditions.empty()) {
        const auto preferred =
            std::ranges::find_if(renditions, [](const auto &r) { return r.first; });
        playlist.variantUrl =
            (preferred != renditions.end() ? *preferred : renditions.front()).second;
    } else {
        playlist.variantUrl = ChosenVariant(variants);
    }
    if (!playlist.variantUrl.isEmpty())
        playlist.kind = HlsPlaylist::Kind::Master;
    else if (playlist.targetDuration > 0 && variants.empty())
        playlist.kind = HlsPlaylist::Kind::Media;
    return playlist;
}

std::size_t HlsStartIndex(const HlsPlaylist &playlist) {
    if (playlist.ended)
        return 0;
    double fromEnd = 0;
    for (std::size_t index = playlist.segments.size(); index-- > 0;) {
        fromEnd += playlist.segments[index].duration;
        if (fromEnd >= 3 * playlist.targetDuration)
            return index;
    }
    return 0;
}

} // namespace platform
