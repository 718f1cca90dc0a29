// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/board_form.h"

#include "contract/directory_contract.h"

#include <string_view>

namespace directory {

namespace {

// The value of the named field of a url-encoded form, decoded; empty when the
// form has no such field. The one place the server's own parser is called.
std::string UrlEncodedField(const std::string &form, std::string_view name) {
    httplib::Params fields;
    httplib::detail::parse_query_text(form, fields);
    const auto found = fields.find(std::string(name));
    return found == fields.end() ? std::string() : found->second;
}

} // namespace

bool ReadBoardMessage(const httplib::Request &request, const httplib::ContentReader &read,
                      httplib::Response &response, std::string &text) {
    std::size_t received = 0;
    bool inField = true; // url-encoded: the whole body, parsed below
    std::string bytes;
    const auto receive = [&](const char *data, std::size_t length) {
        received += length;
        if (inField && received <= kMaxMessageBytes) {
            bytes.append(data, length);
        }
        return received <= kMaxMessageBytes;
    };
    const bool complete = request.is_multipart_form_data()
                              ? read(
                                    [&](const httplib::MultipartFormData &part) {
                                        inField = part.name == contract::kBoardField;
                                        return true;
                                    },
                                    receive)
                              : read(receive);
    if (received > kMaxMessageBytes) {
        response.status = 413;
        return false;
    }
    if (!complete) {
        // The server has set 413 itself for a declared length over the limit.
        response.status = response.status == 413 ? 413 : 400;
        return false;
    }
    if (request.is_multipart_form_data()) {
        text = std::move(bytes);
        return true;
    }
    text = UrlEncodedField(bytes, contract::kBoardField);
    return true;
}

} // namespace directory
