#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/ClientRoleRetry.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/EarlyRemoteMedia.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/FrozenVideoTracker.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/SpeakerVolumes.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoFrozenData.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"
#include "KivRaneCoreSDK/RTM/Managers/AgoraRtmManager.h"
#include "KivRaneCoreSDK/RTM/Protocols/AgoraRtmManagerDelegate.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Media/MediaEngineDelegate.h"
#include "platform/Media/MediaEngineFactory.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

class ContactSyncManager;

/// The library's own engine for rooms whose media engine is "agora": RtcManagerProtocol over the
/// media engine. It keeps the channel's peers as RtcPeerMetaData (keyed by the decimal uid),
/// with a peer's screen share as that peer's auxiliary track; it asks its delegate whether a
/// new uid is a participant or a screen share, reports media state, loudest and top speakers,
/// frozen video, routes, role changes (retrying a refused broadcaster role), quality and
/// statistics; and it carries the room's control messages through its own AgoraRtmManager,
/// relaying received ones with the contact's name to its RtmManagerDelegate.
///
/// The dictionaries of `configureRtcEngine` and `joinRoom` use the keys and value forms of
/// AgoraRtcJoinData.
///
/// Ownership: made with create() and held by std::shared_ptr. The engine comes from the
/// client's MediaEngineFactory (shared with the default backend's wrapper, so a client never holds
/// two engines); the engine holds this wrapper weakly, and so does the messaging manager. Both
/// delegates are held weakly. Engine calls are skipped while no engine is held.
///
/// Life of a meeting: configureRtcEngine (a held engine, and everything known of its meeting,
/// is released first) → joinRoom → ... → leaveRtcChannel. When the engine confirms the leave,
/// the messaging session ends (leave and logout) and both delegates are detached at once; the
/// peers, their views and the engine go when the delegate calls the leave's completion, or at
/// once when there is no delegate.
///
/// Threading: confined to the queue of its dependencies (the library's main queue); engine and
/// messaging callbacks arrive there. A delegate may call back in, or release the wrapper, from
/// inside any report.
class AgoraRtcManager : public RtcManagerProtocol,
                        public platform::MediaEngineDelegate,
                        public AgoraRtmManagerDelegate,
                        public std::enable_shared_from_this<AgoraRtcManager> {
public:
    /// `dependencies` gives the queue and the messaging world (and log collector) of the owned
    /// AgoraRtmManager; `engineFactory` is the client's engine factory. `notificationCenter`
    /// is the host bridge of the messaging manager (null: the dependencies' centre); `contacts`
    /// gives the host's names for message senders (null: the dependencies' list, and without one
    /// an empty list).
    static std::shared_ptr<AgoraRtcManager> create(
        const KRDependencies& dependencies,
        std::shared_ptr<platform::MediaEngineFactory> engineFactory,
        std::shared_ptr<platform::NotificationCenter> notificationCenter = nullptr,
        std::shared_ptr<const ContactSyncManager> contacts = nullptr);
    ~AgoraRtcManager() override;
    AgoraRtcManager(const AgoraRtcManager&) = delete;
    AgoraRtcManager& operator=(const AgoraRtcManager&) = delete;

    // ---- RtcManagerProtocol ----
    void configureRtcEngine(const boost::json::object& data,
                            std::weak_ptr<RtcManagerDelegate> delegate) override;
    void setUpLocalRtcVideoView() override;
    void startPreview() override;
    void stopPreview() override;
    void joinRoom(const boost::json::object& data) override;
    void muteUnmuteLocalAudio(bool isMuted) override;
    void muteUnmuteLocalVideo(bool isMuted) override;
    void switchCamera() override;
    void leaveRtcChannel() override;
    void setUpRemoteStreamVideoView(const std::string& id, VideoRenderMode renderMode) override;
    void muteUnmuteUserAudioStream(bool isMute, const std::string& uid) override;
    void muteUnmuteUserVideoStream(bool isMute, const std::string& uid) override;
    bool isConnectedToRtcServer() const override;
    std::shared_ptr<RtcVideoCanvas> getRtcCanvas(const std::string& peerId) const override;
    std::shared_ptr<platform::View> getVideoStreamView(const std::string& peerId) const override;
    void setAudioFileForUserJoinChime(const std::string& path) override;
    void setAudioFileForUserLeftChime(const std::string& path) override;
    void playChimeOnUserJoin() override;
    void playChimeOnUserLeave() override;
    void switchClientRole(bool isAudience) override;
    std::shared_ptr<RtcPeerMetaData> getPeerData(const std::string& peerId) const override;
    void setRemoteParticipantsVolume(std::int64_t value) override;
    void applyVirtualBackground(const KRVirtualBackgroundType& background) override;
    void switchAudioDevice(KRAudioDeviceType type) override;
    void setUpDualStream(bool enable) override;
    void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> delegate) override;
    void sendPublicMessage(const KRRtmMessage& message) override;
    void sendPrivateMessage(const KRRtmMessage& message) override;
    void enableDisableAudioOnlyMode(bool isEnabled) override;
    void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) override;

    // ---- state ----
    const std::shared_ptr<platform::MediaEngine>& rtcEngine() const { return rtcEngine_; }
    const std::shared_ptr<AgoraRtmManager>& rtmManager() const { return rtmManager_; }
    std::shared_ptr<RtcManagerDelegate> rtcDelegate() const { return rtcDelegate_.lock(); }
    std::shared_ptr<RtmManagerDelegate> rtmDelegate() const { return rtmDelegate_.lock(); }
    /// Everyone known in the channel, local user included, oldest first; one entry per id.
    const std::vector<std::shared_ptr<RtcPeerMetaData>>& peers() const { return peers_; }
    const std::string& rtcAppId() const { return rtcAppId_; }
    const std::string& localUserId() const { return localUserId_; }
    bool isLocalAudioMuted() const { return isLocalAudioMuted_; }
    bool isLocalVideoMuted() const { return isLocalVideoMuted_; }
    std::uint64_t localUserAudioLevel() const { return volumes_.localLevel(); }
    const std::map<std::uint64_t, std::uint64_t>& remoteUsersVolumeLevel() const {
        return volumes_.levels();
    }
    std::vector<KRRtcVideoFrozenData> usersVideoFrozenData() const { return frozen_.records(); }
    /// The engine client role: 1 broadcaster, 2 audience.
    int currentUserRole() const { return currentUserRole_; }
    KRAudioRouteType currentRTCAudioRoute() const { return currentRTCAudioRoute_; }
    const std::string& audioFilePathForUserJoin() const { return audioFilePathForUserJoin_; }
    const std::string& audioFilePathForUserLeft() const { return audioFilePathForUserLeft_; }
    std::int64_t counterForRetryingSwitchingClientRole() const { return roleRetry_.counter(); }
    std::chrono::milliseconds intervalForRetryingSwitchingClientRole() const {
        return roleRetry_.interval();
    }
    bool isRoleRetryScheduled() const { return roleRetry_.isScheduled(); }

    // ---- engine callbacks (platform::MediaEngineDelegate) ----
    void didJoinChannel(const std::string& channel, std::uint64_t uid, int elapsed) override;
    void didLeaveChannelWithStats(const platform::ChannelStats& stats) override;
    void didJoinedOfUid(std::uint64_t uid, int elapsed) override;
    void didOfflineOfUid(std::uint64_t uid, int reason) override;
    void remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                      int elapsed) override;
    void remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                      int elapsed) override;
    void reportAudioVolumeIndicationOfSpeakers(
        const std::vector<platform::AudioVolumeInfo>& speakers, int totalVolume) override;
    void didAudioRouteChanged(int routing) override;
    void didClientRoleChanged(int oldRole, int newRole) override;
    void didClientRoleChangeFailed(int reason, int currentRole) override;
    void localAudioStateChange(int state, int error) override;
    void localVideoStateChange(int state, int error) override;
    void didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) override;
    void didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                               std::uint64_t uid) override;
    void connectionChangedToState(int state, int reason) override;
    void networkQuality(std::uint64_t uid, int txQuality, int rxQuality) override;
    void reportRtcStats(const platform::ChannelStats& stats) override;

    // ---- relayed control messages (AgoraRtmManagerDelegate) ----
    void didRecievePublicMessage(const KRRtmMessage& message) override;
    void didRecievePrivateMessage(const KRRtmMessage& message) override;

private:
    using Peer = std::shared_ptr<RtcPeerMetaData>;

    AgoraRtcManager(std::shared_ptr<platform::DispatchQueue> queue,
                    std::shared_ptr<platform::MediaEngineFactory> engineFactory,
                    std::shared_ptr<AgoraRtmManager> rtmManager,
                    std::shared_ptr<const ContactSyncManager> contacts);

    /// Runs `call` on the delegate, if there still is one.
    template <typename Report>
    void report(Report&& call) {
        if (auto delegate = rtcDelegate_.lock()) {
            call(*delegate);
        }
    }
    Peer peerOf(const std::string& id) const;
    Peer peerOf(std::uint64_t uid) const;
    Peer localPeer() const;
    /// A new peer for `id` (audio and video muted) at the end of the list, replacing any other.
    Peer addPeer(const std::string& id);
    void removePeers(const std::string& id);
    struct PendingJoin;
    void answerRemoteJoin(std::uint64_t uid, const RtcRemoteStreamType& answer,
                          const PendingJoin& pending);
    void answerRemoteLeave(std::uint64_t uid, int reason, const RtcRemoteStreamType& answer);
    /// Shows share stream `uid` as `parent`'s auxiliary track (replacing any shown share).
    void attachShare(std::uint64_t uid, const std::shared_ptr<RtcPeerMetaData>& parent);
    /// Takes down the share shown as some peer's auxiliary track, if one is.
    void removeShownShare();
    void removePeerAuxiliaryTrack(const std::string& peerId);
    void sendVideoMutedEventForFrozenVideos();
    /// Destroys the peers' views and tracks, forgets the meeting and releases the engine.
    void releaseMeeting();
    void resetRtcEngine();
    void relay(KRRtmMessage message, bool isPublic);
    /// Engine parameters that letter-box uid's fitted video in grey.
    static std::string letterBoxParameters(std::uint64_t uid);

    const std::shared_ptr<platform::DispatchQueue> queue_;
    const std::shared_ptr<platform::MediaEngineFactory> engineFactory_;
    const std::shared_ptr<AgoraRtmManager> rtmManager_;
    const std::shared_ptr<const ContactSyncManager> contacts_;
    platform::SequenceChecker checker_;

    std::shared_ptr<platform::MediaEngine> rtcEngine_;
    std::weak_ptr<RtcManagerDelegate> rtcDelegate_;
    std::weak_ptr<RtmManagerDelegate> rtmDelegate_;
    std::vector<Peer> peers_;
    std::string rtcAppId_;
    std::string localUserId_;
    bool isLocalAudioMuted_ = true;
    bool isLocalVideoMuted_ = true;
    int currentUserRole_;
    SpeakerVolumes volumes_;
    FrozenVideoTracker frozen_;
    KRAudioRouteType currentRTCAudioRoute_ = KRAudioRouteType::speaker;
    std::string audioFilePathForUserJoin_;
    std::string audioFilePathForUserLeft_;
    ClientRoleRetry roleRetry_;
    /// Bumped whenever the channel session ends or the engine is set up again, so answers to
    /// questions asked in an earlier session change nothing.
    std::uint64_t session_ = 0;
    /// Bumped whenever the engine is set up or the meeting released, so a late leave completion
    /// of an earlier meeting releases nothing of the current one.
    std::uint64_t meeting_ = 0;
    /// A remote uid whose join question is unanswered: the number of that question, and the
    /// media states the engine reported meanwhile (it reports them right after the join, and
    /// the peer they belong to only exists once the question is answered).
    struct PendingJoin {
        std::uint64_t question = 0;
        EarlyRemoteMedia media;
    };
    std::map<std::uint64_t, PendingJoin> pendingJoins_;
    /// Share streams whose sharer is not a peer yet (its own join question may be answered
    /// later), by the sharer's id: shown once the sharer's peer is added.
    std::map<std::string, std::uint64_t> waitingShares_;
    /// Remote uids whose leave question is unanswered: a join of the uid in the meantime makes
    /// that leave old news.
    std::map<std::uint64_t, std::uint64_t> pendingLeaves_;
    std::uint64_t lastQuestion_ = 0;
};

}  // namespace kr
