// One client going from meeting to meeting on the local meeting service, on each engine road:
// the next join carries nothing of the previous meeting, a join asked while a meeting is still
// active or being left (and given up by a later leave), the media engine refusing the join, a
// leave while a "kr-media" engine waits for the network, and a leave whose engine or server
// never answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/json.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Media/MediaOperation.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/LocalMeetingDependencies.h"
#include "support/ClientTestDelegate.h"
#include "support/MeetingServiceTestClient.h"
#include "testing/KRClientTestSeam.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/KrMediaTestEngine.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using test::ClientTestDelegate;
using R = test::MeetingServiceRoute;

enum class Road { defaultEngine, agora, krMedia };

const char* nameOf(Road road) {
    switch (road) {
        case Road::defaultEngine: return "default engine";
        case Road::agora: return "agora";
        case Road::krMedia: return "kr-media";
    }
    return "?";
}

/// Two rooms that share nothing, on each engine.
test::MeetingRoomSetup roomA(Road road) {
    test::MeetingRoomSetup room;
    room.meetingId = road == Road::krMedia ? "5550001111" : "1234567890";
    room.roomId = road == Road::krMedia ? "room-kr-a" : "room-1";
    room.mediaEngine = road == Road::krMedia ? "kr-media" : "agora";
    return room;
}

test::MeetingRoomSetup roomB(Road road) {
    test::MeetingRoomSetup room;
    room.meetingId = road == Road::krMedia ? "5550002222" : "2223334444";
    room.roomId = road == Road::krMedia ? "room-kr-b" : "room-2";
    room.topic = "Quarterly plan";
    room.hostToken = "host-token-2";
    room.ownerId = "owner-2";
    room.ownerName = "Oscar";
    room.ownerLastName = "Lind";
    room.rtcToken = "rtc-two";
    room.rtmToken = "rtm-two";
    room.mediaEngine = road == Road::krMedia ? "kr-media" : "agora";
    return room;
}

/// Counts the answers to the client's leave requests it handled, success or not: the only trace
/// a late answer leaves.
class LeaveAnswers : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string&, KivRaneRMLogLevel) override {
        if (message.rfind("Leave Meeting API Successfull", 0) == 0 ||
            message.rfind("Leave Meeting Error", 0) == 0) {
            ++count;
        }
    }
    std::atomic<std::size_t> count{0};
};

struct Client {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<test::KrMediaTestEngine> engine;  // the host's engine on "kr-media"
    std::shared_ptr<LeaveAnswers> leaveAnswers;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class KRClientJoinLeaveIntegrationTest : public ::testing::Test {
protected:
    ~KRClientJoinLeaveIntegrationTest() override { clients.clear(); }

    Client& makeClient(Road road) {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        deps.extensionNotifications = std::make_shared<platform::DarwinNotifyCenter>();
        auto leaveAnswers = std::make_shared<LeaveAnswers>();
        deps.logCollector = leaveAnswers;
        Client c{KRClient::create(deps), nullptr, leaveAnswers};
        c.client->setMultiMediaEngineIntegration(road != Road::defaultEngine);
        if (road == Road::krMedia) {
            c.engine = test::KrMediaTestEngine::create(deps);
            c.client->setRtcEngineManager(c.engine);
        }
        clients.push_back(c);
        return clients.back();
    }

    std::shared_ptr<ClientTestDelegate> delegate(const std::string& tag) {
        return std::make_shared<ClientTestDelegate>(tag, log, main);
    }

    static void join(Client& c, const test::MeetingRoomSetup& room, KRUserRole role,
                     const std::shared_ptr<ClientTestDelegate>& d) {
        c.client->joinMeeting(KRJoinMeetingData(room.meetingId, room.pin, "Name"),
                              KRJoinMeetingConfig(std::move(role), true, true), d);
    }

    bool joinedOrFailed(const std::shared_ptr<ClientTestDelegate>& d, std::size_t events = 1) {
        return main->runUntil([&] { return d->events().size() >= events; }, 10s) &&
               d->joinFailures.empty();
    }

    /// Runs what the queue holds now, then sends a request through the client's own network
    /// client and waits for its answer: a request the client sent before it went out first.
    void roundTrip(Client& c, const test::MeetingRoomSetup& room) {
        main->runPending();
        test::sendAndWait(*internals(c.client).networkClient(),
                          GetRoomDetailsRequest(room.meetingId, room.pin, ""));
    }

    /// Waits until the room socket took the login of the client's current meeting. The count
    /// of logins alone cannot tell it from an earlier client's login that the service reads late.
    bool roomSocketLoggedIn(const Client& c) {
        const std::string token = internals(c.client).networkClient()->getJwtToken();
        return main->runUntil(
            [&] {
                const auto frames = service.roomSocket().receivedFrames();
                return std::any_of(frames.begin(), frames.end(), [&](const auto& frame) {
                    const auto* sent = frame.data.if_contains("token");
                    return frame.event == "login" && sent && sent->is_string() &&
                           sent->as_string() == token;
                });
            },
            5s);
    }

    bool hasLine(const std::string& line) const {
        return std::find(log->begin(), log->end(), line) != log->end();
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<std::vector<std::string>> log = std::make_shared<std::vector<std::string>>();
    std::deque<Client> clients;
};

TEST_F(KRClientJoinLeaveIntegrationTest, TheNextMeetingsRequestsCarryNothingOfThePreviousOne) {
    enum class Who { host, guest, signedIn };
    struct Row {
        Who who;
        Road road;
    };
    const Row rows[] = {{Who::host, Road::defaultEngine},     {Who::guest, Road::defaultEngine},
                        {Who::signedIn, Road::defaultEngine}, {Who::host, Road::agora},
                        {Who::guest, Road::agora},            {Who::signedIn, Road::agora}};
    for (const Row& row : rows) {
        const char* who = row.who == Who::host ? "host" : row.who == Who::guest ? "guest" : "signed in";
        SCOPED_TRACE(std::string(who) + " on " + nameOf(row.road));
        const test::MeetingRoomSetup first = roomA(row.road);
        const test::MeetingRoomSetup second = roomB(row.road);
        service.addRoom(first);
        service.addRoom(second);
        const auto roleIn = [&](const test::MeetingRoomSetup& room) {
            return row.who == Who::host ? KRUserRole::host(room.hostToken) : KRUserRole::speaker();
        };
        Client& c = makeClient(row.road);
        if (row.who == Who::signedIn) {
            c.client->setParameters(boost::json::object{
                {"kr_user_jwt_token", service.issueUserToken("user-7", "Uma")},
                {"kr_user_existing_id", "user-7"}});
        }
        auto d = delegate("a");
        join(c, first, roleIn(first), d);
        ASSERT_TRUE(joinedOrFailed(d));
        const KRCurrentRoom& room = internals(c.client).currentRoom();
        // What the first meeting left behind, none of which may reach the second one.
        std::vector<std::string> stale = {"\"" + room.roomID + "\"", "\"" + room.userWebRtcToken + "\"",
                                          "\"" + room.meetingOwnerUserId + "\"",
                                          "\"" + room.meetingOwnerName + "\"",
                                          "\"" + room.meetingTitle + "\""};
        if (room.guestUserId != "user-7") stale.push_back("\"" + room.guestUserId + "\"");
        const std::string firstJwt = internals(c.client).networkClient()->getJwtToken();
        c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return d->events().size() == 2; }, 10s));
        main->runFor(100ms);  // the leave's own calls are answered
        const std::size_t before = service.allRequests().size();

        join(c, second, roleIn(second), d);
        ASSERT_TRUE(joinedOrFailed(d, 3)) << d->events().back();
        EXPECT_EQ(internals(c.client).currentRoom().roomID, second.roomId);
        const auto requests = service.allRequests();
        ASSERT_GT(requests.size(), before);
        for (std::size_t i = before; i < requests.size(); ++i) {
            const auto& request = requests[i];
            SCOPED_TRACE(request.method + " " + request.target);
            for (const std::string& value : stale) {
                EXPECT_EQ(request.body.find(value), std::string::npos) << value;
            }
            if (row.who != Who::signedIn) {
                EXPECT_EQ(request.header("Authorization").value_or("").find(firstJwt),
                          std::string::npos);
            }
        }
        clients.clear();
        log->clear();
    }
}

TEST_F(KRClientJoinLeaveIntegrationTest, AJoinWhileAMeetingIsJoinedOrJoiningFailsOnItsOwnDelegate) {
    struct Row {
        const char* name;
        bool firstJoined;
    };
    for (const Row row : {Row{"joined", true}, Row{"joining", false}}) {
        SCOPED_TRACE(row.name);
        service.addRoom(roomB(Road::defaultEngine));
        Client& c = makeClient(Road::defaultEngine);
        auto a = delegate("a");
        auto b = std::make_shared<ClientTestDelegate>("b", nullptr, main);  // a log of its own
        const auto details = service.requestCount(R::roomDetails);
        join(c, roomA(Road::defaultEngine), KRUserRole::speaker(), a);
        if (row.firstJoined) {
            ASSERT_TRUE(joinedOrFailed(a));
        }
        join(c, roomB(Road::defaultEngine), KRUserRole::speaker(), b);
        EXPECT_TRUE(b->events().empty()) << "reported inside the call";
        ASSERT_TRUE(joinedOrFailed(a));
        ASSERT_TRUE(main->runUntil([&] { return !b->joinFailures.empty(); }, 5s));
        main->runFor(200ms);
        EXPECT_EQ(b->joinFailures,
                  std::vector<KRMeetingJoinError>{
                      KRMeetingJoinError::other(KRMeetingJoinError::kMeetingStillActive)});
        // The meeting under way went on, its delegate heard nothing of the refusal.
        EXPECT_EQ(internals(c.client).meetingState(), ClientCore::MeetingState::inMeeting);
        EXPECT_TRUE(a->joinFailures.empty());
        EXPECT_EQ(internals(c.client).currentRoom().roomID, "room-1");
        EXPECT_EQ(service.requestCount(R::roomDetails), details + 1);
        clients.clear();
        log->clear();
    }
}

TEST_F(KRClientJoinLeaveIntegrationTest, AJoinAskedDuringTheLeaveStartsOnceTheLeaveFinished) {
    service.addRoom(roomB(Road::defaultEngine));
    Client& c = makeClient(Road::defaultEngine);
    auto a = delegate("a");
    auto b = delegate("b");
    auto third = delegate("c");
    join(c, roomA(Road::defaultEngine), KRUserRole::speaker(), a);
    ASSERT_TRUE(joinedOrFailed(a));
    const std::string firstUid = c.uid();
    // A host switching rooms: the leave and the next join in one go; a third join meanwhile.
    c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    join(c, roomB(Road::defaultEngine), KRUserRole::host("host-token-2"), b);
    join(c, roomA(Road::defaultEngine), KRUserRole::speaker(), third);
    ASSERT_TRUE(main->runUntil([&] { return log->size() >= 4; }, 10s));
    main->runFor(200ms);
    ASSERT_EQ(log->size(), 4u);
    EXPECT_EQ((*log)[0], "a: joined " + firstUid);
    EXPECT_EQ((*log)[1], "c: failed 6 " + std::string(KRMeetingJoinError::kMeetingStillActive));
    EXPECT_EQ((*log)[2], "a: left 1");
    EXPECT_EQ((*log)[3], "b: joined " + c.uid());
    EXPECT_EQ(internals(c.client).currentRoom().roomID, "room-2");
    EXPECT_FALSE(service.participant("1234567890", firstUid)->isConnected);
    EXPECT_TRUE(service.participant("2223334444", c.uid())->isConnected);
}

TEST_F(KRClientJoinLeaveIntegrationTest, AnEngineThatFailsToConnectEndsTheJoinAndARetryWorks) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(nameOf(road));
        const test::MeetingRoomSetup room = roomA(road);
        service.addRoom(room);
        Client& c = makeClient(road);
        auto d = delegate("a");
        const auto leaves = service.requestCount(R::leaveMeeting);
        bus->failNext(platform::MediaOperation::joinChannelByToken,
                      platform::MediaCodes::kConnectionReasonJoinFailed);
        join(c, room, KRUserRole::speaker(), d);
        // Well before the join's own time-out.
        ASSERT_TRUE(main->runUntil([&] { return !d->joinFailures.empty(); }, 5s));
        const std::string uid = c.uid();
        main->runFor(300ms);
        EXPECT_EQ(d->joinFailures,
                  std::vector<KRMeetingJoinError>{
                      KRMeetingJoinError::other(KRMeetingJoinError::kMediaConnectionFailed)});
        EXPECT_FALSE(internals(c.client).isJoining());
        EXPECT_FALSE(internals(c.client).hasPollingTimers());
        EXPECT_FALSE(internals(c.client).hasConnectionCheckTimer());
        EXPECT_EQ(internals(c.client).webSocketManager(), nullptr);
        if (road == Road::defaultEngine) {
            // The service had listed the user as connected: it hears the leave.
            ASSERT_TRUE(main->runUntil(
                [&] { return !service.participant(room.meetingId, uid)->isConnected; }, 5s));
            EXPECT_EQ(service.requestCount(R::leaveMeeting), leaves + 1);
        } else {
            const auto listed = service.participant(room.meetingId, uid);
            EXPECT_TRUE(!listed || !listed->isConnected);
        }

        join(c, room, KRUserRole::speaker(), d);
        ASSERT_TRUE(main->runUntil([&] { return d->events().size() == 2; }, 10s));
        EXPECT_EQ(d->events().back(), "a: joined " + c.uid());
        EXPECT_EQ(d->joinFailures.size(), 1u);
        clients.clear();
        log->clear();
    }
}

TEST_F(KRClientJoinLeaveIntegrationTest, ALeaveWhileAKrMediaEngineWaitsForTheNetworkEndsAtOnce) {
    const test::MeetingRoomSetup room = roomA(Road::krMedia);
    service.addRoom(room);
    Client& c = makeClient(Road::krMedia);
    auto d = delegate("a");
    join(c, room, KRUserRole::speaker(), d);
    ASSERT_TRUE(joinedOrFailed(d));
    const std::string uid = c.uid();
    ASSERT_TRUE(main->runUntil([&] { return service.participant(room.meetingId, uid)->isConnected; }, 5s));

    // The network goes and the engine gives its channel up until it is joined again.
    c.engine->mediaEngine()->simulateChannelLoss();
    internals(c.client).networkClient()->didNetworkStateChanged(false);
    ASSERT_TRUE(main->runUntil(
        [&] { return internals(c.client).roomEngine().isWaitingToBeReconnect(); }, 5s));

    c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return d->events().size() == 2; }, 2s));
    EXPECT_EQ(d->events().back(), "a: left 1");
    EXPECT_FALSE(internals(c.client).hasPollingTimers());
    EXPECT_FALSE(internals(c.client).hasConnectionCheckTimer());
    EXPECT_EQ(internals(c.client).webSocketManager(), nullptr);

    // The network returns: the engine is not joined again for the meeting just left, and the
    // service hears of the leave.
    internals(c.client).networkClient()->didNetworkStateChanged(true);
    ASSERT_TRUE(main->runUntil([&] { return !service.participant(room.meetingId, uid)->isConnected; }, 5s));
    main->runFor(300ms);
    EXPECT_EQ(c.engine->joinData().size(), 1u);
    EXPECT_EQ(d->events().size(), 2u);
}

TEST_F(KRClientJoinLeaveIntegrationTest, ALeaveFinishesInBoundedTimeAndTheWaitingJoinThenStarts) {
    enum class Silent { engine, server };
    struct Row {
        Road road;
        Silent silent;
    };
    const Row rows[] = {{Road::defaultEngine, Silent::server},
                        {Road::agora, Silent::server},
                        {Road::defaultEngine, Silent::engine},
                        {Road::agora, Silent::engine}};
    // One short wait (for the server, or for the engine's report) and some slack; far below
    // the minute a request or an engine could otherwise hold the leave.
    static_assert(ClientCore::kLeaveServerWait == ClientCore::kLeaveReportWait);
    const auto bound = ClientCore::kLeaveReportWait + 2s;
    for (const Row row : rows) {
        SCOPED_TRACE(std::string(nameOf(row.road)) +
                     (row.silent == Silent::engine ? ", engine silent" : ", server silent"));
        const test::MeetingRoomSetup a = roomA(row.road);
        const test::MeetingRoomSetup b = roomB(row.road);
        service.addRoom(a);
        service.addRoom(b);
        Client& c = makeClient(row.road);
        // Each with a log of its own.
        auto first = std::make_shared<ClientTestDelegate>("a", nullptr, main);
        auto next = std::make_shared<ClientTestDelegate>("b", nullptr, main);
        auto later = std::make_shared<ClientTestDelegate>("c", nullptr, main);
        join(c, a, KRUserRole::speaker(), first);
        ASSERT_TRUE(joinedOrFailed(first));
        const std::string firstUid = c.uid();
        if (row.silent == Silent::engine) {
            // The engine refuses the leave, so it never reports one.
            bus->failNext(platform::MediaOperation::leaveChannel, -1);
        } else {
            // The server holds its answer to the leave far beyond the leave's wait for it.
            service.injectFault(R::leaveMeeting,
                                test::MeetingServiceFault::delayed(bound + 2s).times(1));
        }
        const auto leftAt = std::chrono::steady_clock::now();
        c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        join(c, b, KRUserRole::speaker(), next);
        ASSERT_TRUE(main->runUntil([&] { return first->events().size() == 2; }, bound))
            << "still " << static_cast<int>(internals(c.client).meetingState());
        EXPECT_LT(std::chrono::steady_clock::now() - leftAt, bound);
        EXPECT_EQ(first->events().back(), "a: left 1");
        ASSERT_TRUE(joinedOrFailed(next));
        EXPECT_EQ(next->events(), std::vector<std::string>{"b: joined " + c.uid()});
        EXPECT_EQ(internals(c.client).currentRoom().roomID, b.roomId);
        // The slow answer still comes, and the service hears of the leave.
        ASSERT_TRUE(main->runUntil(
            [&] { return !service.participant(a.meetingId, firstUid)->isConnected; }, 10s));
        EXPECT_EQ(internals(c.client).meetingState(), ClientCore::MeetingState::inMeeting);

        // A plain leave and join afterwards.
        c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return next->events().size() == 2; }, bound));
        join(c, a, KRUserRole::speaker(), later);
        ASSERT_TRUE(joinedOrFailed(later));
        EXPECT_EQ(later->events(), std::vector<std::string>{"c: joined " + c.uid()});
        clients.clear();
        service.clearFaults();
    }
}

TEST_F(KRClientJoinLeaveIntegrationTest, ALeaveAnsweredLateTouchesNothingOfTheNextMeeting) {
    // The leave's answer comes after the next join began: the disconnected status must have gone
    // out with the leave, in its own meeting's name, not after the answer in the next one's.
    struct Row {
        Road road;
        bool sameRoom;  // "kr-media": the host's engine keeps its uid, so the next join is the same user
    };
    for (const Row row : {Row{Road::krMedia, true}, Row{Road::defaultEngine, false}}) {
        SCOPED_TRACE(nameOf(row.road));
        const test::MeetingRoomSetup a = roomA(row.road);
        const test::MeetingRoomSetup b = row.sameRoom ? a : roomB(row.road);
        service.addRoom(a);
        if (!row.sameRoom) service.addRoom(b);
        Client& c = makeClient(row.road);
        auto first = std::make_shared<ClientTestDelegate>("a", nullptr, main);
        auto next = std::make_shared<ClientTestDelegate>("b", nullptr, main);
        join(c, a, KRUserRole::speaker(), first);
        ASSERT_TRUE(joinedOrFailed(first));
        const std::size_t leavesBefore = service.requestCount(R::leaveMeeting);
        const std::size_t postsBefore = service.requestCount(R::postRoomConnectionStatus);
        service.injectFault(R::leaveMeeting, test::MeetingServiceFault::delayed(4s).times(1));
        c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        join(c, b, KRUserRole::speaker(), next);
        ASSERT_TRUE(joinedOrFailed(next));
        main->runFor(5s);  // the leave's answer, and anything sent after it, has come by now
        EXPECT_EQ(internals(c.client).meetingState(), ClientCore::MeetingState::inMeeting);
        const auto record = service.participant(b.meetingId, c.uid());
        ASSERT_TRUE(record);
        EXPECT_TRUE(record->isConnected);
        const auto leaves = service.requests(R::leaveMeeting);
        ASSERT_GT(leaves.size(), leavesBefore);
        const auto leaveLogin = leaves[leavesBefore].header("authorization");
        const auto posts = service.requests(R::postRoomConnectionStatus);
        int disconnected = 0;
        for (std::size_t i = postsBefore; i < posts.size(); ++i) {
            if (posts[i].body.find("\"disconnected\"") != std::string::npos) {
                ++disconnected;
                EXPECT_EQ(posts[i].header("authorization"), leaveLogin);
            }
        }
        EXPECT_EQ(disconnected, 1);  // the leaving meeting's own
        clients.clear();
        service.clearFaults();
    }
}

/// Leaves the meeting again from its left report, as a host that changed its mind does: inside
/// the report, or as a task it posts to the queue from there.
class LeavingAgainDelegate : public ClientTestDelegate {
public:
    using ClientTestDelegate::ClientTestDelegate;
    std::weak_ptr<KRClient> client;
    std::shared_ptr<platform::MainQueue> postTo;  // null: inside the report
    void didLocalUserLeftMeeting(const KRMeeting& meeting, const KRUserLeftReason& reason) override {
        ClientTestDelegate::didLocalUserLeftMeeting(meeting, reason);
        const auto leave = [client = client] {
            if (auto c = client.lock()) c->leaveMeeting(KRUserLeftReason::leaveMeeting());
        };
        postTo ? postTo->post(leave) : leave();
    }
};

TEST_F(KRClientJoinLeaveIntegrationTest, ALeaveAskedWhileAJoinWaitsForTheLeaveGivesThatJoinUp) {
    enum class When { sameTurn, whileTheServiceHoldsTheLeave, fromTheLeftReport, postedFromIt };
    const char* const whenNames[] = {"same turn", "while the service holds the leave",
                                     "from the left report", "posted from the left report"};
    // Longer than the leave waits for the server, so that the leave finishes without its answer.
    const auto held = ClientCore::kLeaveServerWait + 1s;
    // Each row runs on its own, so that one road's failure leaves the others to report theirs.
    const auto runRow = [&](Road road, When when) {
        const test::MeetingRoomSetup a = roomA(road);
        const test::MeetingRoomSetup b = roomB(road);
        service.addRoom(a);
        service.addRoom(b);
        Client& c = makeClient(road);
        auto first = std::make_shared<LeavingAgainDelegate>("a", nullptr, main);
        auto waiting = std::make_shared<ClientTestDelegate>("b", nullptr, main);
        const std::size_t socketsBefore = service.roomSocket().loginCount();
        join(c, a, KRUserRole::speaker(), first);
        ASSERT_TRUE(joinedOrFailed(first));
        ASSERT_TRUE(main->runUntil(
            [&] { return service.roomSocket().loginCount() > socketsBefore; }, 5s));
        ASSERT_TRUE(roomSocketLoggedIn(c));
        const std::string uid = c.uid();
        if (when == When::fromTheLeftReport || when == When::postedFromIt) {
            first->client = c.client;
        }
        if (when == When::postedFromIt) first->postTo = main;
        if (when == When::whileTheServiceHoldsTheLeave) {
            service.injectFault(R::leaveMeeting, test::MeetingServiceFault::delayed(held).times(1));
        }
        const std::size_t configurations = service.requestCount(R::configuration);
        const std::size_t logins = service.roomSocket().loginCount();
        const std::size_t leaves = service.requestCount(R::leaveMeeting);
        const std::size_t leaveAnswers = c.leaveAnswers->count;

        c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        join(c, b, KRUserRole::speaker(), waiting);
        if (when == When::sameTurn) c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        if (when == When::whileTheServiceHoldsTheLeave) {
            ASSERT_TRUE(main->runUntil(
                [&] { return service.requestCount(R::leaveMeeting) > leaves; }, 5s));
            c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        }
        ASSERT_TRUE(main->runUntil([&] { return first->events().size() >= 2; }, 10s));
        // What is still to come: the waiting join's report (the check below says if it never
        // came) and the leave's answer, held or not, which must change nothing checked below.
        main->runUntil([&] { return !waiting->events().empty(); }, 5s);
        EXPECT_TRUE(main->runUntil([&] { return c.leaveAnswers->count > leaveAnswers; }, 10s))
            << "the leave was never answered";
        // A join started from the left report would have sent its first request ahead of this.
        roundTrip(c, b);

        EXPECT_EQ(first->events(), (std::vector<std::string>{"a: joined " + uid, "a: left 1"}));
        EXPECT_EQ(waiting->events(),
                  std::vector<std::string>{"b: failed 6 " +
                                           std::string(KRMeetingJoinError::kJoinGivenUpForLeave)});
        EXPECT_EQ(internals(c.client).meetingState(), ClientCore::MeetingState::ended);
        EXPECT_EQ(service.requestCount(R::configuration), configurations);
        EXPECT_EQ(service.roomSocket().loginCount(), logins);
        EXPECT_TRUE(bus->members(road == Road::krMedia
                                     ? test::KrMediaTestEngine::channelFor(b.meetingId)
                                     : b.roomId)
                        .empty());
        EXPECT_TRUE(main->runUntil(
            [&] {
                const auto listed = service.participant(a.meetingId, uid);
                return listed && !listed->isConnected;
            },
            5s))
            << "the service still lists the user as connected";
        if (when == When::fromTheLeftReport) {
            // The same client joins the next meeting as if nothing had waited.
            first->client.reset();
            auto later = std::make_shared<ClientTestDelegate>("c", nullptr, main);
            join(c, b, KRUserRole::speaker(), later);
            ASSERT_TRUE(joinedOrFailed(later));
            // Its login, counted before the next row reads the count.
            ASSERT_TRUE(roomSocketLoggedIn(c));
            EXPECT_EQ(later->events(), std::vector<std::string>{"c: joined " + c.uid()});
            EXPECT_EQ(internals(c.client).currentRoom().roomID, b.roomId);
        }
    };
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        for (const When when : {When::sameTurn, When::whileTheServiceHoldsTheLeave,
                                When::fromTheLeftReport, When::postedFromIt}) {
            SCOPED_TRACE(std::string(nameOf(road)) + ", " + whenNames[static_cast<int>(when)]);
            runRow(road, when);
            clients.clear();
            service.clearFaults();
        }
    }
}

}  // namespace
}  // namespace kr
