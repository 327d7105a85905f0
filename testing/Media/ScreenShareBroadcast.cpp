#include "testing/Media/ScreenShareBroadcast.h"

#include <utility>

#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaCodes.h"

namespace kr::test {

ScreenShareBroadcast::ScreenShareBroadcast(std::shared_ptr<platform::MediaBus> bus,
                                           std::shared_ptr<platform::DispatchQueue> queue)
    : bus_(std::move(bus)), queue_(std::move(queue)) {}

ScreenShareBroadcast::~ScreenShareBroadcast() {
    stop();
}

void ScreenShareBroadcast::start(const std::string& channelId, std::uint64_t uid) {
    stop();
    engine_ = platform::MediaEngine::create("screen-share", {}, bus_, queue_);
    engine_->enableVideo();
    engine_->setClientRole(platform::MediaCodes::kRoleBroadcaster);
    engine_->muteLocalAudioStream(true);
    platform::ChannelMediaOptions options;
    options.autoSubscribeAudio = false;
    options.autoSubscribeVideo = false;
    options.publishLocalAudio = false;
    options.publishLocalVideo = true;
    engine_->joinChannelByToken("", channelId, "", uid, options);
}

void ScreenShareBroadcast::stop() {
    if (!engine_) {
        return;
    }
    engine_->leaveChannel();
    engine_->destroy();
    engine_.reset();
}

}  // namespace kr::test
