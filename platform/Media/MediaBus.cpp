#include "platform/Media/MediaBus.h"

#include <algorithm>
#include <utility>

#include "platform/Media/MediaEngine.h"

namespace kr::platform {

namespace {

const std::shared_ptr<MediaBus>& processBus() {
    // Never destroyed, like the main queue it delivers on.
    static const auto* const bus = new std::shared_ptr<MediaBus>(MediaBus::create());
    return *bus;
}

}  // namespace

std::shared_ptr<MediaBus> MediaBus::create() {
    return std::shared_ptr<MediaBus>(new MediaBus());
}

std::shared_ptr<MediaBus> MediaBus::current() {
    return processBus();
}

MediaBus::~MediaBus() = default;

void MediaBus::setBroadcasterLimit(std::optional<std::size_t> limit) {
    std::lock_guard lock(mutex_);
    broadcasterLimit_ = limit;
}

void MediaBus::failNext(MediaOperation operation, int code) {
    std::lock_guard lock(mutex_);
    failures_.push(operation, code);
}

void MediaBus::stallNextJoin() {
    std::lock_guard lock(mutex_);
    ++stalledJoins_;
}

std::vector<std::shared_ptr<MediaEngine>> MediaBus::engines() const {
    std::vector<std::shared_ptr<MediaEngine>> live;
    std::lock_guard lock(mutex_);
    for (const auto& weak : engines_) {
        if (auto engine = weak.lock()) {
            live.push_back(std::move(engine));
        }
    }
    return live;
}

std::shared_ptr<MediaEngine> MediaBus::engineFor(const std::string& channelId,
                                                 std::uint64_t uid) const {
    std::lock_guard lock(mutex_);
    auto channel = channels_.find(channelId);
    if (channel == channels_.end()) {
        return nullptr;
    }
    for (MediaEngine* engine : channel->second) {
        if (engine->uid_ == uid) {
            return engine->weak_from_this().lock();
        }
    }
    return nullptr;
}

std::vector<std::uint64_t> MediaBus::members(const std::string& channelId) const {
    std::vector<std::uint64_t> uids;
    std::lock_guard lock(mutex_);
    if (auto channel = channels_.find(channelId); channel != channels_.end()) {
        for (const MediaEngine* engine : channel->second) {
            uids.push_back(engine->uid_);
        }
    }
    return uids;
}

std::vector<std::uint64_t> MediaBus::broadcasters(const std::string& channelId) const {
    std::vector<std::uint64_t> uids;
    std::lock_guard lock(mutex_);
    if (auto channel = channels_.find(channelId); channel != channels_.end()) {
        for (const MediaEngine* engine : channel->second) {
            if (engine->role_ == MediaCodes::kRoleBroadcaster) {
                uids.push_back(engine->uid_);
            }
        }
    }
    return uids;
}

bool MediaBus::isFullLocked(const std::string& channelId, const MediaEngine* except) const {
    if (!broadcasterLimit_) {
        return false;
    }
    std::size_t count = 0;
    if (auto channel = channels_.find(channelId); channel != channels_.end()) {
        count = static_cast<std::size_t>(
            std::count_if(channel->second.begin(), channel->second.end(), [&](auto* engine) {
                return engine != except && engine->role_ == MediaCodes::kRoleBroadcaster;
            }));
    }
    return count >= *broadcasterLimit_;
}

std::uint64_t MediaBus::allocateUidLocked(const std::string& channelId) {
    const auto& members = channels_[channelId];
    for (;;) {
        const std::uint64_t uid = nextUid_++;
        const bool taken = std::any_of(members.begin(), members.end(),
                                       [uid](auto* engine) { return engine->uid_ == uid; });
        if (!taken) {
            return uid;
        }
    }
}

}  // namespace kr::platform
