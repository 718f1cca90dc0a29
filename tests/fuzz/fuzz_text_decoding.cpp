// SPDX-License-Identifier: GPL-3.0-or-later

// Input: a Content-Type header value, LF, the bytes to decode.
#include "platform/text_decoding.h"
#include "tests/fuzz/fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    const QList<QByteArray> parts = fuzz::SplitInput(data, size, 2);
    const QByteArray declared = platform::CharsetOfContentType(parts[0]);
    platform::IsKnownCharset(declared);
    const platform::DecodedText decoded = platform::DecodeTextAndCharset(parts[1], declared);
    fuzz::Require(platform::DecodeText(parts[1], declared) == decoded.text);
    fuzz::Require(platform::IsKnownCharset(decoded.charset));
    // A form sends the text back in the charset it was read with.
    platform::EncodeText(decoded.text, decoded.charset);
    return 0;
}
