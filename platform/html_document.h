// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <optional>

struct _xmlDoc;

namespace platform {

// What a click on a submit control sends.
struct FormSubmission {
    QByteArray method;      // "GET" or "POST"
    QString url;            // the resolved action; for GET with the form data as its query
    QByteArray body;        // POST only
    QByteArray contentType; // of the POST body
};

// An HTML page as libxml2's HTML parser reads it: its rendered text, elements
// found by id, and the form submissions its submit controls make. The bytes are
// decoded here (the declared charset, else as DecodeText finds it) and the
// parser gets UTF-8, so it never guesses. Scripts are never run. Any bytes make
// a document, empty at worst.
class HtmlDocument {
public:
    HtmlDocument() = default; // the empty document
    // Lets the bytes go once they are decoded, when the caller has handed them over.
    HtmlDocument(QByteArray bytes, const QString &url, const QByteArray &contentType = {});

    QString url() const { return url_; }
    // The charset the page was read with; forms are encoded in it.
    QByteArray charset() const { return charset_; }

    // The body's innerText in UTF-8, lines joined by CR LF. Hidden content (head, script,
    // style, template, noscript, select, [hidden], inline display:none) is left
    // out; block elements start new lines, a <p> stands apart by a blank line,
    // <br> breaks a line, table cells are separated by tabs, and white space is
    // collapsed except in pre and textarea, whose text is kept as written.
    QByteArray innerTextUtf8() const;

    // Sets an input's value attribute or a textarea's text; other elements are
    // left as they are. False when no element has this id.
    bool setElementValue(const QString &id, const QString &value);

    // Whether a click on the element with this id submits a form: it is an
    // enabled submit control of one. Finds the element, without building the
    // submission.
    bool submitsOnClick(const QString &id) const;
    // The submission a click on the element with this id makes, or nothing when
    // it is no enabled submit control of a form.
    std::optional<FormSubmission> submissionOnClick(const QString &id) const;

    // A deep copy, to edit while another thread still reads this one.
    HtmlDocument copy() const;

private:
    struct FreeDocument {
        void operator()(_xmlDoc *document) const;
    };

    std::unique_ptr<_xmlDoc, FreeDocument> document_;
    QString url_;
    QByteArray charset_ = "utf-8";
};

} // namespace platform
