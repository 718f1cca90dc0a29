// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <libxml/tree.h>

namespace platform {

// The innerText of a document's body in UTF-8, lines joined by CR LF, as
// described at HtmlDocument::innerTextUtf8; empty when the document has no body.
QByteArray BodyInnerText(xmlDoc *document);

} // namespace platform
