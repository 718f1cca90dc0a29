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

// Writes that arrived together, committed in one transaction.
struct WriteGroup {
    std::vector<std::string> plays; // station ids, one per play
    std::vector<BoardMessage> messages;
};

// Commits writes in groups: a writer thread takes every write waiting at once
// and commits them together; each write returns once its group is durable, or
// throws what the commit threw. One commit costs about as much as one write,
// so many clients at once cost little more than one.
class GroupCommit {
public:
    // Commits a group in one transaction; throws StoreError when it could not.
    using Commit = std::function<void(const WriteGroup &)>;

    explicit GroupCommit(Commit commit);
    // Commits what is still waiting, then stops the writer.
    ~GroupCommit();

    GroupCommit(const GroupCommit &) = delete;
    GroupCommit &operator=(const GroupCommit &) = delete;

    void countPlay(const std::string &stationId);
    void storeMessage(const BoardMessage &message);

private:
    struct Pending;
    // Adds a write to the group filling and waits for that group's commit.
    void write(const std::function<void(WriteGroup &)> &add);
    void writeGroups();

    const Commit commit_;
    std::mutex mutex_;
    std::condition_variable waiting_;
    std::condition_variable committed_;
    std::shared_ptr<Pending> filling_; // writes waiting for the writer
    bool stopping_ = false;
    std::thread writer_;
};

} // namespace directory
