// The message to the author, posted through the hidden message-board page.

#include "about_window/form2.h"
#include "contract/directory_contract.h"
#include "platform/http_request.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>

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

bool Form2::waitForPage(const QDeadlineTimer &deadline) {
    QEventLoop loop;
    QTimer expiry;
    expiry.setSingleShot(true);
    connect(&expiry, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    connect(WebBrowser1.get(), &platform::WebBrowser::DocumentComplete, &loop,
            [&loop] { loop.exit(0); });
    expiry.start(static_cast<int>(deadline.remainingTime()));
    return loop.exec() == 0;
}

void Form2::loadBoardPage() {
    boardLoading_ = true;
    WebBrowser1->Navigate(platform_.endpoints().messageBoardPage);
}

void Form2::SendFeedback() {
    // A click while a message is on its way would post it twice.
    if (sending_) {
        return;
    }
    sending_ = true;
    const QDeadlineTimer deadline(kSendWaitMs);
    // Success is claimed only when the board really took the message: the
    // page's form was submitted and its answer came with a success status.
    // Otherwise the text stays, so that nothing the user wrote is lost.
    const bool submitted =
        (!boardLoading_ || waitForPage(deadline)) &&
        WebBrowser1->setElementValue(QLatin1StringView(contract::kBoardTextId), feedbackText()) &&
        WebBrowser1->clickElement(QLatin1StringView(contract::kBoardButtonId));
    const bool sent =
        submitted && waitForPage(deadline) && platform::IsSuccess(WebBrowser1->httpStatus());
    // The board's answer holds no form: the next send needs the board page again.
    if (submitted) {
        loadBoardPage();
    }
    if (sent) {
        Text2->setPlainText(kFeedbackGreeting);
        platform_.messageBoxes().show(this, QStringLiteral("发送成功！感谢你的支持"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    } else {
        platform_.messageBoxes().show(this, QStringLiteral("发送失败，请稍后再试"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    }
    sending_ = false;
}
