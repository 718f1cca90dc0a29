#include "platform/text_decoding.h"

#include <QStringDecoder>
#include <QStringEncoder>

#include <array>
#include <optional>

namespace platform {

namespace {

// Labels of GB2312 and GBK. Servers send GBK (and the odd GB18030) characters
// under all of them, so they are read with GB18030, which holds both, and
// written with GBK, the set a page under such a label can take back.
bool IsSimplifiedChineseLabel(const QByteArray &label) {
    static const std::array<QByteArrayView, 10> labels = {
        "gb2312",   "gbk",         "x-gbk",  "cp936",     "ms936",
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

// The decoder for a declared charset, or nothing when the name is unknown.
std::optional<QString> DecodeDeclared(const QByteArray &bytes, const QByteArray &charset) {
    QByteArray label = NormalisedLabel(charset);
    if (IsSimplifiedChineseLabel(label))
        label = "gb18030";
    if (label.isEmpty())
        return std::nullopt;
    QStringDecoder decoder(label.constData());
    if (!decoder.isValid())
        return std::nullopt;
    return decoder(bytes);
}

// Encodes one code point (one or two UTF-16 units) as the charset holds it, or as
// a decimal character reference when it cannot, the way browsers fill in forms.
QByteArray EncodeCodePoint(const QByteArray &label, QStringView codePoint) {
    QStringEncoder encoder(label.constData());
    QByteArray bytes = encoder(codePoint);
    if (!encoder.hasError())
        return bytes;
    return "&#" + QByteArray::number(codePoint.toUcs4().value(0)) + ';';
}

QByteArray EncodeWithReferences(const QString &text, const QByteArray &label) {
    QByteArray out;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype units =
            (text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
                ? 2
                : 1;
        out += EncodeCodePoint(label, QStringView(text).mid(i, units));
        i += units;
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
    if (std::optional<QString> declared = DecodeDeclared(bytes, declaredCharset))
        return *declared;
    if (std::optional<QStringConverter::Encoding> bom = QStringConverter::encodingForData(bytes)) {
        QStringDecoder decoder(*bom);
        return decoder(bytes);
    }
    QStringDecoder utf8(QStringConverter::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("gb18030");
    return gb18030(bytes);
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

} // namespace platform
