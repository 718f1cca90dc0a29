#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// The charset parameter of a Content-Type header value ("text/html; charset=gbk"
// gives "gbk"), or an empty string.
QByteArray CharsetOfContentType(const QByteArray &contentType);

// Decodes bytes received from a server: the declared charset when it is known,
// else a byte-order mark, else UTF-8 when the bytes are valid UTF-8, else GB18030.
// An unknown declared charset is treated as not declared. Never fails.
QString DecodeText(const QByteArray &bytes, const QByteArray &declaredCharset = {});

// Encodes text in the named charset (for form submission); UTF-8 when the
// charset is unknown or empty.
QByteArray EncodeText(const QString &text, const QByteArray &charset);

} // namespace platform
