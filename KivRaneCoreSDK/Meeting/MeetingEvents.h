#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRParticipantsListUpdateDelegate.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

/// The client's delegates and every report of the meeting to them: no other code calls a
/// delegate. The main delegate (the one the join was given) hears first, then the extra
/// delegates in the order they were added; a report marked "main only" reaches the main delegate
/// alone. Delegates are held weakly: one that has gone is skipped. Each report carries a snapshot
/// of the meeting taken when it is sent.
///
/// The meeting's lock, recording and whiteboard are changed here too (`changeMeetingLock`,
/// `changeRecording`, `closeWhiteboard`), so that "the room store first, then the report, and
/// only when the state changed" holds in one place; and the room store's participant changes
/// reach the participant-list delegate from here.
///
/// Threading: confined to the queue of the client that owns it.
class MeetingEvents {
public:
    /// Who hears a report that goes to the main delegate alone on one media backend and to every
    /// delegate on the other; `extraDelegates` for the rest once the main delegate heard.
    enum class Reach { everyDelegate, mainDelegate, extraDelegates };

    /// What the reports read from the meeting.
    class Meeting {
    public:
        virtual ~Meeting() = default;
        /// The meeting as the host app sees it now.
        virtual KRMeeting snapshot() const = 0;
        virtual std::shared_ptr<KRMeetingUser> localUser() const = 0;
        /// The participant the id names, or null (also for no id or an empty one).
        virtual std::shared_ptr<KRMeetingUser> userById(
            const std::optional<std::string>& id) const = 0;
        virtual std::string whiteboardUrl() const = 0;
        /// The configuration asks for the local speaker's level.
        virtual bool wantsLocalSpeakerLevel() const = 0;
        /// Runs `report` later as a task of its own on the client's queue, with the client's
        /// events, unless the client or the meeting under way now has ended by then.
        virtual void postReport(std::function<void(MeetingEvents&)> report) = 0;
    };

    /// A call of the host app under way, for as long as it lives. A change of the local
    /// microphone or camera that the call brings about is reported once the call returned, as
    /// a task of its own, with the state and the meeting as they were at the change.
    class HostCall {
    public:
        explicit HostCall(MeetingEvents& events) : events_(events) { ++events_.hostCalls_; }
        ~HostCall() { --events_.hostCalls_; }
        HostCall(const HostCall&) = delete;
        HostCall& operator=(const HostCall&) = delete;

    private:
        MeetingEvents& events_;
    };

    /// Takes the room store's participant hooks for as long as it lives.
    MeetingEvents(KRCurrentRoom& room, std::unique_ptr<Meeting> meeting);
    ~MeetingEvents();
    MeetingEvents(const MeetingEvents&) = delete;
    MeetingEvents& operator=(const MeetingEvents&) = delete;

    // ---- Delegates ----

    /// The delegate the join was given; it replaces the previous one.
    void setMainDelegate(std::weak_ptr<KRClientDelegate> delegate);
    /// Adds an extra delegate, or replaces the one under `identifier` in its place.
    void addDelegate(const std::string& identifier, std::weak_ptr<KRClientDelegate> delegate);
    void removeDelegate(std::string_view identifier);
    void setParticipantsListDelegate(std::weak_ptr<KRParticipantsListUpdateDelegate> delegate);
    /// The participant-list delegate while it lives, else null.
    std::shared_ptr<KRParticipantsListUpdateDelegate> participantsListDelegate() const;


    // ---- State changed here, then reported ----

    void changeMeetingLock(bool locked, const std::optional<std::string>& by);
    /// `replyAskedAtWords`: for a status reply's state, as `KRCurrentRoom::applyRecordingOn`.
    void changeRecording(bool on, const std::optional<std::string>& by,
                         std::optional<std::uint64_t> replyAskedAtWords = std::nullopt);
    void closeWhiteboard(const std::optional<std::string>& by);
    /// The same for a board a host call closes: the room store at once, the report later.
    void closeWhiteboardReportingLater(const std::optional<std::string>& by);
    /// Runs `report` as a task of its own, after the call under way returned, while the meeting
    /// under way now goes on: how a host call's own reports reach the delegates.
    void reportLater(std::function<void(MeetingEvents&)> report) {
        meeting_->postReport(std::move(report));
    }

    // ---- Reports: the state they are about was changed by the caller ----

    void sendLocalUserJoinMeetingEvent();
    void sendLocalUserLeftEvent(const KRUserLeftReason& reason, Reach reach);
    /// Tells `delegate` alone (the one a refused join was given, not a delegate of the meeting).
    static void sendJoinRefusedEvent(KRClientDelegate& delegate, const char* reason);
    void sendLocalUserMicUpdateEvent();
    void sendLocalUserVideoUpdateEvent();
    /// Main delegate only.
    void sendLocalHandRaiseEvent();
    void sendRemoteUserJoinMeetingEvent(const std::shared_ptr<KRMeetingUser>& user);
    void sendRemoteUserLeftMeetingEvent(const std::shared_ptr<KRMeetingUser>& user,
                                        const KRUserLeftReason& reason);
    void sendRemoteUserMicStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user);
    void sendRemoteUserVideoStatusUpdateEvent(const std::shared_ptr<KRMeetingUser>& user);
    void sendRemoteUserMovedToParticipants(const std::shared_ptr<KRMeetingUser>& user);
    void sendLocalUserRoleChangedEvent(const std::shared_ptr<KRMeetingUser>& user, bool isAudience);
    /// Each delegate gets a snapshot of its own, taken as it is called.
    void sendRemoteUserMovedToAudienceEvent(const std::shared_ptr<KRMeetingUser>& user);
    /// Main delegate only; the users in the order the engine ranked them, null for a speaker the
    /// meeting does not know (then nothing is reported).
    void sendActiveSpeakersEvent(const std::vector<std::shared_ptr<KRMeetingUser>>& speakers);
    /// Main delegate only, on every report of the engine, changed or not.
    void sendConnectionStateEvent(KRConnectionState state);
    void sendLoudestSpeakerEvent(const std::shared_ptr<KRMeetingUser>& user);
    void sendNetworkQualityUpdateEvent(KRNetworkQuality quality);
    void sendAudioRouteChangeEvent(KRAudioRouteType newRoute);
    /// Main delegate only: the engine could not change the local microphone / camera, or moved
    /// the local user to audio only (or back).
    void sendLocalMediaFailedEvent(bool audio, KRAudioVideoErrorType type,
                                   const std::string& description);
    void sendLocalAudioOnlyFallbackEvent(bool isFallback);
    void sendRemoteAudioOnlyFallbackEvent(bool isFallback,
                                          const std::shared_ptr<KRMeetingUser>& user);
    /// Main delegate only, and only while the configuration asks for the local level.
    void sendLocalSpeakerVolumeEvent(int level, bool speaking);
    /// Main delegate only.
    void sendNetworkStatsEvent(const KRMeetingNetworkStats& stats);
    void sendLocalScreenShareEvent(const KRScreenShareState& state,
                                   Reach reach = Reach::everyDelegate);
    void sendRemoteScreenShareEvent(const KRScreenShareState& state,
                                    Reach reach = Reach::everyDelegate);
    void sendRecordingStartedEvent(const std::optional<std::string>& startedBy);
    void sendRecordingStoppedEvent(const std::optional<std::string>& stoppedBy);
    void sendMeetingLockedEvent(const std::optional<std::string>& lockedBy);
    void sendMeetingUnLockedEvent(const std::optional<std::string>& unLockedBy);
    void sendStartWhiteboardEvent(const std::string& startedBy, const std::string& senderName);
    /// Main delegate only.
    void sendStopWhiteboardEvent(const std::optional<std::string>& stoppedBy);
    void sendHostRequestToStartAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                               bool isAudioRequest);
    void sendHostRequestToStopAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                              bool isAudioRequest);
    void sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                         bool isAudioDecline);
    void sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer);
    void sendHardMuteDisabledEvent(const std::shared_ptr<KRMeetingUser>& performer);
    void sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer,
                                       Reach reach = Reach::everyDelegate);
    void sendHostLoweredAllHandsEvent(const std::shared_ptr<KRMeetingUser>& performer);
    void sendRemoteUserHandRaisedEvent(const std::shared_ptr<KRMeetingUser>& user);
    /// Only when the change names the local participant.
    void sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user, bool isCoHost,
                                      const std::string& targetParticipantId,
                                      Reach reach = Reach::everyDelegate);
    /// Main delegate only.
    void sendReactionReceivedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                   const std::string& reactionsType);
    /// The participant-limit refusal reaches the main delegate only; any other failure every one.
    void sendJoinFailedEvent(const KRMeetingJoinError& error);
    void sendErrorEvent(const KRMeetingError& error);

private:
    /// Calls `call` on the main delegate, then on every extra delegate in the order added. The
    /// targets are taken first, so a delegate may add or remove delegates while it is called.
    void forEachDelegate(const std::function<void(KRClientDelegate&)>& call) const;
    /// Calls `call` on the main delegate only.
    void forMainDelegate(const std::function<void(KRClientDelegate&)>& call) const;
    /// Calls `call` on the delegates `reach` names.
    void forDelegatesIn(Reach reach, const std::function<void(KRClientDelegate&)>& call) const;
    using LocalMediaReport = void (*)(KRClientDelegate&, const KRMeeting&, bool muted);
    /// Tells every delegate now, or after the host call that brought the change about.
    void reportLocalMedia(bool muted, LocalMediaReport tell);

    platform::SequenceChecker checker_;
    KRCurrentRoom& room_;
    std::unique_ptr<Meeting> meeting_;
    std::weak_ptr<KRClientDelegate> delegate_;
    std::vector<std::pair<std::string, std::weak_ptr<KRClientDelegate>>> clientDelegates_;
    std::weak_ptr<KRParticipantsListUpdateDelegate> participantsListDelegate_;
    /// Host calls under way (`HostCall`).
    int hostCalls_ = 0;
};

}  // namespace kr
