// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

namespace platform {

// The empty page a browser holds when it is to let its page go.
inline const QString kBlankPage = QStringLiteral("about:blank");

// A hidden web browser: loads pages in the background and offers their text
// and form elements. Lives on the UI thread; DocumentComplete is emitted there.
class WebBrowser : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~WebBrowser() override = default;

    // Starts loading url (http, https or "about:blank") and returns at once. A
    // newer navigation supersedes a load still running: only the newest one completes.
    // "about:blank" is held at once, letting the page before it go; its
    // DocumentComplete still follows from the event loop.
    virtual void Navigate2(const QString &url) = 0;
    void Navigate(const QString &url) { Navigate2(url); }

    // The address of the document now held ("about:blank" after the blank page,
    // the failed URL after a failed load).
    virtual QString LocationURL() const = 0;
    // The body's innerText in UTF-8, lines joined by CR LF: a large page's
    // text in half the memory of a QString.
    virtual QByteArray BodyTextUtf8() const = 0;
    QString BodyText() const { return QString::fromUtf8(BodyTextUtf8()); }
    // HTTP status of the document now held: 0 for a failed load and "about:blank".
    virtual int httpStatus() const = 0;

    // Sets the value of the element with this id; false when there is none.
    virtual bool setElementValue(const QString &id, const QString &value) = 0;
    // Clicks the element with this id; for a submit control this submits its
    // form, a navigation that ends in DocumentComplete. False when there is no
    // such element; true when the click started a submission.
    virtual bool clickElement(const QString &id) = 0;

signals:
    // Follows every load that was not superseded, failed loads included.
    void DocumentComplete();
};

} // namespace platform
