// The message to the author, posted through the hidden message-board page.

#include "about_window/form2.h"

#include <QEventLoop>
#include <QPlainTextEdit>
#include <QTimer>

namespace {

// Longer than the browser's own limit for one exchange, so that the page's
// answer, or its failure, always arrives first.
constexpr int kSubmissionWaitMs = 35000;

bool IsSuccess(int status) {
    return status >= 200 && status < 300;
}

} // namespace

QString Form2::FeedbackText() const {
    QString text = Text2->toPlainText();
    return text.replace(u'\n', QStringLiteral("\r\n"));
}

bool Form2::WaitForSubmission() {
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    connect(&deadline, &QTimer::timeout, &loop, [&loop] { loop.exit(1); });
    connect(WebBrowser1.get(), &platform::WebBrowser::DocumentComplete, &loop,
            [&loop] { loop.exit(0); });
    deadline.start(kSubmissionWaitMs);
    return loop.exec() == 0;
}

void Form2::SendFeedback() {
    // A click while a message is on its way would post it twice.
    if (sending_) {
        return;
    }
    sending_ = true;
    // Success is claimed only when the board really took the message: the
    // page's form was submitted and its answer came with a success status.
    // Otherwise the text stays, so that nothing the user wrote is lost.
    const bool sent = WebBrowser1->SetElementValue(QStringLiteral("textarea"), FeedbackText()) &&
                      WebBrowser1->ClickElement(QStringLiteral("button")) && WaitForSubmission() &&
                      IsSuccess(WebBrowser1->HttpStatus());
    if (sent) {
        Text2->setPlainText(kFeedbackGreeting);
        platform_.messageBoxes().Show(this, QStringLiteral("发送成功！感谢你的支持"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    } else {
        platform_.messageBoxes().Show(this, QStringLiteral("发送失败，请稍后再试"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::None);
    }
    sending_ = false;
}
