// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Rules for text the server writes between tagged-text markers such as
// "(title)…(/title)": the player takes a value up to the first closing marker
// and reads pages line by line, so values must be single-line UTF-8 without
// markers of their own.
namespace directory {

bool IsValidUtf8(std::string_view text);

// How many bytes at the start of the text are whole UTF-8 characters: the
// offset of the first byte that is not, or the text's size.
std::size_t ValidUtf8Length(std::string_view text);

// Trims the text and turns every run of spaces and tabs into one space, the way
// the page's text reads back.
std::string NormaliseSpaces(std::string_view text);

// Why text cannot stand between markers, or an empty string when it can.
std::string MarkerProblem(std::string_view text);

// Replaces the characters that mean markup in HTML (< > &) with their
// full-width forms, for text that is read both as raw text and as page text.
std::string WithoutMarkupCharacters(std::string_view text);

// Escapes text for an HTML element body or a quoted attribute.
std::string HtmlEscape(std::string_view text);

// The text without leading and trailing spaces and tabs, as header values read.
std::string_view TrimmedBlanks(std::string_view text);

// Whether the text is one to maxDigits ASCII digits, as ids and counts are written.
bool AllDigits(std::string_view text, std::size_t maxDigits);

// The pieces of the text between separators: one more than there are
// separators, empty ones included.
std::vector<std::string_view> SplitAt(std::string_view text, char separator);

// Equality ignoring ASCII case, as header names and tokens compare.
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

} // namespace directory
