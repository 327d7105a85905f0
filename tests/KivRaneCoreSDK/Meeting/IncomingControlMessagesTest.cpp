// The incoming control messages through their own interface, on a recording stand-in for the
// meeting: which messages reach a handler on each backend (a peer message must name the local
// participant as that backend knows it; a host-only one is checked against the server's record of
// that backend, and the rights granted since), and what the handlers ask the meeting to do.

#include "KivRaneCoreSDK/Meeting/ControlMessages/IncomingControlMessages.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"

namespace kr {
namespace {

/// A server record kept and merged without raising the merge's hooks.
constexpr MeetingParticipantsManager::RecordMerge kRecordOnly{.reportChanges = false};

using E = KRRtmMessageEvent;
using Backend = MediaBackend::Kind;
using Route = ControlMessageRoute;
using Lines = std::vector<std::string>;

/// The meeting as the handlers see it: a room store and a merge of its own, each call recorded.
class RecordingMeeting final : public IncomingControlMessages::Meeting {
public:
    KRCurrentRoom room;
    MeetingParticipantsManager merge;
    /// Participants by id, as the meeting's tracks hold them.
    std::vector<std::shared_ptr<KRMeetingUser>> users;
    Lines lines;
    /// For each share announcement passed on, how many lines were recorded before it.
    std::vector<std::size_t> sharesAnnouncedAfter;
    /// The hands held against older status news, in order, each with the hand the participant
    /// showed then: "<id> held up" / "<id> held down".
    Lines heldHands;

    RecordingMeeting() {
        room.onHandChanged = [this](const std::shared_ptr<KRMeetingUser>& user) {
            add("hand of " + who(user));
        };
    }

    KRCurrentRoom& currentRoom() override { return room; }
    MeetingParticipantsManager& meetingUsersManager() override { return merge; }
    std::shared_ptr<KRMeetingUser> userById(const std::string& id) const override {
        for (const auto& user : users)
            if (user->id() == id)
                return user;
        return nullptr;
    }
    std::shared_ptr<KRMeetingUser> getUser(const std::string& id) const override {
        return userById(id);
    }
    std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const override { return userById("42"); }
    KRMeeting getCurrentMeetingData() const override {
        return KRMeeting("m", "p", "t", {}, nullptr, false, "", false);
    }

    void muteLocalAudio(bool isMute) override { add(isMute ? "mute" : "unmute"); }
    void leaveMeeting(KRUserLeftReason reason) override { add("leave by " + reason.byHost()); }
    void startWhitebboard(bool remote, const std::string& name, const std::string& id) override {
        add(std::string(remote ? "remote" : "own") + " board of " + id + " " + name);
    }
    void stopWhiteboard() override { add("stop board"); }
    void postForceStopScreenShareDarwinNotification(const std::string& reason) override {
        add("stop share: " + reason);
    }
    void switchClientRole(bool isAudience) override {
        add(isAudience ? "to audience" : "to speaker");
    }
    void takeHostRoleMove(bool isAudience) override {
        add(isAudience ? "room engine to audience" : "room engine to speaker");
    }
    void remoteShareAnnounced() override { sharesAnnouncedAfter.push_back(lines.size()); }
    void changeMeetingLock(bool locked, const std::optional<std::string>& by) override {
        add(std::string(locked ? "lock" : "unlock") + " by " + by.value_or("-"));
    }
    void changeRecording(bool on, const std::optional<std::string>& by) override {
        add(std::string(on ? "record" : "stop recording") + " by " + by.value_or("-"));
    }
    void closeWhiteboard(const std::optional<std::string>& by) override {
        add("close board by " + by.value_or("-"));
    }
    void holdAnnouncedHand(const std::shared_ptr<KRMeetingUser>& user) override {
        heldHands.push_back(who(user) + (user && user->isHandRaised() ? " held up" : " held down"));
    }
    void lowerLocalHandForHost() override { room.isCurrentUserHandRaised = false; }
    void sendHostRequestToStartAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                               bool audio) override {
        add(std::string("asked to start ") + (audio ? "audio" : "video") + " by " + who(host));
    }
    void sendHostRequestToStopAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                              bool audio) override {
        add(std::string("asked to stop ") + (audio ? "audio" : "video") + " by " + who(host));
    }
    void sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                         bool audio) override {
        add(std::string("declined ") + (audio ? "audio" : "video") + " by " + who(user));
    }
    void sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& by) override {
        add("hard mute by " + who(by));
    }
    void sendHardMuteDisabledEvent(const std::shared_ptr<KRMeetingUser>& by) override {
        add("hard unmute by " + who(by));
    }
    void sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& by,
                                       MeetingEvents::Reach) override {
        add("soft mute by " + who(by));
    }
    void sendHostLoweredAllHandsEvent(const std::shared_ptr<KRMeetingUser>& by) override {
        add("hands down by " + who(by));
    }
    void sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user, bool isCoHost,
                                      const std::string& target, MeetingEvents::Reach) override {
        add(std::string(isCoHost ? "co-host " : "no co-host ") + target + " by " + who(user));
    }
    void sendReactionReceivedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                   const std::string& type) override {
        add("reaction " + type + " from " + who(user));
    }
    void warn(const std::string&) override { add("warned"); }

    void addUser(const std::string& id, bool isHost = false, bool isCoHost = false) {
        auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = id});
        user->setIsHost(isHost);
        user->setIsCoHost(isCoHost);
        users.push_back(user);
    }

private:
    static std::string who(const std::shared_ptr<KRMeetingUser>& user) {
        return user ? user->id() : "-";
    }
    void add(std::string line) { lines.push_back(std::move(line)); }
};

KRMeetingParticipant record(const std::string& id, bool isHost, bool isCoHost) {
    KRMeetingParticipant r;
    r.participantId = id;
    r.isHost = isHost;
    r.isCoHost = isCoHost;
    return r;
}

KRRtmMessage message(E event, const std::string& from, const std::string& to = "") {
    KRRtmMessage m;
    m.message = event;
    m.senderParticipantId = from;
    m.senderName = "Name " + from;
    m.targetParticipantId = to;
    return m;
}

/// A room over a recording meeting in which "42" is the local participant on both backends, "7"
/// the host, "8" a participant the server lists without rights and "9" one it does not list.
struct Room {
    RecordingMeeting* meeting = nullptr;
    std::unique_ptr<IncomingControlMessages> messages;

    Room() {
        auto owned = std::make_unique<RecordingMeeting>();
        meeting = owned.get();
        messages = std::make_unique<IncomingControlMessages>(std::move(owned));
        meeting->room.userWebRtcId = "42";
        meeting->merge.setCurrentParticipantId("42");
        for (const char* id : {"42", "7", "8", "9"})
            meeting->addUser(id, std::string(id) == "7");
        meeting->room.allParticipants = {record("7", true, false), record("8", false, false)};
        meeting->merge.upsertParticipantMetaData(record("7", true, false), kRecordOnly);
        meeting->merge.upsertParticipantMetaData(record("8", false, false), kRecordOnly);
    }

    Lines deliver(Backend backend, Route route, const KRRtmMessage& m) {
        meeting->lines.clear();
        messages->handleControlMessage(backend, route, m);
        return meeting->lines;
    }
};

TEST(IncomingControlMessagesTest, APeerMessageActsOnlyWhenItNamesTheLocalParticipantOfItsBackend) {
    const Lines asked{"asked to start audio by 7"};
    for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
        SCOPED_TRACE(backend == Backend::defaultEngine ? "default backend" : "room engine backend");
        Room r;
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::requestToStartAudio, "7", "42")),
                  asked);
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::requestToStartAudio, "7", "43")),
                  Lines{});
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::requestToStartAudio, "7", "")),
                  Lines{});
        // The backend's own id decides: the other backend's id does not stand in for it.
        if (backend == Backend::defaultEngine) {
            r.meeting->room.userWebRtcId.clear();
        } else {
            r.meeting->merge.setCurrentParticipantId("");
        }
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::requestToStartAudio, "7", "")),
                  Lines{});
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::requestToStartAudio, "7", "42")),
                  Lines{});
        // A channel event sent to one peer, and a peer event on the channel, do nothing.
        r.meeting->room.userWebRtcId = "42";
        r.meeting->merge.setCurrentParticipantId("42");
        EXPECT_EQ(r.deliver(backend, Route::peer, message(E::lockMeeting, "7", "42")), Lines{});
        EXPECT_EQ(r.deliver(backend, Route::channel, message(E::requestToStartAudio, "7", "42")),
                  Lines{});
    }
}

TEST(IncomingControlMessagesTest, AHostOnlyMessageIsDroppedOnlyFromASenderTheServerListsWithoutRights) {
    struct Case {
        const char* what;
        std::string from;
        bool grantedSince;  // the sender became a co-host after the server's record was read
        Lines heard;
    };
    const Case cases[] = {
        {"the host", "7", false, {"lock by 7"}},
        {"listed without rights", "8", false, {"warned"}},
        {"listed without rights, co-host since", "8", true, {"lock by 8"}},
        {"not listed: may be a host who just joined", "9", false, {"lock by 9"}},
        {"no sender id", "", false, {"lock by "}},
    };
    for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(backend == Backend::defaultEngine ? "default backend: "
                                                                       : "room engine: ") +
                         c.what);
            Room r;
            if (c.grantedSince)
                r.meeting->userById(c.from)->setIsCoHost(true);
            EXPECT_EQ(r.deliver(backend, Route::channel, message(E::lockMeeting, c.from)), c.heard);
        }
    }
}

TEST(IncomingControlMessagesTest, EachBackendHasItsOwnRuleWhereTheRowSaysTheyDiffer) {
    struct Case {
        const char* what;
        Backend backend;
        Route route;
        KRRtmMessage message;
        Lines heard;
    };
    const Case cases[] = {
        {"a request from a plain participant, default backend", Backend::defaultEngine,
         Route::peer, message(E::stopParticipantVideo, "8", "42"), {"asked to stop video by 8"}},
        {"a request from a plain participant, room engine backend", Backend::roomEngine,
         Route::peer, message(E::stopParticipantVideo, "8", "42"), {"warned"}},
        {"a remote share while the local board is closed", Backend::defaultEngine, Route::channel,
         message(E::participantStartScreenShare, "8"), {}},
        {"a remote share, room engine backend", Backend::roomEngine, Route::channel,
         message(E::participantStartScreenShare, "8"), {}},
        {"a board start without a local share, default backend", Backend::defaultEngine,
         Route::channel, message(E::startWhiteboard, "8"), {"remote board of 8 Name 8"}},
        {"a board start, room engine backend", Backend::roomEngine, Route::channel,
         message(E::startWhiteboard, "8"),
         {"stop share: Screen share is overriden with Whiteboard.", "remote board of 8 Name 8"}},
        // Without a local share the stop is a viewer's request to close the board, from anyone.
        {"a stop without a local share, default backend", Backend::defaultEngine, Route::peer,
         message(E::participantStopScreenShare, "8", "42"), {}},
        {"a stop from a plain participant, room engine backend", Backend::roomEngine,
         Route::peer, message(E::participantStopScreenShare, "8", "42"), {"warned"}},
        {"a stop from the host, room engine backend", Backend::roomEngine, Route::peer,
         message(E::participantStopScreenShare, "7", "42"),
         {"stop share: Host has stopped your screen share"}},
        {"a removal", Backend::roomEngine, Route::peer,
         message(E::hostRemoveParticipant, "7", "42"), {"leave by Name 7"}},
        {"a role change, default backend", Backend::defaultEngine, Route::peer,
         message(E::participantDowngradeToAudience, "7", "42"), {"to audience"}},
        {"a reaction, default backend", Backend::defaultEngine, Route::channel,
         message(E::reactionShare, "8"), {"reaction  from 8"}},
        {"a reaction, room engine backend", Backend::roomEngine, Route::channel,
         message(E::reactionShare, "8"), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Room r;
        EXPECT_EQ(r.deliver(c.backend, c.route, c.message), c.heard);
    }
}

TEST(IncomingControlMessagesTest, AShareStartOnTheChannelReachesEitherBackendFromAnyone) {
    using Announced = std::vector<std::size_t>;
    struct Case {
        const char* what;
        Backend backend;
        Route route;
        std::string from;
        bool boardShared;  // the local user shares its whiteboard
        Lines heard;
        Announced announced;  // lines recorded before each announcement
    };
    const Case cases[] = {
        {"default backend", Backend::defaultEngine, Route::channel, "8", false, {}, {0}},
        {"default backend, from someone the server does not list", Backend::defaultEngine,
         Route::channel, "9", false, {}, {0}},
        {"default backend, the local board open: closed first", Backend::defaultEngine,
         Route::channel, "8", true, {"close board by 8"}, {1}},
        {"room engine backend", Backend::roomEngine, Route::channel, "8", false, {}, {0}},
        {"room engine backend, the local board open: left open", Backend::roomEngine,
         Route::channel, "8", true, {}, {0}},
        {"sent to one peer, default backend", Backend::defaultEngine, Route::peer, "8", false,
         {}, {}},
        {"sent to one peer, room engine backend", Backend::roomEngine, Route::peer, "8", false,
         {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Room r;
        r.meeting->room.isLocalUserSharingWhiteboard = c.boardShared;
        const std::string to = c.route == Route::peer ? "42" : "";
        EXPECT_EQ(r.deliver(c.backend, c.route, message(E::participantStartScreenShare, c.from, to)),
                  c.heard);
        EXPECT_EQ(r.meeting->sharesAnnouncedAfter, c.announced);
    }
}

TEST(IncomingControlMessagesTest, AViewersStopClosesTheLocalBoardOnlyWhileOneIsOpen) {
    Room r;
    r.meeting->room.isWhiteboardShared = true;
    EXPECT_EQ(r.deliver(Backend::defaultEngine, Route::peer,
                        message(E::participantStopScreenShare, "8", "42")),
              Lines{"stop board"});
    r.meeting->room.isWhiteboardShared = false;
    EXPECT_EQ(r.deliver(Backend::defaultEngine, Route::peer,
                        message(E::participantStopScreenShare, "8", "42")),
              Lines{});
}

TEST(IncomingControlMessagesTest, AHandAndTheHostsLowerAllAreHeldForTheParticipantsTheyChanged) {
    for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
        SCOPED_TRACE(backend == Backend::defaultEngine ? "default backend" : "room engine backend");
        Room r;
        // The default backend's participants are the room store's users.
        for (const auto& user : r.meeting->users)
            r.meeting->room.allMediaTracks.push_back(user);
        // Each is held before the list shows the change: the hand it shows then is the old one.
        r.deliver(backend, Route::channel, message(E::participantRaiseHand, "8"));
        // The merge has no record of 9: its hand shows nothing there, and holds nothing.
        r.deliver(backend, Route::channel, message(E::participantRaiseHand, "9"));
        const Lines raised = backend == Backend::defaultEngine
                                 ? Lines{"8 held down", "9 held down"}
                                 : Lines{"8 held down"};
        EXPECT_EQ(r.meeting->heldHands, raised);
        r.meeting->heldHands.clear();
        // Only the hands the command took down are held; 7's was down already.
        r.deliver(backend, Route::channel, message(E::hostLowerAllHands, "7"));
        const Lines lowered = backend == Backend::defaultEngine
                                  ? Lines{"8 held up", "9 held up"}
                                  : Lines{"8 held up"};
        EXPECT_EQ(r.meeting->heldHands, lowered);
    }
}

}  // namespace
}  // namespace kr
