// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/playlist_parser.h"

#include "platform/text_decoding.h"
#include "platform/xml_tree.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <array>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>
#include <span>
#include <utility>

namespace platform {

namespace {

constexpr qsizetype kMaxPlaylistBytes = 1024 * 1024;
constexpr qsizetype kMaxUrlLength = 4096;
constexpr qsizetype kMaxEntries = 64;

bool HasUnsafeCharacter(const QString &text) {
    return std::ranges::any_of(text, [](QChar c) {
        return c.unicode() < 0x20 || c.unicode() == 0x7F || c == QChar::ReplacementCharacter;
    });
}

// Text files hold no control characters beyond line breaks, tabs and a DOS end
// of file mark; binary data (a stream, random bytes) is full of them.
bool IsBinary(const QString &text) {
    return std::ranges::any_of(text, [](QChar c) {
        const char16_t code = c.unicode();
        return code < 0x20 && !(code >= u'\t' && code <= u'\r') && code != 0x1A;
    });
}

// An entry as written in a playlist, made absolute; empty when it is not a
// network stream URL.
QString EntryUrl(const QString &written, const QUrl &base) {
    const QString text = written.trimmed();
    if (text.isEmpty() || text.size() > kMaxUrlLength || HasUnsafeCharacter(text))
        return {};
    const QUrl reference(text);
    if (!reference.isValid())
        return {};
    const QString url = base.resolved(reference).toString(QUrl::FullyEncoded);
    return IsNetworkStreamUrl(url) ? url : QString();
}

// A line of an .m3u list: an absolute URL, or a relative one that cannot be
// mistaken for prose or markup.
bool IsM3uEntryLine(const QString &line) {
    if (line.isEmpty() || line.startsWith(u'#'))
        return false;
    static const QRegularExpression absolute(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*:"));
    static const QRegularExpression prose(QStringLiteral("[\\s<>\"{}|\\\\^`]"));
    return absolute.match(line).hasMatch() || !prose.match(line).hasMatch();
}

QStringList M3uEntries(const QStringList &lines) {
    QStringList entries;
    for (const QString &line : lines) {
        if (IsM3uEntryLine(line))
            entries.append(line);
    }
    return entries;
}

// Values of "<prefix>N=value" lines in the order of N (File1=…, Ref1=…).
QStringList NumberedEntries(const QStringList &lines, const QString &prefix) {
    static const QRegularExpression numbered(QStringLiteral("^([A-Za-z]+)(\\d{1,6})\\s*=(.*)$"));
    QList<std::pair<int, QString>> found;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = numbered.match(line);
        if (match.hasMatch() && match.captured(1).compare(prefix, Qt::CaseInsensitive) == 0)
            found.append({match.captured(2).toInt(), match.captured(3)});
    }
    std::ranges::stable_sort(found, {}, &std::pair<int, QString>::first);
    QStringList entries;
    for (const auto &entry : found)
        entries.append(entry.second);
    return entries;
}

QString AttributeValue(xmlNode *element, const char *name) {
    for (xmlAttr *attribute = element->properties; attribute; attribute = attribute->next) {
        if (xmlStrcasecmp(attribute->name, BAD_CAST name) != 0)
            continue;
        std::unique_ptr<xmlChar, decltype(xmlFree)> value(
            xmlNodeListGetString(element->doc, attribute->children, 1), xmlFree);
        return value ? QString::fromUtf8(reinterpret_cast<const char *>(value.get())) : QString();
    }
    return {};
}

// The href of every <ref> and <entryref> in document order, names in any case.
QStringList AsxReferences(xmlNode *root) {
    QStringList entries;
    for (xmlNode *node = root; node; node = xml::NextInOrder(node, root)) {
        if (node->type == XML_ELEMENT_NODE && (xmlStrcasecmp(node->name, BAD_CAST "ref") == 0 ||
                                               xmlStrcasecmp(node->name, BAD_CAST "entryref") == 0))
            entries.append(AttributeValue(node, "href"));
    }
    return entries;
}

QStringList AsxEntries(const QString &text) {
    xml::InitialiseLibxml();
    // Hand-written files often carry a bare & inside a URL.
    static const QRegularExpression bareAmpersand(QStringLiteral("&(?!#?\\w{1,10};)"));
    const QByteArray markup =
        QString(text).replace(bareAmpersand, QStringLiteral("&amp;")).toUtf8();
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(markup.constData(), static_cast<int>(markup.size()), nullptr, "UTF-8",
                      XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOERROR |
                          XML_PARSE_NOWARNING),
        xmlFreeDoc);
    // A playlist has no use for entities of its own, which could only blow it up.
    if (!document || (document->intSubset && document->intSubset->entities))
        return {};
    return AsxReferences(xmlDocGetRootElement(document.get()));
}

// What the readers get: the whole text, and its lines trimmed.
struct PlaylistSource {
    const QString &text;
    QStringList lines;
};

QStringList ReadAsx(const PlaylistSource &source) {
    return source.text.contains(QLatin1StringView("<asx"), Qt::CaseInsensitive)
               ? AsxEntries(source.text)
               : QStringList();
}

QStringList ReadReferences(const PlaylistSource &source) {
    return NumberedEntries(source.lines, QStringLiteral("Ref"));
}

QStringList ReadPls(const PlaylistSource &source) {
    return NumberedEntries(source.lines, QStringLiteral("File"));
}

QStringList ReadM3u(const PlaylistSource &source) {
    return M3uEntries(source.lines);
}

// A playlist format: the types servers send it under, the extensions its files
// have, how its text begins, and the reader of its entries.
struct PlaylistFormat {
    std::span<const QByteArrayView> contentTypes;
    std::span<const QLatin1StringView> extensions;
    QLatin1StringView opening; // how the trimmed text begins, in any case; empty: any text
    QStringList (*read)(const PlaylistSource &source);
};

constexpr QByteArrayView kAsxTypes[] = {"video/x-ms-asf", "video/x-ms-asx", "video/x-ms-wax",
                                        "audio/x-ms-wax", "video/x-ms-wvx", "application/xml"};
constexpr QLatin1StringView kAsxExtensions[] = {
    QLatin1StringView(".asx"), QLatin1StringView(".wax"), QLatin1StringView(".wvx")};
constexpr QByteArrayView kPlsTypes[] = {"audio/x-scpls", "audio/scpls", "application/pls+xml"};
constexpr QLatin1StringView kPlsExtensions[] = {QLatin1StringView(".pls")};
constexpr QByteArrayView kM3uTypes[] = {"audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
                                        "application/vnd.apple.mpegurl"};
constexpr QLatin1StringView kM3uExtensions[] = {QLatin1StringView(".m3u"),
                                                QLatin1StringView(".m3u8")};

// In the order the text is matched against them; the last takes any text. A
// [Reference] file comes under the .asx types and extensions.
constexpr std::array<PlaylistFormat, 4> kFormats = {{
    {{}, {}, QLatin1StringView("[reference]"), &ReadReferences},
    {kPlsTypes, kPlsExtensions, QLatin1StringView("[playlist]"), &ReadPls},
    {kAsxTypes, kAsxExtensions, QLatin1StringView("<"), &ReadAsx},
    {kM3uTypes, kM3uExtensions, {}, &ReadM3u},
}};

// The entries as written, in the format the text is in.
QStringList WrittenEntries(const QString &text) {
    static const QRegularExpression lineBreaks(QStringLiteral("[\r\n]+"));
    const QString start = text.trimmed().left(16);
    PlaylistSource source{text, {}};
    for (const QString &line : text.split(lineBreaks))
        source.lines.append(line.trimmed());
    const auto format = std::ranges::find_if(kFormats, [&start](const PlaylistFormat &candidate) {
        return candidate.opening.isEmpty() ||
               start.startsWith(candidate.opening, Qt::CaseInsensitive);
    });
    return format->read(source);
}

} // namespace

bool HasPlaylistExtension(const QString &url) {
    const QString path = QUrl(url.trimmed()).path();
    return std::ranges::any_of(kFormats, [&path](const PlaylistFormat &format) {
        return std::ranges::any_of(format.extensions, [&path](QLatin1StringView extension) {
            return path.endsWith(extension, Qt::CaseInsensitive);
        });
    });
}

ContentKind KindOfContent(const QByteArray &contentType) {
    const QByteArray type = contentType.split(';').front().trimmed().toLower();
    const bool playlistType = std::ranges::any_of(kFormats, [&type](const PlaylistFormat &format) {
        return std::ranges::find(format.contentTypes, QByteArrayView(type)) !=
               format.contentTypes.end();
    });
    if (playlistType || type.startsWith("text/") || type.endsWith("+xml"))
        return ContentKind::Playlist;
    if (type.startsWith("audio/") || type.startsWith("video/") || type == "application/ogg")
        return ContentKind::Stream;
    return ContentKind::Unknown;
}

std::optional<QString> PlaylistText(const QByteArray &bytes) {
    QString text = DecodeText(bytes);
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);
    if (IsBinary(text))
        return std::nullopt;
    return text;
}

QStringList ParsePlaylist(const QByteArray &body, const QString &baseUrl) {
    if (body.size() > kMaxPlaylistBytes)
        return {};
    const std::optional<QString> text = PlaylistText(body);
    if (!text)
        return {};
    const QUrl base(baseUrl);
    QStringList entries;
    for (const QString &written : WrittenEntries(*text)) {
        const QString url = EntryUrl(written, base);
        if (!url.isEmpty() && !entries.contains(url))
            entries.append(url);
        if (entries.size() == kMaxEntries)
            break;
    }
    return entries;
}

} // namespace platform
