// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_document.h"

#include "platform/html_body_text.h"
#include "platform/html_forms.h"
#include "platform/text_decoding.h"
#include "platform/xml_tree.h"

#include <algorithm>
#include <libxml/HTMLparser.h>
#include <utility>

namespace platform {

namespace {

// XML_PARSE_HUGE (the HTML parser takes it too) lifts libxml2's limit of
// 10,000,000 bytes on one text run, past which it would silently drop the rest
// of the page (a directory is one long run of text); the browser's document cap
// bounds the size instead.
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                              HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC | XML_PARSE_HUGE;

// Parses a page of UTF-8. The parser reads it through a callback, a piece at
// a time, and keeps only the pieces it is working on: its memory parser would
// copy the whole page first, and decode that copy into another.
xmlDoc *ParseHtml(const QByteArray &utf8) {
    QByteArrayView unread(utf8);
    const auto read = [](void *context, char *buffer, int length) {
        QByteArrayView &rest = *static_cast<QByteArrayView *>(context);
        const qsizetype count = std::min<qsizetype>(length, rest.size());
        std::copy_n(rest.data(), count, buffer);
        rest = rest.sliced(count);
        return static_cast<int>(count);
    };
    return htmlReadIO(read, nullptr, &unread, nullptr, "UTF-8", kParseOptions);
}

} // namespace

void HtmlDocument::FreeDocument::operator()(_xmlDoc *document) const {
    xmlFreeDoc(document);
}

HtmlDocument HtmlDocument::copy() const {
    HtmlDocument copy;
    copy.document_.reset(document_ ? xmlCopyDoc(document_.get(), 1) : nullptr);
    copy.url_ = url_;
    copy.charset_ = charset_;
    return copy;
}

HtmlDocument::HtmlDocument(QByteArray bytes, const QString &url, const QByteArray &contentType)
    : url_(url) {
    DecodedText decoded = DecodeTextAndCharset(bytes, DeclaredPageCharset(bytes, contentType));
    bytes = QByteArray();
    charset_ = decoded.charset;
    // The decoded text goes before the parse: a large page is held once as
    // UTF-8 and once as the parsed tree, not a third time.
    const QByteArray utf8 =
        std::exchange(decoded.text, {}).replace(QChar(u'\0'), QChar::ReplacementCharacter).toUtf8();
    xml::InitialiseLibxml();
    document_.reset(ParseHtml(utf8));
}

QByteArray HtmlDocument::innerTextUtf8() const {
    return BodyInnerText(document_.get());
}

bool HtmlDocument::setElementValue(const QString &id, const QString &value) {
    xmlNode *element = xml::ElementById(xml::RootOf(document_.get()), id);
    if (!element)
        return false;
    const QByteArray utf8 = value.toUtf8();
    if (xml::IsElement(element, "input")) {
        xmlSetProp(element, xml::Xml("value"), xml::Xml(utf8.constData()));
    } else if (xml::IsElement(element, "textarea")) {
        // A leading line break would be taken for the one after the start tag.
        const QByteArray text = value.startsWith(u'\n') ? '\n' + utf8 : utf8;
        xmlNodeSetContent(element, nullptr);
        xmlAddChild(element, xmlNewDocText(document_.get(), xml::Xml(text.constData())));
    }
    return true;
}

bool HtmlDocument::submitsOnClick(const QString &id) const {
    return FindSubmitter(xml::RootOf(document_.get()), id).has_value();
}

std::optional<FormSubmission> HtmlDocument::submissionOnClick(const QString &id) const {
    xmlNode *root = xml::RootOf(document_.get());
    const std::optional<Submitter> found = FindSubmitter(root, id);
    if (!found)
        return std::nullopt;
    return SubmissionOf(root, *found, url_, charset_);
}

} // namespace platform
