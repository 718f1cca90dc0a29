// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/directory_server.h"

#include "contract/directory_contract.h"
#include "directory_server/board_form.h"
#include "directory_server/pages.h"
#include "directory_server/sockets.h"
#include "directory_server/text_rules.h"

#include <algorithm>
#include <map>
#include <thread>

namespace directory {

namespace {

constexpr const char *kHtml = "text/html; charset=utf-8";
// How much of a shared page is handed to the connection at a time.
constexpr std::size_t kPageSlice = 64 * 1024;
// Listeners leave the workers once their answer's head is sent; each holds a
// socket.
constexpr int kMaxListeners = 1000;

// Only the message board takes a body.
std::size_t BodyLimit(std::string_view method, std::string_view path) {
    return method == "POST" && path == contract::kBoardPath ? kMaxMessageBytes + kFormFraming : 0;
}
constexpr const char *kFallbackKey = "fallback";
// The store's connections are made again within this many seconds.
constexpr const char *kRetryAfterSeconds = "5";
// A health check fails when the store does not answer within this time.
constexpr std::chrono::milliseconds kHealthLimit{1000};
constexpr const char *kFallbackTitle = "Quorvel收音机 备用频道";
// The sound of the HLS broadcast: one no station stream has.
constexpr int kHlsSound = 44;

// The route pattern that matches exactly this path.
std::string PathPattern(std::string_view path) {
    std::string pattern;
    for (char c : path) {
        if (std::string_view(R"(\^$.|?*+()[]{})").find(c) != std::string_view::npos) {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

// The route a request took, as the requests figure names it: a fixed set of
// paths, so that made-up paths cannot grow the figures.
std::string RouteOf(const std::string &path) {
    for (const std::string_view known :
         {contract::kDirectoryPath, contract::kPlayReportPath, contract::kAnnouncementPath,
          contract::kBoardPath, std::string_view("/"), std::string_view("/download/"),
          std::string_view("/fallback.asx"), std::string_view("/metrics"),
          std::string_view("/healthz")}) {
        if (path == known) {
            return path;
        }
    }
    for (const std::string_view prefix : {"/stream/", "/hls/"}) {
        if (path.starts_with(prefix)) {
            return std::string(prefix);
        }
    }
    return "other";
}

bool IsLoopback(const std::string &address) {
    return address.starts_with("127.") || address == "::1" || address.starts_with("::ffff:127.");
}

// A write that could not be stored for now: the client may try again soon.
void AnswerUnavailable(httplib::Response &response) {
    response.status = 503;
    response.set_header("Retry-After", kRetryAfterSeconds);
    response.set_content(ErrorPage(503), kHtml);
}

} // namespace

DirectoryServer::DirectoryServer(const Options &options, LogLine log)
    : options_(options), log_(std::move(log)),
      figures_{
          ServerMetrics().counter("quorvel_directory_play_reports_total",
                                  "Play reports, by whether they were counted.",
                                  {{"result", "counted"}}),
          ServerMetrics().counter("quorvel_directory_play_reports_total", "",
                                  {{"result", "ignored"}}),
          ServerMetrics().counter("quorvel_directory_board_posts_total",
                                  "Message board posts, stored or refused and why.",
                                  {{"result", "stored"}}),
          ServerMetrics().counter("quorvel_directory_board_posts_total", "",
                                  {{"result", "refused_empty"}}),
          ServerMetrics().counter("quorvel_directory_board_posts_total", "",
                                  {{"result", "refused_form"}}),
          ServerMetrics().counter("quorvel_directory_board_posts_total", "",
                                  {{"result", "refused_limit"}}),
          ServerMetrics().counter("quorvel_directory_board_posts_total", "",
                                  {{"result", "refused_full"}}),
          ServerMetrics().timing("quorvel_directory_page_rebuild_seconds",
                                 "Time spent building the directory page, and how often."),
          ServerMetrics().timing(kStoreSeconds, kStoreSecondsHelp, {{"operation", "count_play"}}),
          ServerMetrics().timing(kStoreSeconds, kStoreSecondsHelp,
                                 {{"operation", "store_message"}}),
      },
      directoryPages_([this](const std::string &base) {
          const TimedScope timed(figures_.pageRebuilds);
          std::shared_ptr<const Listing> listing;
          std::vector<std::int64_t> heat;
          {
              const std::lock_guard lock(contentMutex_);
              listing = listing_;
              heat = heat_;
          }
          return DirectoryPage(*listing->stations, heat, base);
      }),
      server_(GuardLimits(), BodyLimit, ErrorPage) {
    try {
        if (FillWithDemoIfEmpty(options_.dataDir)) {
            log_("filled the empty data folder " + options_.dataDir + " with the demo directory");
        }
        loadData(DataFilesIn(options_.dataDir));
    } catch (const std::runtime_error &error) {
        throw StartError(error.what());
    }
    route();
    bind();
}

void DirectoryServer::loadData(const DataFiles &files) {
    DataLists lists = ReadDataLists(files, log_);
    store_ = OpenStore(options_.database, files, log_);
    store_->setFairShares({std::chrono::seconds(options_.reportWindowSeconds)});
    store_->adoptDataLists(std::move(lists));
    reload(kEverythingChanged);
    store_->watch([this](unsigned kinds) { reload(kinds); });
    // The fallback channel sounds first, then each station in list order.
    streams_ = std::make_unique<StreamHub>(
        [this](const std::string &key) -> std::optional<StreamChannel> {
            if (key == kFallbackKey) {
                return StreamChannel{kFallbackTitle, 0};
            }
            const std::shared_ptr<const Listing> current = listing();
            const auto found = current->index.find(key);
            if (found == current->index.end()) {
                return std::nullopt;
            }
            return StreamChannel{(*current->stations)[found->second].title,
                                 static_cast<int>(found->second) + 1};
        },
        kMaxListeners, options_.listenersPerAddress);
    ServerMetrics().counter(kDatabaseReconnects, kDatabaseReconnectsHelp);
}

void DirectoryServer::reload(unsigned kinds) {
    std::shared_ptr<const Listing> current = listing();
    if ((kinds & kStationsChanged) != 0 || !current) {
        auto loaded = std::make_shared<Listing>();
        loaded->stations = store_->stations();
        loaded->index.reserve(loaded->stations->size());
        for (const Station &station : *loaded->stations) {
            loaded->index.emplace(station.id, loaded->index.size());
        }
        current = std::move(loaded);
    }
    std::vector<std::int64_t> heat(current->stations->size(), 0);
    if ((kinds & (kStationsChanged | kHeatChanged)) != 0) {
        store_->forEachHeat([&](const std::string &station, std::int64_t plays) {
            const auto found = current->index.find(station);
            if (found != current->index.end()) {
                heat[found->second] = plays;
            }
        });
    }
    std::shared_ptr<AnnouncementRotation> rotation;
    if ((kinds & kAnnouncementsChanged) != 0) {
        rotation = std::make_shared<AnnouncementRotation>(store_->announcements());
    }
    {
        const std::lock_guard lock(contentMutex_);
        if ((kinds & (kStationsChanged | kHeatChanged)) != 0) {
            listing_ = current;
            heat_ = std::move(heat);
        }
        if (rotation) {
            announcements_ = std::move(rotation);
        }
    }
    directoryPages_.invalidate();
}

std::shared_ptr<const DirectoryServer::Listing> DirectoryServer::listing() {
    const std::lock_guard lock(contentMutex_);
    return listing_;
}

std::shared_ptr<AnnouncementRotation> DirectoryServer::announcements() {
    const std::lock_guard lock(contentMutex_);
    return announcements_;
}

void DirectoryServer::route() {
    using httplib::Request;
    using httplib::Response;
    auto page = [](const std::string &content) {
        return [content](const Request &, Response &response) {
            response.set_content(content, kHtml);
        };
    };
    auto member = [this](void (DirectoryServer::*handler)(const Request &, Response &)) {
        return [this, handler](const Request &request, Response &response) {
            (this->*handler)(request, response);
        };
    };
    server_.Get(PathPattern(contract::kDirectoryPath), member(&DirectoryServer::serveDirectory));
    server_.Get(PathPattern(contract::kPlayReportPath), member(&DirectoryServer::countPlay));
    server_.Get(PathPattern(contract::kAnnouncementPath),
                [this](const Request &, Response &response) {
                    response.set_content(AnnouncementText(announcements()->next()),
                                         "text/plain; charset=utf-8");
                });
    server_.Get("/", member(&DirectoryServer::serveHome));
    server_.Get("/download/", page(DownloadPage(std::string(contract::kVersion))));
    server_.Get(PathPattern(contract::kBoardPath), page(BoardPage()));
    server_.Post(
        PathPattern(contract::kBoardPath),
        [this](const Request &request, Response &response, const httplib::ContentReader &read) {
            storeMessage(request, response, read);
        });
    server_.Get("/fallback\\.asx", member(&DirectoryServer::serveFallback));
    server_.Get("/healthz", member(&DirectoryServer::serveHealth));
    server_.Get(R"(/stream/(\d{1,9}|fallback)\.mp3)",
                [this](const Request &request, Response &response) {
                    streams_->serve(request.matches[1], clientOf(request), request, response);
                });
    auto hls = std::make_shared<HlsBroadcast>(SoundOf(kHlsSound));
    server_.Get("/hls/live\\.m3u8",
                [hls](const Request &, Response &response) { hls->servePlaylist(response); });
    server_.Get(R"(/hls/(\d{1,12})\.mp3)", [hls](const Request &request, Response &response) {
        hls->serveSegment(std::stoll(request.matches[1]), response);
    });
    server_.Get("/metrics", member(&DirectoryServer::serveMetrics));
    server_.set_logger([](const Request &request, const Response &response) {
        // Each worker finds a counter in the registry once, then in its own table.
        thread_local std::map<std::pair<std::string, int>, Counter *> counters;
        std::string route = RouteOf(request.path);
        Counter *&counter = counters[{route, response.status}];
        if (counter == nullptr) {
            counter = &ServerMetrics().counter(
                "quorvel_directory_requests_total", "Requests answered, by path and status.",
                {{"path", std::move(route)}, {"status", std::to_string(response.status)}});
        }
        counter->add();
    });
    server_.set_error_handler([](const Request &, Response &response) {
        if (response.body.empty()) {
            response.set_content(ErrorPage(response.status), kHtml);
        }
    });
    server_.set_exception_handler(
        [this](const Request &request, Response &response, std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const std::exception &e) {
                log_("error: " + request.method + " " + request.path + ": " + e.what());
            } catch (...) {
                log_("error: " + request.method + " " + request.path);
            }
            response.status = 500;
            response.set_content(ErrorPage(500), kHtml);
        });
}

void DirectoryServer::bind() {
    server_.set_payload_max_length(kMaxMessageBytes);
    server_.set_socket_options([this](int fd) {
        ReuseAddress(fd);
        listenFd_ = fd;
    });
    if (!server_.bind_to_port(options_.address, options_.port)) {
        throw StartError("cannot listen on " + options_.address + " port " +
                         std::to_string(options_.port) + ": " +
                         BindFailureReason(options_.address, options_.port));
    }
    // The server listens with a backlog of a handful of connections.
    RaiseBacklog(listenFd_);
    const std::string from = options_.database.empty() ? options_.dataDir : "PostgreSQL";
    log_("serving " + std::to_string(listing()->stations->size()) + " stations from " + from +
         " at " + PublicBase(options_.address, options_.port, "") + "/");
}

bool DirectoryServer::run() {
    const bool served = server_.serve();
    server_.finish();
    finished_ = true;
    return served;
}

void DirectoryServer::stop() {
    streams_->stop();
    // The server ignores a stop before it has begun serving, so a stop that
    // comes that early waits (a bounded time) for serving to begin.
    for (int i = 0; i < 500 && !server_.serving() && !finished_; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    server_.stop();
}

std::string DirectoryServer::clientOf(const httplib::Request &request) const {
    if (std::find(options_.trustedProxies.begin(), options_.trustedProxies.end(),
                  request.remote_addr) == options_.trustedProxies.end()) {
        return request.remote_addr;
    }
    // The proxy appends the address it took the request from: the last one.
    const std::string forwarded = request.get_header_value("X-Forwarded-For");
    const std::size_t comma = forwarded.rfind(',');
    const std::string_view last =
        TrimmedBlanks(comma == std::string::npos ? std::string_view(forwarded)
                                                 : std::string_view(forwarded).substr(comma + 1));
    return last.empty() ? request.remote_addr : std::string(last);
}

std::string DirectoryServer::base(const httplib::Request &request) const {
    if (!options_.publicBase.empty()) {
        return options_.publicBase;
    }
    return PublicBase(options_.address, options_.port, request.get_header_value("Host"));
}

void DirectoryServer::serveDirectory(const httplib::Request &request, httplib::Response &response) {
    const std::shared_ptr<const BuiltPage> page = directoryPages_.page(base(request));
    const bool gzip = AcceptsGzip(request.get_header_value("Accept-Encoding"));
    const std::string &etag = gzip ? page->gzipEtag : page->etag;
    response.set_header("ETag", etag);
    response.set_header("Vary", "Accept-Encoding");
    // The heat changes with every play: a client keeping the page asks again.
    response.set_header("Cache-Control", "no-cache");
    if (MatchesEntityTag(request.get_header_value("If-None-Match"), etag)) {
        response.status = 304;
        return;
    }
    if (gzip) {
        response.set_header("Content-Encoding", "gzip");
    }
    // Every answer sends the one shared page rather than a copy of its own,
    // and a client slow to take it holds no worker.
    const std::string &body = gzip ? page->gzipBody : page->body;
    response.set_content_provider(
        body.size(), kHtml,
        [page, &body](std::size_t offset, std::size_t length, httplib::DataSink &sink) {
            // A piece the socket takes at once goes the plain way.
            if (offset + length == body.size() && length > kPageSlice &&
                GuardedServer::sendRest(page, std::string_view(body).substr(offset))) {
                return sink.write(body.data() + offset, body.size() - offset);
            }
            return sink.write(body.data() + offset, std::min(length, kPageSlice));
        });
}

void DirectoryServer::countPlay(const httplib::Request &request, httplib::Response &response) {
    // Unknown and malformed ids are ignored; the answer is the same.
    const std::string id = request.get_param_value(std::string(contract::kPlayReportIdField));
    const std::shared_ptr<const Listing> current = listing();
    const auto found = current->index.find(id);
    bool counted = false;
    if (found != current->index.end()) {
        try {
            const TimedScope timed(figures_.storePlay);
            counted = store_->countPlay(id, clientOf(request));
        } catch (const StoreUnavailable &) {
            AnswerUnavailable(response);
            return;
        }
    }
    (counted ? figures_.playsCounted : figures_.playsIgnored).add();
    // A shared store announces the play to every server, this one included,
    // which then loads the heat again; counting it here too could count it
    // twice.
    if (counted && !store_->announcesChanges()) {
        const std::lock_guard lock(contentMutex_);
        if (listing_ == current) {
            ++heat_[found->second];
        }
        directoryPages_.invalidate();
    }
    response.set_content("OK", "text/plain; charset=utf-8");
}

void DirectoryServer::serveHome(const httplib::Request &request, httplib::Response &response) {
    response.set_content(HomePage(std::string(contract::kVersion), base(request) + "/download/",
                                  announcements()->next()),
                         kHtml);
}

void DirectoryServer::storeMessage(const httplib::Request &request, httplib::Response &response,
                                   const httplib::ContentReader &read) {
    std::string text;
    if (!ReadBoardMessage(request, read, response, text)) {
        figures_.messagesRefusedForm.add();
        return;
    }
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) {
        // Nothing is stored, so the answer must not read as success: the
        // sender keeps the text and can try again.
        response.status = 400;
        response.set_content(EmptyMessagePage(), kHtml);
        figures_.messagesRefusedEmpty.add();
        return;
    }
    MessageOutcome outcome;
    try {
        const TimedScope timed(figures_.storeMessage);
        outcome = store_->storeMessage({text, clientOf(request)});
    } catch (const StoreUnavailable &) {
        AnswerUnavailable(response);
        return;
    }
    if (outcome.kind == MessageOutcome::TooMany) {
        figures_.messagesRefusedLimit.add();
        response.status = 429;
        response.set_header("Retry-After", std::to_string(outcome.retryAfterSeconds));
        response.set_content(ErrorPage(429), kHtml);
        return;
    }
    if (outcome.kind == MessageOutcome::BoardFull) {
        figures_.messagesRefusedFull.add();
        response.status = 507;
        response.set_content(ErrorPage(507), kHtml);
        return;
    }
    figures_.messagesStored.add();
    response.set_content(ThanksPage(), kHtml);
}

void DirectoryServer::serveFallback(const httplib::Request &request, httplib::Response &response) {
    response.set_content(AsxPlaylist(kFallbackTitle, base(request) + "/stream/fallback.mp3"),
                         "video/x-ms-asf");
}

void DirectoryServer::serveMetrics(const httplib::Request &request, httplib::Response &response) {
    const bool allowed = IsLoopback(request.remote_addr) ||
                         std::find(options_.metricsClients.begin(), options_.metricsClients.end(),
                                   request.remote_addr) != options_.metricsClients.end();
    if (!allowed) {
        response.status = 403;
        return;
    }
    response.set_header("Cache-Control", "no-store");
    response.set_content(ServerMetrics().exposition(), "text/plain; version=0.0.4; charset=utf-8");
}

void DirectoryServer::serveHealth(const httplib::Request &, httplib::Response &response) {
    const bool answers = store_->answers(kHealthLimit);
    response.status = answers ? 200 : 503;
    response.set_header("Cache-Control", "no-store");
    response.set_content(answers ? "OK" : "store unavailable", "text/plain; charset=utf-8");
}

} // namespace directory
