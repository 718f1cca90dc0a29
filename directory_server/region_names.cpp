// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/region_names.h"

#include <algorithm>
#include <cctype>
#include <unicode/locid.h>
#include <unicode/unistr.h>
#include <utility>

namespace directory {

namespace {

// The regions of China by the names station lists give them, lower case
// without spaces or punctuation, and the word the quick search matches. Longer
// names of the same region ("Guangxi Zhuang Autonomous Region", "北京市")
// begin with one of these.
constexpr std::pair<std::string_view, std::string_view> kChineseRegions[] = {
    {"beijing", "北京"},     {"peking", "北京"},         {"tianjin", "天津"},
    {"shanghai", "上海"},    {"chongqing", "重庆"},      {"hebei", "河北"},
    {"shanxi", "山西"},      {"shaanxi", "陕西"},        {"liaoning", "辽宁"},
    {"jilin", "吉林"},       {"heilongjiang", "黑龙江"}, {"jiangsu", "江苏"},
    {"zhejiang", "浙江"},    {"anhui", "安徽"},          {"fujian", "福建"},
    {"jiangxi", "江西"},     {"shandong", "山东"},       {"henan", "河南"},
    {"hubei", "湖北"},       {"hunan", "湖南"},          {"guangdong", "广东"},
    {"canton", "广东"},      {"hainan", "海南"},         {"sichuan", "四川"},
    {"guizhou", "贵州"},     {"yunnan", "云南"},         {"gansu", "甘肃"},
    {"qinghai", "青海"},     {"taiwan", "台湾"},         {"innermongolia", "内蒙古"},
    {"neimongol", "内蒙古"}, {"neimenggu", "内蒙古"},    {"guangxi", "广西"},
    {"tibet", "西藏"},       {"xizang", "西藏"},         {"ningxia", "宁夏"},
    {"xinjiang", "新疆"},    {"hongkong", "香港"},       {"xianggang", "香港"},
    {"macau", "澳门"},       {"macao", "澳门"},          {"aomen", "澳门"},
    {"northeast", "东北"},   {"dongbei", "东北"},        {"manchuria", "东北"},
    {"zaozhuang", "枣庄"},   {"北京", "北京"},           {"天津", "天津"},
    {"上海", "上海"},        {"重庆", "重庆"},           {"河北", "河北"},
    {"山西", "山西"},        {"陕西", "陕西"},           {"辽宁", "辽宁"},
    {"吉林", "吉林"},        {"黑龙江", "黑龙江"},       {"江苏", "江苏"},
    {"浙江", "浙江"},        {"安徽", "安徽"},           {"福建", "福建"},
    {"江西", "江西"},        {"山东", "山东"},           {"河南", "河南"},
    {"湖北", "湖北"},        {"湖南", "湖南"},           {"广东", "广东"},
    {"海南", "海南"},        {"四川", "四川"},           {"贵州", "贵州"},
    {"云南", "云南"},        {"甘肃", "甘肃"},           {"青海", "青海"},
    {"台湾", "台湾"},        {"内蒙古", "内蒙古"},       {"广西", "广西"},
    {"西藏", "西藏"},        {"宁夏", "宁夏"},           {"新疆", "新疆"},
    {"香港", "香港"},        {"澳门", "澳门"},           {"东北", "东北"},
    {"枣庄", "枣庄"},
};

// The state as the table spells names: ASCII letters in lower case, other
// characters (Chinese ones) kept, spaces, digits and punctuation left out.
std::string TableSpelling(std::string_view state) {
    std::string spelled;
    for (char c : state) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            spelled += c;
        } else if (std::isalpha(byte)) {
            spelled += static_cast<char>(std::tolower(byte));
        }
    }
    return spelled;
}

// The region word of a state of China, or empty when the state names none.
std::string_view ChineseRegion(std::string_view state) {
    const std::string spelled = TableSpelling(state);
    std::string_view best;
    std::size_t bestLength = 0;
    for (const auto &[name, word] : kChineseRegions) {
        if (name.size() > bestLength && std::string_view(spelled).starts_with(name)) {
            best = word;
            bestLength = name.size();
        }
    }
    return best;
}

} // namespace

std::string RegionOfStation(std::string_view countryCode, std::string_view state) {
    if (countryCode.size() != 2 || !std::isalpha(static_cast<unsigned char>(countryCode[0])) ||
        !std::isalpha(static_cast<unsigned char>(countryCode[1]))) {
        return {};
    }
    std::string code(countryCode);
    std::transform(code.begin(), code.end(), code.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    // Hong Kong, Macau and Taiwan are regions of the quick search, not countries.
    if (code == "HK") {
        return "香港";
    }
    if (code == "MO") {
        return "澳门";
    }
    if (code == "TW") {
        return "台湾";
    }
    if (code == "CN") {
        const std::string_view region = ChineseRegion(state);
        if (!region.empty()) {
            return std::string(region);
        }
    }
    icu::UnicodeString name;
    icu::Locale("", code.c_str()).getDisplayCountry(icu::Locale::getChinese(), name);
    std::string utf8;
    name.toUTF8String(utf8);
    return utf8;
}

} // namespace directory
