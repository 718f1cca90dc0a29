// SPDX-License-Identifier: GPL-3.0-or-later

// Input: the id of the clicked control, LF, the id of a control to fill in, LF,
// the text filled in, LF, the page's bytes.
#include "platform/html_document.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> parts = fuzz::SplitInput(data, size, 4);
    platform::HtmlDocument document(parts[3], QStringLiteral("http://127.0.0.1:8159/x/maiz.asp"));
    document.setElementValue(QString::fromUtf8(parts[1]), QString::fromUtf8(parts[2]));
    const std::optional<platform::FormSubmission> submission =
        document.submissionOnClick(QString::fromUtf8(parts[0]));
    if (submission) {
        fuzz::Require(submission->method == "GET" || submission->method == "POST");
        fuzz::Require(submission->method == "POST" || submission->body.isEmpty());
    }
    return 0;
}
