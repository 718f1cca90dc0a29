// SPDX-License-Identifier: GPL-3.0-or-later
#include "directory_server/group_commit.h"

namespace directory {

struct GroupCommit::Pending {
    WriteGroup group;
    bool done = false;
    std::exception_ptr error; // why the group could not be committed
};

GroupCommit::GroupCommit(Commit commit) : commit_(std::move(commit)) {
    writer_ = std::thread([this] { writeGroups(); });
}

GroupCommit::~GroupCommit() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    waiting_.notify_one();
    writer_.join();
}

bool GroupCommit::countPlay(const std::string &stationId, const std::string &client) {
    std::size_t place = 0;
    const auto committed = write(
        [&](WriteGroup &group) {
            group.plays.push_back({stationId, client});
            return group.plays.size() - 1;
        },
        place);
    return committed->group.counted.empty() || committed->group.counted[place];
}

MessageOutcome GroupCommit::storeMessage(const BoardMessage &message) {
    std::size_t place = 0;
    const auto committed = write(
        [&](WriteGroup &group) {
            group.messages.push_back(message);
            return group.messages.size() - 1;
        },
        place);
    return committed->group.outcomes.empty() ? MessageOutcome{} : committed->group.outcomes[place];
}

void GroupCommit::setShares(const FairShares &shares) {
    const std::lock_guard lock(mutex_);
    shares_ = shares;
}

std::shared_ptr<const GroupCommit::Pending>
GroupCommit::write(const std::function<std::size_t(WriteGroup &)> &add, std::size_t &place) {
    std::unique_lock lock(mutex_);
    if (!filling_) {
        filling_ = std::make_shared<Pending>();
    }
    const std::shared_ptr<Pending> pending = filling_;
    place = add(pending->group);
    waiting_.notify_one();
    committed_.wait(lock, [&] { return pending->done; });
    if (pending->error) {
        std::rethrow_exception(pending->error);
    }
    return pending;
}

// The writer: takes every write waiting, commits them in one transaction, and
// lets their requests go on; until stopped with nothing waiting.
void GroupCommit::writeGroups() {
    for (;;) {
        std::shared_ptr<Pending> pending;
        {
            std::unique_lock lock(mutex_);
            waiting_.wait(lock, [this] { return filling_ || stopping_; });
            if (!filling_) {
                return;
            }
            pending = std::move(filling_);
            pending->group.shares = shares_;
        }
        std::exception_ptr error;
        try {
            commit_(pending->group);
        } catch (const StoreError &) {
            error = std::current_exception();
        }
        {
            const std::lock_guard lock(mutex_);
            pending->error = error;
            pending->done = true;
        }
        committed_.notify_all();
    }
}

} // namespace directory
