// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_body_text.h"

#include "platform/xml_tree.h"

#include <algorithm>
#include <utility>

namespace platform {

using namespace xml;

namespace {

// Assembles rendered text in UTF-8: collapses white space, and merges the line
// breaks that block boundaries ask for with those already written, so that no
// block boundary adds an empty line of its own or one at the start or the end.
// Line breaks are written as CR LF as they come, so that a large page's text is
// never rewritten into a second copy. White space and line breaks are ASCII,
// which never occurs inside a longer UTF-8 sequence, so the text is handled as
// bytes throughout.
class InnerTextBuilder {
public:
    void text(QByteArrayView text) {
        qsizetype i = 0;
        while (i < text.size()) {
            if (isCollapsible(text[i])) {
                pendingSpace_ = pendingSpace_ || !atLineStart();
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < text.size() && !isCollapsible(text[end]))
                ++end;
            startRun();
            out_ += text.sliced(i, end - i);
            atLineStart_ = false;
            i = end;
        }
    }

    // Text kept as written, its line breaks (LF, CR LF or CR alone) each
    // written as CR LF.
    void preformattedText(QByteArrayView text) {
        if (text.isEmpty())
            return;
        startRun();
        qsizetype start = 0;
        for (qsizetype at = 0; at < text.size(); ++at) {
            if (text[at] != '\n' && text[at] != '\r')
                continue;
            out_ += text.sliced(start, at - start);
            out_ += kLineBreak;
            if (text[at] == '\r' && at + 1 < text.size() && text[at + 1] == '\n')
                ++at;
            start = at + 1;
        }
        out_ += text.sliced(start);
        atLineStart_ = text.endsWith('\n') || text.endsWith('\r');
    }

    void lineBreak() { appendSeparator(kLineBreak); }
    void cellSeparator() { appendSeparator("\t"); }

    void requireLineBreaks(int count) {
        requiredBreaks_ = std::max(requiredBreaks_, count);
        pendingSpace_ = false;
    }

    QByteArray finish() {
        out_.squeeze();
        return std::move(out_);
    }

private:
    static constexpr QByteArrayView kLineBreak = "\r\n";

    static bool isCollapsible(char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
    }

    bool atLineStart() const { return atLineStart_ || requiredBreaks_ > 0; }

    void startRun() {
        flushLineBreaks();
        if (pendingSpace_)
            out_ += ' ';
        pendingSpace_ = false;
    }

    void appendSeparator(QByteArrayView separator) {
        flushLineBreaks();
        pendingSpace_ = false;
        out_ += separator;
        atLineStart_ = true;
    }

    void flushLineBreaks() {
        if (requiredBreaks_ > 0 && !out_.isEmpty()) {
            int present = 0;
            while (present < requiredBreaks_ &&
                   QByteArrayView(out_).chopped(present * kLineBreak.size()).endsWith(kLineBreak))
                ++present;
            for (; present < requiredBreaks_; ++present)
                out_ += kLineBreak;
            atLineStart_ = true;
        }
        requiredBreaks_ = 0;
    }

    QByteArray out_;
    int requiredBreaks_ = 0;
    bool pendingSpace_ = false;
    bool atLineStart_ = true;
};

// Elements whose content is not rendered as text.
const NameSet kHiddenElements = {"head",   "title",    "script", "style",  "template", "noscript",
                                 "select", "datalist", "iframe", "object", "embed",    "audio",
                                 "video",  "canvas",   "meta",   "link",   "base",     "param",
                                 "source", "track",    "area",   "rp",     "noembed"};
// Block-level elements: each starts and ends a line.
const NameSet kBlockElements = {
    "address", "article", "aside",    "blockquote", "caption", "center",   "dd",         "details",
    "dialog",  "dir",     "div",      "dl",         "dt",      "fieldset", "figcaption", "figure",
    "footer",  "form",    "h1",       "h2",         "h3",      "h4",       "h5",         "h6",
    "header",  "hgroup",  "hr",       "legend",     "li",      "listing",  "main",       "menu",
    "nav",     "ol",      "optgroup", "plaintext",  "pre",     "section",  "summary",    "table",
    "tr",      "ul",      "xmp"};
// Elements whose text keeps its white space and line breaks.
const NameSet kPreformattedElements = {"pre", "listing", "xmp", "plaintext", "textarea"};
const NameSet kTableCells = {"td", "th"};

bool IsHiddenByStyle(const xmlNode *element) {
    if (!HasAttribute(element, "style"))
        return false;
    const QString style = Attribute(element, "style").toLower().simplified().remove(u' ');
    return style.contains(QLatin1String("display:none")) ||
           style.contains(QLatin1String("visibility:hidden"));
}

bool IsHidden(const xmlNode *element) {
    return IsElementIn(element, kHiddenElements) || HasAttribute(element, "hidden") ||
           IsHiddenByStyle(element);
}

int LineBreaksAround(const xmlNode *element) {
    if (IsElement(element, "p"))
        return 2; // a paragraph stands apart by a blank line, as browsers render it
    return IsElementIn(element, kBlockElements) ? 1 : 0;
}

bool FollowsTableCell(const xmlNode *cell) {
    const xmlNode *previous = xmlPreviousElementSibling(const_cast<xmlNode *>(cell));
    return previous && IsElementIn(previous, kTableCells);
}

// The text without the line break (CR LF, LF or CR) it begins with.
QByteArrayView WithoutLeadingLineBreak(QByteArrayView text) {
    if (text.startsWith("\r\n"))
        return text.sliced(2);
    return text.startsWith('\n') || text.startsWith('\r') ? text.sliced(1) : text;
}

// Walks a body and feeds the builder the rendering rules' items.
class InnerTextVisitor {
public:
    bool enter(const xmlNode *node) {
        if (node->type == XML_TEXT_NODE) {
            addText(node);
            return false;
        }
        if (!IsElement(node) || IsHidden(node))
            return false;
        if (IsElement(node, "br"))
            builder_.lineBreak();
        else if (IsElementIn(node, kTableCells) && FollowsTableCell(node))
            builder_.cellSeparator();
        startOrEnd(node, +1);
        return true;
    }

    void leave(const xmlNode *element) { startOrEnd(element, -1); }

    QByteArray finish() { return builder_.finish(); }

private:
    void startOrEnd(const xmlNode *element, int depthChange) {
        if (const int breaks = LineBreaksAround(element))
            builder_.requireLineBreaks(breaks);
        if (IsElementIn(element, kPreformattedElements))
            preformattedDepth_ += depthChange;
    }

    void addText(const xmlNode *text) {
        const QByteArrayView content(reinterpret_cast<const char *>(text->content));
        if (preformattedDepth_ == 0) {
            builder_.text(content);
            return;
        }
        // A line break right after the start tag is not part of the text.
        builder_.preformattedText(IsLeadingNewlineOf(text, kPreformattedElements)
                                      ? WithoutLeadingLineBreak(content)
                                      : content);
    }

    InnerTextBuilder builder_;
    int preformattedDepth_ = 0;
};

} // namespace

QByteArray BodyInnerText(xmlDoc *document) {
    xmlNode *root = RootOf(document);
    const xmlNode *body =
        root ? FindElement(root, [](const xmlNode *node) { return IsElement(node, "body"); })
             : nullptr;
    if (!body)
        return {};
    InnerTextVisitor visitor;
    Walk(body, visitor);
    return visitor.finish();
}

} // namespace platform
