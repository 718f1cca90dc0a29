#pragma once

#include <QString>
#include <libxml/tree.h>

namespace platform {

// The innerText of a document's body, lines joined by CR LF, as described at
// HtmlDocument::innerText; empty when the document has no body.
QString BodyInnerText(xmlDoc *document);

} // namespace platform
