// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/announcements.h"
#include "directory_server/data_folder.h"
#include "directory_server/guarded_server.h"
#include "directory_server/metrics.h"
#include "directory_server/options.h"
#include "directory_server/page_cache.h"
#include "directory_server/station_list.h"
#include "directory_server/store.h"
#include "directory_server/streams.h"

#include <atomic>
#include <functional>
#include <httplib.h>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace directory {

// Why the server cannot start: a message for the person who started it.
class StartError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The companion directory server: the station directory with its heat, play
// reports, announcements, the home and download pages, the message board, the
// fallback playlist and the generated station streams.
class DirectoryServer {
public:
    // Prepares the data folder (filling a missing or empty one with the demo),
    // reads the station list and announcements, opens the store, hands it the
    // lists and binds the listening socket. Throws StartError.
    DirectoryServer(const Options &options, LogLine log);

    // Serves until stop(); false when serving failed.
    bool run();
    // Ends every stream and stops serving; callable from any thread.
    void stop();

private:
    // The stations as last loaded from the store, with each one's place by id.
    struct Listing {
        SharedStations stations;                                 // the store's own list, not a copy
        std::unordered_map<std::string_view, std::size_t> index; // held by stations
    };

    void loadData(const DataFiles &files);
    // Loads again from the store what the ChangeKind bits say changed.
    void reload(unsigned kinds);
    std::shared_ptr<const Listing> listing();
    std::shared_ptr<AnnouncementRotation> announcements();
    void route();
    void bind();

    void serveDirectory(const httplib::Request &request, httplib::Response &response);
    void countPlay(const httplib::Request &request, httplib::Response &response);
    void serveHome(const httplib::Request &request, httplib::Response &response);
    void storeMessage(const httplib::Request &request, httplib::Response &response,
                      const httplib::ContentReader &read);
    void serveFallback(const httplib::Request &request, httplib::Response &response);
    void serveHealth(const httplib::Request &request, httplib::Response &response);
    void serveMetrics(const httplib::Request &request, httplib::Response &response);
    std::string base(const httplib::Request &request) const;
    // The client's address: the peer's, or for a request through a trusted
    // proxy the one the proxy names in X-Forwarded-For.
    std::string clientOf(const httplib::Request &request) const;

    const Options options_;
    const LogLine log_;
    // The figures the server reports, each found once in ServerMetrics().
    struct Figures {
        Counter &playsCounted;
        Counter &playsIgnored;
        Counter &messagesStored;
        Counter &messagesRefusedEmpty;
        Counter &messagesRefusedForm;
        Counter &messagesRefusedLimit;
        Counter &messagesRefusedFull;
        Timing &pageRebuilds;
        Timing &storePlay;
        Timing &storeMessage;
    };
    const Figures figures_;
    // What the pages show, kept here between loads from the store and served
    // as it is while the store cannot be reached. Unless the store announces
    // them, the plays stored through this server are counted in heat_ here.
    std::mutex contentMutex_;
    std::shared_ptr<const Listing> listing_;
    std::vector<std::int64_t> heat_;
    std::shared_ptr<AnnouncementRotation> announcements_;
    PageCache directoryPages_;
    std::unique_ptr<Store> store_;
    std::unique_ptr<StreamHub> streams_;
    GuardedServer server_;
    int listenFd_ = -1;
    std::atomic<bool> finished_{false};
};

} // namespace directory
