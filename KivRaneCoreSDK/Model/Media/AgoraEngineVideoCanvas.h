#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Model/Media/VideoRenderMode.h"
#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"
#include "platform/Media/VideoCanvas.h"
#include "platform/UI/View.h"

namespace kr {

/// The canvas the library's own room engine builds for a peer or a screen-share
/// track: a new view bound, through the media engine's canvas, to the peer's uid. The id is the
/// uid in decimal; an id that is not an unsigned decimal number gives uid 0.
/// Not thread-safe: used on the main queue.
class AgoraEngineVideoCanvas : public RtcVideoCanvas {
public:
    AgoraEngineVideoCanvas(const std::string& id, VideoRenderMode renderMode);

    std::string id() const override;
    std::uint64_t uid() const noexcept { return uid_; }

    /// The media engine's canvas (uid, view, render mode) to hand to the engine's video set-up.
    const std::shared_ptr<platform::VideoCanvas>& engineCanvas() const noexcept {
        return rtcCanvas_;
    }
    /// The same canvas, in whatever form the canvas interface hands engine canvases out.
    decltype(std::declval<RtcVideoCanvas&>().getRtcCanvas()) getRtcCanvas() override {
        return rtcCanvas_;
    }

    std::shared_ptr<platform::View> getVideoStreamView() const override { return videoStreamView_; }
    /// Takes the view out of its superview and drops it. The engine canvas keeps its own
    /// reference to the view, so a binding already made stays as it is.
    void destroyView() override;

private:
    std::uint64_t uid_;
    std::shared_ptr<platform::View> videoStreamView_;
    std::shared_ptr<platform::VideoCanvas> rtcCanvas_;  // never null
};

}  // namespace kr
