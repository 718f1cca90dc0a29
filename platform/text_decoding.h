// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The charset parameter of a Content-Type header value ("text/html; charset=gbk"
// gives "gbk"), or an empty string.
QByteArray CharsetOfContentType(const QByteArray &contentType);

// Decodes bytes received from a server: the declared charset when it is known,
// else a byte-order mark, else UTF-8 when the bytes are valid UTF-8, else the
// charset a detector finds in the whole of them: UTF-8 (bad bytes becoming
// replacement characters), Big5, or GB18030 for simplified Chinese and whatever
// it cannot tell. An unknown declared charset is treated as not declared. Never fails.
QString DecodeText(const QByteArray &bytes, const QByteArray &declaredCharset = {});

// The text and the charset it was read with: the declared one when known, else
// the byte-order mark's ("utf-8", "utf-16le", …), else "utf-8", "big5" or "gb18030".
struct DecodedText {
    QString text;
    QByteArray charset;
};
DecodedText DecodeTextAndCharset(const QByteArray &bytes, const QByteArray &declaredCharset = {});

// True when the charset name (or one of its aliases) can be decoded.
bool IsKnownCharset(const QByteArray &charset);

// Encodes text in the named charset (for form submission); UTF-8 when the
// charset is unknown or empty. Characters the charset cannot hold become
// decimal character references ("&#8364;"), as browsers send them.
QByteArray EncodeText(const QString &text, const QByteArray &charset);

// The charset a page declares: its Content-Type header's when known, else a
// <meta charset> or http-equiv declaration near the top; empty when neither.
QByteArray DeclaredPageCharset(const QByteArray &bytes, const QByteArray &contentType);

} // namespace platform
