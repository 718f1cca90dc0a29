// SPDX-License-Identifier: GPL-3.0-or-later

// Input: a Content-Type header value, LF, the page's bytes.
#include "platform/html_document.h"
#include "platform/text_decoding.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> parts = fuzz::SplitInput(data, size, 2);
    const QByteArray &contentType = parts[0];
    const QByteArray &page = parts[1];
    platform::DeclaredPageCharset(page, contentType);
    const platform::HtmlDocument document(page, QStringLiteral("http://127.0.0.1:8159/x/index.asp"),
                                          contentType);
    document.innerTextUtf8();
    return 0;
}
