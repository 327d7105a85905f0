#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Model/Media/KRRemoteStreamQuality.h"
#include "KivRaneCoreSDK/Model/Media/VideoRenderMode.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"
#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerDelegate.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "KivRaneCoreSDK/RTM/Protocols/RtmManagerDelegate.h"
#include "platform/UI/View.h"

namespace kr {

/// A media engine the room chooses on the room engine backend: the library's own engine for rooms
/// that name "agora", or one the host app supplies for rooms that name "kr-media". The facade
/// drives it through these operations and hears back through RtcManagerDelegate (media) and
/// RtmManagerDelegate (control messages). Peers are known by their id in the channel, the
/// engine's numeric uid written in decimal.
///
/// Operations with a body are optional: an engine that has nothing to do for them need not
/// override them. None reports an error to its caller; an engine reports failures through the
/// delegate's local audio and video failure reports, or not at all.
///
/// Threading: called on the library's main queue; the engine reports on it too.
class RtcManagerProtocol {
public:
    virtual ~RtcManagerProtocol() = default;

    /// Creates and configures the media engine and keeps `delegate` (weakly). Called once per
    /// join, before `joinRoom`; `data` carries the room's engine settings.
    virtual void configureRtcEngine(const boost::json::object& data,
                                    std::weak_ptr<RtcManagerDelegate> delegate) = 0;
    /// Encoder settings of the published (high) video stream.
    virtual void configureVideoEncoderConfiguration(const KRRtcVideoEncoderConfig& /*config*/) {}
    /// Encoder settings of the low video stream.
    virtual void configureLowQualityVideoStream(const KRRtcVideoEncoderConfig& /*config*/) {}
    /// Creates the local peer's canvas and shows the local camera in it.
    virtual void setUpLocalRtcVideoView() = 0;
    virtual void startPreview() = 0;
    virtual void stopPreview() = 0;
    /// Joins the media channel described by `data`.
    virtual void joinRoom(const boost::json::object& data) = 0;
    virtual void muteUnmuteLocalAudio(bool isMuted) = 0;
    /// Stops (true) or starts (false) publishing the local camera.
    virtual void muteUnmuteLocalVideo(bool isMuted) = 0;
    virtual void switchCamera() = 0;
    /// Leaves the media channel; the engine then reports the local leave.
    virtual void leaveRtcChannel() = 0;
    /// Creates the canvas of the remote peer `id` and renders its video in it.
    virtual void setUpRemoteStreamVideoView(const std::string& id, VideoRenderMode renderMode) = 0;
    /// Stops (true) or resumes (false) receiving the audio of the peer `uid`.
    virtual void muteUnmuteUserAudioStream(bool isMute, const std::string& uid) = 0;
    /// Stops (true) or resumes (false) receiving the video of the peer `uid`.
    virtual void muteUnmuteUserVideoStream(bool isMute, const std::string& uid) = 0;
    virtual bool isConnectedToRtcServer() const = 0;
    /// The canvas of the peer `peerId`, or null.
    virtual std::shared_ptr<RtcVideoCanvas> getRtcCanvas(const std::string& peerId) const = 0;
    /// The video view of the peer `peerId`, or null.
    virtual std::shared_ptr<platform::View> getVideoStreamView(const std::string& peerId) const = 0;
    /// Sound file played when a participant joins.
    virtual void setAudioFileForUserJoinChime(const std::string& /*path*/) {}
    /// Sound file played when a participant leaves.
    virtual void setAudioFileForUserLeftChime(const std::string& /*path*/) {}
    virtual void playChimeOnUserJoin() {}
    virtual void playChimeOnUserLeave() {}
    /// Becomes audience (true) or broadcaster (false).
    virtual void switchClientRole(bool /*isAudience*/) {}
    /// The engine's record of the peer `peerId`, or null.
    virtual std::shared_ptr<RtcPeerMetaData> getPeerData(const std::string& peerId) const = 0;
    /// Playback volume of all remote audio.
    virtual void setRemoteParticipantsVolume(std::int64_t /*value*/) {}
    virtual void applyVirtualBackground(const KRVirtualBackgroundType& /*background*/) {}
    /// Plays audio on the speaker or the device, or switches audio off.
    virtual void switchAudioDevice(KRAudioDeviceType type) = 0;
    /// Publishes a second, low-quality video stream (true) or not.
    virtual void setUpDualStream(bool /*enable*/) {}
    /// Keeps `delegate` (weakly) as the receiver of relayed control messages; an empty pointer
    /// detaches it.
    virtual void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> delegate) = 0;
    /// Everyone in the room gets `message` (in practice the facade hands over `publicChat` ones).
    virtual void sendPublicMessage(const KRRtmMessage& message) = 0;
    /// Only the participant `message.targetParticipantId` gets it (in practice the facade hands
    /// over `peerToPeer` ones).
    virtual void sendPrivateMessage(const KRRtmMessage& message) = 0;
    /// Stops (true) or resumes (false) receiving all remote video.
    virtual void enableDisableAudioOnlyMode(bool isEnabled) = 0;
    /// Receives the high or the low video stream of the peer `uid`.
    virtual void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) = 0;
    /// Starts publishing a screen-share stream shared through the app group `appGroupId`.
    virtual void startScreenShare(const std::string& /*appGroupId*/) {}
    virtual void stopScreenShare() {}

protected:
    RtcManagerProtocol() = default;
    RtcManagerProtocol(const RtcManagerProtocol&) = default;
    RtcManagerProtocol& operator=(const RtcManagerProtocol&) = default;
};

}  // namespace kr
