#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/ClientRoleRetry.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/EarlyRemoteMedia.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/FrozenVideoTracker.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/SpeakerVolumes.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRRemoteStreamQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcParticipant.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoFrozenData.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Dispatch/TaskHandle.h"
#include "platform/Media/AudioSessionRouteDescription.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Media/MediaEngineDelegate.h"
#include "platform/Media/MediaEngineFactory.h"
#include "platform/UI/View.h"

namespace kr {

/// The default backend's wrapper around the media engine: sets the engine up, joins and leaves the
/// media channel, keeps the list of channel participants, drives local and remote media, and
/// turns the engine's callbacks into `KRRtcManagerDelegate` reports (loudest and top speakers,
/// frozen video, audio route, role changes with their retry, network quality, statistics,
/// device errors).
///
/// Ownership: made with create() and held by std::shared_ptr. The engine comes from the
/// client's `MediaEngineFactory` (shared with the client's other engine wrapper, so one client
/// never holds two engines); the engine holds this wrapper weakly, this wrapper holds its
/// delegate weakly. Engine calls are skipped while no engine is held; their codes are not read.
///
/// Threading: confined to `queue` (the library's main queue); engine callbacks arrive there too.
/// The delegate may call back into the wrapper, or release it, from inside any report: a call
/// that reports before it returns keeps the wrapper alive until it does.
class KRRtcManger : public platform::MediaEngineDelegate,
                    public std::enable_shared_from_this<KRRtcManger> {
public:
    using Participants = std::vector<std::shared_ptr<KRRtcParticipant>>;

    /// No engine until configureRTCEngine(). `logger` defaults to one with module "KivRaneRTC".
    static std::shared_ptr<KRRtcManger> create(
        std::shared_ptr<platform::DispatchQueue> queue,
        std::shared_ptr<platform::MediaEngineFactory> engineFactory,
        std::shared_ptr<KivRaneRealTimeLogger2> logger = nullptr);
    ~KRRtcManger() override;
    KRRtcManger(const KRRtcManger&) = delete;
    KRRtcManger& operator=(const KRRtcManger&) = delete;

    // ---- state ----
    const std::string& rtcEngineAppId() const { return rtcEngineAppId_; }
    const std::shared_ptr<platform::MediaEngine>& rtcEngine() const { return rtcEngine_; }
    std::shared_ptr<KRRtcManagerDelegate> delegate() const { return delegate_.lock(); }
    /// Replaces the receiver of reports; an empty pointer stops them.
    void setDelegate(std::weak_ptr<KRRtcManagerDelegate> delegate);
    /// Everyone the wrapper currently knows in the channel (local user included), oldest first;
    /// never two entries for one uid.
    const Participants& getRtcParticipants() const { return allRtcParticipants_; }
    bool isLocalUserAudioMuted() const { return isLocalUserAudioMuted_; }
    bool isLocalUserVideoMuted() const { return isLocalUserVideoMuted_; }
    std::uint64_t localUserAudioVolume() const { return volumes_.localLevel(); }
    std::uint64_t localUserUid() const { return localUserUid_; }
    /// Latest volume per uid, from which the loudest speaker is chosen.
    const std::map<std::uint64_t, std::uint64_t>& remoteUsersVolumeLevel() const {
        return volumes_.levels();
    }
    std::vector<KRRtcVideoFrozenData> usersVideoFrozenData() const { return frozen_.records(); }
    KRAudioRouteType currentRTCAudioRoute() const { return currentRTCAudioRoute_; }
    const std::vector<std::uint64_t>& blockedUids() const { return blockedUids_; }
    /// The engine client role: 1 broadcaster, 2 audience.
    int currentUserRole() const { return currentUserRole_; }
    const std::string& audioFilePathForUserJoin() const { return audioFilePathForUserJoin_; }
    void setAudioFilePathForUserJoin(std::string path);
    const std::string& audioFilePathForUserLeft() const { return audioFilePathForUserLeft_; }
    void setAudioFilePathForUserLeft(std::string path);
    /// Refused attempts to become broadcaster since the engine last confirmed that role (or the
    /// meeting began).
    std::int64_t counterForRetryingSwitchingClientRole() const { return roleRetry_.counter(); }
    /// The wait before the latest scheduled retry.
    std::chrono::milliseconds intervalForRetryingSwitchingClientRole() const {
        return roleRetry_.interval();
    }
    bool isRoleRetryScheduled() const { return roleRetry_.isScheduled(); }

    // ---- set-up, join, leave ----
    /// Sets the delegate and app id; makes the engine and runs its fixed set-up when none is
    /// held, or when the app id changed outside a channel (in a channel the engine stays, and
    /// the new app id applies from the next meeting). `volumeIndicationInterval` is in
    /// milliseconds.
    void configureRTCEngine(const std::string& appId,
                            std::weak_ptr<KRRtcManagerDelegate> managerDelegate,
                            int volumeIndicationInterval);
    /// The main stream's encoder. A value the engine cannot use (a width, height or frame rate
    /// of 0 or less, or any value beyond an engine integer) is replaced, with a warning, by that
    /// field of kKRHighStreamEncoderDefaults; the other fields go as given.
    void configureVideoEncoderConfiguration(const KRRtcVideoEncoderConfig& config);
    /// The low stream's parameters, repaired the same way from kKRLowStreamEncoderDefaults.
    void configureLowQualityVideoStream(const KRRtcVideoEncoderConfig& config);
    void setUpDualStream(bool enable);
    void setUpLocalRtcParticipantView(const std::shared_ptr<KRRtcParticipant>& participant);
    /// Binds `videoView` as the local video (uid 0, hidden mode); null unbinds it.
    void setLocalCanvas(const std::shared_ptr<platform::View>& videoView);
    void startPreview();
    void stopPreview();
    /// Sets the role, applies the background (before the join) and joins `roomId` without
    /// receiving any remote stream until asked.
    void joinRoom(std::uint64_t uid, const std::string& token, const std::string& roomId,
                  bool isAudience, const std::optional<KRVirtualBackgroundType>& virtualBackground);
    /// Leaves the channel; a pending broadcaster retry is dropped at once.
    void leaveMeetingRoom();
    /// For an engine that never reported leaving its channel: the engine goes, which takes it
    /// out of the channel, and the next meeting sets up a new one.
    void dropEngineStillInChannel();
    /// True when an engine is held and reports itself connected.
    bool isConnected() const;

    // ---- media controls ----
    void muteUnmuteLocalAudio(bool isMuted);
    void muteUnmuteLocalVideo(bool isMuted);
    void switchCamera();
    /// `uid` is the engine uid as decimal text; other text makes no engine call.
    void muteUnmuteUserAudioStream(bool isMute, const std::string& uid);
    void muteUnmuteUserVideoStream(bool isMute, const std::string& uid);
    /// Makes (or remakes) the participant of `uid`, not in the audience, and binds its canvas at
    /// the engine; `renderMode` is an engine render mode (fit draws the letter-box grey).
    std::shared_ptr<KRRtcParticipant> setUpRemoteVideo(std::uint64_t uid, int renderMode);
    void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid);
    void setRemoteUsersVolume(int value);
    /// Takes effect when the uid next joins: its streams are refused and it is not reported.
    void blockRemoteAudioVideo(std::uint64_t uid);
    void removeBlockedRemoteAudioVideo(std::uint64_t uid);
    void switchAudioDevice(KRAudioDeviceType type);
    static bool hasHeadphones(const platform::AudioSessionRouteDescription& route);
    static bool hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route);
    /// Going to the audience drops any pending broadcaster retry.
    void switchClientRole(bool isAudience);
    void applyVirtualBackground(const KRVirtualBackgroundType& background);
    /// Plays the join or leave chime file; an empty path plays nothing.
    void playChimeOnUserJoin();
    void playChimeOnUserLeave();
    static KRNetworkQuality getNetworkQuality(int engineQuality);

    // ---- engine callbacks (platform::MediaEngineDelegate) ----
    void didJoinChannel(const std::string& channel, std::uint64_t uid, int elapsed) override;
    void didLeaveChannelWithStats(const platform::ChannelStats& stats) override;
    void didJoinedOfUid(std::uint64_t uid, int elapsed) override;
    void didOfflineOfUid(std::uint64_t uid, int reason) override;
    void connectionChangedToState(int state, int reason) override;
    void didClientRoleChanged(int oldRole, int newRole) override;
    void didClientRoleChangeFailed(int reason, int currentRole) override;
    void remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                      int elapsed) override;
    void remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                      int elapsed) override;
    void didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) override;
    void didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                               std::uint64_t uid) override;
    void reportAudioVolumeIndicationOfSpeakers(
        const std::vector<platform::AudioVolumeInfo>& speakers, int totalVolume) override;
    void didAudioRouteChanged(int routing) override;
    void networkQuality(std::uint64_t uid, int txQuality, int rxQuality) override;
    void reportRtcStats(const platform::ChannelStats& stats) override;
    void localAudioStateChange(int state, int error) override;
    void localVideoStateChange(int state, int error) override;
    void localAudioMixingStateDidChanged(int state, int reason) override;

private:
    KRRtcManger(std::shared_ptr<platform::DispatchQueue> queue,
                std::shared_ptr<platform::MediaEngineFactory> engineFactory,
                std::shared_ptr<KivRaneRealTimeLogger2> logger);

    /// Runs `call` on the delegate, if there still is one.
    template <typename Report>
    void report(Report&& call) {
        if (auto delegate = delegate_.lock()) {
            call(*delegate);
        }
    }
    std::shared_ptr<KRRtcParticipant> participantOf(std::uint64_t uid) const;
    std::shared_ptr<KRRtcParticipant> localParticipant() const;
    void removeParticipants(std::uint64_t uid);
    std::optional<std::uint64_t> parseRemoteUid(const std::string& uid, const char* action);
    void resetRtcEngine();
    void clearMeetingState();
    void handleAudioVolumes(const std::vector<platform::AudioVolumeInfo>& speakers);
    void handleFrozenVideo(const std::shared_ptr<KRRtcParticipant>& participant, int reason);
    void sendVideoMutedEventForFrozenVideos();
    void playChime(const std::string& path, const char* which);

    const std::shared_ptr<platform::DispatchQueue> queue_;
    const std::shared_ptr<platform::MediaEngineFactory> engineFactory_;
    const std::shared_ptr<KivRaneRealTimeLogger2> logger_;
    platform::SequenceChecker checker_;

    std::string rtcEngineAppId_;
    std::string engineMadeForAppId_;
    std::shared_ptr<platform::MediaEngine> rtcEngine_;
    bool resetPending_ = false;
    std::weak_ptr<KRRtcManagerDelegate> delegate_;
    Participants allRtcParticipants_;
    /// Remote streams reported to the delegate that have no participant yet (the backend may
    /// first ask the server what they are), with the media states the engine reported meanwhile.
    std::map<std::uint64_t, EarlyRemoteMedia> earlyMedia_;
    bool isLocalUserAudioMuted_ = false;
    bool isLocalUserVideoMuted_ = false;
    std::uint64_t localUserUid_ = 0;
    SpeakerVolumes volumes_;
    FrozenVideoTracker frozen_;
    KRAudioRouteType currentRTCAudioRoute_ = KRAudioRouteType::speaker;
    std::vector<std::uint64_t> blockedUids_;
    int currentUserRole_;
    std::string audioFilePathForUserJoin_;
    std::string audioFilePathForUserLeft_;
    ClientRoleRetry roleRetry_;
};

}  // namespace kr
