#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Media/MediaEngineDelegate.h"

namespace kr::platform {

/// The "shared engine" of one client: hands out the same MediaEngine until destroy() ends it, so
/// a wrapper can ask for its engine at every set-up and destroy it when the channel is left.
/// Each wrapper owns its own factory, so several clients in one process get separate engines
/// that meet on the bus. The bus and the queue are captured at construction.
///
/// Threading: any thread.
class MediaEngineFactory {
public:
    explicit MediaEngineFactory(std::shared_ptr<MediaBus> bus = MediaBus::current(),
                                std::shared_ptr<DispatchQueue> queue = MainQueue::current());
    ~MediaEngineFactory();
    MediaEngineFactory(const MediaEngineFactory&) = delete;
    MediaEngineFactory& operator=(const MediaEngineFactory&) = delete;

    /// The current engine, made for `appId` when there is none or it has been destroyed; its
    /// delegate becomes `delegate` either way. An existing engine keeps its first app id.
    std::shared_ptr<MediaEngine> sharedEngineWithAppId(const std::string& appId,
                                                       std::weak_ptr<MediaEngineDelegate> delegate);
    /// Destroys the current engine (no callback arrives after it) and forgets it; does nothing
    /// when there is none.
    void destroy();
    /// The current engine, or null.
    std::shared_ptr<MediaEngine> engine() const;

private:
    const std::shared_ptr<MediaBus> bus_;
    const std::shared_ptr<DispatchQueue> queue_;
    mutable std::mutex mutex_;
    std::shared_ptr<MediaEngine> engine_;
};

}  // namespace kr::platform
