#include "KivRaneCoreSDK/Model/Media/AgoraEngineVideoCanvas.h"

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "platform/Media/MediaCodes.h"

namespace kr {

namespace {

// The media engine's code for each render mode.
int engineRenderMode(VideoRenderMode mode) {
    switch (mode) {
        case VideoRenderMode::scaleToFill:
            return platform::MediaCodes::kRenderFill;
        case VideoRenderMode::scaleAspectFit:
            return platform::MediaCodes::kRenderFit;
        case VideoRenderMode::scaleAspectFill:
            return platform::MediaCodes::kRenderHidden;
    }
    return platform::MediaCodes::kRenderHidden;
}

}  // namespace

AgoraEngineVideoCanvas::AgoraEngineVideoCanvas(const std::string& id, VideoRenderMode renderMode)
    : uid_(uintValue(id)),
      videoStreamView_(platform::View::create()),
      rtcCanvas_(std::make_shared<platform::VideoCanvas>(
          platform::VideoCanvas{uid_, videoStreamView_, engineRenderMode(renderMode)})) {}

std::string AgoraEngineVideoCanvas::id() const {
    return sringValue(uid_);
}

void AgoraEngineVideoCanvas::destroyView() {
    if (auto view = std::exchange(videoStreamView_, nullptr)) {
        view->removeFromSuperview();
    }
}

}  // namespace kr
