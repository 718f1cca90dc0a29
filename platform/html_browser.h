// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "platform/background_task.h"
#include "platform/html_document.h"
#include "platform/http_transfer.h"
#include "platform/web_browser.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>

namespace platform {

// The hidden web browser over libcurl and libxml2. Each load (a navigation or a
// form submission) runs its transfer and parse on a thread of its own and hands
// the finished document to the UI thread through a queued call. Scripts never run.
class HtmlBrowser final : public WebBrowser {
    Q_OBJECT
public:
    // Documents may be far larger than request bodies: a station directory
    // runs to megabytes. A page longer than the cap fails like a load that
    // brought no response.
    static TransferLimits documentLimits();

    explicit HtmlBrowser(TransferLimits limits = documentLimits(), QObject *parent = nullptr);
    // Cancels running loads and waits for their threads, which stop within a
    // fraction of a second.
    ~HtmlBrowser() override = default;

    void Navigate2(const QString &url) override;
    QString LocationURL() const override { return location_; }
    // Read on the load's thread; after an edit, read again when next asked.
    QByteArray BodyTextUtf8() const override;
    int httpStatus() const override { return status_; }
    bool setElementValue(const QString &id, const QString &value) override;
    bool clickElement(const QString &id) override;

private:
    // A finished load, as the UI thread takes it over. The text is read on the
    // load's thread, so that a large page never holds up the UI thread.
    struct Page {
        HtmlDocument document;
        QByteArray bodyText;
        QString location;
        int status = 0;
    };
    // A load's task, and which navigation it belongs to.
    struct Load {
        std::uint64_t generation = 0;
        std::unique_ptr<BackgroundTask> task;
    };

    // makeRequest runs on the load's thread.
    void start(std::function<TransferRequest()> makeRequest);
    // Runs on the load's thread.
    static Page fetch(const TransferRequest &request, const std::atomic<bool> &cancel);
    // Lets the bytes go once they are read.
    static Page readPage(QByteArray bytes, const QByteArray &contentType, const QString &location,
                         int status);
    void finish(Load *load, const std::shared_ptr<Page> &page);
    // Makes the page the one held.
    void show(Page &&page);
    void cancelRunningLoads();

    TransferLimits limits_;
    std::uint64_t generation_ = 0; // of the newest navigation
    std::list<std::unique_ptr<Load>> loads_;
    // Shared with a submission's thread while it gathers the form's entries.
    std::shared_ptr<HtmlDocument> document_ = std::make_shared<HtmlDocument>();
    bool documentSubmitted_ = false; // a submission's thread may hold document_
    mutable QByteArray bodyText_;
    mutable bool bodyTextStale_ = false;
    QString location_;
    int status_ = 0;
};

} // namespace platform
