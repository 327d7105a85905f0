#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaEngine.h"

namespace kr::test {

/// A screen share published the way a broadcast extension does it: a second engine of its own
/// on the bus, joining the meeting's channel as a broadcaster under the share's uid, sending
/// video only. The participants' engines see it as one more remote broadcaster.
///
/// Threading: like the engine (any thread; callbacks, which nobody receives, on `queue`).
class ScreenShareBroadcast {
public:
    ScreenShareBroadcast(std::shared_ptr<platform::MediaBus> bus,
                         std::shared_ptr<platform::DispatchQueue> queue);
    /// Stops the share if it is running.
    ~ScreenShareBroadcast();
    ScreenShareBroadcast(const ScreenShareBroadcast&) = delete;
    ScreenShareBroadcast& operator=(const ScreenShareBroadcast&) = delete;

    /// Joins `channelId` as `uid` and starts sending video; a running share is stopped first.
    void start(const std::string& channelId, std::uint64_t uid);
    /// Leaves the channel (the others see the uid quit) and ends the engine.
    void stop();
    /// The engine of the running share, or null.
    const std::shared_ptr<platform::MediaEngine>& engine() const { return engine_; }

private:
    const std::shared_ptr<platform::MediaBus> bus_;
    const std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<platform::MediaEngine> engine_;
};

}  // namespace kr::test
