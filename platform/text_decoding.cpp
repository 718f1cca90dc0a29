// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_decoding.h"

#include <QList>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QStringEncoder>
#include <array>
#include <cstddef>
#include <memory>
#include <optional>
#include <uchardet/uchardet.h>

namespace platform {

namespace {

// Labels of GB2312 and GBK. Servers send GBK (and the odd GB18030) characters
// under all of them, so they are read with GB18030, which holds both, and
// written with GBK, the set a page under such a label can take back.
bool IsSimplifiedChineseLabel(const QByteArray &label) {
    static const std::array<QByteArrayView, 10> labels = {
        "gb2312",   "gbk",         "x-gbk",   "cp936",      "ms936",
        "csgb2312", "windows-936", "gb_2312", "gb_2312-80", "chinese"};
    for (QByteArrayView known : labels) {
        if (label == known)
            return true;
    }
    return false;
}

QByteArray NormalisedLabel(const QByteArray &charset) {
    QByteArray label = charset.trimmed().toLower();
    if (label.size() >= 2 && (label.startsWith('"') || label.startsWith('\'')) &&
        label.back() == label.front())
        label = label.mid(1, label.size() - 2).trimmed();
    return label;
}

// The decoder name for a charset label, or empty when the label is unknown.
QByteArray DecoderLabel(const QByteArray &charset) {
    const QByteArray label = NormalisedLabel(charset);
    if (IsSimplifiedChineseLabel(label))
        return "gb18030";
    if (label.isEmpty() || !QStringDecoder(label.constData()).isValid())
        return {};
    return label;
}

// Encodes one code point (one or two UTF-16 units) as the charset holds it, or as
// a decimal character reference when it cannot, the way browsers fill in forms.
QByteArray EncodeCodePoint(const QByteArray &label, QStringView units) {
    QStringEncoder encoder(label.constData());
    QByteArray bytes = encoder(units);
    if (!encoder.hasError())
        return bytes;
    const char32_t codePoint = units.size() == 2 ? QChar::surrogateToUcs4(units.at(0), units.at(1))
                                                 : units.at(0).unicode();
    return "&#" + QByteArray::number(static_cast<uint>(codePoint)) + ';';
}

QByteArray EncodeWithReferences(const QString &text, const QByteArray &label) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        const bool pair =
            text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate();
        const qsizetype length = pair ? 2 : 1;
        out += EncodeCodePoint(label, QStringView(text).mid(i, length));
        i += length;
    }
    return out;
}

// The encoder name for a charset label; empty means UTF-8. Pages in UTF-16
// submit their forms in UTF-8, as browsers do.
QByteArray EncoderLabel(const QByteArray &charset) {
    const QByteArray label = NormalisedLabel(charset);
    if (IsSimplifiedChineseLabel(label))
        return "gbk";
    if (label.isEmpty() || label == "utf-8" || label == "utf8" || label.startsWith("utf-16") ||
        !QStringEncoder(label.constData()).isValid())
        return {};
    return label;
}

// The charset of bytes that are not all valid UTF-8, judged from all of them:
// "utf-8" (with stray bad bytes), "big5", or "gb18030" for simplified Chinese and
// for whatever the detector cannot tell apart with confidence, such as a few
// GBK characters it takes for a single-byte charset.
QByteArray DetectedCharset(const QByteArray &bytes) {
    const std::unique_ptr<uchardet, decltype(&uchardet_delete)> detector(uchardet_new(),
                                                                         &uchardet_delete);
    if (uchardet_handle_data(detector.get(), bytes.constData(),
                             static_cast<std::size_t>(bytes.size())) != 0)
        return "gb18030";
    uchardet_data_end(detector.get());
    const QByteArray found = QByteArray(uchardet_get_charset(detector.get())).toLower();
    return found == "utf-8" || found == "big5" ? found : QByteArray("gb18030");
}

// How far into a page a <meta> charset declaration is looked for.
constexpr qsizetype kCharsetPrescanBytes = 8192;

QByteArray MetaCharset(const QByteArray &bytes) {
    // Pages are read on loading threads at once, and they share this one
    // expression: that is safe, since only its const functions are called, the
    // one change they make (compiling the pattern at the first match) is made
    // under the expression's own lock, and every match keeps its state apart.
    static const QRegularExpression declaration(
        QStringLiteral(R"(<meta\s[^>]*?charset\s*=\s*["']?\s*([A-Za-z0-9_.:-]+))"),
        QRegularExpression::CaseInsensitiveOption);
    QRegularExpressionMatchIterator matches =
        declaration.globalMatch(QString::fromLatin1(bytes.left(kCharsetPrescanBytes)));
    while (matches.hasNext()) {
        const QByteArray label = matches.next().captured(1).toLatin1().toLower();
        // Markup readable byte by byte cannot be UTF-16, whatever it says.
        if (label.startsWith("utf-16"))
            return "utf-8";
        if (IsKnownCharset(label))
            return label;
    }
    return {};
}

} // namespace

QByteArray CharsetOfContentType(const QByteArray &contentType) {
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray parameter = parts.at(i).trimmed();
        const qsizetype equals = parameter.indexOf('=');
        if (equals > 0 && parameter.left(equals).trimmed().toLower() == "charset")
            return NormalisedLabel(parameter.mid(equals + 1));
    }
    return {};
}

QString DecodeText(const QByteArray &bytes, const QByteArray &declaredCharset) {
    return DecodeTextAndCharset(bytes, declaredCharset).text;
}

DecodedText DecodeTextAndCharset(const QByteArray &bytes, const QByteArray &declaredCharset) {
    if (const QByteArray label = DecoderLabel(declaredCharset); !label.isEmpty()) {
        QStringDecoder decoder(label.constData());
        return {decoder(bytes), NormalisedLabel(declaredCharset)};
    }
    if (std::optional<QStringConverter::Encoding> bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom);
        return {decoder(bytes), QByteArray(QStringConverter::nameForEncoding(*bom)).toLower()};
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return {text, "utf-8"};
    const QByteArray detected = DetectedCharset(bytes);
    if (detected == "utf-8")
        return {text, detected}; // the stray bad bytes read as replacement characters
    QStringDecoder decoder(detected.constData());
    return {decoder(bytes), detected};
}

bool IsKnownCharset(const QByteArray &charset) {
    return !DecoderLabel(charset).isEmpty();
}

QByteArray EncodeText(const QString &text, const QByteArray &charset) {
    const QByteArray label = EncoderLabel(charset);
    if (label.isEmpty())
        return text.toUtf8();
    QStringEncoder encoder(label.constData());
    QByteArray whole = encoder(text);
    if (!encoder.hasError())
        return whole;
    return EncodeWithReferences(text, label);
}

QByteArray DeclaredPageCharset(const QByteArray &bytes, const QByteArray &contentType) {
    const QByteArray header = CharsetOfContentType(contentType);
    return IsKnownCharset(header) ? header : MetaCharset(bytes);
}

} // namespace platform
