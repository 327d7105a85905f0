#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Media/MediaFailureQueue.h"
#include "platform/Media/MediaOperation.h"

namespace kr::platform {

class MediaEngine;

/// The in-process meeting place of media engines: the engines made on one bus see each other in
/// the channels they join (joins, leaves, role changes and media state), so several clients in
/// one process meet as they would through a media service.
///
/// Threading: every method may be called from any thread. One mutex guards the bus and the
/// state of every engine on it; no callback is run while it is held.
class MediaBus {
public:
    static std::shared_ptr<MediaBus> create();
    /// The process bus (made lazily, never replaced); engines made without a bus join this one.
    /// Tests make buses of their own and pass them in.
    static std::shared_ptr<MediaBus> current();

    MediaBus(const MediaBus&) = delete;
    MediaBus& operator=(const MediaBus&) = delete;
    ~MediaBus();

    /// Most broadcasters one channel admits (none: no limit). A request to become broadcaster in
    /// a full channel is refused with didClientRoleChangeFailed(1, ...); a broadcaster joining a
    /// full channel joins as audience and is told the same.
    void setBroadcasterLimit(std::optional<std::size_t> limit);

    /// Makes the next call of `operation` by any engine on this bus fail with `code` (see
    /// MediaEngine::failNext). Failures queued on an engine itself are used first.
    void failNext(MediaOperation operation, int code);
    /// Makes the next joinChannelByToken by any engine on this bus go unanswered: it returns 0,
    /// the joiner hears connectionChangedToState(2, 0) and nothing more, and only leaveChannel
    /// ends the attempt (with its leave report). For a media channel that never confirms a join.
    void stallNextJoin();

    /// The live engines of this bus, oldest first.
    std::vector<std::shared_ptr<MediaEngine>> engines() const;
    /// The engine in `channelId` under `uid`, or null.
    std::shared_ptr<MediaEngine> engineFor(const std::string& channelId, std::uint64_t uid) const;
    /// Uids in a channel in join order (broadcasters and audience).
    std::vector<std::uint64_t> members(const std::string& channelId) const;
    /// Uids of the broadcasters in a channel, in join order.
    std::vector<std::uint64_t> broadcasters(const std::string& channelId) const;

private:
    friend class MediaEngine;
    MediaBus() = default;

    // All below guarded by mutex_.
    bool isFullLocked(const std::string& channelId, const MediaEngine* except) const;
    std::uint64_t allocateUidLocked(const std::string& channelId);

    mutable std::mutex mutex_;
    std::optional<std::size_t> broadcasterLimit_;
    std::vector<std::weak_ptr<MediaEngine>> engines_;
    std::map<std::string, std::vector<MediaEngine*>> channels_;
    MediaFailureQueue failures_;
    std::size_t stalledJoins_ = 0;
    std::uint64_t nextUid_ = 10001;
};

}  // namespace kr::platform
