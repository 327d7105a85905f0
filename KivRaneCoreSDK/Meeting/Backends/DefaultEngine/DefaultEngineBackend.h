#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Meeting/Backends/UnknownStreamRetry.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareInfo.h"

namespace kr {

class KRRtcManagerDelegate;
class KRRtcManger;
class KRRtcParticipant;
class KRRtmManager;
class KRRtmManagerDelegate;
namespace platform {
class MediaEngineFactory;
}

/// The library's engine wrapper (`KRRtcManger`) and messaging session (`KRRtmManager`): the
/// room store holds the participants, the engine reports them. Owns the wrapper, the messaging
/// session, the receivers of their reports (made per join, holding its session token) and what
/// the engine's remote streams still wait for; it reaches the meeting through its `MeetingPort`.
///
/// Threading: the client's queue only. Made by the core behind the port, which owns it for its
/// whole life; whatever outlives a call holds the port weakly (and the meeting's session token).
class DefaultEngineBackend final : public MediaBackend {
public:
    DefaultEngineBackend(MeetingPort& port, const KRDependencies& dependencies,
                         const std::shared_ptr<platform::MediaEngineFactory>& engineFactory);
    ~DefaultEngineBackend() override;
    DefaultEngineBackend(const DefaultEngineBackend&) = delete;
    DefaultEngineBackend& operator=(const DefaultEngineBackend&) = delete;

    /// The wrapper, made with the client and kept for its whole life.
    const std::shared_ptr<KRRtcManger>& wrapper() const { return rtcManager_; }
    /// The messaging session, made with the client and kept for its whole life.
    const std::shared_ptr<KRRtmManager>& messaging() const { return rtmManager_; }
    /// Remote streams whose kind is still being asked of the server.
    const std::set<std::uint64_t>& pendingStreamQuestions() const { return pendingStreamUids_; }

    Kind kind() const override { return Kind::defaultEngine; }

    void join(const KRJoinMeetingConfig& config) override;
    void cancelJoin(bool mediaAwaited) override;
    void leave() override;
    void abandonLeaveReport() override;
    bool reportsToServerAfterMediaJoin() const override { return false; }
    void recordLocalParticipant() override;
    void releaseMeetingMedia() override;
    void releaseEngine() override {}  // the wrapper lives as long as the client
    Reporting reporting() const override { return {}; }
    void networkStateChanged(bool) override {}  // the watchdog watches this backend's network
    bool waitsForNetwork() const override { return false; }  // its engine reconnects by itself

    void muteLocalMedia(bool audio, bool isMute) override;
    void switchClientRole(bool isAudience) override;
    void applyVirtualBackground(const KRVirtualBackgroundType& background) override;
    void startPreview() override;
    void stopPreview() override;
    void switchCamera() override;
    void switchAudioDevice(KRAudioDeviceType type) override;
    void subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) override;
    void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) override;

    void sendControlMessage(KRControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                            Completion completion, const std::string& reactionsType) override;
    bool knowsLocalShareWithoutTrack() const override { return false; }
    void roomStatusApplied() override;
    void remoteShareAnnounced() override;

    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const override;
    std::shared_ptr<KRMeetingUser> localUser() const override;
    std::shared_ptr<KRMeetingUser> user(const std::string& id) const override;
    std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const override;
    void markLocalRole(bool isAudience) override;
    bool markLocalHand(bool) override { return true; }  // the room store's mark is the core's

private:
    class EngineEvents;     // forwards the wrapper's reports of one join's meeting
    class MessagingEvents;  // forwards the messaging session's messages of one join's meeting

    // Messaging session and media channel (DefaultEngineBackend.cpp).
    /// The end of the join's server part: the messaging session logs in, then the engine is set
    /// up and asked into the media channel.
    void joinMessagingAndEngine();
    /// The receivers of one join: they hold its session token (DefaultEngineEvents.cpp).
    std::shared_ptr<KRRtcManagerDelegate> makeEngineEvents();
    std::shared_ptr<KRRtmManagerDelegate> makeMessagingEvents();
    void configureRtm();            // messaging: log in and join the room's channel
    void configureEngineAndJoin();  // engine: set up and join the media channel
    void leaveRtm();                // messaging: leave the channel and log out
    void leaveEngine();             // engine: leave the media channel; its report ends the meeting
    void cancelEngineJoin();
    void forgetRemoteStreams();
    /// The engine's channel is no longer this backend's: no request stands, no report reaches it.
    void detachFromChannel();

    // The wrapper's reports about the local user, speakers and roles (DefaultEngineEvents.cpp).
    static KRRtcParticipantState stateOf(const KRRtcParticipant& participant);
    void onEngineLocalJoined();
    void onEngineLocalMediaState(const std::shared_ptr<KRRtcParticipant>& participant, bool audio);
    void onEngineLocalLeft();
    void onEngineRemoteMediaState(const std::shared_ptr<KRRtcParticipant>& participant,
                                  bool audio);
    void onEngineMovedToAudience(std::uint64_t uid);
    void onEngineLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker);
    void onEngineTopSpeakers(const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers);

    // Remote streams (DefaultEngineStreams.cpp).
    void onEngineStreamAdded(std::uint64_t uid);
    void onEngineStreamRemoved(std::uint64_t uid, const KRUserLeftReason& reason);
    void askServerForStream(std::uint64_t uid);
    /// One room status question for every stream reported since the last one was sent.
    void askServerForUnaskedStreams();
    void addParticipantStream(std::uint64_t uid, bool knownTrack);
    void addScreenShareStream(const KRScreenShareInfo& info);
    void removeScreenShareStream(const KRScreenShareInfo& info, const KRUserLeftReason& reason);
    /// A stand-in participant the service names as a share: it leaves, and the share shows.
    void turnStandInIntoShare(std::uint64_t uid, const KRScreenShareInfo& info);
    /// The share a uid stands for: its entry, else a share track already holding that uid.
    std::optional<KRScreenShareInfo> screenShareFor(std::uint64_t uid) const;
    /// The local share carried by `uid`: as the room store names it, else as the local user's.
    KRScreenShareInfo localShareInfo(std::uint64_t uid) const;

    MeetingPort& port_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<KRRtcManger> rtcManager_;
    std::shared_ptr<KRRtmManager> rtmManager_;
    std::shared_ptr<KRRtcManagerDelegate> engineEvents_;  // an EngineEvents, of the latest join
    std::shared_ptr<KRRtmManagerDelegate> messagingEvents_;  // a MessagingEvents, likewise
    /// The local participant as the engine confirmed it, until the join end records it.
    std::optional<KRRtcParticipantState> confirmedLocal_;
    std::set<std::uint64_t> pendingStreamUids_;
    /// Of the pending streams, those no question sent so far covers, in the order reported.
    std::vector<std::uint64_t> unaskedStreamUids_;
    /// The session of the stream question awaiting its answer; never live when none is out
    /// (or when the meeting it was asked in has ended).
    MeetingSession::Token streamQuestion_;
    /// Remote uids the engine moved to the audience: their tracks stay, and the stream coming back
    /// is a move, whatever a server record said of the role in between.
    std::set<std::uint64_t> remoteAudienceUids_;
    bool engineChannelRequested_ = false;  // asked to join, its leave report not yet seen
    /// Streams shown as participants because the question about them failed.
    UnknownStreamRetry standIns_{queue_};
};

}  // namespace kr
