// Clients on the local meeting service over real HTTPS: the server part of the join up to the
// point where media and messaging take over, every fault of every server call of the join,
// refusals by name, host controls that ask the server first, and leave. The engine's
// confirmation of the local join comes from the stand-in engine on the test's own media bus.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Media/MediaBus.h"
#include "support/ClientTestDelegate.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using test::ClientTestDelegate;
using test::MeetingServiceFault;
using R = test::MeetingServiceRoute;
using JoinKind = KRMeetingJoinError::Kind;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";
constexpr const char* kHostToken = "host-token-1";

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<ClientTestDelegate> delegate;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class KRClientJoinIntegrationTest : public ::testing::Test {
protected:
    explicit KRClientJoinIntegrationTest(
        std::shared_ptr<platform::Clock> clock = platform::SteadyClock::instance())
        : main(platform::MainQueue::create(std::move(clock))) {}
    ~KRClientJoinIntegrationTest() override { members.clear(); }

    /// `extension`: the member's own broadcast-extension centre (null: the process one).
    Member& makeMember(const std::string& tag,
                       std::shared_ptr<platform::DarwinNotifyCenter> extension = nullptr) {
        KRDependencies deps;
        deps.extensionNotifications = std::move(extension);
        deps.queue = main;
        deps.reachability = test::quietReachability();
        deps.storageDirectory = storage.path();
        deps.routing = service.routing();
        deps.messagingService = messaging;
        deps.mediaBus = bus;
        Member member{KRClient::create(deps),
                      std::make_shared<ClientTestDelegate>(tag, nullptr, main)};
        members.push_back(member);
        return members.back();
    }

    void startJoin(Member& member, KRUserRole role = KRUserRole::speaker(),
                   std::string meetingId = kMeetingId) {
        member.client->joinMeeting(KRJoinMeetingData(std::move(meetingId), kPin, "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.delegate);
    }

    /// Runs the queue until the join waits for the media channel or failed.
    bool runServerPart(Member& member) {
        return main->runUntil(
            [&] {
                return internals(member.client).isAwaitingMediaJoin() ||
                       !member.delegate->joinFailures.empty();
            },
            10s);
    }

    /// A member fully in the meeting: server part done and the media join confirmed.
    Member& joined(const std::string& tag, KRUserRole role = KRUserRole::speaker()) {
        Member& member = makeMember(tag);
        startJoin(member, std::move(role));
        EXPECT_TRUE(runServerPart(member));
        EXPECT_TRUE(member.delegate->joinFailures.empty()) << tag;
        EXPECT_TRUE(awaitMediaJoin(member)) << tag;
        return member;
    }

    /// Runs the queue until the media channel confirmed the local join.
    bool awaitMediaJoin(Member& member) {
        return main->runUntil([&] { return !internals(member.client).isJoining(); }, 10s) &&
               member.delegate->joinFailures.empty();
    }

    /// Runs a host control and returns its completion's value.
    bool await(const std::function<void(KRClient::Completion)>& call) {
        std::optional<bool> result;
        call([&](bool ok) { result = ok; });
        EXPECT_TRUE(main->runUntil([&] { return result.has_value(); }, 10s));
        return result.value_or(false);
    }

    std::shared_ptr<platform::MainQueue> main;
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::deque<Member> members;  // references to members stay valid as more join
};

TEST_F(KRClientJoinIntegrationTest, GuestJoinAsksTheServerInOrderThenWaitsForTheMediaChannel) {
    Member& a = makeMember("a");
    startJoin(a);
    ASSERT_TRUE(runServerPart(a));
    ASSERT_TRUE(a.delegate->joinFailures.empty());

    for (auto route : {R::configuration, R::roomDetails, R::guestLogin, R::joinCall,
                       R::postRoomConnectionStatus, R::getRoomConnectionStatus}) {
        EXPECT_EQ(service.requestCount(route), 1u) << test::routeName(route);
    }
    // Without a host token the room is looked up before the login, with no user id yet.
    EXPECT_EQ(boost::json::parse(service.requests(R::roomDetails)[0].body).at("userId").as_string(), "");
    const auto seen = service.participant(kMeetingId, a.uid());
    ASSERT_TRUE(seen.has_value());
    EXPECT_TRUE(seen->isConnected);
    EXPECT_EQ(internals(a.client).currentRoom().webRtcAppId, "local-app-id");
    EXPECT_EQ(internals(a.client).settings().pollingAPITimeInterval, 25.0);
    EXPECT_FALSE(internals(a.client).currentRoom().historyId.empty());
    EXPECT_TRUE(internals(a.client).hasPollingTimers());
    EXPECT_TRUE(a.delegate->events().empty());

    // As host calls arrive: on the main queue.
    ASSERT_TRUE(awaitMediaJoin(a));
    main->post([&] { a.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    ASSERT_TRUE(main->runUntil([&] { return a.delegate->events().size() == 2; }, 10s));
    main->runFor(200ms);
    EXPECT_EQ(a.delegate->events(),
              (std::vector<std::string>{"a: joined " + a.uid(), "a: left 1"}));
    EXPECT_EQ(a.delegate->offQueueCalls, 0);
    EXPECT_EQ(service.requestCount(R::leaveMeeting), 1u);
    EXPECT_FALSE(service.participant(kMeetingId, a.uid())->isConnected);
    EXPECT_FALSE(internals(a.client).hasPollingTimers());
}

TEST_F(KRClientJoinIntegrationTest, TheRoomSocketResumesTheTlsSessionOfTheJoinsServerCalls) {
    joined("a");
    ASSERT_TRUE(main->runUntil([&] { return service.roomSocket().loginCount() == 1; }, 10s));
    // Every server call of the join on one connection, and the socket's handshake resumes its
    // session rather than running a full one.
    const auto byName = service.tlsHandshakesByServerName();
    ASSERT_EQ(byName.size(), 1u);
    EXPECT_EQ(byName.begin()->second.total, 2u);
    EXPECT_EQ(byName.begin()->second.resumed, 1u);
}

TEST_F(KRClientJoinIntegrationTest, AHostLogsInFirstSoTheRoomIsAskedForAsTheHost) {
    Member& host = makeMember("host");
    startJoin(host, KRUserRole::host(kHostToken));
    ASSERT_TRUE(runServerPart(host));
    ASSERT_TRUE(host.delegate->joinFailures.empty());
    const auto details = boost::json::parse(service.requests(R::roomDetails)[0].body);
    EXPECT_EQ(details.at("userId").as_string(), internals(host.client).currentRoom().guestUserId);
    EXPECT_TRUE(internals(host.client).currentRoom().isGuestHost);
}

TEST_F(KRClientJoinIntegrationTest, ASignedInUserSkipsTheGuestLoginButNotTheRoomDetails) {
    Member& owner = makeMember("owner");
    owner.client->setParameters(boost::json::object{
        {"kr_user_jwt_token", service.issueUserToken("owner-1", "Olga")},
        {"kr_user_existing_id", "owner-1"}});
    startJoin(owner);
    ASSERT_TRUE(runServerPart(owner));
    ASSERT_TRUE(owner.delegate->joinFailures.empty());
    EXPECT_EQ(service.requestCount(R::guestLogin), 0u);
    EXPECT_EQ(service.requestCount(R::roomDetails), 1u);
    EXPECT_EQ(boost::json::parse(service.requests(R::roomDetails)[0].body).at("userId").as_string(),
              "owner-1");
}

TEST_F(KRClientJoinIntegrationTest, CredentialsInTheSettingsSkipEveryServerCallButTheEarlyConfig) {
    Member& a = makeMember("a");
    a.client->setParameters(boost::json::parse(R"({"getConfigOnLoad": true,
        "kr_agora_token": "tok", "kr_uid": "777", "kr_room_id": "room-1"})")
                                .as_object());
    ASSERT_TRUE(main->runUntil(
        [&] { return internals(a.client).currentRoom().webRtcAppId == "local-app-id"; }, 10s));
    main->post([&] {
        startJoin(a);
        EXPECT_TRUE(internals(a.client).isAwaitingMediaJoin());
    });
    ASSERT_TRUE(main->runUntil([&] { return a.delegate->events().size() == 1; }, 10s));
    main->post([&] {
        a.client->muteLocalAudio(true);
        a.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    });
    ASSERT_TRUE(main->runUntil([&] { return a.delegate->events().size() == 2; }, 10s));
    main->runFor(100ms);
    EXPECT_EQ(a.delegate->events(), (std::vector<std::string>{"a: joined 777", "a: left 1"}));
    EXPECT_EQ(service.requestCount(R::configuration), 1u);
    for (auto route : {R::roomDetails, R::guestLogin, R::joinCall, R::postRoomConnectionStatus,
                       R::getRoomConnectionStatus, R::muteAudio, R::leaveMeeting}) {
        EXPECT_EQ(service.requestCount(route), 0u) << test::routeName(route);
    }
}

TEST_F(KRClientJoinIntegrationTest, EveryFaultOfEveryJoinCallEndsTheJoinExactlyOnce) {
    struct Row {
        R route;
        MeetingServiceFault fault;
        JoinKind expected;
    };
    const auto status500 = MeetingServiceFault::withStatus(500);
    const auto malformed = MeetingServiceFault::malformedJson();
    const auto dropped = MeetingServiceFault::dropConnection();
    const Row table[] = {
        {R::configuration, status500, JoinKind::other},
        {R::configuration, malformed, JoinKind::invalidConfiguration},
        {R::configuration, dropped, JoinKind::other},
        {R::roomDetails, status500, JoinKind::other},
        {R::roomDetails, malformed, JoinKind::other},
        {R::roomDetails, dropped, JoinKind::other},
        {R::guestLogin, status500, JoinKind::other},
        {R::guestLogin, malformed, JoinKind::failedToRegisterUser},
        {R::guestLogin, dropped, JoinKind::other},
        {R::joinCall, status500, JoinKind::other},
        {R::joinCall, malformed, JoinKind::other},
        {R::joinCall, dropped, JoinKind::other},
        {R::postRoomConnectionStatus, status500, JoinKind::other},
        {R::postRoomConnectionStatus, malformed, JoinKind::other},
        {R::postRoomConnectionStatus, dropped, JoinKind::other},
        {R::postRoomConnectionStatus,
         MeetingServiceFault::withStatus(200, R"({"success":false})"), JoinKind::other},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(std::string(test::routeName(row.route)) + " fault " +
                     std::to_string(static_cast<int>(row.fault.kind)));
        service.clearFaults();
        service.injectFault(row.route, row.fault);
        Member& member = makeMember("m");
        startJoin(member);
        ASSERT_TRUE(runServerPart(member));
        main->runFor(100ms);
        ASSERT_EQ(member.delegate->joinFailures.size(), 1u);
        EXPECT_EQ(member.delegate->joinFailures[0].kind, row.expected)
            << member.delegate->joinFailures[0].message;
        EXPECT_EQ(member.delegate->events().size(), 1u);
        EXPECT_FALSE(internals(member.client).isJoining());
        EXPECT_FALSE(internals(member.client).isAwaitingMediaJoin());
        EXPECT_FALSE(internals(member.client).hasPollingTimers());
        members.clear();
    }
}

TEST_F(KRClientJoinIntegrationTest, ALoginAnsweredWhileTheLeaveIsUnderWayOpensNoRoomSocket) {
    // The login is answered after the leave began and before the leave's own calls are done.
    service.injectFault(R::guestLogin, MeetingServiceFault::delayed(300ms).times(1));
    service.injectFault(R::leaveMeeting, MeetingServiceFault::delayed(1500ms).times(1));
    Member& member = makeMember("m");
    startJoin(member);
    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::guestLogin) == 1; }, 10s));
    member.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return member.delegate->events() == std::vector<std::string>{"m: left 1"}; }, 10s));
    EXPECT_EQ(service.roomSocket().loginCount(), 0u);
    EXPECT_EQ(service.requestCount(R::joinCall), 0u);
    EXPECT_TRUE(member.delegate->joinFailures.empty());
}

TEST_F(KRClientJoinIntegrationTest, ARoomDetailsMediaUidThatNamesNoStreamEndsTheJoinThere) {
    // The uid is what the client reports to the service and joins the media channel with.
    for (const char* uid : {"", "12a", "-5", "+5", " 5", "18446744073709551616", "0", "000"}) {
        SCOPED_TRACE(std::string("uid \"") + uid + "\"");
        service.clearFaults();
        const boost::json::object details{
            {"agoraToken", "token"},
            {"agoraUid", uid},
            {"agoraRtmToken", "rtm"},
            {"roomDetails", boost::json::object{{"roomID", "room-1"}, {"topic", "Topic"}}},
            {"ownerDetails", boost::json::object{{"_id", "owner"}, {"name", "Owner"}}}};
        service.injectFault(R::roomDetails,
                            MeetingServiceFault::withStatus(200, boost::json::serialize(details)));
        const auto logins = service.requestCount(R::guestLogin);
        Member& member = makeMember("m");
        startJoin(member);
        ASSERT_TRUE(runServerPart(member));
        ASSERT_EQ(member.delegate->joinFailures.size(), 1u);
        EXPECT_EQ(member.delegate->joinFailures[0],
                  KRMeetingJoinError::other("The room gave no usable media uid"));
        EXPECT_EQ(service.requestCount(R::guestLogin), logins);
        members.clear();
    }
}

TEST_F(KRClientJoinIntegrationTest, RefusalsArriveByName) {
    Member& wrong = makeMember("wrong");
    startJoin(wrong, KRUserRole::speaker(), "999");
    ASSERT_TRUE(runServerPart(wrong));
    ASSERT_EQ(wrong.delegate->joinFailures.size(), 1u);
    EXPECT_EQ(wrong.delegate->joinFailures[0].kind, JoinKind::meetingNotFound);

    service.endMeeting(kMeetingId);
    Member& late = makeMember("late");
    startJoin(late);
    ASSERT_TRUE(runServerPart(late));
    ASSERT_EQ(late.delegate->joinFailures.size(), 1u);
    EXPECT_EQ(late.delegate->joinFailures[0].kind, JoinKind::meetingEnded);
}

TEST_F(KRClientJoinIntegrationTest, AFullRoomRefusesTheNextSpeakerAndTellsOnlyTheMainDelegate) {
    test::MeetingRoomSetup small;
    small.maxParticipants = 1;
    service.addRoom(small);
    joined("first");
    Member& second = makeMember("second");
    auto extra = std::make_shared<ClientTestDelegate>("extra");
    second.client->addDelegate("extra", extra);
    startJoin(second);
    ASSERT_TRUE(runServerPart(second));
    ASSERT_EQ(second.delegate->joinFailures.size(), 1u);
    EXPECT_EQ(second.delegate->joinFailures[0].kind, JoinKind::maxParticipantsLimit);
    EXPECT_TRUE(extra->joinFailures.empty());
    EXPECT_EQ(service.requestCount(R::joinCall), 1u);  // only the first member's
}

TEST_F(KRClientJoinIntegrationTest, LockIsAskedOfTheServerFirstAndKeepsTheNextJoinerOut) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest");

    EXPECT_FALSE(await([&](auto done) { guest.client->lockMeeting(done); }));
    EXPECT_FALSE(service.room(kMeetingId)->isLocked);
    EXPECT_TRUE(await([&](auto done) { host.client->lockMeeting(done); }));
    EXPECT_TRUE(service.room(kMeetingId)->isLocked);
    EXPECT_EQ(host.delegate->events().back(), "host: locked " + host.uid());
    EXPECT_EQ(guest.delegate->events(), std::vector<std::string>{"guest: joined " + guest.uid()});

    Member& third = makeMember("third");
    startJoin(third);
    ASSERT_TRUE(runServerPart(third));
    ASSERT_EQ(third.delegate->joinFailures.size(), 1u);
    EXPECT_EQ(third.delegate->joinFailures[0].kind, JoinKind::meetingLocked);

    EXPECT_TRUE(await([&](auto done) { host.client->unLockMeeting(done); }));
    EXPECT_EQ(host.delegate->events().back(), "host: unlocked " + host.uid());
    Member& fourth = makeMember("fourth");
    startJoin(fourth);
    ASSERT_TRUE(runServerPart(fourth));
    EXPECT_TRUE(fourth.delegate->joinFailures.empty());
}

TEST_F(KRClientJoinIntegrationTest, RecordingRefusedRaisesAnErrorAndAcceptedRaisesTheEvents) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest");
    EXPECT_FALSE(await([&](auto done) { guest.client->startRecording(done); }));
    ASSERT_EQ(guest.delegate->errors.size(), 1u);
    EXPECT_EQ(guest.delegate->errors[0].kind, KRMeetingError::Kind::recordingStartFailed);

    EXPECT_TRUE(await([&](auto done) { host.client->startRecording(done); }));
    EXPECT_TRUE(service.room(kMeetingId)->isRecording);
    EXPECT_EQ(host.delegate->events().back(), "host: recording started");
    // The guest learns of it once, from the room socket or from its next status fetch.
    EXPECT_TRUE(await([&](auto done) { internals(guest.client).roomSync().fetchRoomStatus(done); }));
    EXPECT_EQ(guest.delegate->events().back(), "guest: recording started");
    EXPECT_TRUE(await([&](auto done) { host.client->stopRecording(done); }));
    EXPECT_EQ(host.delegate->events().back(), "host: recording stopped");
}

TEST_F(KRClientJoinIntegrationTest, HostControlsReachTheServerForAKnownParticipantOnly) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest");
    // The host's media channel shows the guest.
    ASSERT_TRUE(main->runUntil([&] { return host.client->getUser(guest.uid()) != nullptr; }, 10s));

    EXPECT_FALSE(await([&](auto done) { host.client->removeUserFromMeeting("424242", done); }));
    EXPECT_TRUE(await([&](auto done) {
        host.client->changeUserAudioState(guest.uid(), false, done);
    }));
    EXPECT_FALSE(service.participant(kMeetingId, guest.uid())->isMicOn);
    EXPECT_TRUE(await([&](auto done) { host.client->hardMuteUnmuteUsersAudio(true, done); }));
    EXPECT_TRUE(service.room(kMeetingId)->isHardMuted);
    EXPECT_TRUE(await([&](auto done) { host.client->lowerAllUsersHands(done); }));
    EXPECT_TRUE(await([&](auto done) {
        host.client->updateUserCoHostRights(host.client->getUser(guest.uid()), true, done);
    }));
    EXPECT_TRUE(await([&](auto done) {
        host.client->changeUserRole(guest.uid(), KRUserRole::audience(), done);
    }));
    EXPECT_EQ(service.participant(kMeetingId, guest.uid())->participantType, "audience");
    EXPECT_TRUE(await([&](auto done) { host.client->removeUserFromMeeting(guest.uid(), done); }));
    EXPECT_EQ(service.room(kMeetingId)->removedIds.count(internals(guest.client).currentRoom().guestUserId),
              1u);
}

TEST_F(KRClientJoinIntegrationTest, ARemoteWhiteboardSeenInTheStatusOpensOnce) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest");
    // The media channel's questions about each other's streams are answered first.
    ASSERT_TRUE(main->runUntil(
        [&] {
            return guest.client->getMeetingUsers().size() == 2 &&
                   host.client->getMeetingUsers().size() == 2 &&
                   internals(guest.client).pendingStreamQuestions().empty() &&
                   internals(host.client).pendingStreamQuestions().empty();
        },
        10s));
    EXPECT_TRUE(await([&](auto done) { host.client->startWhitebboard(false, "", "", done); }));
    EXPECT_TRUE(internals(host.client).currentRoom().isLocalUserSharingWhiteboard);
    EXPECT_TRUE(await([&](auto done) { internals(guest.client).roomSync().fetchRoomStatus(done); }));
    ASSERT_TRUE(main->runUntil(
        [&] { return internals(guest.client).currentRoom().isWhiteboardShared; }, 10s));
    EXPECT_TRUE(await([&](auto done) { internals(guest.client).roomSync().fetchRoomStatus(done); }));
    main->runFor(100ms);
    const auto& events = guest.delegate->events();
    EXPECT_EQ(std::count(events.begin(), events.end(),
                         "guest: whiteboard started " + host.uid() + " Name url"),
              1);
    EXPECT_EQ(internals(guest.client).currentRoom().whiteboardSharingId, host.uid());
    EXPECT_EQ(internals(guest.client).currentRoom().whiteboardShareBy, "Name");
    EXPECT_NE(guest.client->whiteboardUrl().find("/conference/whiteboard/"), std::string::npos);

    EXPECT_TRUE(await([&](auto done) { host.client->stopWhiteboard(done); }));
    EXPECT_FALSE(internals(host.client).currentRoom().isWhiteboardShared);
}

TEST_F(KRClientJoinIntegrationTest, AStatusReplyArrivingAfterTheLeaveChangesNothing) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    // Without a room socket the guest learns of the recording from status replies only.
    service.roomSocket().refuseHandshakes(-1);
    Member& guest = joined("guest");
    // The media channel's questions about each other's streams are answered before recording.
    ASSERT_TRUE(main->runUntil(
        [&] {
            return guest.client->getMeetingUsers().size() == 2 &&
                   internals(guest.client).pendingStreamQuestions().empty();
        },
        10s));
    EXPECT_TRUE(await([&](auto done) { host.client->startRecording(done); }));
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(600ms).times(1));
    internals(guest.client).roomSync().fetchRoomStatus({});
    guest.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil(
        [&] { return guest.delegate->events().back() == "guest: left 1"; }, 10s));
    // The host's recording message may have reached the guest before it left; the late reply
    // must not change what the guest had at its leave.
    const bool recordingAtLeave = internals(guest.client).currentRoom().isRecordingOn;
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(R::getRoomConnectionStatus) >= 3; }, 10s));
    main->runFor(900ms);
    EXPECT_EQ(guest.delegate->events().back(), "guest: left 1");
    EXPECT_EQ(internals(guest.client).currentRoom().isRecordingOn, recordingAtLeave);
}

TEST_F(KRClientJoinIntegrationTest, AHostControlAnsweredAfterTheLeaveTellsNobody) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    service.injectFault(R::lockMeeting, MeetingServiceFault::delayed(300ms).times(1));
    service.injectFault(R::startRecording, MeetingServiceFault::delayed(300ms).times(1));
    std::optional<bool> locked;
    std::optional<bool> recording;
    main->post([&] {
        host.client->lockMeeting([&](bool ok) { locked = ok; });
        host.client->startRecording([&](bool ok) { recording = ok; });
        host.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    });
    ASSERT_TRUE(main->runUntil([&] { return locked && recording; }, 10s));
    main->runFor(100ms);
    EXPECT_TRUE(*locked);  // the server did lock: the host is told so
    EXPECT_TRUE(*recording);
    EXPECT_EQ(host.delegate->events(),
              (std::vector<std::string>{"host: joined " + host.uid(), "host: left 1"}));
}

TEST_F(KRClientJoinIntegrationTest, DestroyingTheClientInTheMiddleOfEachJoinCallIsSafe) {
    for (auto route : {R::configuration, R::roomDetails, R::guestLogin, R::joinCall,
                       R::postRoomConnectionStatus, R::getRoomConnectionStatus}) {
        SCOPED_TRACE(test::routeName(route));
        service.clearFaults();
        service.injectFault(route, MeetingServiceFault::delayed(150ms));
        const auto before = service.requestCount(route);
        Member& member = makeMember("gone");
        auto delegate = member.delegate;
        startJoin(member);
        for (int i = 0; i < 200 && service.requestCount(route) == before; ++i) {
            main->runFor(10ms);
        }
        ASSERT_GT(service.requestCount(route), before);
        members.clear();  // the client goes while its request is in flight
        main->runFor(300ms);
        EXPECT_TRUE(delegate->events().empty());
    }
}

/// The hand-over of the local screen share with the broadcast extension, through the app group
/// and Darwin notifications.
class KRClientScreenShareIntegrationTest : public KRClientJoinIntegrationTest {
protected:
    static constexpr const char* kGroup = "group.kr.test";
    KRClientScreenShareIntegrationTest() {
        auto& center = platform::DarwinNotifyCenter::shared();
        for (const char* name : {KRClient::kCredentialsReadyNotification,
                                 "kr.darwin.screenshare.force.stop.screen.share"}) {
            tokens.push_back(center.addObserver(name, [this](const std::string& n) {
                extensionHeard.push_back(n);
            }));
        }
    }
    ~KRClientScreenShareIntegrationTest() override {
        for (auto token : tokens) platform::DarwinNotifyCenter::shared().removeObserver(token);
    }
    Member& sharer() {
        Member& member = makeMember("sharer");
        member.client->setParameters(boost::json::object{{"kr_app_group_name", kGroup}});
        startJoin(member);
        EXPECT_TRUE(runServerPart(member));
        EXPECT_TRUE(awaitMediaJoin(member));
        return member;
    }
    std::vector<platform::ObserverToken> tokens;
    std::vector<std::string> extensionHeard;
};

TEST_F(KRClientScreenShareIntegrationTest, TheExtensionGetsTheShareStreamAndTheStopIsReported) {
    Member& a = sharer();
    platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStartedNotification);
    ASSERT_TRUE(main->runUntil(
        [&] { return internals(a.client).localScreenShare().streamUid() != 0; }, 10s));
    const auto suite = platform::UserDefaults::suite(kGroup, storage.path());
    ASSERT_TRUE(suite);
    EXPECT_EQ(suite->integer(KRClient::kShareUidKey),
              static_cast<std::int64_t>(internals(a.client).localScreenShare().streamUid()));
    EXPECT_EQ(suite->string(KRClient::kShareTokenKey),
              internals(a.client).localScreenShare().streamToken());
    EXPECT_EQ(extensionHeard, std::vector<std::string>{KRClient::kCredentialsReadyNotification});
    EXPECT_EQ(service.room(kMeetingId)->screenSharerUri, a.uid());

    platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStoppedNotification);
    ASSERT_TRUE(main->runUntil(
        [&] { return a.delegate->events().back() == "sharer: local share stopped"; }, 10s));
    ASSERT_TRUE(main->runUntil(
        [&] { return service.room(kMeetingId)->screenSharerUri.empty(); }, 10s));
    main->post([&] { a.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    ASSERT_TRUE(main->runUntil(
        [&] { return a.delegate->events().back() == "sharer: left 1"; }, 10s));
    // The share ended once: the leave tells the extension but reports no second stop.
    EXPECT_EQ(std::count(a.delegate->events().begin(), a.delegate->events().end(),
                         "sharer: local share stopped"),
              1);
    EXPECT_EQ(suite->string("kr.screen.share.stopped.reason"), "You have left the meeting");
}

TEST_F(KRClientScreenShareIntegrationTest, NoShareStartsOnceTheLeaveBegan) {
    Member& a = sharer();
    const auto starts = service.requestCount(R::shareScreen);
    a.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    extensionHeard.clear();  // the leave's own stop
    // The leave told the extension to stop; a capture it still reports, or the host's own call,
    // must not hand it a share stream for a meeting being left.
    platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStartedNotification);
    EXPECT_FALSE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
    ASSERT_TRUE(main->runUntil(
        [&] { return a.delegate->events().back() == "sharer: left 1"; }, 10s));
    EXPECT_EQ(service.requestCount(R::shareScreen), starts);
    EXPECT_EQ(internals(a.client).localScreenShare().streamUid(), 0u);
    EXPECT_TRUE(extensionHeard.empty());
    EXPECT_EQ(service.room(kMeetingId)->screenSharerUri, "");
}

TEST_F(KRClientScreenShareIntegrationTest, TheExtensionsCaptureDuringASlowLeaveStartsNoShare) {
    Member& a = sharer();
    const auto starts = service.requestCount(R::shareScreen);
    service.injectFault(R::leaveMeeting, MeetingServiceFault::delayed(400ms));
    a.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    extensionHeard.clear();  // the leave's own stop
    platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStartedNotification);
    main->runFor(200ms);
    // The leave's server call is still out: the media channel has not been left yet.
    ASSERT_EQ(internals(a.client).meetingState(), ClientCore::MeetingState::leaving);
    EXPECT_EQ(service.requestCount(R::shareScreen), starts);
    EXPECT_TRUE(extensionHeard.empty()) << "no credentials for a meeting being left";
    EXPECT_FALSE(platform::UserDefaults::suite(kGroup, storage.path())
                     ->integer(KRClient::kShareUidKey)
                     .has_value());
    ASSERT_TRUE(main->runUntil(
        [&] { return a.delegate->events().back() == "sharer: left 1"; }, 10s));
    EXPECT_EQ(service.requestCount(R::shareScreen), starts);
    EXPECT_EQ(internals(a.client).localScreenShare().streamUid(), 0u);
}

TEST_F(KRClientScreenShareIntegrationTest, TheExtensionPostsFromItsOwnThreadWhileTheClientGoes) {
    sharer();
    const auto before = service.requestCount(R::shareScreen);
    // Each post is acted on on the client's queue (the start checks that it runs there), and the
    // extension's thread never holds the client, which goes while the posts keep coming.
    std::thread extension([] {
        for (int i = 0; i < 20; ++i) {
            platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStartedNotification);
            std::this_thread::yield();
        }
    });
    const bool asked =
        main->runUntil([&] { return service.requestCount(R::shareScreen) > before; }, 10s);
    members.clear();
    extension.join();
    main->runFor(50ms);  // what the posts left on the queue finds no client
    EXPECT_TRUE(asked);
}

TEST_F(KRClientScreenShareIntegrationTest, AnExtensionPostReachesOnlyTheClientOfItsCentre) {
    struct App {
        std::shared_ptr<platform::DarwinNotifyCenter> extension =
            std::make_shared<platform::DarwinNotifyCenter>();
        std::vector<std::string> heard;
        Member* member = nullptr;
    };
    App apps[2];
    for (int i = 0; i < 2; ++i) {
        App& app = apps[i];
        (void)app.extension->addObserver(KRClient::kCredentialsReadyNotification,
                                         [&app](const std::string& n) { app.heard.push_back(n); });
        app.member = &makeMember("m" + std::to_string(i), app.extension);
        startJoin(*app.member);
        ASSERT_TRUE(runServerPart(*app.member));
        ASSERT_TRUE(awaitMediaJoin(*app.member));
    }
    apps[0].extension->post(KRClient::kCaptureStartedNotification);
    ASSERT_TRUE(main->runUntil(
        [&] { return internals(apps[0].member->client).localScreenShare().streamUid() != 0; }, 10s));
    main->runFor(300ms);  // room for a wrongly started second share to be asked for
    EXPECT_EQ(apps[0].heard, std::vector<std::string>{KRClient::kCredentialsReadyNotification});
    EXPECT_TRUE(apps[1].heard.empty());
    EXPECT_EQ(internals(apps[1].member->client).localScreenShare().streamUid(), 0u);
    EXPECT_TRUE(extensionHeard.empty()) << "the process centre hears nothing";
    EXPECT_EQ(service.room(kMeetingId)->screenSharerUri, apps[0].member->uid());
    members.clear();  // before the observers' records go
}

TEST_F(KRClientScreenShareIntegrationTest, AShareStreamWithoutUidOrTokenFailsTheStart) {
    Member& a = sharer();
    for (const char* body : {R"({"success":true,"agoraScreenShareInfo":{"agoraUid":0,"agoraToken":"t"}})",
                             R"({"success":true,"agoraScreenShareInfo":{"agoraUid":5,"agoraToken":""}})",
                             R"({"success":false})"}) {
        SCOPED_TRACE(body);
        extensionHeard.clear();
        service.clearFaults();
        service.injectFault(R::shareScreen, MeetingServiceFault::withStatus(200, body));
        EXPECT_FALSE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
        EXPECT_EQ(internals(a.client).localScreenShare().streamUid(), 0u);
        EXPECT_EQ(extensionHeard,
                  std::vector<std::string>{"kr.darwin.screenshare.force.stop.screen.share"});
        EXPECT_EQ(platform::UserDefaults::suite(kGroup, storage.path())->string("kr.screen.share.stopped.reason"),
                  "Screen share could not be started");
    }
}

/// The same service with the main queue on a manual clock, for the join's own time-out.
class KRClientJoinTimeoutIntegrationTest : public KRClientJoinIntegrationTest {
protected:
    KRClientJoinTimeoutIntegrationTest() : KRClientJoinIntegrationTest(clock) {}
    static inline std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
};

TEST_F(KRClientJoinTimeoutIntegrationTest, ACallThatIsNeverAnsweredEndsTheJoinOnceAfterAMinute) {
    for (auto route : {R::configuration, R::roomDetails, R::guestLogin, R::joinCall,
                       R::postRoomConnectionStatus, R::getRoomConnectionStatus}) {
        SCOPED_TRACE(test::routeName(route));
        service.clearFaults();
        service.injectFault(route, MeetingServiceFault::delayed(700ms));
        const auto before = service.requestCount(route);
        Member& member = makeMember("slow");
        startJoin(member);
        for (int i = 0; i < 200 && service.requestCount(route) == before; ++i) {
            main->runFor(10ms);
        }
        ASSERT_GT(service.requestCount(route), before);
        clock->advance(ClientCore::kJoinTimeout);
        main->runPending();
        ASSERT_EQ(member.delegate->joinFailures.size(), 1u);
        EXPECT_EQ(member.delegate->joinFailures[0], KRMeetingJoinError::other("timed out"));
        main->runFor(1s);  // the late answer arrives and is ignored
        EXPECT_EQ(member.delegate->events().size(), 1u);
        EXPECT_FALSE(internals(member.client).isAwaitingMediaJoin());
        members.clear();
    }
}

TEST_F(KRClientJoinTimeoutIntegrationTest, AReplyOfAnEarlierJoinChangesNothingInTheNextOne) {
    // The first join times out while the room details are on their way; the same client joins
    // again at once and its own answers come first.
    service.injectFault(R::roomDetails, MeetingServiceFault::delayed(700ms).times(1));
    Member& member = makeMember("again");
    startJoin(member);
    for (int i = 0; i < 200 && service.requestCount(R::roomDetails) == 0; ++i) {
        main->runFor(10ms);
    }
    ASSERT_EQ(service.requestCount(R::roomDetails), 1u);
    clock->advance(ClientCore::kJoinTimeout);
    main->runPending();
    ASSERT_EQ(member.delegate->joinFailures.size(), 1u);
    startJoin(member);
    ASSERT_TRUE(runServerPart(member));
    EXPECT_EQ(member.delegate->joinFailures.size(), 1u);
    main->runFor(1s);  // the first join's late answer arrives
    // It must not carry the first join on into a second login and join call of its own.
    EXPECT_EQ(service.requestCount(R::roomDetails), 2u);
    EXPECT_EQ(service.requestCount(R::guestLogin), 1u);
    EXPECT_EQ(service.requestCount(R::joinCall), 1u);
    EXPECT_EQ(member.delegate->joinFailures.size(), 1u);
}

TEST_F(KRClientJoinTimeoutIntegrationTest, APollAnsweredAfterItsMeetingEndedAsksNothingOfTheNext) {
    Member& member = joined("again");
    main->runFor(200ms);  // the join's own status calls are answered
    // The poll's post is answered only after the meeting was left and the next join began.
    service.injectFault(R::postRoomConnectionStatus,
                        MeetingServiceFault::delayed(1500ms).times(1));
    const auto posts = service.requestCount(R::postRoomConnectionStatus);
    clock->advance(std::chrono::duration_cast<platform::Clock::duration>(
        std::chrono::duration<double>(internals(member.client).settings().pollingAPITimeInterval)));
    main->runPending();
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
    member.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil(
        [&] { return member.delegate->events().back() == "again: left 1"; }, 5s));
    service.injectFault(R::configuration, MeetingServiceFault::delayed(3s).times(1));
    const auto fetches = service.requestCount(R::getRoomConnectionStatus);
    startJoin(member);
    main->runFor(2s);
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), fetches);
}

}  // namespace
}  // namespace kr
