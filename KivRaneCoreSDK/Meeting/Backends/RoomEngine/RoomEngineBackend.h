#pragma once

#include <boost/json/object.hpp>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Meeting/Backends/UnknownStreamRetry.h"
#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareInfo.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerDelegate.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"
#include "KivRaneCoreSDK/RTM/Protocols/RtmManagerDelegate.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

namespace platform {
class MediaEngineFactory;
}

/// The engine the room names, behind `RtcManagerProtocol`, which carries the control messages
/// too: the participant merge holds the participants. For an "agora" room the backend makes its
/// own engine at each join and lets it go at the end of the meeting; for a "kr-media" room the
/// host app hands one in (`setEngine`) and it stays for the next meetings.
///
/// Owns the engine, the two receivers the engine reports to, and whether the engine was asked
/// into a channel. Everything it shares with the other backend (room store, merge, session,
/// settings, delegates) it reaches through its `MeetingPort`, whose core owns this backend for
/// its whole life.
///
/// Threading: called on the client's queue only.
class RoomEngineBackend final : public MediaBackend {
public:
    /// How often, and how far apart, the server is asked about a stream id nobody knows before
    /// the stream counts as a participant.
    static constexpr int kStreamTypeQuestionTries = 3;
    static constexpr std::chrono::seconds kStreamTypeQuestionInterval{1};

    RoomEngineBackend(MeetingPort& port, const KRDependencies& dependencies,
                      std::shared_ptr<platform::MediaEngineFactory> engineFactory);
    ~RoomEngineBackend() override;

    Kind kind() const override { return Kind::roomEngine; }

    void join(const KRJoinMeetingConfig& config) override { configureForMultiMediaEngine(config); }
    void cancelJoin(bool mediaAwaited) override;
    void leave() override;
    void abandonLeaveReport() override;
    bool reportsToServerAfterMediaJoin() const override { return true; }
    void recordLocalParticipant() override;
    void releaseMeetingMedia() override;
    void releaseEngine() override;
    Reporting reporting() const override {
        return {.mainDelegateOnly = true, .endsShareBeforeAudienceMove = true};
    }
    void networkStateChanged(bool isConnected) override;
    bool waitsForNetwork() const override { return isWaitingToBeReconnect_; }

    void muteLocalMedia(bool audio, bool isMute) override;
    void switchClientRole(bool isAudience) override;
    void applyVirtualBackground(const KRVirtualBackgroundType& background) override;
    // The room's engine runs its own devices.
    void startPreview() override {}
    void stopPreview() override {}
    void switchCamera() override {}
    void switchAudioDevice(KRAudioDeviceType) override {}
    void subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) override;
    void setRemoteStreamQuality(KRRemoteStreamQuality, const std::string&) override {}

    void sendControlMessage(KRControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                            Completion completion, const std::string& reactionsType) override;
    bool knowsLocalShareWithoutTrack() const override;
    void roomStatusApplied() override;
    void remoteShareAnnounced() override;

    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const override;
    std::shared_ptr<KRMeetingUser> localUser() const override;
    std::shared_ptr<KRMeetingUser> user(const std::string& id) const override;
    std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const override;
    void markLocalRole(bool isAudience) override;
    bool markLocalHand(bool isRaised) override;

    // ---- What the client's own calls reach (see the accessors of the same names there) ----

    const std::shared_ptr<RtcManagerProtocol>& engine() const { return rtcEngineManager_; }
    void setEngine(std::shared_ptr<RtcManagerProtocol> engine);
    void configureForMultiMediaEngine(const KRJoinMeetingConfig& config);
    bool isWaitingToBeReconnect() const { return isWaitingToBeReconnect_; }
    /// A host's move of the local user that the meeting accepted (true: to the audience). An
    /// engine in its channel takes the role at once; one that is away takes it once back.
    void takeHostRoleMove(bool isAudience);
    /// The receivers handed to the engine (held weakly there). Each belongs to one join: the
    /// current one, made anew when the join is a different one.
    std::shared_ptr<RtcManagerDelegate> rtcDelegate();
    std::shared_ptr<RtmManagerDelegate> rtmDelegate();

private:
    class SessionReceiver;
    class RtcAdapter;
    class RtmAdapter;

    // The join (RoomEngineBackend.cpp)
    void handlePostLoginSuccess(const KRJoinMeetingConfig& config);
    struct StartingMedia {
        bool audioOn = false;
        bool videoOn = false;
    };
    /// The local user's audience mode and starting audio and video, in the room store, for a
    /// join with `config`.
    StartingMedia setStartingMedia(const KRJoinMeetingConfig& config, bool audience);
    void configureMeetingForAgoraMediaEngine(const KRJoinMeetingConfig& config);
    void configureMeetingForKRMediaEngine(const KRJoinMeetingConfig& config);
    boost::json::object krMediaJoinData() const;
    /// The media part of a leave while a "kr-media" engine waits for the network.
    void leaveWhileWaitingForNetwork();

    // The engine's reports (RoomEngineBackendEvents.cpp)
    /// The engine is in the channel: the join it was asked for goes on to the join end, or,
    /// when `session` (the token of the join whose receiver heard it) is not the join under way,
    /// the channel is left.
    void handleLocalJoin(const std::shared_ptr<RtcPeerMetaData>& peer,
                         const MeetingSession::Token& session,
                         RtcManagerDelegate::Completion completion);
    /// A "kr-media" engine is told the microphone and camera this client holds, each time it
    /// is in the channel: its join data has no room for them.
    void tellEngineRecordedMedia(RtcPeerMetaData& localPeer);
    /// The engine left its channel; `session` is the token of the join whose receiver heard it.
    void handleLocalLeave(const KRUserLeftReason& reason, const MeetingSession::Token& session);
    /// The participant of the merge with this id, for the engine's reports.
    std::shared_ptr<KRMeetingUser> userById(const std::string& id) const;
    /// `lastAskFailed`: the service did not answer the previous question about the stream.
    void checkRemoteStreamType(const std::string& streamId, int triesLeft,
                               RtcManagerDelegate::StreamTypeCompletion completion,
                               bool lastAskFailed = false);
    /// The engine made its peer for `streamId`: when the stream was answered as a participant
    /// only because the service could not say, it becomes a stand-in from now.
    void peerJoined(const std::string& streamId);
    /// A stand-in participant the service names as a share: it leaves, and the share shows.
    /// False (nothing done) while the engine has no participant for it.
    bool turnStandInIntoShare(const std::string& streamId, const KRScreenShareInfo& info);
    /// Puts `track` in the merge and reports it started; another's share ends the local one,
    /// the client's and the engine's.
    void showShare(const std::shared_ptr<KRScreenShareTrack>& track);
    /// The peer of `ownerId` is back: a share closed when its media dropped, whose stream stayed,
    /// shows again.
    void showShareOfReturningOwner(const std::string& ownerId);
    /// A share's stream the engine holds no track for: its owner's media dropped, or it was
    /// shown again after. The engine reports it only as a participant's stream.
    bool isTracklessShareStream(const std::string& streamId) const;
    /// Forgets such a stream (it left); true when it was one.
    bool forgetTracklessShareStream(const std::string& streamId);
    /// `track` (a share of the merge) started or stopped: the local share hears of its own
    /// track, and the host app of another's.
    void reportShare(const std::shared_ptr<KRScreenShareTrack>& track, bool started);
    /// Takes `track` out of the merge and reports it stopped, by its own stream id.
    void closeShare(const std::shared_ptr<KRScreenShareTrack>& track);
    /// The merge's share track that `matches`, or null.
    std::shared_ptr<KRScreenShareTrack> shareTrackWhere(
        const std::function<bool(const KRScreenShareTrack&)>& matches) const;
    void handleRoleChange(bool isAudience);
    /// The engine is back after losing its connection (or joined afresh) and is given the role
    /// the meeting holds: a host's move accepted while it was away, else the role confirmed.
    void setHeldRoleAgain();
    /// An engine that joined afresh (`localPeer`) already in a role it was given again answers
    /// nothing: when that role is a move the meeting has not confirmed, it is confirmed here.
    void confirmRoleJoinedIn(const RtcPeerMetaData& localPeer);

    MeetingPort& port_;
    KRDependencies deps_;
    platform::SequenceChecker checker_{deps_.queue};
    std::shared_ptr<platform::MediaEngineFactory> engineFactory_;
    std::shared_ptr<RtcManagerProtocol> rtcEngineManager_;
    /// The local peer the engine confirmed, until the join end records it in the merge.
    std::shared_ptr<RtcPeerMetaData> confirmedLocal_;
    std::shared_ptr<RtcAdapter> rtcAdapter_;
    std::shared_ptr<RtmAdapter> rtmAdapter_;
    /// The engine was asked into the media channel and not yet out of it: a failed join leaves
    /// it, and a leave waits for its report.
    bool channelAsked_ = false;
    /// True while a "kr-media" engine reports its connection lost.
    bool isWaitingToBeReconnect_ = false;
    /// The engine reported its connection lost or being restored during the meeting, and has
    /// not reported it back yet.
    bool isEngineAway_ = false;
    /// A host's move accepted while the engine was away (true: to the audience), not yet given
    /// to the engine: asked of an engine out of its channel, a role is taken without a word, and
    /// the meeting would never hear it confirmed.
    std::optional<bool> roleMovedWhileAway_;
    /// The role the engine was given when it came back, until it answers or is away again: its
    /// confirmation of a role the meeting already holds is no news.
    std::optional<bool> roleSetAgain_;
    /// The engine was made by this backend (for an "agora" room), not handed in by the host app.
    bool ownsRtcEngine_ = false;
    /// Streams the engine was told are participants because the service could not answer.
    UnknownStreamRetry standIns_{deps_.queue};
    /// Such streams whose peer the engine has not made yet: one that leaves before never gets a
    /// peer, and is neither shown nor asked about.
    std::set<std::string> standInsAwaitingPeer_;
    /// Stand-ins later shown as shares: the engine still holds them as peers, and their leave
    /// ends the share.
    std::set<std::string> sharesFromStandIns_;
    /// Shares closed because their owner's media dropped while the share's own stream stayed,
    /// by owner id: shown again when the owner's peer is back, forgotten when the stream goes or
    /// the owner really leaves.
    std::map<std::string, std::shared_ptr<KRScreenShareTrack>> sharesOfDroppedOwners_;
    /// Such shares shown again: the engine attached their stream to the owner's peer that
    /// dropped, so it reports neither the track nor its removal for the returned owner.
    std::set<std::string> sharesShownWithoutTrack_;
};

/// What both receivers share. The engine holds a receiver weakly and the backend holds it, so
/// the engine never keeps the client alive; each is made for one join and holds its token, so
/// what the engine reports or carries after that meeting ended does not act on the client.
class RoomEngineBackend::SessionReceiver {
public:
    /// `backend` belongs to the core behind `port`, so it is there whenever the port still is.
    SessionReceiver(std::weak_ptr<MeetingPort> port, MeetingSession::Token session,
                    RoomEngineBackend& backend)
        : port_(std::move(port)), backend_(backend), session_(std::move(session)) {}
    const MeetingSession::Token& session() const { return session_; }

protected:
    /// The meeting while the one of this receiver's join has not ended.
    std::shared_ptr<MeetingPort> current() const {
        auto port = port_.lock();
        return port && session_.live() ? port : nullptr;
    }

    std::weak_ptr<MeetingPort> port_;
    RoomEngineBackend& backend_;

private:
    MeetingSession::Token session_;
};

}  // namespace kr
