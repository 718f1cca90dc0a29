// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>
#include <string_view>

namespace directory {

// The region shown for an imported station, in Chinese: for a station in
// China (country code CN, HK, MO or TW) the name of its province, municipality,
// autonomous region or special administrative region, read from the English or
// pinyin name the station lists give ("Guangdong", "Beijing Shi", "Hong Kong",
// "Inner Mongolia") or from a Chinese one ("广东省"), in the words the player's
// quick search matches (广东, 北京, 香港, 内蒙古); for any other station the
// Chinese name of its country. Empty when the country is unknown.
std::string RegionOfStation(std::string_view countryCode, std::string_view state);

} // namespace directory
