#include "platform/Media/MediaEngineFactory.h"

#include <utility>

namespace kr::platform {

MediaEngineFactory::MediaEngineFactory(std::shared_ptr<MediaBus> bus,
                                       std::shared_ptr<DispatchQueue> queue)
    : bus_(std::move(bus)), queue_(std::move(queue)) {}

// Dropping the factory only drops its reference: an engine still held elsewhere lives on.
MediaEngineFactory::~MediaEngineFactory() = default;

std::shared_ptr<MediaEngine> MediaEngineFactory::sharedEngineWithAppId(
    const std::string& appId, std::weak_ptr<MediaEngineDelegate> delegate) {
    std::shared_ptr<MediaEngine> engine;
    {
        std::lock_guard lock(mutex_);
        // An engine destroyed directly (not through this factory) is spent: replace it.
        if (!engine_ || engine_->isDestroyed()) {
            engine_ = MediaEngine::create(appId, delegate, bus_, queue_);
            return engine_;
        }
        engine = engine_;
    }
    engine->setDelegate(std::move(delegate));
    return engine;
}

void MediaEngineFactory::destroy() {
    std::shared_ptr<MediaEngine> engine;
    {
        std::lock_guard lock(mutex_);
        engine = std::move(engine_);
    }
    if (engine) {
        engine->destroy();
    }
}

std::shared_ptr<MediaEngine> MediaEngineFactory::engine() const {
    std::lock_guard lock(mutex_);
    return engine_;
}

}  // namespace kr::platform
