// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/admin_commands.h"

#include "directory_server/announcements.h"
#include "directory_server/data_folder.h"
#include "directory_server/options.h"
#include "directory_server/station_import.h"
#include "directory_server/store.h"
#include "directory_server/text_rules.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <set>

namespace directory {

namespace {

// The largest station file an import reads: the community database's whole
// export is about a tenth of it.
constexpr long kMaxImportFile = 1024L * 1024 * 1024;

constexpr const char *kStoreOptions =
    "  --data DIR      the data folder, as the server's (default the per-user folder)\n"
    "  --database URI  the PostgreSQL database, as the server's (default: SQLite in\n"
    "                  the data folder)\n"
    "  --help          show this text\n"
    "Exit status: 0 done, 1 the store or a file failed, 2 a bad command line.\n";

struct Command {
    std::string_view name;
    std::string_view usage;
    std::set<std::string_view> values; // options taking a value
    std::set<std::string_view> flags;
};

const Command kCommands[] = {
    {"import",
     "Usage: quorvel-directory import [--replace] [--include-broken] FILE...\n"
     "Imports stations from station lists: this server's own list, M3U/M3U8, PLS,\n"
     "CSV with a header naming title and url (id, region, heat optional; UTF-8 or\n"
     "GB18030) or the community station database's JSON export, each told by its\n"
     "content. A station keeps its channel number in later imports; new ones take\n"
     "the next free number. All files go in at once or nothing does.\n"
     "  --replace         stations the files do not hold leave the directory\n"
     "  --include-broken  keep stations the community database found broken\n",
     {"--data", "--database"},
     {"--replace", "--include-broken"}},
    {"stations",
     "Usage: quorvel-directory stations list\n"
     "       quorvel-directory stations add TITLE URL [--region R] [--id N]\n"
     "       quorvel-directory stations remove ID\n"
     "       quorvel-directory stations set-heat ID PLAYS\n"
     "Lists the stations with their heat, adds one (the next free number unless\n"
     "--id), removes one, or sets a station's play count.\n",
     {"--data", "--database", "--region", "--id"},
     {}},
    {"announcements",
     "Usage: quorvel-directory announcements list\n"
     "       quorvel-directory announcements add TEXT\n"
     "       quorvel-directory announcements remove N\n"
     "Lists the announcements numbered from 1, adds one at the end, or removes\n"
     "the one numbered N.\n",
     {"--data", "--database"},
     {}},
    {"messages",
     "Usage: quorvel-directory messages list [--since DATE] [--json]\n"
     "Lists the message board's messages, newest first, with the time they came\n"
     "(UTC) and the client's address.\n"
     "  --since DATE  only those received from DATE on (YYYY-MM-DD[ HH:MM:SS], UTC)\n"
     "  --json        as a JSON array of {id, received, client, message}\n",
     {"--data", "--database", "--since"},
     {"--json"}},
};

// A command line the command cannot take.
struct BadCommandLine : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A store or file failure, or a request the directory refuses.
struct Failure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Arguments {
    std::vector<std::string> words; // the operands, in order
    std::map<std::string, std::string, std::less<>> values;
    std::set<std::string, std::less<>> flags;
    bool help = false;
};

Arguments ParseArguments(const Command &command, const std::vector<std::string> &args) {
    Arguments parsed;
    for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--help" || arg == "-h") {
            parsed.help = true;
        } else if (command.flags.contains(arg)) {
            parsed.flags.insert(arg);
        } else if (command.values.contains(arg)) {
            if (i + 1 >= args.size()) {
                throw BadCommandLine("option " + arg + " needs a value");
            }
            parsed.values[arg] = args[++i];
        } else if (arg.starts_with("--")) {
            throw BadCommandLine("unknown option '" + arg + "'");
        } else {
            parsed.words.push_back(arg);
        }
    }
    return parsed;
}

std::string ValueOf(const Arguments &arguments, std::string_view name) {
    const auto found = arguments.values.find(name);
    return found == arguments.values.end() ? std::string() : found->second;
}

void ExpectWords(const Arguments &arguments, std::size_t count, const char *what) {
    if (arguments.words.size() != count) {
        throw BadCommandLine(std::string("expected ") + what);
    }
}

// The store of the data folder and database the server uses, as the server
// opens it.
std::unique_ptr<Store> OpenAdminStore(const Arguments &arguments, std::string &err) {
    std::string dataDir = ValueOf(arguments, "--data");
    if (dataDir.empty()) {
        dataDir = DefaultDataDir();
    }
    const LogLine log = [&err](const std::string &line) {
        err += "quorvel-directory: " + line + "\n";
    };
    FillWithDemoIfEmpty(dataDir);
    const DataFiles files = DataFilesIn(dataDir);
    std::unique_ptr<Store> store = OpenStore(ValueOf(arguments, "--database"), files, log);
    store->adoptDataLists(ReadDataLists(files, log));
    return store;
}

std::string FileContent(const std::string &path) {
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"),
                                                          &std::fclose);
    std::string content;
    if (file && std::fseek(file.get(), 0, SEEK_END) == 0) {
        const long size = std::ftell(file.get());
        if (size > kMaxImportFile) {
            throw Failure("cannot read " + path + ": larger than 1 GiB");
        }
        std::rewind(file.get());
        content.resize(static_cast<std::size_t>(std::max(0L, size)));
        if (std::fread(content.data(), 1, content.size(), file.get()) == content.size()) {
            return content;
        }
    }
    throw Failure("cannot read " + path + ": " + std::strerror(errno));
}

void Import(const Arguments &arguments, std::string &out, std::string &err) {
    if (arguments.words.empty()) {
        throw BadCommandLine("expected one or more station files");
    }
    ImportedStations imported;
    const ImportSettings settings{arguments.flags.contains("--include-broken")};
    for (const std::string &path : arguments.words) {
        ReadImportFile(path, FileContent(path), settings, imported);
    }
    const std::unique_ptr<Store> store = OpenAdminStore(arguments, err);
    const ImportPlan plan =
        PlanImport(*store->stations(), imported, arguments.flags.contains("--replace"));
    store->replaceStations(plan.stations);
    for (const SkippedStation &skipped : imported.skipped) {
        err += "skipped " + skipped.where + ": " + skipped.reason + " (" + skipped.detail + ")\n";
    }
    out += ImportReport(plan.counts);
}

void Stations(const Arguments &arguments, std::string &out, std::string &err) {
    const std::string action = arguments.words.empty() ? "" : arguments.words[0];
    if (action == "list") {
        ExpectWords(arguments, 1, "no operands after list");
    } else if (action == "add") {
        ExpectWords(arguments, 3, "add TITLE URL");
    } else if (action == "remove") {
        ExpectWords(arguments, 2, "remove ID");
    } else if (action == "set-heat") {
        ExpectWords(arguments, 3, "set-heat ID PLAYS");
        if (!AllDigits(arguments.words[2], 12)) {
            throw BadCommandLine("PLAYS must be a whole number, not '" + arguments.words[2] + "'");
        }
    } else {
        throw BadCommandLine("expected list, add, remove or set-heat");
    }
    Station added{ValueOf(arguments, "--id"), ValueOf(arguments, "--region"),
                  action == "add" ? arguments.words[1] : "",
                  action == "add" ? arguments.words[2] : "", 0};
    if (action == "add") {
        if (!added.id.empty() &&
            (!AllDigits(added.id, 9) || added.id == std::string(added.id.size(), '0'))) {
            throw BadCommandLine("--id must be 1 to 9 digits, not '" + added.id + "'");
        }
        if (const auto problem = StationProblem(added, true)) {
            throw BadCommandLine(std::string(problem->first) + ": " + problem->second);
        }
    }

    const std::unique_ptr<Store> store = OpenAdminStore(arguments, err);
    std::vector<Station> stations = *store->stations();
    auto find = [&stations](const std::string &id) {
        return std::find_if(stations.begin(), stations.end(),
                            [&id](const Station &station) { return station.id == id; });
    };
    if (action == "list") {
        std::map<std::string, std::int64_t> heat;
        store->forEachHeat(
            [&heat](const std::string &station, std::int64_t plays) { heat[station] = plays; });
        for (const Station &station : stations) {
            out += station.id + " | " + station.region + " | " + station.title + " | " +
                   station.url + " | " + std::to_string(heat[station.id]) + "\n";
        }
    } else if (action == "add") {
        if (!added.id.empty() && find(added.id) != stations.end()) {
            throw Failure("there is a station " + added.id + " already");
        }
        ImportedStations one;
        one.stations.push_back(added);
        const ImportPlan plan = PlanImport(stations, one, false);
        store->replaceStations(plan.stations);
        out += plan.stations.back().id + "\n";
    } else {
        const std::string &id = arguments.words[1];
        const auto found = find(id);
        if (found == stations.end()) {
            throw Failure("there is no station " + id);
        }
        if (action == "remove") {
            stations.erase(found);
            store->replaceStations(stations);
        } else {
            store->setHeat(id, std::stoll(arguments.words[2]));
        }
    }
}

void Announcements(const Arguments &arguments, std::string &out, std::string &err) {
    const std::string action = arguments.words.empty() ? "" : arguments.words[0];
    AnnouncementList added;
    if (action == "list") {
        ExpectWords(arguments, 1, "no operands after list");
    } else if (action == "add") {
        ExpectWords(arguments, 2, "add TEXT");
        added = ParseAnnouncements(arguments.words[1]);
        if (added.texts.size() != 1) {
            throw BadCommandLine(
                added.problems.empty()
                    ? "the announcement is empty"
                    : "the announcement " +
                          added.problems.front().substr(added.problems.front().find(':') + 2));
        }
    } else if (action == "remove") {
        ExpectWords(arguments, 2, "remove N");
        if (!AllDigits(arguments.words[1], 9)) {
            throw BadCommandLine("N must be a number, not '" + arguments.words[1] + "'");
        }
    } else {
        throw BadCommandLine("expected list, add or remove");
    }
    const std::unique_ptr<Store> store = OpenAdminStore(arguments, err);
    std::vector<std::string> texts = store->announcements();
    if (action == "list") {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            out += std::to_string(i + 1) + " " + texts[i] + "\n";
        }
    } else if (action == "add") {
        texts.push_back(added.texts.front());
        store->replaceAnnouncements(texts);
    } else {
        const std::size_t number = std::stoul(arguments.words[1]);
        if (number < 1 || number > texts.size()) {
            throw Failure("there is no announcement " + arguments.words[1]);
        }
        texts.erase(texts.begin() + static_cast<std::ptrdiff_t>(number - 1));
        store->replaceAnnouncements(texts);
    }
}

// A date as --since takes it: YYYY-MM-DD, optionally with HH:MM:SS.
bool IsDate(std::string_view text) {
    static constexpr std::string_view kShape = "0000-00-00 00:00:00";
    if (text.size() != 10 && text.size() != kShape.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (kShape[i] == '0' ? !digit : text[i] != kShape[i]) {
            return false;
        }
    }
    return true;
}

// Text as a JSON string; bytes that are not UTF-8 are read as GB18030, the
// charset the player's pages may post in, else left out.
std::string JsonString(std::string_view bytes) {
    std::string text;
    try {
        text = DecodedText("message", bytes);
    } catch (const ImportError &) {
        text = std::string(bytes.substr(0, ValidUtf8Length(bytes)));
    }
    std::string json = "\"";
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

void Messages(const Arguments &arguments, std::string &out, std::string &err) {
    if (arguments.words.size() != 1 || arguments.words[0] != "list") {
        throw BadCommandLine("expected list");
    }
    const std::string since = ValueOf(arguments, "--since");
    if (!since.empty() && !IsDate(since)) {
        throw BadCommandLine("--since needs YYYY-MM-DD or 'YYYY-MM-DD HH:MM:SS', not '" + since +
                             "'");
    }
    const std::unique_ptr<Store> store = OpenAdminStore(arguments, err);
    const bool json = arguments.flags.contains("--json");
    std::string list = json ? "[" : "";
    for (const StoredMessage &message : store->messages(since)) {
        if (json) {
            list += std::string(list.size() > 1 ? ",\n " : "\n ") +
                    "{\"id\": " + std::to_string(message.id) +
                    ", \"received\": " + JsonString(message.received) +
                    ", \"client\": " + JsonString(message.client) +
                    ", \"message\": " + JsonString(message.body) + "}";
        } else {
            list += message.received + "  " + message.client + "\n";
            const std::string body = JsonString(message.body);
            list += "    " + body.substr(1, body.size() - 2) + "\n";
        }
    }
    out += json ? list + "\n]\n" : list;
}

} // namespace

bool IsAdminCommand(std::string_view first) {
    return std::any_of(std::begin(kCommands), std::end(kCommands),
                       [first](const Command &command) { return command.name == first; });
}

int RunAdminCommand(const std::vector<std::string> &args, std::string &out, std::string &err) {
    const Command &command =
        *std::find_if(std::begin(kCommands), std::end(kCommands),
                      [&args](const Command &known) { return known.name == args.front(); });
    try {
        const Arguments arguments = ParseArguments(command, args);
        if (arguments.help) {
            out += std::string(command.usage) + kStoreOptions;
            return 0;
        }
        if (command.name == "import") {
            Import(arguments, out, err);
        } else if (command.name == "stations") {
            Stations(arguments, out, err);
        } else if (command.name == "announcements") {
            Announcements(arguments, out, err);
        } else {
            Messages(arguments, out, err);
        }
        return 0;
    } catch (const BadCommandLine &error) {
        err += "quorvel-directory " + std::string(command.name) + ": " + error.what() +
               " (see --help)\n";
        return 2;
    } catch (const std::runtime_error &error) {
        // ImportError, StoreError, DataFolderError and refusals: nothing changed.
        err += "quorvel-directory " + std::string(command.name) + ": " + error.what() + "\n";
        return 1;
    }
}

} // namespace directory
