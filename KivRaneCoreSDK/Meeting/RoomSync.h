#pragma once

#include <optional>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Meeting/LocalHand.h"
#include "KivRaneCoreSDK/Meeting/LocalStateSends.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"
#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr {

class KRCurrentRoom;
class KRMeetingUser;
class KRWebSocketManager;
class LogCollector;
class MeetingParticipantsManager;

/// Keeps the meeting in step with the meeting service: the local user's own status post and the
/// room status fetch, their polls, the 1 s network watchdog, the local state changes the service
/// did not take (posted again with a back-off), and the one place where the service's
/// participant records (a status reply or a room socket push) change the room store and the
/// participant merge (keeping what the host app was told of remote participants before the service
/// had it, `ParticipantHolds`).
///
/// It reaches the meeting only through its `Owner`, which it holds weakly: once the owner is
/// gone, replies, polls and retries do nothing.
///
/// Threading: confined to the queue it is given; replies come back there.
class RoomSync : public std::enable_shared_from_this<RoomSync> {
public:
    using Completion = std::function<void(bool success)>;
    using Acknowledgement = KRAPIRequest<KRAPISuccess>::ResultType;
    using RoomStatusReply = KRAPIRequest<KRRoomConnectionStatus>::ResultType;

    /// The network watchdog's interval.
    static constexpr std::chrono::seconds kWatchdogInterval{1};
    /// How long a question about a local hand that a record set aside showed waits for a push.
    static constexpr std::chrono::seconds kOwnPushWait = LocalHand::kOwnPushWait;

    /// What the sync asks of the meeting it keeps in step.
    class Owner {
    public:
        virtual ~Owner() = default;

        /// The meeting of the latest join (its state, token and timers); null before the first.
        virtual MeetingSession* session() = 0;
        /// Where the service's word goes: the room store and the participant merge.
        virtual KRCurrentRoom& room() = 0;
        virtual MeetingParticipantsManager& participantMerge() = 0;
        /// True while the merge holds the meeting's participants (and tells the host of them);
        /// otherwise the media engine brings the participants into the room store.
        virtual bool recordsGoToMerge() const = 0;
        /// The name to show for the user `userId` the server calls `givenName`: the host's
        /// contact name when it has a non-empty one.
        virtual std::string nameToShow(const std::string& userId, std::string givenName) const = 0;
        /// What the own status post carries beyond the room store.
        virtual bool isLocalUserInAudienceMode() const = 0;
        virtual std::string deviceId() const = 0;
        /// True when the settings skip the meeting service's calls.
        virtual bool bypassesServer() const = 0;
        /// Whether a room status call may go out now; when not, the refusal is logged and
        /// `completion` gets false later.
        virtual bool allowsRoomCall(std::string_view action, const Completion& completion) = 0;
        /// Send a request to the meeting service; `onReply` runs on the queue while the owner
        /// lives.
        virtual void send(const KRAPIRequest<KRAPISuccess>& request,
                          std::function<void(const Acknowledgement&)> onReply) = 0;
        virtual void send(const KRAPIRequest<KRRoomConnectionStatus>& request,
                          std::function<void(const RoomStatusReply&)> onReply) = 0;
        /// The room socket: connected while the network is there, closed while it is not.
        virtual void startSocketService() = 0;
        virtual void stopSocketService() = 0;
        /// The service's news of the recording (the owner reports a change): the room socket's
        /// word, or a status reply's state with the room store's word count when it was asked.
        virtual void recordingChanged(bool on,
                                      std::optional<std::uint64_t> replyAskedAtWords) = 0;
        /// The service shows a whiteboard the room store does not know: open it as a remote one.
        virtual void startRemoteWhiteboard(const std::string& userName,
                                           const std::string& userId) = 0;
        /// A status reply was applied whole (its share entries included).
        virtual void roomStatusApplied() {}
        /// Tells the others in the meeting the local hand (the message a raise or lower sends).
        /// Whether it went out changes nothing: the service's records carry the hand too.
        virtual void announceLocalHand(bool raised) = 0;
        /// Marks the local user's hand where the meeting keeps its users; false while there is
        /// no local user there yet.
        virtual bool markLocalHand(bool raised) = 0;
        /// Tells the host app of its own hand change, after the call that made it returned.
        virtual void reportLocalHandLater() = 0;
    };

    /// What the local user's own status post says.
    enum class OwnStatus {
        connected,     ///< in the room, with the local media and hand
        polling,       ///< still in the room (a poll: the connection alone)
        disconnected,  ///< gone from the room
    };
    /// Where a list of the service's participant records came from.
    enum class RecordSource { roomStatusReply, roomSocketPush };

    static std::shared_ptr<RoomSync> create(std::weak_ptr<Owner> owner,
                                            std::shared_ptr<platform::DispatchQueue> queue,
                                            std::shared_ptr<LogCollector> logCollector = nullptr);
    ~RoomSync();
    RoomSync(const RoomSync&) = delete;
    RoomSync& operator=(const RoomSync&) = delete;

    // ---- The own status and the room's ----

    /// The own status post built from the room store.
    PostRoomConnectionRequest makeStatusPost(OwnStatus status) const;
    /// Posts the own status with the room store's hand; `completion` gets whether the service
    /// took it.
    void postOwnStatus(OwnStatus status, Completion completion);
    /// Sends a status post made earlier, whatever the meeting's state now (the leave's, made
    /// while the room still held its meeting's ids).
    void sendStatusPost(const PostRoomConnectionRequest& post, Completion completion);
    /// Fetches the room status and, while the meeting takes news of the room, applies it.
    void fetchRoomStatus(Completion completion);
    /// True while news of the room (a status reply, a room socket push) asked for in `session`
    /// may change what the meeting holds: that meeting is being joined or is in progress, and
    /// not being left.
    bool takesRoomNews(const MeetingSession::Token& session) const;
    /// Takes the room socket's news of the meeting of `session` (a refresh request, a user who
    /// left, pushed records, the recording), replacing what the socket's hooks did before.
    void listenTo(KRWebSocketManager& socket, const MeetingSession::Token& session);

    // ---- Polls and watchdog (their timers are the session's) ----

    /// Every `interval` a room status fetch, and a poll (`postPoll`) followed by a fetch.
    void startPolling(platform::Clock::duration interval);
    /// The polling own status post, which carries the local role: weighed against the local
    /// changes' sends like any of them, and left out while one is on its way (it could reach the
    /// service after it and undo it). `completion` runs either way.
    void postPoll(Completion completion);
    /// The network watchdog: a tick at once, then every `kWatchdogInterval`.
    void startWatchdog();
    /// The network client's word on the network.
    void networkStateChanged(bool isConnected);
    /// One tick: the room socket closed from the second tick without network on, started again
    /// from the second tick with it.
    void watchdogTick();

    // ---- Local state changes ----

    /// The local user's own state changes go to the service through these. A change that never
    /// reached the service (not a refusal) leaves the whole local state to be posted again, after
    /// about 1, 2, 4 ... 30 s (at once when another call of the sync succeeds meanwhile), until the
    /// service takes it.
    ///
    /// The microphone and the camera each go by a call that carries nothing else.
    void sendMicrophoneChange(bool muted);
    void sendCameraChange(bool muted);
    /// The whole own status, from the room store, posted as a change of the local state.
    void postLocalState();
    /// Posts the whole own status with the local role the meeting just confirmed, as a change
    /// of the local state (`postLocalState`): one that never reached the service is posted
    /// again, and until then the service's record of the local user is left out.
    void postLocalRole();
    /// True while a change of the local state, made in the current meeting, has not reached
    /// the service.
    bool hasLostLocalState() const;
    /// Who changed the local hand.
    using HandChange = LocalHand::Change;
    /// The local hand: the room store's flag and the local user, then the own status post as a
    /// hand change. The app's own change is reported to the app, and goes to the others as a
    /// message once the service took a send carrying it (`tellHandOnceTaken`; at once when the
    /// settings skip the service). A host's lower-all posts only a hand that was up, and tells
    /// nobody: everyone heard the host. The service's own change is reported to the app once, and
    /// neither posted nor told to the others, who have it from the service.
    void changeLocalHand(bool raised, HandChange by);
    /// Tells the others the local hand once the service has it, while the meeting is in
    /// progress: a send carrying it was taken, no send carrying the hand is on its way or must
    /// go again, no question about a record that showed another local hand is open, and they
    /// were last told another one. The sync calls it as sends are answered;
    /// the meeting's start calls it for a hand the service took during the join.
    void tellHandOnceTaken();

    // ---- The service's records ----

    /// What the client knew when it asked for a status reply; the defaults: nothing known, the
    /// reply counts as new.
    struct Asked {
        std::uint64_t question = 0;  ///< the number of the fetch
        /// The room store's counts then.
        std::optional<std::uint64_t> whiteboardStops;
        std::optional<std::uint64_t> recordingWords;
    };
    /// Applies one status reply: the recording, unless a word on it came since the reply was
    /// asked for (the reply may predate it), and hard mute, the participant records, the
    /// screen-share entries, then a whiteboard the room store does not know, unless a board
    /// stopped since the reply was asked for (the board it shows may be the stopped one).
    void applyRoomStatus(const KRRoomConnectionStatus& status, const Asked& asked);
    void applyRoomStatus(const KRRoomConnectionStatus& status) { applyRoomStatus(status, Asked{}); }
    /// Applies a list of the service's participant records, the one rule for both sources: only
    /// a push is told to the participant panel record by record.
    void applyParticipantRecords(std::vector<KRMeetingParticipant> records, RecordSource source,
                                 const Asked& asked);
    void applyParticipantRecords(std::vector<KRMeetingParticipant> records) {
        applyParticipantRecords(std::move(records), RecordSource::roomSocketPush, Asked{});
    }
    /// A room engine reported that a remote participant moved to the audience or back; called
    /// before the merge shows the move. Records composed before it keep the merge's role
    /// (`ParticipantHolds`).
    void engineReportedRole(const std::string& participantId);
    /// The service says the user with this login left: the panel hears of its record, the merge
    /// lets go of it (only while it holds that login under the id), then the room status is
    /// fetched.
    void applyUserLeft(const std::string& userId);
    /// A remote participant's hand as her message or a host's lower-all set it, in the user the
    /// meeting holds for it, called before the list shows it: records composed before it keep
    /// what the list shows (`ParticipantHolds`).
    void holdAnnouncedHand(const std::shared_ptr<KRMeetingUser>& user);

private:
    RoomSync(std::weak_ptr<Owner> owner, std::shared_ptr<platform::DispatchQueue> queue,
             std::shared_ptr<LogCollector> logCollector);

    /// True for the service's record of the local user while a change of the local state has
    /// not reached the service: it is older than what the app was told.
    bool isStaleLocalRecord(Owner& owner, const KRMeetingParticipant& participant,
                            std::uint64_t question) const;
    /// Gives the local user's record the state the client holds for it: its hand, microphone,
    /// camera and role, which the own status posts carry.
    static void keepLocalState(Owner& owner, KRMeetingParticipant& record);
    void sendLocalStateChange(const KRAPIRequest<KRAPISuccess>& request,
                              const LocalStateSends::Carried& carried);
    /// What a post of the whole own status carries now.
    static LocalStateSends::Carried wholeState(Owner& owner);
    /// A change or the whole state's post of the current meeting is on its way.
    bool localStateOnItsWay() const;
    /// Once nothing is on its way and nothing is lost: sends again what two sends carried
    /// differently (the service may have handled the older one last), nothing else (the service
    /// may have changed the rest since, a host's lower-all), and asks about a local hand that a
    /// record set aside meanwhile showed otherwise: first, when the hand did not cross, so that
    /// what goes again carries the answer; else once those are answered.
    void localStateSettled();
    /// The question about the local hand that waits goes after `kOwnPushWait`, unless a push of
    /// the local record settles it first.
    void awaitOwnPush();
    static bool isLocalParticipant(Owner& owner, const std::string& participantId);
    /// The user the meeting holds under a participant id, where its participants live.
    static std::shared_ptr<KRMeetingUser> meetingUser(Owner& owner, const std::string& participantId);
    /// The same for the holds, which keep nothing of the local user: its records wait for its
    /// own changes instead (`isStaleLocalRecord`).
    static ParticipantHolds::CurrentUser remoteUsers(Owner& owner);
    /// Notes a report of a remote participant's field in the current meeting; nothing for the
    /// local one, whose records wait for its own changes instead (`isStaleLocalRecord`).
    void holdRemote(const std::shared_ptr<KRMeetingUser>& user, ParticipantHolds::Field field);
    /// Asks the room status at `at`, unless a question is due by then already, or nothing the
    /// pushes set aside showed is in doubt any more then: a push set aside may have shown a change
    /// the service made since the report it was weighed against.
    void askOnceHoldsPassed(platform::Clock::time_point at);
    /// The service's record of the local user, once older records are gone: a reply's hand is
    /// the service's ordered word on it once the meeting started, the rest stays the client's
    /// while crossed values wait to go again; a push's local state stays the client's, and a hand
    /// that differs makes the sync ask.
    void takeLocalRecord(Owner& owner, KRMeetingParticipant& record, RecordSource source);
    /// Fetches the room status for a push that showed another local hand, one fetch at a time; a
    /// push that shows it while one is on its way asks once more after its answer.
    void askAboutLocalHand();
    /// The service answered send `id`: what it carried of the hand is noted when it was taken.
    void sendAnswered(LocalStateSends::Id id, LocalStateSends::Answer answer);
    void localStateLost(const MeetingSession::Token& session);
    /// Schedules the next post of the whole local state, unless one of the current meeting
    /// waits or is under way.
    void scheduleResync();
    /// The service answered a call with success: a lost change waiting for its time goes now,
    /// after a post at once; after a fetch only once until a post gets through, since posts may
    /// fail while fetches do not, and a post per answered fetch would be bound to fail.
    enum class Answered { post, fetch };
    void serviceAnswered(Answered call);
    /// Gives the sync while the meeting of `session` takes news of the room, else null.
    std::function<std::shared_ptr<RoomSync>()> whileTakingNews(
        const MeetingSession::Token& session);
    /// Posts the whole local state again, once.
    void resyncLocalState();

    platform::SequenceChecker checker_;
    std::weak_ptr<Owner> owner_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    KivRaneRealTimeLogger2 logger_;

    // Network watchdog
    bool isNetworkConnected_ = true;
    int ticksWithoutNetwork_ = 0;
    bool skipNextSocketStart_ = false;

    // Local state the service did not take. The loss belongs to the meeting it was made in, and
    // is counted so that a post that crossed a newer loss does not clear it.
    MeetingSession::Token lostIn_;  ///< never live once the loss is posted
    /// The local changes and whole-state posts sent and not answered yet.
    LocalStateSends sends_;
    /// The number of the last fetch asked before a local change was last answered: a reply to it
    /// or an earlier one may predate the change at the service.
    std::uint64_t lastQuestionBeforeChangeAnswered_ = 0;
    /// The meeting whose post of the whole state is on its way; not live: none is.
    MeetingSession::Token resyncInFlightIn_;
    /// A fetch's answer cut a wait short since a post last got through.
    bool fetchCutAWait_ = false;
    std::uint64_t localStateFailures_ = 0;
    /// Tries since the last post that got through: the back-off grows across the returns of
    /// the network within one outage.
    int resyncAttempts_ = 0;
    /// The meeting whose next try waits, for its time or (`resyncHeld_`) for the network; a
    /// token that is not live: none waits. A try waits only with its meeting.
    MeetingSession::Token resyncWaitsIn_;
    bool resyncHeld_ = false;
    platform::TaskHandle resyncDue_;
    RetryBackOff backOff_;

    /// The local hand: what the others were told of it, and the doubt a record set aside raised.
    LocalHand hand_;
    std::uint64_t roomQuestions_ = 0;  ///< fetches asked so far
    ParticipantHolds holds_;
    /// The question asked once the holds passed, when it is due and for which meeting.
    platform::TaskHandle holdsQuestionDue_;
    std::optional<platform::Clock::time_point> holdsQuestionAt_;
    MeetingSession::Token holdsQuestionIn_;
};

}  // namespace kr
