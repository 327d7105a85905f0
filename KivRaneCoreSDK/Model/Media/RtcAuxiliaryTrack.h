#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"

namespace kr {

/// A peer's separate screen-share video track on the room engine backend, with its own
/// canvas. Shared by reference (std::shared_ptr); owns its canvas.
/// Not thread-safe: used on the main queue.
class RtcAuxiliaryTrack {
public:
    RtcAuxiliaryTrack(std::string id, std::string parentId);
    virtual ~RtcAuxiliaryTrack() = default;

    RtcAuxiliaryTrack(const RtcAuxiliaryTrack&) = delete;
    RtcAuxiliaryTrack& operator=(const RtcAuxiliaryTrack&) = delete;

    /// The track's stream id.
    const std::string& id() const noexcept { return id_; }
    /// The id of the peer that owns the track.
    const std::string& parentId() const noexcept { return parentId_; }

    /// Replaces the canvas (null clears it) without destroying the previous one's view.
    virtual void setVideoCanvas(std::shared_ptr<RtcVideoCanvas> canvas);
    virtual std::shared_ptr<RtcVideoCanvas> getVideoCanvas() const { return videoCanvas_; }
    /// Destroys the canvas's view, then drops the canvas; nothing without a canvas.
    virtual void destroyVideoCanvas();

private:
    const std::string id_;
    const std::string parentId_;
    std::shared_ptr<RtcVideoCanvas> videoCanvas_;
};

}  // namespace kr
