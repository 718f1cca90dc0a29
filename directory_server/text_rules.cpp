// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/text_rules.h"

#include "contract/directory_contract.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <utility>

namespace directory {

namespace {

// Length of the UTF-8 sequence starting with lead, or 0 when lead cannot start one.
int SequenceLength(unsigned char lead) {
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        return 4;
    }
    return 0;
}

// Rejects overlong forms, UTF-16 surrogates and code points past U+10FFFF,
// which the lead byte alone does not rule out.
bool SecondByteAllowed(unsigned char lead, unsigned char second) {
    switch (lead) {
    case 0xE0:
        return second >= 0xA0;
    case 0xED:
        return second <= 0x9F;
    case 0xF0:
        return second >= 0x90;
    case 0xF4:
        return second <= 0x8F;
    default:
        return true;
    }
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t';
}

// The text with every character that has a replacement replaced by it.
std::string Replaced(std::string_view text,
                     std::initializer_list<std::pair<char, const char *>> replacements) {
    std::string result;
    result.reserve(text.size());
    for (char c : text) {
        const auto *found =
            std::find_if(replacements.begin(), replacements.end(),
                         [c](const auto &replacement) { return replacement.first == c; });
        if (found != replacements.end()) {
            result += found->second;
        } else {
            result += c;
        }
    }
    return result;
}

} // namespace

bool IsValidUtf8(std::string_view text) {
    return ValidUtf8Length(text) == text.size();
}

std::size_t ValidUtf8Length(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int length = SequenceLength(lead);
        if (length == 0 || i + length > text.size()) {
            return i;
        }
        for (int k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80 || (k == 1 && !SecondByteAllowed(lead, next))) {
                return i;
            }
        }
        i += length;
    }
    return i;
}

std::string NormaliseSpaces(std::string_view text) {
    std::string result;
    bool pendingSpace = false;
    for (char c : text) {
        if (IsSpace(c)) {
            pendingSpace = !result.empty();
            continue;
        }
        if (pendingSpace) {
            result += ' ';
            pendingSpace = false;
        }
        result += c;
    }
    return result;
}

std::string MarkerProblem(std::string_view text) {
    if (!IsValidUtf8(text)) {
        return "not UTF-8 text";
    }
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return "holds a control character";
        }
    }
    for (const std::string_view marker : contract::kMarkers) {
        if (text.find(marker) != std::string_view::npos) {
            return "holds the marker \"" + std::string(marker) + "\"";
        }
    }
    return {};
}

std::string WithoutMarkupCharacters(std::string_view text) {
    return Replaced(text, {{'<', "＜"}, {'>', "＞"}, {'&', "＆"}});
}

std::string HtmlEscape(std::string_view text) {
    return Replaced(text, {{'<', "&lt;"}, {'>', "&gt;"}, {'&', "&amp;"}, {'"', "&quot;"}});
}

std::string_view TrimmedBlanks(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool AllDigits(std::string_view text, std::size_t maxDigits) {
    return !text.empty() && text.size() <= maxDigits &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string_view> SplitAt(std::string_view text, char separator) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        pieces.push_back(text.substr(start, end - start));
        if (end == std::string_view::npos) {
            return pieces;
        }
        start = end + 1;
    }
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

} // namespace directory
