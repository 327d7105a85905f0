#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Media/RtcAuxiliaryTrack.h"
#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"

namespace kr {

/// What we know of a remote engine peer when the host supplies the media engine: its id, the
/// state of its audio and video, where its picture is drawn, and a second track while its
/// screen goes out as a stream of its own.
/// Shared by reference (std::shared_ptr): the engine's changes are seen by every holder.
/// Owns its canvas and its auxiliary track. Not thread-safe: used on the main queue.
class RtcPeerMetaData {
public:
    /// Empty id, audio and video muted, nothing else set.
    RtcPeerMetaData() = default;
    RtcPeerMetaData(std::string id, bool isAudioMuted, bool isVideoMuted, bool isLoudest);
    virtual ~RtcPeerMetaData() = default;

    RtcPeerMetaData(const RtcPeerMetaData&) = delete;
    RtcPeerMetaData& operator=(const RtcPeerMetaData&) = delete;

    /// The engine's uid of the peer, as text; fixed at construction.
    const std::string& id() const noexcept { return id_; }

    virtual bool isAudioMuted() const { return isAudioMuted_; }
    virtual void setIsAudioMuted(bool value) { isAudioMuted_ = value; }
    virtual bool isVideoMuted() const { return isVideoMuted_; }
    virtual void setIsVideoMuted(bool value) { isVideoMuted_ = value; }
    virtual bool isLoudest() const { return isLoudest_; }
    virtual void setIsLoudest(bool value) { isLoudest_ = value; }
    virtual bool isAudiencePeer() const { return isAudiencePeer_; }
    virtual void setIsAudiencePeer(bool value) { isAudiencePeer_ = value; }
    virtual bool isScreenShareTrack() const { return isScreenShareTrack_; }
    virtual void setIsScreenShareTrack(bool value) { isScreenShareTrack_ = value; }

    /// Replaces the canvas (null clears it) without destroying the previous one's view.
    virtual void setVideoCanvas(std::shared_ptr<RtcVideoCanvas> canvas);
    virtual std::shared_ptr<RtcVideoCanvas> getVideoCanvas() const { return videoCanvas_; }
    /// Destroys the canvas's view, then drops the canvas; nothing without a canvas.
    virtual void destroyVideoCanvas();

    /// Replaces the auxiliary track without destroying the previous one. A null track is
    /// ignored (use destroyAuxiliaryTrack to remove it).
    virtual void setAuxiliaryTrack(std::shared_ptr<RtcAuxiliaryTrack> track);
    virtual std::shared_ptr<RtcAuxiliaryTrack> getAuxiliaryTrack() const { return auxiliaryTrack_; }
    /// Destroys the track's canvas view, then drops the track; nothing without a track.
    virtual void destroyAuxiliaryTrack();

    /// Equal state: id and the five flags (canvas and auxiliary track take no part).
    friend bool operator==(const RtcPeerMetaData& lhs, const RtcPeerMetaData& rhs);

private:
    std::shared_ptr<RtcVideoCanvas> videoCanvas_;
    const std::string id_;
    bool isAudioMuted_ = true;
    bool isVideoMuted_ = true;
    bool isLoudest_ = false;
    bool isAudiencePeer_ = false;
    bool isScreenShareTrack_ = false;
    std::shared_ptr<RtcAuxiliaryTrack> auxiliaryTrack_;
};

}  // namespace kr
