// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/tone/tone.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <httplib.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace directory {

// What a generated stream is called and how it sounds.
struct StreamChannel {
    std::string title; // the ICY stream title
    int sound = 0;     // index into the server's sounds; each index sounds different
};

// The generated sound with this index: a steady tone or a chime on one of 15
// notes, distinct for indexes 0 to 44.
tone::ToneSettings SoundOf(int sound);

// Endless, live-like MP3 streams of generated sound. Each listener joins the
// broadcast where it is now, gets a couple of seconds ahead so playback starts
// at once, and is then paced at the real bitrate. Once its answer's head is
// sent, a listener's connection leaves the server's workers for one pump
// thread that tops up every listener several times a second without
// blocking. A listener that goes away is dropped on the next write; one that
// does not read is dropped after a few seconds without progress; neither holds
// up the others.
class StreamHub {
public:
    // The channel with a key, if there is one.
    using ChannelOf = std::function<std::optional<StreamChannel>(const std::string &key)>;

    // At most maxListeners at once, of which one client address holds at
    // most maxPerAddress.
    StreamHub(ChannelOf channelOf, int maxListeners, int maxPerAddress);
    ~StreamHub();

    // Answers a request for channel key: the stream, 404 for an unknown key,
    // 503 when the listener limit, or the client address's, is reached.
    // client is the listener's address, which holds the place.
    void serve(const std::string &key, const std::string &client, const httplib::Request &request,
               httplib::Response &response);

    // Ends every stream at its next step and refuses new listeners.
    void stop();

private:
    struct Listener;

    // A copy of the channel's encoded loop, encoding it on first use.
    tone::ToneStream streamFor(const std::string &key, int sound);
    // Gives the listener's connection to the pump thread.
    void adopt(const std::shared_ptr<Listener> &listener);
    // The pump thread: tops up every listener each tick until stop().
    void pumpAll();
    // Sends what is due to the listener; false when it is to be dropped.
    bool pump(Listener &listener, std::chrono::steady_clock::time_point now);
    // Takes a listener place for the client address; false when none is left.
    bool takePlace(const std::string &address);
    void releasePlace(const std::string &address);

    const ChannelOf channelOf_;
    const int maxListeners_;
    const int maxPerAddress_;
    const std::chrono::steady_clock::time_point epoch_;

    std::mutex placesMutex_;
    int listeners_ = 0;
    std::map<std::string, int> listenersOf_; // places held, by client address

    std::mutex loopsMutex_;
    std::map<std::string, tone::ToneStream> loops_;

    std::mutex stopMutex_;
    std::condition_variable stopChanged_;
    bool stopping_ = false;
    std::vector<std::shared_ptr<Listener>> arriving_; // for the pump thread
    std::thread pump_;
};

// A live HLS broadcast of generated sound: MP3 packed-audio segments of about
// two seconds, each opening with an ID3 tag of its timestamp, listed in a
// rolling media playlist of the newest few. Segments are made when asked for,
// from the time since the broadcast began, so every listener hears the same
// broadcast and nothing is held per listener.
class HlsBroadcast {
public:
    explicit HlsBroadcast(const tone::ToneSettings &sound);

    // Answers with the media playlist as it is now.
    void servePlaylist(httplib::Response &response) const;
    // Answers with the segment of this sequence number while the playlist
    // lists it (or did a moment ago); 404 for any other.
    void serveSegment(std::int64_t sequence, httplib::Response &response) const;

private:
    std::int64_t newest() const;

    const tone::ToneStream stream_;
    const std::chrono::steady_clock::time_point epoch_;
};

} // namespace directory
