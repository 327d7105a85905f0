// The facade without a server: settings, delegate fan-out, the join-failure mapping, the event
// senders' conditions, status replies, and the join that skips the server (credentials in the
// settings), all on a main queue driven by a manual clock.

#include "support/EngineParticipantState.h"
#include "KivRaneCoreSDK/Client/KRClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <cmath>
#include <limits>

#include "KivRaneCoreSDK/Meeting/KRClientConstants.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaOperation.h"
#include "support/ClientTestDelegate.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using test::peer;

using namespace std::chrono_literals;
using test::ClientTestDelegate;
using JoinKind = KRMeetingJoinError::Kind;

class KRClientTest : public ::testing::Test {
protected:
    KRClientTest() {
        KRDependencies deps;
        deps.queue = queue;
        deps.messagingService = messaging;
        deps.reachability = test::quietReachability();
        deps.mediaBus = bus;
        deps.contacts = contacts;
        client = KRClient::create(deps);
    }

    /// Settings that skip every server call of the join.
    void useMediaCredentials() {
        client->setParameters(boost::json::parse(R"({"kr_agora_token":"tok","kr_uid":"42",
            "kr_room_id":"room-9","kr_rtm_token":"rtm"})").as_object());
    }

    void joinWithoutServer(KRUserRole role = KRUserRole::speaker()) {
        useMediaCredentials();
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(role, true, true), main);
    }

    /// The join without server calls up to the media channel's confirmation.
    void joinedWithoutServer() {
        joinWithoutServer();
        queue->runPending();
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<ClientTestDelegate> main = std::make_shared<ClientTestDelegate>("main");
    std::shared_ptr<ContactSyncManager> contacts = std::make_shared<ContactSyncManager>();
    std::shared_ptr<KRClient> client;
};

// ---- Settings ----

TEST_F(KRClientTest, SettingsAreReadByTypeAndAWrongTypeChangesNothing) {
    client->setParameters(boost::json::parse(R"({
        "serverEnvironment": "staging", "os_type": "android-x", "participantsLimit": 7,
        "kr_user_existing_id": "existing-1", "kr_app_group_name": "group.test",
        "kr_leave_chat_thread_on_leave": true,
        "kr_contacts_array": [{"userId": "c1", "name": "Contact"}, 5]})")
                              .as_object());
    EXPECT_EQ(client->getServerEnvironment(), KRApiServer::staging);
    EXPECT_EQ(internals(client).settings().osType, "android-x");
    EXPECT_EQ(internals(client).settings().participantsLimit, 7);
    EXPECT_TRUE(internals(client).settings().isParticipantsLimitSetByHost);
    EXPECT_EQ(internals(client).currentRoom().guestUserId, "existing-1");
    EXPECT_EQ(internals(client).settings().currentAppGroupName, "group.test");
    EXPECT_TRUE(internals(client).settings().shouldLeaveChatThreadOnLeave);
    EXPECT_EQ(contacts->getUpdatedPartipantName("c1"), "Contact");
    EXPECT_TRUE(internals(client).settings().isGuestUserFlow);
    EXPECT_FALSE(internals(client).settings().shouldByPassAPICalls);

    client->setParameters(boost::json::parse(R"({
        "serverEnvironment": 3, "os_type": false, "participantsLimit": "9",
        "kr_leave_chat_thread_on_leave": "yes", "kr_app_group_name": null})")
                              .as_object());
    EXPECT_EQ(client->getServerEnvironment(), KRApiServer::staging);
    EXPECT_EQ(internals(client).settings().osType, "android-x");
    EXPECT_EQ(internals(client).settings().participantsLimit, 7);
    EXPECT_TRUE(internals(client).settings().shouldLeaveChatThreadOnLeave);
    EXPECT_EQ(internals(client).settings().currentAppGroupName, "group.test");

    // A limit past what the client can hold is a wrong value too, not a failure of the call.
    for (const char* limit : {"18446744073709551615", "6.5", "1e30"}) {
        client->setParameters(
            boost::json::parse(std::string(R"({"participantsLimit": )") + limit + "}").as_object());
        EXPECT_EQ(internals(client).settings().participantsLimit, 7) << limit;
    }
}

TEST_F(KRClientTest, EnvironmentTextsMapToTheirServersAndAnUnknownOneKeepsProduction) {
    const std::pair<const char*, KRApiServer> table[] = {
        {"staging", KRApiServer::staging},      {"prestage", KRApiServer::preStage},
        {"rc", KRApiServer::rc},                {"production", KRApiServer::production},
        {"pelvargroups", KRApiServer::pelvarGroups}, {"Staging", KRApiServer::production},
        {"meet.kivrane.com", KRApiServer::production},
    };
    for (const auto& [text, expected] : table) {
        client->setParameters(boost::json::object{{"serverEnvironment", text}});
        EXPECT_EQ(client->getServerEnvironment(), expected) << text;
    }
}

TEST_F(KRClientTest, AUserTokenMakesTheUserSignedIn) {
    client->setParameters(boost::json::object{{"kr_user_jwt_token", "jwt-1"}});
    EXPECT_FALSE(internals(client).settings().isGuestUserFlow);
    EXPECT_EQ(internals(client).networkClient()->getJwtToken(), "jwt-1");
    EXPECT_EQ(internals(client).networkClient()->getCurrentUserType(), KRCurrentUserType::loggedIn);
}

TEST_F(KRClientTest, MediaCredentialsFillTheRoomAndSelectTheJoinWithoutServerCalls) {
    client->setParameters(boost::json::object{{"kr_agora_token", "tok"}});
    EXPECT_FALSE(internals(client).settings().shouldByPassAPICalls);  // a token alone is not enough to join
    useMediaCredentials();
    EXPECT_TRUE(internals(client).settings().shouldByPassAPICalls);
    const KRCurrentRoom& room = internals(client).currentRoom();
    EXPECT_EQ(room.userWebRtcToken, "tok");
    EXPECT_EQ(room.userWebRtcId, "42");
    EXPECT_EQ(room.roomID, "room-9");
    EXPECT_EQ(room.userWebRtmToken, "rtm");
    EXPECT_EQ(room.webRtcAppId, "");  // no configuration was fetched
}

TEST_F(KRClientTest, PollingIntervalIsNeverZeroNegativeNonFiniteOrBelowOneSecond) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<double, double> table[] = {{0.0, 25.0},   {-3.0, 25.0}, {NAN, 25.0},
                                               {inf, 25.0},   {0.2, 1.0},   {1.0, 1.0},
                                               {10.0, 10.0},  {25.0, 25.0}};
    for (const auto& [configured, expected] : table) {
        EXPECT_EQ(ClientCore::pollingIntervalFor(configured), expected) << configured;
    }
}

// ---- Join failures ----

TEST(KRMeetingJoinErrorTest, EachFailedServerCallMapsToOneJoinFailure) {
    const auto refusal = [](const char* code, int status) {
        return KRApiRequestError::failedApi(
            std::string(R"({"message":")") + code + R"(","errors":"x"})", status);
    };
    const auto transport = KRApiRequestError::networkFailure();
    const auto server = KRApiRequestError::serverError();
    const auto unreadable = KRApiRequestError::unKnown();
    struct Row {
        KRJoinStep step;
        KRApiRequestError error;
        JoinKind expected;
    };
    const Row table[] = {
        {KRJoinStep::configuration, unreadable, JoinKind::invalidConfiguration},
        {KRJoinStep::configuration, server, JoinKind::other},
        {KRJoinStep::configuration, transport, JoinKind::other},
        {KRJoinStep::guestLogin, unreadable, JoinKind::failedToRegisterUser},
        {KRJoinStep::guestLogin, refusal("NOTFOUNDERROR", 404), JoinKind::meetingNotFound},
        {KRJoinStep::roomDetails, unreadable, JoinKind::other},
        {KRJoinStep::roomDetails, refusal("NOTFOUNDERROR", 404), JoinKind::meetingNotFound},
        {KRJoinStep::roomDetails, refusal("MEETING_ENDED", 410), JoinKind::meetingEnded},
        {KRJoinStep::roomDetails, refusal("ROOMLOCKED", 403), JoinKind::meetingLocked},
        {KRJoinStep::joinCall, refusal("ROOMLOCKED", 403), JoinKind::meetingLocked},
        {KRJoinStep::joinCall, refusal("REMOVED", 403), JoinKind::other},
        {KRJoinStep::joinCall, server, JoinKind::other},
        {KRJoinStep::statusPost, refusal("MEETING_ENDED", 410), JoinKind::meetingEnded},
        {KRJoinStep::statusPost, unreadable, JoinKind::other},
    };
    for (const auto& row : table) {
        const KRMeetingJoinError error = joinErrorFor(row.step, row.error);
        EXPECT_EQ(error.kind, row.expected)
            << static_cast<int>(row.step) << " " << row.error.getErrorCode();
        if (error.kind == JoinKind::other) {
            EXPECT_FALSE(error.message.empty());
        }
    }
}

// ---- Delegates ----

TEST_F(KRClientTest, EventsReachTheMainDelegateFirstThenExtrasInTheOrderAdded) {
    auto log = std::make_shared<std::vector<std::string>>();
    auto mainDelegate = std::make_shared<ClientTestDelegate>("main", log);
    auto a = std::make_shared<ClientTestDelegate>("a", log);
    auto b = std::make_shared<ClientTestDelegate>("b", log);
    auto c = std::make_shared<ClientTestDelegate>("c", log);
    auto gone = std::make_shared<ClientTestDelegate>("gone", log);
    client->addDelegate("b", b);
    client->addDelegate("gone", gone);
    client->addDelegate("a", a);
    client->addDelegate("c", c);
    client->addDelegate("b", b);  // again: keeps its place
    client->removeDelegate("c");
    gone.reset();
    useMediaCredentials();
    client->joinMeeting(KRJoinMeetingData("m", "p", "n"),
                        KRJoinMeetingConfig(KRUserRole::speaker(), true, true), mainDelegate);

    internals(client).events().changeMeetingLock(true, std::nullopt);
    internals(client).events().changeMeetingLock(true, std::nullopt);  // already locked: nothing
    internals(client).events().closeWhiteboard(std::nullopt);  // no whiteboard: nothing
    internals(client).currentRoom().isWhiteboardShared = true;
    internals(client).events().closeWhiteboard(std::nullopt);  // main only
    internals(client).events().sendJoinFailedEvent(KRMeetingJoinError::maxParticipantsLimit());  // main only
    internals(client).events().sendJoinFailedEvent(KRMeetingJoinError::meetingLocked());

    EXPECT_EQ(*log, (std::vector<std::string>{
                        "main: locked -", "b: locked -", "a: locked -", "main: whiteboard stopped",
                        "main: failed 1 ", "main: failed 5 ", "b: failed 5 ", "a: failed 5 "}));
}

TEST_F(KRClientTest, ADelegateMayRemoveItselfWhileCalled) {
    struct SelfRemoving : ClientTestDelegate {
        std::weak_ptr<KRClient> owner;
        void didRecordingStarted(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
            if (auto c = owner.lock()) c->removeDelegate("self");
            ++calls;
        }
        int calls = 0;
    };
    auto self = std::make_shared<SelfRemoving>();
    self->owner = client;
    client->addDelegate("self", self);
    internals(client).events().sendRecordingStartedEvent(std::nullopt);
    internals(client).events().sendRecordingStoppedEvent(std::nullopt);
    internals(client).events().sendRecordingStartedEvent(std::nullopt);
    EXPECT_EQ(self->calls, 1);
}

TEST(KRClientConstantsTest, KeysKeepTheirTextsBothWays) {
    EXPECT_EQ(rawValue(KRClientConstants::rtmMessageRecieved), "kr_client_rtm_message_recieved");
    EXPECT_EQ(rawValue(KRClientConstants::sendRtmFromExternalSource),
              "kr_send_rtm_message_from_external_source");
    EXPECT_EQ(krClientConstantsFromRaw("kr_client_rtm_message_recieved"),
              KRClientConstants::rtmMessageRecieved);
    EXPECT_EQ(krClientConstantsFromRaw("kr_client_rtm_message_received"), std::nullopt);
}

// ---- Status replies ----

TEST_F(KRClientTest, StatusReplyRaisesRecordingEventsBeforeTheFlagIsCopied) {
    client->addDelegate("x", main);
    KRRoomConnectionStatus status;
    status.isRecording = true;
    internals(client).roomSync().applyRoomStatus(status);
    internals(client).roomSync().applyRoomStatus(status);
    status.isRecording = false;
    internals(client).roomSync().applyRoomStatus(status);
    EXPECT_EQ(main->events(),
              (std::vector<std::string>{"main: recording started", "main: recording stopped"}));
    EXPECT_FALSE(internals(client).currentRoom().isRecordingOn);
}

TEST_F(KRClientTest, StatusReplyAddsEachScreenShareOnceNewestFirstAndIgnoresBadIds) {
    KRRoomConnectionStatus status;
    status.isScreenShared = true;
    status.screenOrWhiteBoardSharingUserId = "10001";
    status.screenOrWhiteBoardSharingUserName = "Ann";
    status.screenSharedObjectId = "90001";
    internals(client).roomSync().applyRoomStatus(status);
    internals(client).roomSync().applyRoomStatus(status);
    status.screenSharedObjectId = "90002";
    internals(client).roomSync().applyRoomStatus(status);
    status.screenSharedObjectId = "not-a-uid";
    internals(client).roomSync().applyRoomStatus(status);
    const auto& entries = internals(client).currentRoom().screenShareMetaData;
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].trackID(), 90002u);
    EXPECT_EQ(entries[1].trackID(), 90001u);
    EXPECT_EQ(entries[1].sharingUserName(), "Ann");
    EXPECT_EQ(internals(client).meetingUsersManager().getScreenShareTrackInfos().size(), 2u);
}

TEST_F(KRClientTest, StatusReplyNamesKnownUsersButCreatesNoneOnTheDefaultBackend) {
    internals(client).currentRoom().upsertNewParticipantFromRtcDB(peer(5));
    KRRoomConnectionStatus status;
    KRMeetingParticipant known;
    known.participantId = "5";
    known.participantName = "Five";
    known.isHandRaise = true;
    KRMeetingParticipant other = known;
    other.participantId = "6";
    status.participants = {known, other};
    internals(client).roomSync().applyRoomStatus(status);
    ASSERT_EQ(client->getMeetingUsers().size(), 1u);
    EXPECT_EQ(client->getUser("5")->displayName(), "Five");
    EXPECT_TRUE(client->getUser("5")->isHandRaised());
    EXPECT_EQ(internals(client).currentRoom().allParticipants.size(), 2u);
    EXPECT_TRUE(main->events().empty());
}

TEST_F(KRClientTest, ClientsSharingTheProcessNameParticipantsFromTheirOwnContacts) {
    KRDependencies deps;
    deps.queue = queue;
    deps.messagingService = messaging;
    deps.reachability = test::quietReachability();
    deps.mediaBus = bus;
    deps.contacts = std::make_shared<ContactSyncManager>();
    const auto other = KRClient::create(deps);
    client->setParameters(
        boost::json::parse(R"({"kr_contacts_array": [{"userId": "u5", "name": "Ann from work"}]})")
            .as_object());
    other->setParameters(
        boost::json::parse(R"({"kr_contacts_array": [{"userId": "u5", "name": "Aunt Ann"}]})")
            .as_object());
    KRMeetingParticipant ann;
    ann.participantId = "5";
    ann.userId = "u5";
    ann.participantName = "Ann";
    KRRoomConnectionStatus status;
    status.participants = {ann};
    const std::pair<KRClient*, const char*> views[] = {{client.get(), "Ann from work"},
                                                       {other.get(), "Aunt Ann"}};
    for (const auto& [c, name] : views) {
        internals(c).currentRoom().upsertNewParticipantFromRtcDB(peer(5));
        internals(c).roomSync().applyRoomStatus(status);
        EXPECT_EQ(c->getUser("5")->displayName(), name);
        ASSERT_EQ(internals(c).currentRoom().allParticipants.size(), 1u);
        EXPECT_EQ(internals(c).currentRoom().allParticipants[0].participantName, name);
    }
}

TEST_F(KRClientTest, AStatusReplyNamesTheSharerAsItsParticipantListDoes) {
    client->setParameters(boost::json::parse(R"({"kr_contacts_array": [
        {"userId": "a1", "name": "Ann from work"}, {"userId": "a2", "name": ""}]})")
                              .as_object());
    struct Case {
        const char* account;
        const char* serverName;
        const char* shown;
    };
    const Case cases[] = {
        {"a1", "Ann", "Ann from work"},
        {"a2", "Ben", "Ben"},  // an empty contact name blanks nothing
        {"a3", "Cat", "Cat"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.account);
        ++n;
        const std::string id = std::to_string(n);
        const boost::json::object sharer{
            {"userId", c.account}, {"participantUri", "uri" + id}, {"participantId", id},
            {"participantName", c.serverName}, {"micStatus", true}, {"cameraStatus", true},
            {"isHandRaise", false}, {"isSharingScreen", true}};
        const boost::json::object reply{
            {"isHardMute", false}, {"isSoftMute", false}, {"whiteboardshared", false},
            {"isSharing", "uri" + id}, {"participants", boost::json::array{sharer}},
            {"agoraScreenShareInfo", {{"agoraUid", 9000 + n}}}};
        const auto status = KRRoomConnectionStatus::fromJson(reply);
        ASSERT_TRUE(status.ok());
        internals(client).roomSync().applyRoomStatus(status.value());

        const KRCurrentRoom& room = internals(client).currentRoom();
        ASSERT_FALSE(room.screenShareMetaData.empty());
        EXPECT_EQ(room.screenShareMetaData.front().sharingUserName(), c.shown);
        const auto record = std::find_if(
            room.allParticipants.begin(), room.allParticipants.end(),
            [&](const KRMeetingParticipant& p) { return p.participantId == id; });
        ASSERT_NE(record, room.allParticipants.end());
        EXPECT_EQ(record->participantName, c.shown);
    }
}

// ---- The join without server calls ----

TEST_F(KRClientTest, JoinEndsOnceWithTimedOutWhenTheMediaNeverConfirms) {
    bus->stallNextJoin();
    joinWithoutServer();
    EXPECT_TRUE(internals(client).isAwaitingMediaJoin());
    clock->advance(59s);
    queue->runPending();
    EXPECT_TRUE(main->joinFailures.empty());
    clock->advance(1s);
    queue->runPending();
    ASSERT_EQ(main->joinFailures.size(), 1u);
    EXPECT_EQ(main->joinFailures[0], KRMeetingJoinError::other("timed out"));
    // A confirmation after the failure changes nothing.
    internals(client).completeLocalMediaJoin("42");
    clock->advance(120s);
    queue->runPending();
    EXPECT_EQ(main->events().size(), 1u);
}

TEST_F(KRClientTest, ConfirmedLocalJoinStartsTheWatchdogAndReportsOnce) {
    joinedWithoutServer();
    EXPECT_TRUE(internals(client).hasConnectionCheckTimer());
    EXPECT_FALSE(internals(client).hasPollingTimers());  // this join does not poll
    EXPECT_EQ(main->events(), std::vector<std::string>{"main: joined 42"});
    EXPECT_EQ(client->getMeetingLocalUser()->id(), "42");
    clock->advance(61s);
    queue->runPending();
    EXPECT_EQ(main->events().size(), 1u);  // the time-out was cancelled
}

TEST_F(KRClientTest, AnUnknownLocalUidFallsBackToTheConfirmedUidElseFails) {
    // The engine joins as 77, which the room's "077" names but does not spell.
    client->setParameters(boost::json::parse(R"({"kr_agora_token":"tok","kr_uid":"077",
        "kr_room_id":"room-9","kr_rtm_token":"rtm"})").as_object());
    client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                        KRJoinMeetingConfig(KRUserRole::speaker(), true, true), main);
    queue->runPending();
    EXPECT_EQ(main->events(), std::vector<std::string>{"main: joined 77"});
    EXPECT_EQ(internals(client).currentRoom().userWebRtcId, "77");

    KRDependencies deps;
    deps.queue = queue;
    deps.messagingService = messaging;
    deps.reachability = test::quietReachability();
    deps.mediaBus = bus;
    auto other = KRClient::create(deps);
    auto delegate = std::make_shared<ClientTestDelegate>("other");
    other->setParameters(boost::json::parse(
        R"({"kr_agora_token":"t","kr_uid":"1","kr_room_id":"r"})").as_object());
    other->joinMeeting(KRJoinMeetingData("m", "p", "n"),
                       KRJoinMeetingConfig(KRUserRole::speaker(), true, true), delegate);
    internals(other).completeLocalMediaJoin("");
    ASSERT_EQ(delegate->joinFailures.size(), 1u);
    EXPECT_EQ(delegate->joinFailures[0].kind, JoinKind::other);
}

TEST_F(KRClientTest, EachJoinStartsFromACleanMeetingButKeepsSettingsCredentials) {
    joinedWithoutServer();
    KRCurrentRoom& room = internals(client).currentRoom();
    room.isMeetingLocked = room.isRecordingOn = room.isHardMuteEnabled = true;
    room.isWhiteboardShared = true;
    internals(client).localScreenShare().adoptStream(5, "t");
    client->leaveMeeting(KRUserLeftReason::removedFromMeeting("Host"));
    EXPECT_EQ(internals(client).localUserLeftReason(), KRUserLeftReason::removedFromMeeting("Host"));
    queue->runPending();  // the media channel reports the leave

    client->joinMeeting(KRJoinMeetingData("m-2", "2", "Me"),
                        KRJoinMeetingConfig(KRUserRole::audience(), true, true), main);
    EXPECT_FALSE(room.isMeetingLocked || room.isRecordingOn || room.isHardMuteEnabled ||
                 room.isWhiteboardShared);
    EXPECT_EQ(internals(client).localScreenShare().streamUid(), 0u);
    EXPECT_EQ(internals(client).localUserLeftReason(), KRUserLeftReason::none());
    EXPECT_EQ(room.userWebRtcToken, "tok");
    EXPECT_EQ(room.userWebRtcId, "42");
    EXPECT_EQ(room.meetingId, "m-2");
    // An audience member starts with microphone and camera off whatever the options say.
    EXPECT_TRUE(internals(client).isLocalUserInAudienceMode());
    EXPECT_TRUE(room.isCurrentUserAudioMuted && room.isCurrentUserVideoMuted);
}

TEST_F(KRClientTest, LeaveReportsOnceWithTheReasonAndNothingFollows) {
    joinedWithoutServer();
    internals(client).localScreenShare().adoptStream(9, "t");  // the local user was sharing
    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    client->leaveMeeting(KRUserLeftReason::networkDropped());  // already leaving
    queue->runPending();
    internals(client).handleLocalMediaLeft();  // a second report of the leave
    clock->advance(120s);
    queue->runPending();
    EXPECT_EQ(main->events(), (std::vector<std::string>{"main: joined 42",
                                                        "main: local share stopped",
                                                        "main: left 1"}));
    EXPECT_FALSE(internals(client).hasConnectionCheckTimer());
    EXPECT_TRUE(internals(client).currentRoom().allMediaTracks.empty());
}

TEST_F(KRClientTest, HandRaiseSetsRoomAndUserAndTellsTheMainDelegate) {
    joinedWithoutServer();
    client->addDelegate("extra", std::make_shared<ClientTestDelegate>("extra"));
    client->raiseHand();
    EXPECT_TRUE(internals(client).currentRoom().isCurrentUserHandRaised);
    EXPECT_TRUE(client->getMeetingLocalUser()->isHandRaised());
    queue->runPending();  // each report comes as a task of its own
    client->lowerHand();
    queue->runPending();
    EXPECT_EQ(main->events(), (std::vector<std::string>{"main: joined 42", "main: hand up",
                                                        "main: hand down"}));
}

TEST_F(KRClientTest, AWhiteboardAHostCallClosesIsReportedAfterTheCallAndItsMessage) {
    // Records each report with whether it ran inside the host call and how many control
    // messages had gone out by then.
    struct Reports : KRClientDelegate {
        const bool* inCall = nullptr;
        std::function<std::size_t()> messagesSent;
        std::vector<std::string> lines;
        void didWhiteboardStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
            lines.push_back(std::string(*inCall ? "inside: " : "after: ") + "whiteboard stopped, " +
                            std::to_string(messagesSent()) + " sent");
        }
    };
    struct Row {
        const char* name;
        std::function<void(KRClient&, KRClient::Completion)> call;
        std::vector<std::string> expected;
    };
    const Row rows[] = {
        {"a viewer's stop asks the sharer and closes the board",
         [](KRClient& c, KRClient::Completion done) { c.stopWhiteboard(std::move(done)); },
         {"after: whiteboard stopped, 1 sent", "completed true"}},
        // The start's answer never comes: no server here.
        {"an own board over another's closes that one",
         [](KRClient& c, KRClient::Completion) { c.startWhitebboard(false, "Me", "42", {}); },
         {"after: whiteboard stopped, 1 sent"}},
    };
    bool inCall = false;
    const auto reports = std::make_shared<Reports>();  // the main delegate hears a board's close
    reports->inCall = &inCall;
    reports->messagesSent = [this] { return messaging->sentMessages().size(); };
    useMediaCredentials();
    client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                        KRJoinMeetingConfig(KRUserRole::speaker(), true, true), reports);
    queue->runPending();
    ASSERT_EQ(internals(client).meetingState(), ClientCore::MeetingState::inMeeting);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        KRCurrentRoom& room = internals(client).currentRoom();
        room.isWhiteboardShared = true;
        room.whiteboardSharingId = room.whiteboardShareBy = "7";
        room.isLocalUserSharingWhiteboard = false;
        messaging->clearSentMessages();
        reports->lines.clear();

        inCall = true;
        row.call(*client, [&](bool ok) {
            reports->lines.push_back(std::string("completed ") + (ok ? "true" : "false"));
        });
        inCall = false;
        EXPECT_FALSE(room.isWhiteboardShared);  // the room store changes with the call
        queue->runPending();
        EXPECT_EQ(reports->lines, row.expected);
    }
}

}  // namespace
}  // namespace kr
