// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "directory_server/store.h"

#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace directory {

// A play report: the station's id and the client's address.
struct Play {
    std::string station;
    std::string client;
};

// Writes that arrived together, committed in one transaction, and what became
// of each.
struct WriteGroup {
    std::vector<Play> plays;
    std::vector<BoardMessage> messages;
    FairShares shares; // the limits the commit applies
    // Set by the commit: whether each play counted (all, when left empty),
    // and each message's outcome (all stored, when left empty).
    std::vector<bool> counted;
    std::vector<MessageOutcome> outcomes;
};

// Commits writes in groups: a writer thread takes every write waiting at once
// and commits them together; each write returns once its group is durable, or
// throws what the commit threw. One commit costs about as much as one write,
// so many clients at once cost little more than one.
class GroupCommit {
public:
    // Commits a group in one transaction, setting what became of each write;
    // throws StoreError when it could not.
    using Commit = std::function<void(WriteGroup &)>;

    explicit GroupCommit(Commit commit);
    // Commits what is still waiting, then stops the writer.
    ~GroupCommit();

    GroupCommit(const GroupCommit &) = delete;
    GroupCommit &operator=(const GroupCommit &) = delete;

    bool countPlay(const std::string &stationId, const std::string &client);
    MessageOutcome storeMessage(const BoardMessage &message);
    // The limits of the groups committed from now on.
    void setShares(const FairShares &shares);

private:
    struct Pending;
    // Adds a write to the group filling (add returns its place in the group)
    // and waits for that group's commit; the group, once committed.
    std::shared_ptr<const Pending> write(const std::function<std::size_t(WriteGroup &)> &add,
                                         std::size_t &place);
    void writeGroups();

    const Commit commit_;
    std::mutex mutex_;
    std::condition_variable waiting_;
    std::condition_variable committed_;
    std::shared_ptr<Pending> filling_; // writes waiting for the writer
    FairShares shares_;
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace directory
