// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_forms.h"

#include "platform/text_decoding.h"
#include "platform/xml_tree.h"

#include <QList>
#include <QRandomGenerator>
#include <QUrl>
#include <vector>

namespace platform {

using namespace xml;

namespace {

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

    bool enter(const xmlNode *node) {
        if (IsElement(node, "form"))
            openForms_.push_back(node);
        if (IsElementIn(node, kListedControls) && !HasAttribute(node, "disabled") && isOwn(node))
            AppendControl(node, submitter_, entries_);
        return true;
    }

    void leave(const xmlNode *node) {
        if (IsElement(node, "form"))
            openForms_.pop_back();
    }

    QList<FormEntry> finish() { return std::move(entries_); }

private:
    bool isOwn(const xmlNode *control) const {
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
    QList<FormEntry> entries = visitor.finish();
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

} // namespace

std::optional<Submitter> FindSubmitter(xmlNode *root, const QString &id) {
    const xmlNode *control = ElementById(root, id);
    if (!control || !IsSubmitControl(control) || HasAttribute(control, "disabled"))
        return std::nullopt;
    const xmlNode *form = FormOwner(root, control);
    if (!form)
        return std::nullopt;
    return Submitter{control, form};
}

FormSubmission SubmissionOf(xmlNode *root, const Submitter &found, const QString &pageUrl,
                            const QByteArray &charset) {
    const xmlNode *submitter = found.control;
    const xmlNode *form = found.form;
    const QList<FormEntry> entries = EntryList(root, form, submitter);
    const auto setting = [&](const char *name) {
        return SubmissionSetting(submitter, form, name).trimmed().toLower();
    };
    QUrl action =
        QUrl(pageUrl).resolved(QUrl(SubmissionSetting(submitter, form, "action").trimmed()));
    FormSubmission submission;
    if (setting("method") != u"post") {
        action.setQuery(QString::fromLatin1(UrlEncoded(entries, charset)));
        submission.method = "GET";
    } else if (setting("enctype") == u"multipart/form-data") {
        const QByteArray boundary = NewBoundary();
        submission = {"POST",
                      {},
                      MultipartBody(entries, charset, boundary),
                      "multipart/form-data; boundary=" + boundary};
    } else {
        submission = {
            "POST", {}, UrlEncoded(entries, charset), "application/x-www-form-urlencoded"};
    }
    submission.url = action.toString(QUrl::FullyEncoded);
    return submission;
}

} // namespace platform
