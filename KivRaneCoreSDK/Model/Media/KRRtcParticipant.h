#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "platform/Media/VideoCanvas.h"
#include "platform/UI/View.h"

namespace kr {

/// One member of the media channel as the default engine wrapper knows it: its engine uid, its
/// mute, loudness and audience flags, and the engine canvas binding the uid to the view its
/// video is drawn in. Shared by reference (std::shared_ptr): the wrapper's list, the client and
/// the host app hold the same object and see each other's flag changes. Owns its canvas and
/// view. Not thread-safe: used on the main queue.
class KRRtcParticipant {
public:
    /// Audio and video muted, not loudest, in the audience; a new empty view, bound in a new
    /// canvas to `uid` with `renderMode` (an engine render mode).
    KRRtcParticipant(std::uint64_t uid, int renderMode);
    virtual ~KRRtcParticipant() = default;

    KRRtcParticipant(const KRRtcParticipant&) = delete;
    KRRtcParticipant& operator=(const KRRtcParticipant&) = delete;

    std::uint64_t uid() const noexcept { return uid_; }

    virtual bool isVideoMuted() const { return isVideoMuted_; }
    virtual void setIsVideoMuted(bool value) { isVideoMuted_ = value; }
    virtual bool isAudioMuted() const { return isAudioMuted_; }
    virtual void setIsAudioMuted(bool value) { isAudioMuted_ = value; }
    virtual bool isLoudest() const { return isLoudest_; }
    virtual void setIsLoudest(bool value) { isLoudest_ = value; }
    virtual bool isAudience() const { return isAudience_; }
    virtual void setIsAudience(bool value) { isAudience_ = value; }
    virtual std::shared_ptr<platform::View> canvasVideoView() const { return canvasVideoView_; }
    virtual void setCanvasVideoView(std::shared_ptr<platform::View> view) {
        canvasVideoView_ = std::move(view);
    }

    /// The engine canvas; never replaced. Its view is a separate reference from
    /// canvasVideoView() and is cleared separately.
    const std::shared_ptr<platform::VideoCanvas>& canvas() const noexcept { return canvas_; }
    virtual std::shared_ptr<platform::VideoCanvas> getRtcCanvas() const { return canvas_; }
    /// The current canvasVideoView().
    virtual std::shared_ptr<platform::View> getRtcCanvasView() const { return canvasVideoView(); }

private:
    bool isVideoMuted_ = true;
    bool isAudioMuted_ = true;
    bool isLoudest_ = false;
    bool isAudience_ = true;
    const std::uint64_t uid_;
    const std::shared_ptr<platform::VideoCanvas> canvas_;
    std::shared_ptr<platform::View> canvasVideoView_;
};

}  // namespace kr
