// SPDX-License-Identifier: GPL-3.0-or-later

// The message to the author, posted through the hidden message-board page.
//
// A send is a short sequence driven by the browser's completed pages and
// bounded by one deadline: wait for the board page if it is still loading,
// fill in and submit its form, wait for the board's answer. The window's
// event loop runs on meanwhile, so the send ends with the window: once it is
// closed or destroyed nothing more is told of it. Quitting the program ends
// the window's modal loop, and the window is destroyed with its send.

#include "about_window/form2.h"
#include "contract/directory_contract.h"
#include "platform/http_request.h"
#include "platform/log_categories.h"

#include <QHideEvent>
#include <QPlainTextEdit>

namespace {

// The longest a send waits for pages: a board page still loading, then the
// board's answer. Longer than the browser's limit for a silent server, so that
// such a failure always arrives first.
constexpr int kSendWaitMs = 35000;

} // namespace

QString Form2::feedbackText() const {
    QString text = Text2->toPlainText();
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

void Form2::SendFeedback() {
    // A click while a message is on its way would post it twice.
    if (sendStep_ != SendStep::Idle) {
        return;
    }
    sendDeadline_.start(kSendWaitMs);
    if (boardLoading_) {
        sendStep_ = SendStep::WaitingForBoard;
    } else {
        postFeedback();
    }
}

void Form2::hideEvent(QHideEvent *event) {
    // A spontaneous hide is the window system's (the window minimised): the
    // window is still open.
    if (!event->spontaneous()) {
        abandonSend();
    }
    FixedDialog::hideEvent(event);
}

void Form2::loadBoardPage() {
    boardLoading_ = true;
    WebBrowser1->Navigate(platform_.endpoints().messageBoardPage);
}

void Form2::pageComplete() {
    boardLoading_ = false;
    switch (sendStep_) {
    case SendStep::WaitingForBoard:
        postFeedback();
        break;
    case SendStep::WaitingForAnswer: {
        // Success is claimed only when the board really took the message:
        // its answer came with a success status.
        const int status = WebBrowser1->httpStatus();
        // The board's answer holds no form: the next send needs the board page again.
        loadBoardPage();
        if (platform::IsSuccess(status)) {
            finishSend(true);
        } else {
            sendFailed(QStringLiteral("board post failed: HTTP %1").arg(status));
        }
        break;
    }
    case SendStep::Idle:
        break;
    }
}

void Form2::postFeedback() {
    if (WebBrowser1->setElementValue(QLatin1StringView(contract::kBoardTextId), feedbackText()) &&
        WebBrowser1->clickElement(QLatin1StringView(contract::kBoardButtonId))) {
        sendStep_ = SendStep::WaitingForAnswer;
        return;
    }
    const int status = WebBrowser1->httpStatus();
    sendFailed(platform::IsSuccess(status) ? QStringLiteral("board page has no form")
                                           : QStringLiteral("no board page: HTTP %1").arg(status));
}

void Form2::sendTimedOut() {
    switch (sendStep_) {
    case SendStep::WaitingForBoard:
        sendFailed(QStringLiteral("no board page within %1 s").arg(kSendWaitMs / 1000));
        break;
    case SendStep::WaitingForAnswer:
        // The form was submitted: the board page is needed again.
        loadBoardPage();
        sendFailed(QStringLiteral("no answer within %1 s").arg(kSendWaitMs / 1000));
        break;
    case SendStep::Idle:
        break;
    }
}

void Form2::sendFailed(const QString &why) {
    qCInfo(platform::lcBoard, "%s", qUtf8Printable(why));
    finishSend(false);
}

void Form2::finishSend(bool sent) {
    sendDeadline_.stop();
    // The box is modal: no click reaches the window while it is open, and
    // pages completing meanwhile (the board page again) belong to no send.
    sendStep_ = SendStep::Idle;
    if (sent) {
        Text2->setPlainText(kFeedbackGreeting);
        platform_.messageBoxes().show(this, QStringLiteral("发送成功！感谢你的支持"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    } else {
        // The text stays, so that nothing the user wrote is lost.
        platform_.messageBoxes().show(this, QStringLiteral("发送失败，请稍后再试"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    }
}

void Form2::abandonSend() {
    sendDeadline_.stop();
    // The form may have been submitted: the board page is needed again.
    if (sendStep_ == SendStep::WaitingForAnswer) {
        loadBoardPage();
    }
    sendStep_ = SendStep::Idle;
}
