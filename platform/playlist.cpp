#include "platform/playlist.h"

#include "platform/text_decoding.h"

#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <array>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <memory>
#include <utility>

namespace platform {

namespace {

constexpr qsizetype kMaxPlaylistBytes = 1024 * 1024;
constexpr qsizetype kMaxUrlLength = 4096;
constexpr qsizetype kMaxEntries = 64;

constexpr std::array<QLatin1StringView, 7> kNetworkSchemes = {
    QLatin1StringView("http"), QLatin1StringView("https"), QLatin1StringView("mms"),
    QLatin1StringView("mmsh"), QLatin1StringView("mmst"),  QLatin1StringView("rtsp"),
    QLatin1StringView("rtmp")};

constexpr std::array<QLatin1StringView, 6> kPlaylistExtensions = {
    QLatin1StringView(".asx"), QLatin1StringView(".wax"), QLatin1StringView(".wvx"),
    QLatin1StringView(".pls"), QLatin1StringView(".m3u"), QLatin1StringView(".m3u8")};

constexpr std::array<QByteArrayView, 13> kPlaylistTypes = {
    "audio/x-mpegurl", "audio/mpegurl",  "application/x-mpegurl", "application/vnd.apple.mpegurl",
    "audio/x-scpls",   "audio/scpls",    "application/pls+xml",   "video/x-ms-asf",
    "video/x-ms-asx",  "video/x-ms-wax", "audio/x-ms-wax",        "video/x-ms-wvx",
    "application/xml"};

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
void CollectAsxReferences(xmlNode *node, QStringList &entries) {
    for (; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE)
            continue;
        if (xmlStrcasecmp(node->name, BAD_CAST "ref") == 0 ||
            xmlStrcasecmp(node->name, BAD_CAST "entryref") == 0)
            entries.append(AttributeValue(node, "href"));
        CollectAsxReferences(node->children, entries);
    }
}

QStringList AsxEntries(const QString &text) {
    // Resolutions run on worker threads; libxml2 wants its set-up done once.
    static const bool initialised = (xmlInitParser(), true);
    Q_UNUSED(initialised);
    // Hand-written files often carry a bare & inside a URL.
    static const QRegularExpression bareAmpersand(QStringLiteral("&(?!#?\\w{1,10};)"));
    const QByteArray xml = QString(text).replace(bareAmpersand, QStringLiteral("&amp;")).toUtf8();
    std::unique_ptr<xmlDoc, decltype(&xmlFreeDoc)> document(
        xmlReadMemory(xml.constData(), static_cast<int>(xml.size()), nullptr, "UTF-8",
                      XML_PARSE_RECOVER | XML_PARSE_NONET | XML_PARSE_NOERROR |
                          XML_PARSE_NOWARNING),
        xmlFreeDoc);
    // A playlist has no use for entities of its own, which could only blow it up.
    QStringList entries;
    if (document && !(document->intSubset && document->intSubset->entities))
        CollectAsxReferences(xmlDocGetRootElement(document.get()), entries);
    return entries;
}

// The entries as written, in the format the text is in.
QStringList WrittenEntries(const QString &text) {
    const QString start = text.trimmed().left(16);
    QStringList trimmed;
    for (const QString &line : text.split(QRegularExpression(QStringLiteral("[\r\n]+"))))
        trimmed.append(line.trimmed());
    if (start.startsWith(QLatin1StringView("[reference]"), Qt::CaseInsensitive))
        return NumberedEntries(trimmed, QStringLiteral("Ref"));
    if (start.startsWith(QLatin1StringView("[playlist]"), Qt::CaseInsensitive))
        return NumberedEntries(trimmed, QStringLiteral("File"));
    if (start.startsWith(u'<'))
        return text.contains(QLatin1StringView("<asx"), Qt::CaseInsensitive) ? AsxEntries(text)
                                                                             : QStringList();
    return M3uEntries(trimmed);
}

// Whether the body of a response is a playlist by its type (or, for a generic
// type, its URL).
bool PlaylistByType(const QByteArray &contentType, const QString &url) {
    switch (KindOfContent(contentType)) {
    case ContentKind::Stream:
        return false;
    case ContentKind::Playlist:
        return true;
    case ContentKind::Unknown:
        break;
    }
    return HasPlaylistExtension(url);
}

// The first line of every playlist format, or an m3u's first entry.
bool HasPlaylistOpening(const QString &text) {
    static const QRegularExpression opening(
        QStringLiteral("^\\s*(#EXTM3U|\\[playlist\\]|\\[reference\\]|<\\?xml|<asx|https?://)"),
        QRegularExpression::CaseInsensitiveOption);
    return opening.match(text).hasMatch();
}

} // namespace

bool IsNetworkStreamUrl(const QString &url) {
    const QUrl parsed(url.trimmed());
    const QString scheme = parsed.scheme().toLower();
    return parsed.isValid() && !parsed.host().isEmpty() &&
           std::ranges::find(kNetworkSchemes, scheme) != kNetworkSchemes.end();
}

bool HasPlaylistExtension(const QString &url) {
    const QString path = QUrl(url.trimmed()).path();
    return std::ranges::any_of(kPlaylistExtensions, [&path](QLatin1StringView extension) {
        return path.endsWith(extension, Qt::CaseInsensitive);
    });
}

ContentKind KindOfContent(const QByteArray &contentType) {
    const QByteArray type = contentType.split(';').front().trimmed().toLower();
    if (std::ranges::find(kPlaylistTypes, QByteArrayView(type)) != kPlaylistTypes.end() ||
        type.startsWith("text/") || type.endsWith("+xml"))
        return ContentKind::Playlist;
    if (type.startsWith("audio/") || type.startsWith("video/") || type == "application/ogg")
        return ContentKind::Stream;
    return ContentKind::Unknown;
}

bool IsLiveStreamingPlaylist(const QByteArray &body) {
    return body.toUpper().contains("#EXT-X-");
}

QStringList ParsePlaylist(const QByteArray &body, const QString &baseUrl) {
    if (body.size() > kMaxPlaylistBytes)
        return {};
    QString text = DecodeText(body);
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);
    if (IsBinary(text))
        return {};
    const QUrl base(baseUrl);
    QStringList entries;
    for (const QString &written : WrittenEntries(text)) {
        const QString url = EntryUrl(written, base);
        if (!url.isEmpty() && !entries.contains(url))
            entries.append(url);
        if (entries.size() == kMaxEntries)
            break;
    }
    return entries;
}

bool IsPlaylistResponse(const QByteArray &contentType, const QString &url,
                        const QByteArray &start) {
    QString text = DecodeText(start);
    if (text.startsWith(QChar::ByteOrderMark))
        text.remove(0, 1);
    return !IsBinary(text) && (PlaylistByType(contentType, url) || HasPlaylistOpening(text));
}

} // namespace platform
