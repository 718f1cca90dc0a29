// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/html_browser.h"

#include "platform/text_decoding.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

namespace platform {

namespace {

bool IsBlankPage(const QString &url) {
    return url.compare(kBlankPage, Qt::CaseInsensitive) == 0;
}

// The page shown for a load that brought no response.
QByteArray FailurePage() {
    return QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\">"
                          "<title>无法显示此页</title></head><body><h1>无法显示此页</h1>"
                          "<p>无法连接到此网页。请检查地址是否正确，或稍后再试。</p></body></html>")
        .toUtf8();
}

// Whether a document that names no type begins as a browser takes for HTML:
// with one of these tags or a comment, after white space.
bool BeginsLikeHtml(const QByteArray &bytes) {
    static constexpr std::string_view kTags[] = {
        "<html",  "<head",  "<script", "<iframe", "<h1", "<div", "<font", "<table",        "<a",
        "<style", "<title", "<b",      "<body",   "<br", "<p",   "<!--",  "<!doctype html"};
    qsizetype at = bytes.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at])))
        ++at;
    const QByteArray start = bytes.mid(at, 16).toLower();
    if (start.startsWith("<?xml"))
        return true;
    return std::any_of(std::begin(kTags), std::end(kTags), [&start](std::string_view tag) {
        const auto length = static_cast<qsizetype>(tag.size());
        return start.startsWith(QByteArrayView(tag)) && start.size() > length &&
               (start[length] == '>' || std::isspace(static_cast<unsigned char>(start[length])));
    });
}

// A browser shows a plain-text document as preformatted text, and so does a
// document without a type that does not begin like HTML.
bool IsPlainText(const QByteArray &bytes, const QByteArray &contentType) {
    const QByteArray type = contentType.split(';').first().trimmed().toLower();
    return type == "text/plain" || (type.isEmpty() && !BeginsLikeHtml(bytes));
}

// The page a browser makes of a plain-text document: its text in one <pre>.
QByteArray PreformattedPage(const QByteArray &bytes, const QByteArray &contentType) {
    // Reading the page drops the line break right after <pre>; the one added
    // here keeps a line break that the text itself begins with.
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body><pre>\n" +
           DecodeText(bytes, CharsetOfContentType(contentType)).toHtmlEscaped().toUtf8() +
           "</pre></body></html>";
}

} // namespace

TransferLimits HtmlBrowser::documentLimits() {
    TransferLimits limits;
    // A large directory over a slow link takes as long as it takes; only a
    // server that stops sending ends the load.
    limits.totalTimeoutMs = 0;
    limits.stallTimeoutMs = 30000;
    // 200,000 stations at 335 bytes a line, two and a half times the line the
    // companion server writes (about 134 bytes).
    limits.maxBodyBytes = 64 * 1024 * 1024;
    return limits;
}

HtmlBrowser::HtmlBrowser(TransferLimits limits, QObject *parent)
    : WebBrowser(parent), limits_(limits) {}

void HtmlBrowser::Navigate2(const QString &url) {
    TransferRequest request;
    request.url = url.trimmed();
    if (IsBlankPage(request.url)) {
        // The blank page needs no load: the page held so far is let go at once
        // (a large one holds its tree and its text), and the completion still
        // comes from the event loop.
        cancelRunningLoads();
        const std::uint64_t generation = ++generation_;
        show(Page{HtmlDocument(), {}, kBlankPage, 0});
        ReturnFreeMemory();
        QMetaObject::invokeMethod(
            this,
            [this, generation] {
                if (generation == generation_)
                    emit DocumentComplete();
            },
            Qt::QueuedConnection);
        return;
    }
    start([request = std::move(request)] { return request; });
}

QByteArray HtmlBrowser::BodyTextUtf8() const {
    if (bodyTextStale_) {
        bodyText_ = document_->innerTextUtf8();
        bodyTextStale_ = false;
    }
    return bodyText_;
}

bool HtmlBrowser::setElementValue(const QString &id, const QString &value) {
    if (documentSubmitted_) {
        // A submission's thread may still be reading the page: edit a copy.
        document_ = std::make_shared<HtmlDocument>(document_->copy());
        documentSubmitted_ = false;
    }
    if (!document_->setElementValue(id, value))
        return false;
    bodyTextStale_ = true;
    return true;
}

bool HtmlBrowser::clickElement(const QString &id) {
    if (!document_->submitsOnClick(id))
        return false;
    // The form's entries are gathered on the load's thread, since a page can
    // hold any number of controls; an edit meanwhile goes to a copy of the page.
    documentSubmitted_ = true;
    start([document = std::shared_ptr<const HtmlDocument>(document_), id, referer = location_] {
        TransferRequest request;
        if (const std::optional<FormSubmission> submission = document->submissionOnClick(id)) {
            request.method = submission->method;
            request.url = submission->url;
            request.body = submission->body;
            request.contentType = submission->contentType;
        }
        request.referer = referer;
        return request;
    });
    return true;
}

void HtmlBrowser::start(std::function<TransferRequest()> makeRequest) {
    cancelRunningLoads();
    auto load = std::make_unique<Load>();
    load->generation = ++generation_;
    Load *running = load.get();
    auto page = std::make_shared<Page>();
    running->task = std::make_unique<BackgroundTask>(
        [limits = limits_, makeRequest = std::move(makeRequest), page](const BackgroundTask &task) {
            TransferRequest request = makeRequest();
            request.limits = limits;
            *page = fetch(request, task.cancelFlag());
        },
        [this, running, page] { finish(running, page); });
    loads_.push_back(std::move(load));
}

HtmlBrowser::Page HtmlBrowser::fetch(const TransferRequest &request,
                                     const std::atomic<bool> &cancel) {
    if (IsBlankPage(request.url))
        return {HtmlDocument(), {}, kBlankPage, 0};
    TransferResult result = Transfer(request, &cancel);
    if (cancel.load())
        return {}; // superseded: no one looks at it
    // A page cut at the cap is no page: shown whole it would pass for complete
    // (a directory quietly missing its later stations).
    if (!result.responded || result.bodyTruncated)
        return readPage(FailurePage(), "text/html; charset=utf-8", request.url, 0);
    return readPage(std::move(result.body), result.contentType, result.effectiveUrl, result.status);
}

HtmlBrowser::Page HtmlBrowser::readPage(QByteArray bytes, const QByteArray &contentType,
                                        const QString &location, int status) {
    Page page{IsPlainText(bytes, contentType)
                  ? HtmlDocument(PreformattedPage(bytes, contentType), location, "text/html")
                  : HtmlDocument(std::move(bytes), location, contentType),
              {},
              location,
              status};
    page.bodyText = page.document.innerTextUtf8();
    return page;
}

void HtmlBrowser::finish(Load *load, const std::shared_ptr<Page> &page) {
    const bool newest = load->generation == generation_;
    loads_.remove_if([load](const std::unique_ptr<Load> &entry) { return entry.get() == load; });
    if (!newest)
        return;
    show(std::move(*page));
    emit DocumentComplete();
}

void HtmlBrowser::show(Page &&page) {
    document_ = std::make_shared<HtmlDocument>(std::move(page.document));
    documentSubmitted_ = false;
    bodyText_ = std::move(page.bodyText);
    bodyTextStale_ = false;
    location_ = std::move(page.location);
    status_ = page.status;
}

void HtmlBrowser::cancelRunningLoads() {
    for (const std::unique_ptr<Load> &load : loads_)
        load->task->cancel();
}

} // namespace platform
