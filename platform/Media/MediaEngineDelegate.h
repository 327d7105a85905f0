#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Media/AudioVolumeInfo.h"
#include "platform/Media/ChannelStats.h"

namespace kr::platform {

/// Receiver of a media engine's callbacks. Every method is optional (empty by default). The
/// integer arguments are the codes of MediaCodes.
///
/// Threading: callbacks run on the engine's queue (the main queue unless the engine was made with
/// another), never inside the call that caused them, never after the engine was destroyed or the
/// delegate replaced, and never for an earlier channel session after leaveChannel().
class MediaEngineDelegate {
public:
    virtual ~MediaEngineDelegate() = default;

    // Channel and participants.
    virtual void didJoinChannel(const std::string& channel, std::uint64_t uid, int elapsed) {
        (void)channel, (void)uid, (void)elapsed;
    }
    virtual void didLeaveChannelWithStats(const ChannelStats& stats) { (void)stats; }
    virtual void didJoinedOfUid(std::uint64_t uid, int elapsed) { (void)uid, (void)elapsed; }
    virtual void didOfflineOfUid(std::uint64_t uid, int reason) { (void)uid, (void)reason; }
    virtual void connectionChangedToState(int state, int reason) { (void)state, (void)reason; }
    virtual void didClientRoleChanged(int oldRole, int newRole) { (void)oldRole, (void)newRole; }
    virtual void didClientRoleChangeFailed(int reason, int currentRole) {
        (void)reason, (void)currentRole;
    }

    // Remote media.
    virtual void remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                              int elapsed) {
        (void)uid, (void)state, (void)reason, (void)elapsed;
    }
    virtual void remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                              int elapsed) {
        (void)uid, (void)state, (void)reason, (void)elapsed;
    }
    virtual void didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) {
        (void)isFallbackOrRecover;
    }
    virtual void didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                                       std::uint64_t uid) {
        (void)isFallbackOrRecover, (void)uid;
    }

    // Volumes, routes, quality and statistics.
    virtual void reportAudioVolumeIndicationOfSpeakers(const std::vector<AudioVolumeInfo>& speakers,
                                                       int totalVolume) {
        (void)speakers, (void)totalVolume;
    }
    virtual void activeSpeaker(std::uint64_t uid) { (void)uid; }
    virtual void didAudioRouteChanged(int routing) { (void)routing; }
    virtual void networkQuality(std::uint64_t uid, int txQuality, int rxQuality) {
        (void)uid, (void)txQuality, (void)rxQuality;
    }
    virtual void reportRtcStats(const ChannelStats& stats) { (void)stats; }

    // Local devices and effects.
    virtual void localAudioStateChange(int state, int error) { (void)state, (void)error; }
    virtual void localVideoStateChange(int state, int error) { (void)state, (void)error; }
    virtual void firstLocalVideoFrameWithSize(int width, int height, int elapsed) {
        (void)width, (void)height, (void)elapsed;
    }
    virtual void localAudioMixingStateDidChanged(int state, int reason) {
        (void)state, (void)reason;
    }
    virtual void virtualBackgroundSourceEnabled(bool enabled, int reason) {
        (void)enabled, (void)reason;
    }
    virtual void didOccurError(int errorCode) { (void)errorCode; }
};

}  // namespace kr::platform
