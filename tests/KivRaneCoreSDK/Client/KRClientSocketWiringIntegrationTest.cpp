// The client's room socket rules with a scripted socket transport and the main queue on a manual
// clock (the server calls of the join go to the local meeting service): when a socket is opened,
// started, stopped, closed and reopened, the life-cycle notifications, and what each pushed room
// event does to the room store, the participant panel, the recording events and the chat.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/json.hpp>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Notifications/ApplicationNotifications.h"
#include "support/ClientTestDelegate.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using test::ClientTestDelegate;
using R = test::MeetingServiceRoute;
using Kind = platform::WebSocketEvent::Kind;
using App = platform::ApplicationNotifications;

/// A connection that records what is done with it and delivers scripted events through the
/// queue, none after it was disconnected (as the real transport).
class ScriptedConnection final : public platform::WebSocketConnection {
public:
    ScriptedConnection(platform::WebSocketRequest made,
                       std::shared_ptr<platform::DispatchQueue> queue, EventHandler handler)
        : request(std::move(made)), queue_(std::move(queue)), handler_(std::move(handler)) {}

    void connect() override { ++connectCalls; }
    void write(std::string bytes) override { written.push_back(std::move(bytes)); }
    void disconnect(std::uint16_t code) override {
        closeCode = code;
        stopped_->store(true);
    }
    void emit(Kind kind, std::string payload = {}, std::uint16_t code = 0) {
        queue_->post([stopped = stopped_, handler = handler_,
                      event = platform::WebSocketEvent{kind, std::move(payload), code, {}}] {
            if (!stopped->load()) handler(event);
        });
    }
    bool isClosed() const { return closeCode.has_value(); }

    const platform::WebSocketRequest request;
    int connectCalls = 0;
    std::vector<std::string> written;
    std::optional<std::uint16_t> closeCode;

private:
    std::shared_ptr<platform::DispatchQueue> queue_;
    EventHandler handler_;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

class ScriptedTransport final : public platform::WebSocketTransport {
public:
    std::shared_ptr<platform::WebSocketConnection> makeConnection(
        platform::WebSocketRequest request, std::shared_ptr<platform::DispatchQueue> queue,
        platform::WebSocketConnection::EventHandler handler) override {
        connections.push_back(std::make_shared<ScriptedConnection>(
            std::move(request), std::move(queue), std::move(handler)));
        return connections.back();
    }
    std::vector<std::shared_ptr<ScriptedConnection>> connections;
};

struct Panel : KRParticipantsListUpdateDelegate {
    std::vector<std::string> log;
    void didParticipantUpserted(const KRMeetingParticipant& p) override {
        log.push_back("upserted " + p.participantId);
    }
    void didParticipantRemoved(const KRMeetingParticipant& p) override {
        log.push_back("removed " + p.participantId);
    }
    void didParticipantDataRefreshed(const std::vector<KRMeetingParticipant>&) override {}
};

struct ChatLog : KRChatClientDelegate {
    std::vector<std::string> seen;
    void didRecieveNewChatMessage(KRChatManager&, const KRChatMessage& message) override {
        seen.push_back("main:" + message.id);
    }
};

std::string participantJson(const std::string& id, const std::string& userId, bool mic = true) {
    return R"({"participantId":")" + id + R"(","userId":")" + userId +
           R"(","participantName":"N)" + id + R"(","micStatus":)" + (mic ? "true" : "false") +
           R"(,"cameraStatus":true,"isHandRaise":false,"participantType":"speaker"})";
}

std::string updateFrame(const std::vector<std::string>& participants) {
    std::string list;
    for (const auto& p : participants) list += (list.empty() ? "" : ",") + p;
    return R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"1234567890",)"
           R"("eventType":"update","data":[)" + list + "]}}";
}

std::string leaveFrame(const std::string& userId) {
    return R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"1234567890",)"
           R"("eventType":"refresh","actionType":"leave","sourceId":")" + userId + R"("}})";
}

class KRClientSocketWiringIntegrationTest : public ::testing::Test {
protected:
    KRClientSocketWiringIntegrationTest() {
        KRDependencies deps;
        deps.queue = main;
        deps.reachability = test::quietReachability();
        deps.storageDirectory = storage.path();
        deps.routing = service.routing();
        deps.notifications = notifications;
        deps.webSocketTransport = transport;
        deps.contacts = contacts;
        client = KRClient::create(deps);
        client->setParticipantsListDelegate(panel);
        client->addChatDelegate(chat, "log");
    }

    /// Runs the server part of the join; true when it waits for the media channel.
    bool runServerPart(KRUserRole role = KRUserRole::speaker()) {
        client->joinMeeting(KRJoinMeetingData("1234567890", "4321", "Me"),
                            KRJoinMeetingConfig(std::move(role), true, true), delegate);
        return main->runUntil(
            [&] { return internals(client).isAwaitingMediaJoin() || !delegate->joinFailures.empty(); },
            10s) &&
               internals(client).isAwaitingMediaJoin();
    }

    /// Joined, the media join confirmed (which starts the watchdog) and the socket connected.
    ScriptedConnection& joinedAndConnected() {
        EXPECT_TRUE(runServerPart());
        internals(client).completeLocalMediaJoin(internals(client).currentRoom().userWebRtcId);
        EXPECT_FALSE(transport->connections.empty());
        ScriptedConnection& connection = *transport->connections.back();
        connection.emit(Kind::connected);
        main->runPending();
        EXPECT_TRUE(internals(client).webSocketManager()->isSocketConnected());
        return connection;
    }

    void tick(int seconds = 1) {
        for (int i = 0; i < seconds; ++i) {
            clock->advance(1s);
            main->runPending();
        }
    }

    /// Delivers `frame` on the connection and runs what it causes.
    void push(ScriptedConnection& connection, const std::string& frame) {
        connection.emit(Kind::text, frame);
        main->runPending();
    }

    /// Posts `frame` as the host app forwards it (from its own thread) and runs what it causes.
    void forward(const std::string& frame) {
        std::thread([&] {
            notifications->post(std::string(KRWebSocketManager::kForwardedMessageNotification),
                                nullptr, boost::json::parse(frame).as_object());
        }).join();
        main->runPending();
    }

    void signIn() {
        client->setParameters(boost::json::object{
            {"kr_user_jwt_token", service.issueUserToken("owner-1", "Olga")},
            {"kr_user_existing_id", "owner-1"}});
    }

    /// Runs the queue until the service has seen `count` requests of `route`.
    bool serviceSees(R route, std::size_t count) {
        return main->runUntil([&] { return service.requestCount(route) >= count; }, 10s);
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create(clock);
    std::shared_ptr<platform::NotificationCenter> notifications =
        std::make_shared<platform::NotificationCenter>();
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<ContactSyncManager> contacts = std::make_shared<ContactSyncManager>();
    std::shared_ptr<Panel> panel = std::make_shared<Panel>();
    std::shared_ptr<ChatLog> chat = std::make_shared<ChatLog>();
    std::shared_ptr<ClientTestDelegate> delegate = std::make_shared<ClientTestDelegate>("c");
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<KRClient> client;
};

TEST_F(KRClientSocketWiringIntegrationTest, AGuestLoginOpensOneSocketThatTheWatchdogKeepsAndRestores) {
    ScriptedConnection& first = joinedAndConnected();
    ASSERT_EQ(transport->connections.size(), 1u);
    EXPECT_EQ(first.request.url, socketUrl(client->getServerEnvironment()));
    ASSERT_FALSE(first.written.empty());
    EXPECT_EQ(boost::json::parse(first.written[0]),
              boost::json::parse(R"({"event":"login","data":{"token":")" +
                                 internals(client).networkClient()->getJwtToken() + R"("}})"));

    // Started every second while healthy: still one connection, one login.
    tick(5);
    EXPECT_EQ(transport->connections.size(), 1u);
    EXPECT_EQ(first.connectCalls, 1);

    // Dropped by the server: the next watchdog tick opens the next connection.
    first.emit(Kind::disconnected, {}, 1006);
    main->runPending();
    EXPECT_FALSE(internals(client).webSocketManager()->isSocketConnected());
    tick();
    ASSERT_EQ(transport->connections.size(), 2u);
    EXPECT_EQ(transport->connections[1]->connectCalls, 1);
}

TEST_F(KRClientSocketWiringIntegrationTest, ResigningActiveClosesTheSocketAndBecomingActiveReopensIt) {
    ScriptedConnection& first = joinedAndConnected();
    // The host app may post from any thread; the socket is touched on the queue.
    std::thread([&] { notifications->post(App::willResignActive); }).join();
    EXPECT_FALSE(first.isClosed());
    main->runPending();
    EXPECT_EQ(first.closeCode, KRWebSocketManager::kNormalClosure);
    EXPECT_FALSE(internals(client).webSocketManager()->isSocketConnected());

    notifications->post(App::didBecomeActive);
    main->runPending();
    ASSERT_EQ(transport->connections.size(), 2u);
    EXPECT_TRUE(internals(client).webSocketManager()->isSocketInConnectingState());
    // Becoming active while connected replaces the connection.
    transport->connections[1]->emit(Kind::connected);
    main->runPending();
    notifications->post(App::didBecomeActive);
    main->runPending();
    EXPECT_TRUE(transport->connections[1]->isClosed());
    EXPECT_EQ(transport->connections.size(), 3u);
}

TEST_F(KRClientSocketWiringIntegrationTest, WithoutNetworkTheWatchdogStopsTheSocketUntilTheNetworkIsBack) {
    ScriptedConnection& first = joinedAndConnected();
    internals(client).networkClient()->didNetworkStateChanged(false);
    tick();  // a single tick without network may be a blip
    EXPECT_FALSE(first.isClosed());
    tick();
    EXPECT_TRUE(first.isClosed());
    EXPECT_FALSE(internals(client).webSocketManager()->isUserJoinedMeeting());
    // Stopped, so becoming active does not reconnect on its own.
    notifications->post(App::didBecomeActive);
    tick(2);
    EXPECT_EQ(transport->connections.size(), 1u);

    internals(client).networkClient()->didNetworkStateChanged(true);
    tick();  // the first tick with network again lets it settle
    EXPECT_EQ(transport->connections.size(), 1u);
    tick();
    ASSERT_EQ(transport->connections.size(), 2u);
    EXPECT_TRUE(internals(client).webSocketManager()->isUserJoinedMeeting());
}

TEST_F(KRClientSocketWiringIntegrationTest, NoSocketComesBackAfterAFailedJoinOrAfterTheLeave) {
    service.injectFault(R::joinCall, test::MeetingServiceFault::withStatus(500));
    EXPECT_FALSE(runServerPart());
    ASSERT_EQ(delegate->joinFailures.size(), 1u);
    ASSERT_EQ(transport->connections.size(), 1u);  // opened at the guest login
    EXPECT_TRUE(transport->connections[0]->isClosed());
    notifications->post(App::didBecomeActive);
    tick(3);
    EXPECT_EQ(transport->connections.size(), 1u);

    service.clearFaults();
    delegate = std::make_shared<ClientTestDelegate>("c");
    ScriptedConnection& connection = joinedAndConnected();
    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return internals(client).webSocketManager() == nullptr; }, 10s));
    EXPECT_TRUE(connection.isClosed());
    notifications->post(App::didBecomeActive);
    tick(3);
    EXPECT_EQ(transport->connections.size(), 2u);
    EXPECT_EQ(delegate->events().back(), "c: left 1");
}

TEST_F(KRClientSocketWiringIntegrationTest, SocketRecordsTakeTheClientsContactNames) {
    ScriptedConnection& connection = joinedAndConnected();
    contacts->setContactsArray({boost::json::object{{"userId", "u71"}, {"name", "Contact 71"}}});
    push(connection, updateFrame({participantJson("71", "u71"), participantJson("72", "u72")}));
    std::map<std::string, std::string> names;
    for (const auto& p : internals(client).currentRoom().allParticipants) {
        names[p.participantId] = p.participantName;
    }
    EXPECT_EQ(names["71"], "Contact 71");
    EXPECT_EQ(names["72"], "N72");
}

TEST_F(KRClientSocketWiringIntegrationTest, ParticipantUpdatesReachTheStoreAndThePanelExceptOfflineOnes) {
    ScriptedConnection& connection = joinedAndConnected();
    KRCurrentRoom& room = internals(client).currentRoom();
    const std::string self = room.userWebRtcId;
    room.offlineParticipantsIds.push_back("70");
    panel->log.clear();

    push(connection, updateFrame({participantJson("70", "u70"), participantJson("71", "u71"),
                                  participantJson(self, "me", false)}));
    EXPECT_EQ(panel->log, (std::vector<std::string>{"upserted 71", "upserted " + self}));
    const auto userIdOf = [&](const std::string& id) -> std::optional<std::string> {
        for (const auto& p : room.allParticipants) {
            if (p.participantId == id) return p.userId;
        }
        return std::nullopt;
    };
    EXPECT_EQ(userIdOf("70"), std::nullopt);
    EXPECT_EQ(userIdOf("71"), "u71");
    // The engine makes the users on this backend: a record only names one the engine brought.
    EXPECT_EQ(client->getUser("71"), nullptr);
    EXPECT_EQ(client->getUser(self)->displayName(), "N" + self);

    panel->log.clear();
    push(connection, updateFrame({}));
    EXPECT_TRUE(panel->log.empty());
}

TEST_F(KRClientSocketWiringIntegrationTest, ALeaveIsMatchedByUserIdAndAlwaysAsksTheServerAgain) {
    ScriptedConnection& connection = joinedAndConnected();
    push(connection, updateFrame({participantJson("81", "twin"), participantJson("82", "twin"),
                                  participantJson("83", "")}));
    panel->log.clear();
    std::size_t fetches = service.requestCount(R::getRoomConnectionStatus);

    struct Row {
        std::string sourceId;
        std::vector<std::string> panel;
    };
    const Row table[] = {
        {"81", {}},                // a participant id is not a user id
        {"twin", {"removed 81"}},  // the first of two with that user id
        {"", {"removed 83"}},      // an empty id matches an empty user id
        {"nobody", {}},
    };
    for (const auto& row : table) {
        SCOPED_TRACE(row.sourceId);
        panel->log.clear();
        push(connection, leaveFrame(row.sourceId));
        EXPECT_EQ(panel->log, row.panel);
        ASSERT_TRUE(serviceSees(R::getRoomConnectionStatus, ++fetches));
    }
    push(connection, R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"1234567890","eventType":"refresh"}})");
    EXPECT_TRUE(serviceSees(R::getRoomConnectionStatus, ++fetches));
}

TEST_F(KRClientSocketWiringIntegrationTest, RecordingAndChatPushesReachTheirObservers) {
    ScriptedConnection& connection = joinedAndConnected();
    ASSERT_TRUE(main->runUntil(
        [&] { return !client->chatClient()->mainChatThreadID().empty(); }, 10s));
    const std::string thread = client->chatClient()->mainChatThreadID();

    push(connection, R"({"event":"recordingStarted","data":{}})");
    push(connection, R"({"event":"recordingStarted","data":{}})");  // already on: nothing
    push(connection, R"({"event":"recordingStopped","data":{}})");
    push(connection, R"({"event":"chatMessage","data":{"_id":"m1","threadId":")" + thread +
                         R"(","createdBy":"u9","messageComponent":{"text":"hi"}}})");
    push(connection, R"({"event":"chatMessage","data":{"threadId":")" + thread + R"("}})");
    push(connection, R"({"event":"chatMessage","data":{"_id":"m2","threadId":")" + thread +
                         R"(","createdBy":"u9"}})");
    const auto& events = delegate->events();
    EXPECT_EQ(std::vector<std::string>(events.end() - 2, events.end()),
              (std::vector<std::string>{"c: recording started", "c: recording stopped"}));
    EXPECT_EQ(chat->seen, (std::vector<std::string>{"main:m1", "main:m2"}));
    EXPECT_EQ(client->getMeetingChatMessages().size(), 2u);
}

TEST_F(KRClientSocketWiringIntegrationTest, ASignedInUserGetsTheFramesTheHostForwardsAndNoConnection) {
    signIn();
    ASSERT_TRUE(runServerPart());
    ASSERT_NE(internals(client).webSocketManager(), nullptr);
    EXPECT_TRUE(internals(client).webSocketManager()->usesForwardedMessages());
    internals(client).completeLocalMediaJoin(internals(client).currentRoom().userWebRtcId);
    tick(3);
    EXPECT_TRUE(transport->connections.empty());
    EXPECT_TRUE(internals(client).webSocketManager()->isUserJoinedMeeting());

    forward(R"({"event":"recordingStarted","data":{}})");
    EXPECT_EQ(delegate->events().back(), "c: recording started");
    forward(updateFrame({participantJson("91", "u91")}));
    EXPECT_EQ(panel->log.back(), "upserted 91");

    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil([&] { return internals(client).webSocketManager() == nullptr; }, 10s));
    panel->log.clear();
    forward(updateFrame({participantJson("92", "u92")}));
    forward(R"({"event":"recordingStopped","data":{}})");
    EXPECT_TRUE(panel->log.empty());
    EXPECT_EQ(delegate->events().back(), "c: left 1");
}

TEST_F(KRClientSocketWiringIntegrationTest, FramesForwardedAfterAFailedSignedInJoinChangeNothing) {
    signIn();
    service.injectFault(R::joinCall, test::MeetingServiceFault::withStatus(500));
    EXPECT_FALSE(runServerPart());
    ASSERT_EQ(delegate->joinFailures.size(), 1u);
    panel->log.clear();
    forward(R"({"event":"recordingStarted","data":{}})");
    forward(updateFrame({participantJson("93", "u93")}));
    EXPECT_EQ(delegate->events().size(), 1u);
    EXPECT_TRUE(panel->log.empty());
    EXPECT_FALSE(internals(client).currentRoom().isRecordingOn);
}

}  // namespace
}  // namespace kr
