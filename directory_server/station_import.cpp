// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/station_import.h"

#include "directory_server/region_names.h"
#include "directory_server/text_rules.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <iconv.h>
#include <optional>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace directory {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::size_t kMaxIdDigits = 9;
constexpr std::size_t kMaxHeatDigits = 12;

[[noreturn]] void Refuse(std::string_view name, const std::string &why) {
    throw ImportError(std::string(name) + ": " + why);
}

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    std::transform(lowered.begin(), lowered.end(), lowered.begin(), [](unsigned char c) {
        return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    });
    return lowered;
}

std::string_view WithoutBom(std::string_view text) {
    if (text.starts_with(kUtf8Bom)) {
        text.remove_prefix(kUtf8Bom.size());
    }
    return text;
}

} // namespace

std::string DecodedText(std::string_view name, std::string_view content) {
    content = WithoutBom(content);
    if (IsValidUtf8(content)) {
        return std::string(content);
    }
    iconv_t converter = iconv_open("UTF-8", "GB18030");
    if (converter == reinterpret_cast<iconv_t>(-1)) {
        Refuse(name, "the file is not UTF-8 and this system cannot read GB18030");
    }
    std::string utf8(content.size() * 2 + 4, '\0');
    char *in = const_cast<char *>(content.data());
    std::size_t inLeft = content.size();
    char *out = utf8.data();
    std::size_t outLeft = utf8.size();
    const std::size_t result = iconv(converter, &in, &inLeft, &out, &outLeft);
    iconv_close(converter);
    if (result == static_cast<std::size_t>(-1)) {
        Refuse(name, "byte " + std::to_string(in - content.data() + 1) +
                         " is neither UTF-8 nor GB18030 text");
    }
    utf8.resize(utf8.size() - outLeft);
    return utf8;
}

namespace {

std::int64_t Number(std::string_view digits) {
    std::int64_t value = 0;
    std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return value;
}

// An address the player can fetch: http or https, a host, no spaces.
bool IsHttpUrl(std::string_view url) {
    const std::string lowered = Lowered(url.substr(0, 8));
    std::size_t hostStart = 0;
    if (lowered.starts_with("http://")) {
        hostStart = 7;
    } else if (lowered.starts_with("https://")) {
        hostStart = 8;
    } else {
        return false;
    }
    return url.size() > hostStart && url[hostStart] != '/' &&
           url.find_first_of(" \t") == std::string_view::npos;
}

std::string ReplacedBars(std::string_view text, std::string_view replacement) {
    std::string replaced;
    for (char c : text) {
        if (c == '|') {
            replaced += replacement;
        } else {
            replaced += c;
        }
    }
    return replaced;
}

} // namespace

std::optional<std::pair<std::string_view, std::string>> StationProblem(Station &station,
                                                                       bool serverPaths) {
    // The station file separates fields with '|'.
    station.title = ReplacedBars(NormaliseSpaces(station.title), "｜");
    station.region = ReplacedBars(NormaliseSpaces(station.region), "｜");
    station.url = ReplacedBars(TrimmedBlanks(station.url), "%7C");
    for (const std::string *field : {&station.title, &station.region, &station.url}) {
        std::string problem = MarkerProblem(*field);
        if (!problem.empty()) {
            return std::pair{kSkipText, "\"" + *field + "\" " + problem};
        }
    }
    if (!IsHttpUrl(station.url) && !(serverPaths && station.url.starts_with('/'))) {
        return std::pair{kSkipNoUrl, station.url.empty() ? "no url" : station.url};
    }
    if (station.title.empty()) {
        return std::pair{kSkipNoTitle, station.url};
    }
    return std::nullopt;
}

namespace {

// Collects stations, leaving out those that cannot be served and repeats.
class Collector {
public:
    Collector(std::string_view name, ImportedStations &into) : name_(name), into_(into) {
        for (const Station &station : into_.stations) {
            keys_.insert(station.key);
            urls_.insert(station.url);
        }
    }

    // Adds the station read at where; serverPaths allows paths on this server
    // ("/stream/101.mp3"), which only our own list holds.
    void add(Station station, const std::string &where, bool serverPaths = false) {
        if (const auto problem = StationProblem(station, serverPaths)) {
            skip(where, problem->first, problem->second);
            return;
        }
        if (station.key.empty()) {
            station.key = station.url;
        }
        if (!keys_.insert(station.key).second || !urls_.insert(station.url).second) {
            skip(where, kSkipDuplicate, station.title + " " + station.url);
        } else {
            into_.stations.push_back(std::move(station));
        }
    }

    void skip(const std::string &where, std::string_view reason, std::string detail) {
        into_.skipped.push_back(
            {std::string(name_) + " " + where, std::string(reason), std::move(detail)});
    }

private:
    std::string_view name_;
    ImportedStations &into_;
    std::unordered_set<std::string> keys_;
    std::unordered_set<std::string> urls_;
};

std::string LineWhere(std::size_t number) {
    return "line " + std::to_string(number);
}

void ReadStationList(std::string_view text, Collector &collector) {
    StationList list = ParseStationList(text);
    for (const std::string &problem : list.problems) {
        const std::size_t colon = problem.find(": ");
        collector.skip(problem.substr(0, colon), kSkipBadLine, problem.substr(colon + 2));
    }
    for (std::size_t i = 0; i < list.stations.size(); ++i) {
        Station &station = list.stations[i];
        collector.add(std::move(station), LineWhere(list.lines[i]), true);
    }
}

// The title of an #EXTINF line: what follows the first comma outside quoted
// attribute values.
std::string ExtinfTitle(std::string_view line) {
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ',' && !quoted) {
            return std::string(line.substr(i + 1));
        }
    }
    return {};
}

void ReadM3u(std::string_view text, Collector &collector) {
    std::string title;
    for (const NumberedLine &line : Lines(text)) {
        const std::string_view content = TrimmedBlanks(line.text);
        if (content.starts_with("#EXTINF:")) {
            title = ExtinfTitle(content);
        } else if (!content.empty() && !content.starts_with('#')) {
            Station station;
            station.url = std::string(content);
            station.title = title.empty() ? station.url : title;
            collector.add(std::move(station), LineWhere(line.number));
            title.clear();
        }
    }
}

void ReadPls(std::string_view name, std::string_view text, Collector &collector) {
    struct Entry {
        std::string file;
        std::string title;
        std::size_t line = 0;
    };
    std::map<std::int64_t, Entry> entries;
    bool header = false;
    for (const NumberedLine &line : Lines(text)) {
        const std::string_view content = TrimmedBlanks(line.text);
        if (content.empty() || content.starts_with(';') || content.starts_with('#')) {
            continue;
        }
        if (!header) {
            if (!EqualsIgnoringCase(content, "[playlist]")) {
                Refuse(name, LineWhere(line.number) + ": a PLS playlist begins with [playlist]");
            }
            header = true;
            continue;
        }
        const std::size_t equals = content.find('=');
        if (equals == std::string_view::npos) {
            Refuse(name, LineWhere(line.number) + ": expected key=value");
        }
        const std::string key = Lowered(TrimmedBlanks(content.substr(0, equals)));
        const std::string_view value = TrimmedBlanks(content.substr(equals + 1));
        for (const std::string_view field : {"file", "title"}) {
            const std::string_view number =
                std::string_view(key).substr(std::min(field.size(), key.size()));
            if (key.starts_with(field) && AllDigits(number, kMaxIdDigits)) {
                Entry &entry = entries[Number(number)];
                (field == "file" ? entry.file : entry.title) = std::string(value);
                if (entry.line == 0 || field == "file") {
                    entry.line = line.number;
                }
            }
        }
    }
    for (auto &[number, entry] : entries) {
        Station station;
        station.url = std::move(entry.file);
        station.title = entry.title.empty() ? station.url : std::move(entry.title);
        collector.add(std::move(station),
                      "entry " + std::to_string(number) + " (" + LineWhere(entry.line) + ")");
    }
}

// The records of CSV text (RFC 4180: fields separated by commas, in double
// quotes when they hold commas, quotes or line breaks, a quote doubled inside
// them), each with the line it starts on.
struct CsvRecord {
    std::size_t line;
    std::vector<std::string> fields;
};

std::vector<CsvRecord> CsvRecords(std::string_view name, std::string_view text) {
    std::vector<CsvRecord> records;
    std::size_t line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        CsvRecord record{line, {}};
        std::string field;
        bool recordEnded = false;
        while (!recordEnded) {
            if (i < text.size() && text[i] == '"') {
                const std::size_t opened = line;
                ++i;
                while (true) {
                    if (i >= text.size()) {
                        Refuse(name, "the quoted field opened on " + LineWhere(opened) +
                                         " is never closed");
                    }
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    line += text[i] == '\n' ? 1 : 0;
                    field += text[i++];
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    Refuse(name, LineWhere(line) + ": text after a closing quote");
                }
            } else {
                while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') {
                    if (text[i] == '"') {
                        Refuse(name, LineWhere(line) + ": a quote inside an unquoted field");
                    }
                    field += text[i++];
                }
            }
            record.fields.push_back(std::move(field));
            field.clear();
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            if (i < text.size() && text[i] == '\r') {
                ++i;
            }
            if (i < text.size() && text[i] == '\n') {
                ++i;
            }
            ++line;
            recordEnded = true;
        }
        records.push_back(std::move(record));
    }
    return records;
}

void ReadCsv(std::string_view name, std::string_view text, Collector &collector) {
    std::vector<CsvRecord> records = CsvRecords(name, text);
    if (records.empty()) {
        Refuse(name, "the file is empty");
    }
    std::map<std::string, std::size_t> columns;
    for (std::size_t i = 0; i < records[0].fields.size(); ++i) {
        columns.emplace(Lowered(TrimmedBlanks(records[0].fields[i])), i);
    }
    if (!columns.contains("title") || !columns.contains("url")) {
        Refuse(name, "line 1: the header must name the columns title and url");
    }
    const std::size_t width = records[0].fields.size();
    for (std::size_t r = 1; r < records.size(); ++r) {
        CsvRecord &record = records[r];
        const std::string where = LineWhere(record.line);
        if (record.fields.size() == 1 && TrimmedBlanks(record.fields[0]).empty()) {
            continue;
        }
        if (record.fields.size() != width) {
            collector.skip(where, kSkipBadLine,
                           std::to_string(record.fields.size()) + " fields where the header has " +
                               std::to_string(width));
            continue;
        }
        auto column = [&](const char *named) -> std::string {
            const auto found = columns.find(named);
            return found == columns.end()
                       ? std::string()
                       : std::string(TrimmedBlanks(record.fields[found->second]));
        };
        Station station;
        station.id = column("id");
        station.region = column("region");
        station.title = column("title");
        station.url = column("url");
        const std::string heat = column("heat");
        if ((!station.id.empty() && !AllDigits(station.id, kMaxIdDigits)) ||
            (!heat.empty() && !AllDigits(heat, kMaxHeatDigits))) {
            collector.skip(where, kSkipBadId, "id \"" + station.id + "\", heat \"" + heat + "\"");
            continue;
        }
        station.startingHeat = heat.empty() ? 0 : Number(heat);
        collector.add(std::move(station), where);
    }
}

// A strict reader of the community station database's JSON export: an array
// of objects. Only the members the directory uses are kept, as text; other
// values (nested ones included) are read and checked, then dropped.
class CommunityJsonReader {
public:
    CommunityJsonReader(std::string_view name, std::string_view text) : name_(name), text_(text) {}

    using Fields = std::map<std::string, std::string, std::less<>>;

    // Calls each(fields, station number, line) for every station, in order.
    template <class Each> void read(const Each &each) {
        const std::size_t valid = ValidUtf8Length(text_);
        if (valid != text_.size()) {
            at_ = valid;
            fail("not UTF-8 text");
        }
        skipSpace();
        if (peek() != '[') {
            fail("expected an array of stations");
        }
        std::size_t number = 0;
        readElements([&] {
            if (peek() != '{') {
                fail("expected a station (an object)");
            }
            const std::size_t line = lineAt(at_);
            Fields fields;
            readObject(&fields);
            each(fields, ++number, line);
        });
        skipSpace();
        if (at_ != text_.size()) {
            fail("text after the array of stations");
        }
    }

private:
    static constexpr std::string_view kKept[] = {"stationuuid",  "name",        "url",
                                                 "url_resolved", "countrycode", "state",
                                                 "clickcount",   "lastcheckok"};
    static constexpr int kMaxDepth = 64;

    char peek() const { return at_ < text_.size() ? text_[at_] : '\0'; }

    [[noreturn]] void fail(const std::string &what) {
        const std::size_t line = lineAt(at_);
        const std::size_t lineStart = at_ == 0 ? 0 : text_.rfind('\n', at_ == 0 ? 0 : at_ - 1) + 1;
        Refuse(name_, "line " + std::to_string(line) + " column " +
                          std::to_string(at_ - lineStart + 1) + ": " + what);
    }

    // The line of the text at offset, counted on from the last one asked.
    std::size_t lineAt(std::size_t offset) {
        if (offset < countedTo_) {
            countedTo_ = 0;
            line_ = 1;
        }
        line_ += std::count(text_.begin() + countedTo_, text_.begin() + offset, '\n');
        countedTo_ = offset;
        return line_;
    }

    void skipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }

    void expect(char c, const char *what) {
        if (peek() != c) {
            fail(std::string("expected ") + what);
        }
        ++at_;
    }

    // Reads an array, from its '[', calling element() at the start of each.
    template <class Element> void readElements(const Element &element) {
        if (++depth_ > kMaxDepth) {
            fail("nested too deeply");
        }
        ++at_;
        skipSpace();
        if (peek() == ']') {
            ++at_;
        } else {
            while (true) {
                skipSpace();
                element();
                skipSpace();
                if (peek() == ',') {
                    ++at_;
                    continue;
                }
                expect(']', "',' or ']'");
                break;
            }
        }
        --depth_;
    }

    void readObject(Fields *fields) {
        if (++depth_ > kMaxDepth) {
            fail("nested too deeply");
        }
        expect('{', "an object");
        skipSpace();
        if (peek() == '}') {
            ++at_;
            --depth_;
            return;
        }
        while (true) {
            skipSpace();
            if (peek() != '"') {
                fail("expected a member name");
            }
            const std::string key = readString();
            skipSpace();
            expect(':', "':'");
            skipSpace();
            const bool kept = fields != nullptr &&
                              std::find(std::begin(kKept), std::end(kKept), key) != std::end(kKept);
            std::string value = readValue();
            if (kept) {
                (*fields)[key] = std::move(value);
            }
            skipSpace();
            if (peek() == ',') {
                ++at_;
                continue;
            }
            expect('}', "',' or '}'");
            --depth_;
            return;
        }
    }

    // A scalar's text (a string decoded, a number or literal as written);
    // arrays and objects are checked and read as empty.
    std::string readValue() {
        const char c = peek();
        if (c == '"') {
            return readString();
        }
        if (c == '{') {
            readObject(nullptr);
            return {};
        }
        if (c == '[') {
            readElements([this] { readValue(); });
            return {};
        }
        for (const std::string_view literal : {"true", "false", "null"}) {
            if (text_.substr(at_).starts_with(literal)) {
                at_ += literal.size();
                return std::string(literal);
            }
        }
        return readNumber();
    }

    std::string readNumber() {
        const std::size_t start = at_;
        auto digits = [this] {
            const std::size_t from = at_;
            while (peek() >= '0' && peek() <= '9') {
                ++at_;
            }
            return at_ - from;
        };
        if (peek() == '-') {
            ++at_;
        }
        const std::size_t intStart = at_;
        if (digits() == 0 || (text_[intStart] == '0' && at_ - intStart > 1)) {
            at_ = start;
            fail("expected a value");
        }
        if (peek() == '.') {
            ++at_;
            if (digits() == 0) {
                fail("expected digits after '.'");
            }
        }
        if (peek() == 'e' || peek() == 'E') {
            ++at_;
            if (peek() == '+' || peek() == '-') {
                ++at_;
            }
            if (digits() == 0) {
                fail("expected digits in the exponent");
            }
        }
        return std::string(text_.substr(start, at_ - start));
    }

    unsigned readHex4() {
        unsigned value = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = peek();
            unsigned digit = 0;
            if (c >= '0' && c <= '9') {
                digit = c - '0';
            } else if (c >= 'a' && c <= 'f') {
                digit = c - 'a' + 10;
            } else if (c >= 'A' && c <= 'F') {
                digit = c - 'A' + 10;
            } else {
                fail("expected four hex digits after \\u");
            }
            value = value * 16 + digit;
            ++at_;
        }
        return value;
    }

    static void AppendUtf8(std::string &text, unsigned codePoint) {
        if (codePoint < 0x80) {
            text += static_cast<char>(codePoint);
        } else if (codePoint < 0x800) {
            text += static_cast<char>(0xC0 | (codePoint >> 6));
            text += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else if (codePoint < 0x10000) {
            text += static_cast<char>(0xE0 | (codePoint >> 12));
            text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (codePoint & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (codePoint >> 18));
            text += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (codePoint & 0x3F));
        }
    }

    std::string readString() {
        const std::size_t opened = at_++;
        std::string text;
        while (true) {
            if (at_ >= text_.size()) {
                at_ = opened;
                fail("a string is never closed");
            }
            const char c = text_[at_];
            if (c == '"') {
                ++at_;
                return text;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                fail("a control character inside a string");
            }
            if (c != '\\') {
                text += c;
                ++at_;
                continue;
            }
            ++at_;
            const char escape = peek();
            ++at_;
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                text += escape;
                break;
            case 'b':
                text += '\b';
                break;
            case 'f':
                text += '\f';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case 'u': {
                unsigned codePoint = readHex4();
                if (codePoint >= 0xD800 && codePoint <= 0xDBFF) {
                    if (!text_.substr(at_).starts_with("\\u")) {
                        fail("a lone surrogate in \\u escapes");
                    }
                    at_ += 2;
                    const unsigned low = readHex4();
                    if (low < 0xDC00 || low > 0xDFFF) {
                        fail("a lone surrogate in \\u escapes");
                    }
                    codePoint = 0x10000 + ((codePoint - 0xD800) << 10) + (low - 0xDC00);
                } else if (codePoint >= 0xDC00 && codePoint <= 0xDFFF) {
                    fail("a lone surrogate in \\u escapes");
                }
                AppendUtf8(text, codePoint);
                break;
            }
            default:
                --at_;
                fail("an unknown escape in a string");
            }
        }
    }

    std::string_view name_;
    std::string_view text_;
    std::size_t at_ = 0;
    int depth_ = 0;
    std::size_t countedTo_ = 0;
    std::size_t line_ = 1;
};

// A whole number of a JSON member ("123", "1.0e3" is not one), else nullopt.
std::optional<std::int64_t> WholeNumber(std::string_view text) {
    if (!AllDigits(text, kMaxHeatDigits)) {
        return std::nullopt;
    }
    return Number(text);
}

void ReadCommunityJson(std::string_view name, std::string_view text, const ImportSettings &settings,
                       Collector &collector) {
    CommunityJsonReader reader(name, text);
    std::map<std::pair<std::string, std::string>, std::string> regions;
    reader.read([&](const CommunityJsonReader::Fields &fields, std::size_t number,
                    std::size_t line) {
        auto field = [&fields](std::string_view key) -> std::string {
            const auto found = fields.find(key);
            return found == fields.end() || found->second == "null" ? std::string() : found->second;
        };
        const std::string where =
            "station " + std::to_string(number) + " (" + LineWhere(line) + ")";
        Station station;
        station.key = field("stationuuid");
        station.title = field("name");
        station.url = field("url_resolved");
        if (TrimmedBlanks(station.url).empty()) {
            station.url = field("url");
        }
        const std::string checked = field("lastcheckok");
        if (!settings.includeBroken && (checked == "0" || checked == "false")) {
            collector.skip(where, kSkipBroken, station.title + " " + station.url);
            return;
        }
        // Few places, many stations: each region is looked up once.
        auto [region, isNew] = regions.try_emplace({field("countrycode"), field("state")});
        if (isNew) {
            region->second = RegionOfStation(region->first.first, region->first.second);
        }
        station.region = region->second;
        station.startingHeat = WholeNumber(field("clickcount")).value_or(0);
        collector.add(std::move(station), where);
    });
}

// The first line of the text that is neither blank nor a comment.
std::string_view FirstContentLine(std::string_view text) {
    const std::vector<NumberedLine> lines = ContentLines(text.substr(0, 64 * 1024));
    return lines.empty() ? std::string_view() : lines.front().text;
}

// Whether the line is a CSV header naming the title and url columns.
bool IsCsvHeader(std::string_view line) {
    std::set<std::string> names;
    for (const std::string_view field : SplitAt(line, ',')) {
        std::string name = Lowered(TrimmedBlanks(field));
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
            name = name.substr(1, name.size() - 2);
        }
        names.insert(name);
    }
    return names.contains("title") && names.contains("url");
}

} // namespace

ImportFormat DetectImportFormat(std::string_view name, std::string_view content) {
    std::string_view text = WithoutBom(content);
    text.remove_prefix(std::min(text.find_first_not_of(" \t\r\n"), text.size()));
    const std::string lowerName = Lowered(name);
    if (EqualsIgnoringCase(text.substr(0, 10), "[playlist]")) {
        return ImportFormat::Pls;
    }
    if (text.starts_with('[') || text.starts_with('{')) {
        return ImportFormat::CommunityJson;
    }
    if (text.starts_with("#EXTM3U") || text.starts_with("#EXTINF:") ||
        text.find("\n#EXTINF:") != std::string_view::npos) {
        return ImportFormat::M3u;
    }
    const std::string_view first = FirstContentLine(text);
    if (std::count(first.begin(), first.end(), '|') >= 3) {
        return ImportFormat::StationList;
    }
    if (IsCsvHeader(first) || lowerName.ends_with(".csv")) {
        return ImportFormat::Csv;
    }
    if (lowerName.ends_with(".m3u") || lowerName.ends_with(".m3u8") || IsHttpUrl(first)) {
        return ImportFormat::M3u;
    }
    Refuse(name, "not a station list this server reads (its own list, M3U, PLS, CSV with a "
                 "title,url header, or the community station database's JSON export)");
}

void ReadImportFile(std::string_view name, std::string_view content, const ImportSettings &settings,
                    ImportedStations &into) {
    const ImportFormat format = DetectImportFormat(name, content);
    Collector collector(name, into);
    if (format == ImportFormat::CommunityJson) {
        ReadCommunityJson(name, WithoutBom(content), settings, collector);
        return;
    }
    const std::string text = DecodedText(name, content);
    switch (format) {
    case ImportFormat::StationList:
        ReadStationList(text, collector);
        break;
    case ImportFormat::M3u:
        ReadM3u(text, collector);
        break;
    case ImportFormat::Pls:
        ReadPls(name, text, collector);
        break;
    case ImportFormat::Csv:
        ReadCsv(name, text, collector);
        break;
    case ImportFormat::CommunityJson:
        break;
    }
}

ImportPlan PlanImport(const std::vector<Station> &current, const ImportedStations &imported,
                      bool replace) {
    ImportPlan plan;
    std::unordered_map<std::string_view, std::size_t> byKey;
    std::unordered_map<std::string_view, std::size_t> byId;
    std::set<std::int64_t> used;
    for (std::size_t i = 0; i < current.size(); ++i) {
        byKey.emplace(KeyOf(current[i]), i);
        byId.emplace(current[i].id, i);
        used.insert(Number(current[i].id));
    }
    for (const Station &station : imported.stations) {
        if (!station.id.empty()) {
            used.insert(Number(station.id));
        }
    }
    std::int64_t next = used.empty() ? 1 : *used.rbegin() + 1;

    // Where each known station went among the imported ones, or npos.
    std::vector<std::size_t> placed(current.size(), std::string::npos);
    std::set<std::int64_t> taken; // numbers given to imported stations
    std::vector<Station> added;
    for (const Station &station : imported.stations) {
        std::size_t known = std::string::npos;
        if (const auto found = byKey.find(KeyOf(station)); found != byKey.end()) {
            known = found->second;
        } else if (const auto same = byId.find(station.id); same != byId.end()) {
            known = same->second;
        }
        if (known != std::string::npos && placed[known] != std::string::npos) {
            known = std::string::npos;
        }
        Station kept = station;
        if (known != std::string::npos) {
            const Station &before = current[known];
            kept.id = before.id;
            const bool same = before.region == station.region && before.title == station.title &&
                              before.url == station.url && KeyOf(before) == KeyOf(station);
            ++(same ? plan.counts.unchanged : plan.counts.updated);
            placed[known] = added.size();
        } else {
            std::int64_t number = station.id.empty() ? 0 : Number(station.id);
            const bool free = number > 0 && !byId.contains(station.id) && !taken.contains(number);
            if (!free) {
                number = next++;
            }
            kept.id = std::to_string(number);
            ++plan.counts.imported;
        }
        taken.insert(Number(kept.id));
        added.push_back(std::move(kept));
    }

    // Known stations stay in their place, updated; new ones follow in the
    // file's order.
    std::vector<bool> emitted(added.size(), false);
    for (std::size_t i = 0; i < current.size(); ++i) {
        if (placed[i] != std::string::npos) {
            plan.stations.push_back(added[placed[i]]);
            emitted[placed[i]] = true;
        } else if (replace) {
            ++plan.counts.removed;
        } else {
            plan.stations.push_back(current[i]);
        }
    }
    for (std::size_t i = 0; i < added.size(); ++i) {
        if (!emitted[i]) {
            plan.stations.push_back(std::move(added[i]));
        }
    }
    for (const SkippedStation &skipped : imported.skipped) {
        ++plan.counts.skipped[skipped.reason];
    }
    return plan;
}

std::string ImportReport(const ImportCounts &counts) {
    std::size_t skipped = 0;
    for (const auto &[reason, count] : counts.skipped) {
        skipped += count;
    }
    std::string report = "imported: " + std::to_string(counts.imported) +
                         "\nupdated: " + std::to_string(counts.updated) +
                         "\nunchanged: " + std::to_string(counts.unchanged) +
                         "\nremoved: " + std::to_string(counts.removed) +
                         "\nskipped: " + std::to_string(skipped) + "\n";
    for (const auto &[reason, count] : counts.skipped) {
        report += "  " + reason + ": " + std::to_string(count) + "\n";
    }
    return report;
}

} // namespace directory
