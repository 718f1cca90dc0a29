// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/pages.h"

#include "contract/directory_contract.h"
#include "directory_server/text_rules.h"

#include <algorithm>
#include <cctype>

namespace directory {

namespace {

constexpr std::string_view kPageEnd = "</body>\n</html>\n";

void AppendTagged(std::string &out, const contract::Tag &tag, std::string_view value) {
    out += tag.opening;
    // Most values hold nothing to escape and are copied as they are.
    if (value.find_first_of("<>&\"") == std::string_view::npos) {
        out += value;
    } else {
        out += HtmlEscape(value);
    }
    out += tag.closing;
}

std::string Tagged(const contract::Tag &tag, std::string_view value) {
    std::string tagged;
    AppendTagged(tagged, tag, value);
    return tagged;
}

// A page up to and including <body>; kPageEnd closes it.
std::string HtmlPageStart(std::string_view title) {
    std::string page = "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<title>";
    page += HtmlEscape(title);
    page += "</title>\n</head>\n<body>";
    return page;
}

std::string HtmlPage(std::string_view title, std::string_view body) {
    std::string page = HtmlPageStart(title);
    page += body;
    page += kPageEnd;
    return page;
}

void AppendStationLine(std::string &out, const Station &station, const std::string &base,
                       std::int64_t heat) {
    AppendTagged(out, contract::kId, station.id);
    AppendTagged(out, contract::kTitle, station.title);
    AppendTagged(out, contract::kUrl, PublishedUrl(station, base));
    AppendTagged(out, contract::kLocal, station.region);
    AppendTagged(out, contract::kHot, std::to_string(heat));
}

// A host part of a Host header that may be written into addresses: a name or
// IPv4 address, or a bracketed IPv6 address.
bool IsPlainHost(std::string_view host) {
    if (host.empty() || host.size() > 253) {
        return false;
    }
    if (host.front() == '[') {
        return host.size() > 2 && host.back() == ']' &&
               std::all_of(host.begin() + 1, host.end() - 1, [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
               });
    }
    return std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-';
    });
}

// The host of a Host header, without the port.
std::string_view HostPart(std::string_view hostHeader) {
    const std::size_t bracket = hostHeader.rfind(']');
    const std::size_t colon = hostHeader.rfind(':');
    if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
        return hostHeader.substr(0, colon);
    }
    return hostHeader;
}

} // namespace

std::string PublicBase(const std::string &boundAddress, int port, std::string_view hostHeader) {
    std::string host = boundAddress;
    if (host == "0.0.0.0" || host == "::" || host.empty()) {
        const std::string_view named = HostPart(hostHeader);
        host = IsPlainHost(named) ? std::string(named) : "127.0.0.1";
    } else if (host.find(':') != std::string::npos) {
        host = "[" + host + "]";
    }
    return "http://" + host + ":" + std::to_string(port);
}

std::string PublishedUrl(const Station &station, const std::string &base) {
    return station.url.starts_with('/') ? base + station.url : station.url;
}

std::string StationLine(const Station &station, const std::string &base, std::int64_t heat) {
    std::string line;
    AppendStationLine(line, station, base, heat);
    return line;
}

std::string DirectoryPage(const std::vector<Station> &stations,
                          const std::vector<std::int64_t> &heat, const std::string &base) {
    // The page is large: its room is taken once, from what the lines hold
    // (the tags, "<br>", a base and a number each), rather than grown.
    constexpr std::size_t kLineFraming = 80;
    std::size_t size = 1024;
    for (const Station &station : stations) {
        size += station.id.size() + station.title.size() + station.url.size() +
                station.region.size() + base.size() + kLineFraming;
    }
    std::string page = HtmlPageStart("电台目录");
    page.reserve(size);
    // No line breaks in the source: <br> alone separates the lines of text.
    page += contract::kDirectoryMarker;
    for (std::size_t i = 0; i < stations.size(); ++i) {
        page += "<br>";
        AppendStationLine(page, stations[i], base, heat[i]);
    }
    page += kPageEnd;
    return page;
}

std::string AnnouncementText(const std::string &announcement) {
    return Tagged(contract::kAnnouncement, announcement);
}

std::string HomePage(const std::string &version, const std::string &downloadUrl,
                     const std::string &announcement) {
    return HtmlPage("Quorvel收音机", "<h1>Quorvel收音机</h1>\n<p>最新版本：" +
                                         Tagged(contract::kNewestVersion, version) +
                                         "</p>\n<p>下载地址：" +
                                         Tagged(contract::kDownload, downloadUrl) + "</p>\n<p>" +
                                         AnnouncementText(announcement) + "</p>\n");
}

std::string DownloadPage(const std::string &version) {
    return HtmlPage("下载 Quorvel收音机",
                    "<h1>Quorvel收音机 " + HtmlEscape(version) +
                        "</h1>\n<p>本机的目录服务器随收音机一同发布。请向您的发行者索取最新的"
                        "安装包。</p>\n");
}

std::string BoardPage() {
    std::string body = "<h1>留言板</h1>\n<form method=\"post\" action=\"";
    body += contract::kBoardPath;
    body += "\">\n<p><textarea id=\"";
    body += contract::kBoardTextId;
    body += "\" name=\"";
    body += contract::kBoardField;
    body += "\" rows=\"8\" cols=\"60\"></textarea></p>\n<p><input type=\"submit\" id=\"";
    body += contract::kBoardButtonId;
    body += "\" value=\"提交留言\"></p>\n</form>\n";
    return HtmlPage("留言板", body);
}

std::string ThanksPage() {
    return HtmlPage("谢谢", "<h1>谢谢您的留言！</h1>\n<p>我们会认真阅读每一条意见。</p>\n");
}

std::string EmptyMessagePage() {
    std::string body = "<h1>留言是空的</h1>\n<p>请<a href=\"";
    body += contract::kBoardPath;
    body += "\">返回</a>写下您的留言。</p>\n";
    return HtmlPage("留言板", body);
}

std::string ErrorPage(int status) {
    const std::string code = std::to_string(status);
    const char *text = status == 404   ? "找不到此页面。"
                       : status == 408 ? "请求发送得太慢。"
                       : status == 413 ? "内容太长，未保存。"
                       : status == 431 ? "请求头太长。"
                       : status == 503 ? "服务器繁忙，请稍后再试。"
                                       : "请求无法完成。";
    return HtmlPage(code, "<h1>" + code + "</h1>\n<p>" + text + "</p>\n");
}

std::string AsxPlaylist(const std::string &title, const std::string &url) {
    return "<asx version=\"3.0\">\n<title>" + HtmlEscape(title) + "</title>\n<entry>\n<title>" +
           HtmlEscape(title) + "</title>\n<ref href=\"" + HtmlEscape(url) +
           "\"/>\n</entry>\n</asx>\n";
}

} // namespace directory
