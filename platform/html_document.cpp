#include "platform/html_document.h"

#include "platform/text_decoding.h"

#include <QList>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QUrl>
#include <algorithm>
#include <climits>
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace platform {

namespace {

// XML_PARSE_HUGE (the HTML parser takes it too) lifts libxml2's limit of
// 10,000,000 bytes on one text run, past which it would silently drop the rest
// of the page (a directory is one long run of text); the browser's document cap
// bounds the size instead.
constexpr int kParseOptions = HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING |
                              HTML_PARSE_NONET | HTML_PARSE_IGNORE_ENC | XML_PARSE_HUGE;
// How far into a page a <meta> charset declaration is looked for.
constexpr qsizetype kCharsetPrescanBytes = 8192;

void InitialiseLibxmlOnce() {
    static const bool initialised = [] {
        xmlInitParser();
        return true;
    }();
    static_cast<void>(initialised);
}

using NameSet = std::unordered_set<std::string_view>;

// ---- Nodes and attributes -------------------------------------------------

std::string_view NameOf(const xmlNode *node) {
    return node->name ? reinterpret_cast<const char *>(node->name) : "";
}

bool IsElement(const xmlNode *node) {
    return node->type == XML_ELEMENT_NODE;
}

bool IsElement(const xmlNode *node, std::string_view name) {
    return IsElement(node) && NameOf(node) == name;
}

bool IsElementIn(const xmlNode *node, const NameSet &names) {
    return IsElement(node) && names.count(NameOf(node)) > 0;
}

const xmlChar *Xml(const char *text) {
    return reinterpret_cast<const xmlChar *>(text);
}

QString FromXml(const xmlChar *text) {
    return QString::fromUtf8(reinterpret_cast<const char *>(text));
}

bool HasAttribute(const xmlNode *element, const char *name) {
    return xmlHasProp(element, Xml(name)) != nullptr;
}

// The attribute's value; empty when it is absent.
QString Attribute(const xmlNode *element, const char *name) {
    xmlChar *value = xmlGetNoNsProp(element, Xml(name));
    QString text = FromXml(value);
    xmlFree(value);
    return text;
}

QString LowerAttribute(const xmlNode *element, const char *name) {
    return Attribute(element, name).trimmed().toLower();
}

QString TextContent(const xmlNode *node) {
    xmlChar *content = xmlNodeGetContent(node);
    QString text = FromXml(content);
    xmlFree(content);
    return text;
}

// Line breaks as "\n" alone.
QString UnixNewlines(QString text) {
    return text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(u'\r', u'\n');
}

// The parser keeps the line break that follows <pre> and <textarea>; browsers drop it.
bool IsLeadingNewlineOf(const xmlNode *text, const NameSet &keepers) {
    return text->parent && IsElementIn(text->parent, keepers) && text->parent->children == text;
}

QStringView WithoutLeadingNewline(QStringView text) {
    return text.startsWith(u'\n') ? text.mid(1) : text;
}

// ---- Traversal (without recursion: pages can nest deeper than any stack) ---

// The node after node in document order, staying below root.
xmlNode *NextInOrder(const xmlNode *node, const xmlNode *root) {
    if (node->children)
        return node->children;
    for (; node && node != root; node = node->parent) {
        if (node->next)
            return node->next;
    }
    return nullptr;
}

template <typename Predicate> xmlNode *FindElement(xmlNode *root, Predicate matches) {
    for (xmlNode *node = root; node; node = NextInOrder(node, root)) {
        if (IsElement(node) && matches(node))
            return node;
    }
    return nullptr;
}

xmlNode *RootOf(xmlDoc *document) {
    return document ? xmlDocGetRootElement(document) : nullptr;
}

xmlNode *ElementById(xmlNode *root, const QString &id) {
    if (!root || id.isEmpty())
        return nullptr;
    return FindElement(root, [&id](const xmlNode *node) { return Attribute(node, "id") == id; });
}

// Calls visitor.Enter for the nodes below root in document order; its children
// are visited when it returns true, and visitor.Leave follows them.
template <typename Visitor> void Walk(const xmlNode *root, Visitor &visitor) {
    const xmlNode *node = root->children;
    while (node) {
        if (visitor.Enter(node)) {
            if (node->children) {
                node = node->children;
                continue;
            }
            visitor.Leave(node);
        }
        while (!node->next) {
            node = node->parent;
            if (!node || node == root)
                return;
            visitor.Leave(node);
        }
        node = node->next;
    }
}

// ---- innerText ------------------------------------------------------------

// Assembles rendered text: collapses white space, and merges the line breaks
// that block boundaries ask for with those already written, so that no block
// boundary adds an empty line of its own or one at the start or the end.
class InnerTextBuilder {
public:
    void Text(QStringView text, bool keepWhiteSpace) {
        if (keepWhiteSpace) {
            if (!text.isEmpty())
                AppendRun(text);
            return;
        }
        qsizetype i = 0;
        while (i < text.size()) {
            if (IsCollapsible(text[i])) {
                pendingSpace_ = pendingSpace_ || !AtLineStart();
                ++i;
                continue;
            }
            qsizetype end = i;
            while (end < text.size() && !IsCollapsible(text[end]))
                ++end;
            AppendRun(text.mid(i, end - i));
            i = end;
        }
    }

    void LineBreak() { AppendSeparator(u'\n'); }
    void CellSeparator() { AppendSeparator(u'\t'); }

    void RequireLineBreaks(int count) {
        requiredBreaks_ = std::max(requiredBreaks_, count);
        pendingSpace_ = false;
    }

    QString Finish() { return out_.replace(u'\n', QLatin1String("\r\n")); }

private:
    static bool IsCollapsible(QChar c) {
        return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
    }

    bool AtLineStart() const { return atLineStart_ || requiredBreaks_ > 0; }

    void AppendRun(QStringView run) {
        FlushLineBreaks();
        if (pendingSpace_)
            out_ += u' ';
        pendingSpace_ = false;
        out_ += run;
        atLineStart_ = run.endsWith(u'\n');
    }

    void AppendSeparator(QChar separator) {
        FlushLineBreaks();
        pendingSpace_ = false;
        out_ += separator;
        atLineStart_ = true;
    }

    void FlushLineBreaks() {
        if (requiredBreaks_ > 0 && !out_.isEmpty()) {
            qsizetype present = 0;
            while (present < requiredBreaks_ && present < out_.size() &&
                   out_.at(out_.size() - 1 - present) == u'\n')
                ++present;
            out_ += QString(requiredBreaks_ - present, u'\n');
            atLineStart_ = true;
        }
        requiredBreaks_ = 0;
    }

    QString out_;
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

// Walks a body and feeds the builder the rendering rules' items.
class InnerTextVisitor {
public:
    bool Enter(const xmlNode *node) {
        if (node->type == XML_TEXT_NODE) {
            AddText(node);
            return false;
        }
        if (!IsElement(node) || IsHidden(node))
            return false;
        if (IsElement(node, "br"))
            builder_.LineBreak();
        else if (IsElementIn(node, kTableCells) && FollowsTableCell(node))
            builder_.CellSeparator();
        StartOrEnd(node, +1);
        return true;
    }

    void Leave(const xmlNode *element) { StartOrEnd(element, -1); }

    QString Finish() { return builder_.Finish(); }

private:
    void StartOrEnd(const xmlNode *element, int depthChange) {
        if (const int breaks = LineBreaksAround(element))
            builder_.RequireLineBreaks(breaks);
        if (IsElementIn(element, kPreformattedElements))
            preformattedDepth_ += depthChange;
    }

    void AddText(const xmlNode *text) {
        if (preformattedDepth_ == 0) {
            builder_.Text(FromXml(text->content), false);
            return;
        }
        const QString content = UnixNewlines(FromXml(text->content));
        builder_.Text(IsLeadingNewlineOf(text, kPreformattedElements)
                          ? WithoutLeadingNewline(content)
                          : QStringView(content),
                      true);
    }

    InnerTextBuilder builder_;
    int preformattedDepth_ = 0;
};

// ---- Forms ----------------------------------------------------------------

struct FormEntry {
    QString name;
    QString value;
};

const NameSet kListedControls = {"input", "button", "select", "textarea"};

bool IsSubmitControl(const xmlNode *element) {
    const QString type = LowerAttribute(element, "type");
    if (IsElement(element, "button"))
        return type != u"reset" && type != u"button" && type != u"menu";
    return IsElement(element, "input") && (type == u"submit" || type == u"image");
}

// The form a control belongs to: the one its form attribute names, else the
// nearest form around it.
const xmlNode *FormOwner(xmlNode *root, const xmlNode *control) {
    if (HasAttribute(control, "form")) {
        const xmlNode *named = ElementById(root, Attribute(control, "form"));
        return named && IsElement(named, "form") ? named : nullptr;
    }
    for (const xmlNode *node = control->parent; node; node = node->parent) {
        if (IsElement(node, "form"))
            return node;
    }
    return nullptr;
}

struct Submitter {
    const xmlNode *control;
    const xmlNode *form;
};

// The enabled submit control with this id and the form it submits, if any.
std::optional<Submitter> FindSubmitter(xmlNode *root, const QString &id) {
    const xmlNode *control = ElementById(root, id);
    if (!control || !IsSubmitControl(control) || HasAttribute(control, "disabled"))
        return std::nullopt;
    const xmlNode *form = FormOwner(root, control);
    if (!form)
        return std::nullopt;
    return Submitter{control, form};
}

QString TextareaValue(const xmlNode *textarea) {
    const QString content = UnixNewlines(TextContent(textarea));
    return WithoutLeadingNewline(content).toString();
}

QString OptionValue(const xmlNode *option) {
    return HasAttribute(option, "value") ? Attribute(option, "value")
                                         : TextContent(option).simplified();
}

void AppendSelected(const xmlNode *select, const QString &name, QList<FormEntry> &entries) {
    QList<const xmlNode *> options;
    QList<const xmlNode *> selected;
    for (const xmlNode *node = select; node; node = NextInOrder(node, select)) {
        if (!IsElement(node, "option") || HasAttribute(node, "disabled"))
            continue;
        options.append(node);
        if (HasAttribute(node, "selected"))
            selected.append(node);
    }
    if (!HasAttribute(select, "multiple")) {
        // One choice: the last one marked, else the first one offered.
        selected = selected.isEmpty() ? options.mid(0, 1) : selected.mid(selected.size() - 1);
    }
    for (const xmlNode *option : selected)
        entries.append({name, OptionValue(option)});
}

void AppendInput(const xmlNode *input, const QString &name, bool isSubmitter,
                 QList<FormEntry> &entries) {
    const QString type = LowerAttribute(input, "type");
    if (type == u"image") {
        // The click position is not known; the control's corner stands for it.
        const QString prefix = name.isEmpty() ? QString() : name + u'.';
        if (isSubmitter) {
            entries.append({prefix + u'x', QStringLiteral("0")});
            entries.append({prefix + u'y', QStringLiteral("0")});
        }
        return;
    }
    if (name.isEmpty() || type == u"reset" || type == u"button" || type == u"file" ||
        (type == u"submit" && !isSubmitter))
        return;
    if (type == u"checkbox" || type == u"radio") {
        if (HasAttribute(input, "checked"))
            entries.append({name, HasAttribute(input, "value") ? Attribute(input, "value")
                                                               : QStringLiteral("on")});
        return;
    }
    entries.append({name, Attribute(input, "value")});
}

void AppendControl(const xmlNode *control, const xmlNode *submitter, QList<FormEntry> &entries) {
    const QString name = Attribute(control, "name");
    if (IsElement(control, "input")) {
        AppendInput(control, name, control == submitter, entries);
    } else if (name.isEmpty()) {
        return;
    } else if (IsElement(control, "button")) {
        if (control == submitter)
            entries.append({name, Attribute(control, "value")});
    } else if (IsElement(control, "select")) {
        AppendSelected(control, name, entries);
    } else {
        entries.append({name, TextareaValue(control)});
    }
}

// Collects a form's entries in one walk over the page: a control is the form's
// when its form attribute names the form (by the id that finds the form first),
// or, without that attribute, when the form is the nearest form around it.
class EntryListVisitor {
public:
    EntryListVisitor(xmlNode *root, const xmlNode *form, const xmlNode *submitter)
        : form_(form), submitter_(submitter), formId_(Attribute(form, "id")),
          namedByItsId_(ElementById(root, formId_) == form) {}

    bool Enter(const xmlNode *node) {
        if (IsElement(node, "form"))
            openForms_.push_back(node);
        if (IsElementIn(node, kListedControls) && !HasAttribute(node, "disabled") && IsOwn(node))
            AppendControl(node, submitter_, entries_);
        return true;
    }

    void Leave(const xmlNode *node) {
        if (IsElement(node, "form"))
            openForms_.pop_back();
    }

    QList<FormEntry> Finish() { return std::move(entries_); }

private:
    bool IsOwn(const xmlNode *control) const {
        if (HasAttribute(control, "form"))
            return namedByItsId_ && Attribute(control, "form") == formId_;
        return !openForms_.empty() && openForms_.back() == form_;
    }

    const xmlNode *form_;
    const xmlNode *submitter_;
    QString formId_;
    bool namedByItsId_;
    std::vector<const xmlNode *> openForms_; // the forms around the node, innermost last
    QList<FormEntry> entries_;
};

// The entries a form submits, in document order, line breaks as CR LF.
QList<FormEntry> EntryList(xmlNode *root, const xmlNode *form, const xmlNode *submitter) {
    EntryListVisitor visitor(root, form, submitter);
    Walk(root, visitor);
    QList<FormEntry> entries = visitor.Finish();
    for (FormEntry &entry : entries) {
        entry.name = UnixNewlines(entry.name).replace(u'\n', QLatin1String("\r\n"));
        entry.value = UnixNewlines(entry.value).replace(u'\n', QLatin1String("\r\n"));
    }
    return entries;
}

QByteArray UrlEncoded(const QList<FormEntry> &entries, const QByteArray &charset) {
    const auto encode = [&charset](const QString &text) {
        return EncodeText(text, charset).toPercentEncoding(" *", "~").replace(' ', '+');
    };
    QByteArrayList pairs;
    for (const FormEntry &entry : entries)
        pairs.append(encode(entry.name) + '=' + encode(entry.value));
    return pairs.join('&');
}

QByteArray MultipartBody(const QList<FormEntry> &entries, const QByteArray &charset,
                         const QByteArray &boundary) {
    QByteArray body;
    for (const FormEntry &entry : entries) {
        const QByteArray name = EncodeText(entry.name, charset)
                                    .replace('\n', "%0A")
                                    .replace('\r', "%0D")
                                    .replace('"', "%22");
        body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name +
                "\"\r\n\r\n" + EncodeText(entry.value, charset) + "\r\n";
    }
    return body + "--" + boundary + "--\r\n";
}

// The submitter's formaction, formmethod and formenctype override the form's.
QString SubmissionSetting(const xmlNode *submitter, const xmlNode *form, const char *name) {
    const QByteArray override = QByteArray("form") + name;
    return HasAttribute(submitter, override.constData())
               ? Attribute(submitter, override.constData())
               : Attribute(form, name);
}

QByteArray NewBoundary() {
    return "----------------FormBoundary" +
           QByteArray::number(QRandomGenerator::global()->generate64(), 16);
}

// ---- Charset declarations -------------------------------------------------

QByteArray MetaCharset(const QByteArray &bytes) {
    // Built per page: a shared one would be used by several loading threads at once.
    const QRegularExpression declaration(
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

QByteArray DeclaredPageCharset(const QByteArray &bytes, const QByteArray &contentType) {
    const QByteArray header = CharsetOfContentType(contentType);
    return IsKnownCharset(header) ? header : MetaCharset(bytes);
}

void HtmlDocument::FreeDocument::operator()(_xmlDoc *document) const {
    xmlFreeDoc(document);
}

HtmlDocument HtmlDocument::Copy() const {
    HtmlDocument copy;
    copy.document_.reset(document_ ? xmlCopyDoc(document_.get(), 1) : nullptr);
    copy.url_ = url_;
    copy.charset_ = charset_;
    return copy;
}

HtmlDocument::HtmlDocument(const QByteArray &bytes, const QString &url,
                           const QByteArray &contentType)
    : url_(url) {
    DecodedText decoded = DecodeTextAndCharset(bytes, DeclaredPageCharset(bytes, contentType));
    charset_ = decoded.charset;
    const QByteArray utf8 =
        decoded.text.replace(QChar(u'\0'), QChar::ReplacementCharacter).toUtf8();
    InitialiseLibxmlOnce();
    document_.reset(htmlReadMemory(utf8.constData(),
                                   static_cast<int>(std::min<qsizetype>(utf8.size(), INT_MAX)),
                                   nullptr, "UTF-8", kParseOptions));
}

QString HtmlDocument::InnerText() const {
    xmlNode *root = RootOf(document_.get());
    const xmlNode *body =
        root ? FindElement(root, [](const xmlNode *node) { return IsElement(node, "body"); })
             : nullptr;
    if (!body)
        return {};
    InnerTextVisitor visitor;
    Walk(body, visitor);
    return visitor.Finish();
}

bool HtmlDocument::SetElementValue(const QString &id, const QString &value) {
    xmlNode *element = ElementById(RootOf(document_.get()), id);
    if (!element)
        return false;
    const QByteArray utf8 = value.toUtf8();
    if (IsElement(element, "input")) {
        xmlSetProp(element, Xml("value"), Xml(utf8.constData()));
    } else if (IsElement(element, "textarea")) {
        // A leading line break would be taken for the one after the start tag.
        const QByteArray text = value.startsWith(u'\n') ? '\n' + utf8 : utf8;
        xmlNodeSetContent(element, nullptr);
        xmlAddChild(element, xmlNewDocText(document_.get(), Xml(text.constData())));
    }
    return true;
}

bool HtmlDocument::SubmitsOnClick(const QString &id) const {
    return FindSubmitter(RootOf(document_.get()), id).has_value();
}

std::optional<FormSubmission> HtmlDocument::SubmissionOnClick(const QString &id) const {
    xmlNode *root = RootOf(document_.get());
    const std::optional<Submitter> found = FindSubmitter(root, id);
    if (!found)
        return std::nullopt;
    const auto [submitter, form] = *found;
    const QList<FormEntry> entries = EntryList(root, form, submitter);
    const auto setting = [&](const char *name) {
        return SubmissionSetting(submitter, form, name).trimmed().toLower();
    };
    QUrl action = QUrl(url_).resolved(QUrl(SubmissionSetting(submitter, form, "action").trimmed()));
    FormSubmission submission;
    if (setting("method") != u"post") {
        action.setQuery(QString::fromLatin1(UrlEncoded(entries, charset_)));
        submission.method = "GET";
    } else if (setting("enctype") == u"multipart/form-data") {
        const QByteArray boundary = NewBoundary();
        submission = {"POST",
                      {},
                      MultipartBody(entries, charset_, boundary),
                      "multipart/form-data; boundary=" + boundary};
    } else {
        submission = {
            "POST", {}, UrlEncoded(entries, charset_), "application/x-www-form-urlencoded"};
    }
    submission.url = action.toString(QUrl::FullyEncoded);
    return submission;
}

} // namespace platform
