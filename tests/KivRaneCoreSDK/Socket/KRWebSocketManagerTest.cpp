#include <gtest/gtest.h>

#include <atomic>
#include <boost/json/parse.hpp>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using platform::WebSocketEvent;
using Kind = platform::WebSocketEvent::Kind;

/// A connection that records what the manager does with it and delivers scripted events through
/// the queue, dropping them once disconnected, as the real transport does. Like the real one it
/// writes the acknowledgement of a text that arrives on an open connection before handing it on.
class FakeConnection final : public platform::WebSocketConnection {
public:
    FakeConnection(platform::WebSocketRequest made, std::shared_ptr<platform::DispatchQueue> queue,
                   EventHandler handler)
        : request(std::move(made)), queue_(std::move(queue)), handler_(std::move(handler)) {}

    void connect() override { ++connectCalls; }
    void write(std::string bytes) override { written.push_back(std::move(bytes)); }
    void disconnect(std::uint16_t code) override {
        closeCode = code;
        stopped_->store(true);
    }

    void emit(Kind kind, std::string payload = {}, std::uint16_t code = 0) {
        if (kind == Kind::connected) {
            open_ = true;
        }
        WebSocketEvent event{kind, std::move(payload), code, {}};
        if (kind == Kind::text && open_ && !stopped_->load() && request.acknowledge) {
            if (auto ack = request.acknowledge(event.payload)) {
                written.push_back(std::move(ack->reply));
                event.prepared = std::move(ack->prepared);
            }
        }
        queue_->post([stopped = stopped_, handler = handler_, event = std::move(event)] {
            if (!stopped->load()) {
                handler(event);
            }
        });
    }

    std::vector<std::string> events() const {
        std::vector<std::string> out;
        for (const auto& bytes : written) {
            out.emplace_back(boost::json::parse(bytes).at("event").as_string());
        }
        return out;
    }

    const platform::WebSocketRequest request;
    int connectCalls = 0;
    std::vector<std::string> written;
    std::optional<std::uint16_t> closeCode;

private:
    std::shared_ptr<platform::DispatchQueue> queue_;
    EventHandler handler_;
    bool open_ = false;
    std::shared_ptr<std::atomic<bool>> stopped_ = std::make_shared<std::atomic<bool>>(false);
};

class FakeTransport final : public platform::WebSocketTransport {
public:
    std::shared_ptr<platform::WebSocketConnection> makeConnection(
        platform::WebSocketRequest request, std::shared_ptr<platform::DispatchQueue> queue,
        platform::WebSocketConnection::EventHandler handler) override {
        connections.push_back(std::make_shared<FakeConnection>(std::move(request), std::move(queue),
                                                               std::move(handler)));
        return connections.back();
    }
    std::vector<std::shared_ptr<FakeConnection>> connections;
};

class KRWebSocketManagerTest : public ::testing::Test {
public:
    void SetUp() override {
        manager = KRWebSocketManager::create(KRApiServer::production, "jwt-1", queue, transport);
        manager->setIsConnectedToNetwork(true);
        manager->setIsUserJoinedMeeting(true);
        manager->onRequestToRefreshMeetingData = [this] { calls.push_back("refresh"); };
        manager->onUserLeftMeeting = [this](const std::string& id) {
            calls.push_back("left:" + id);
        };
        manager->onRequestToUpdateParticipantsLists =
            [this](const std::vector<KRMeetingParticipant>& list) {
                std::string ids;
                for (const auto& p : list)
                    ids += p.participantId + ";";
                calls.push_back("update:" + ids);
            };
        manager->onRecordingStarted = [this] { calls.push_back("recordingStarted"); };
        manager->onRecordingStopped = [this] { calls.push_back("recordingStopped"); };
        manager->onNewChatMessage = [this](const KRChatMessage& message) {
            calls.push_back("chat:" + message.id);
        };
    }

    FakeConnection& last() { return *transport->connections.back(); }

    /// Connects and runs the deferred keep-alive set-up.
    FakeConnection& connectNow() {
        manager->configureSocket();
        last().emit(Kind::connected);
        queue->runPending();
        return last();
    }

    void advance(platform::Clock::duration by) {
        clock->advance(by);
        queue->runPending();
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<FakeTransport> transport = std::make_shared<FakeTransport>();
    std::shared_ptr<KRWebSocketManager> manager;
    std::vector<std::string> calls;
};

TEST_F(KRWebSocketManagerTest, ConnectsToTheEnvironmentsSocketWithTheTwentySecondBound) {
    manager->configureSocket();
    ASSERT_EQ(transport->connections.size(), 1u);
    EXPECT_EQ(last().request.url, "wss://meet.kivrane.com/ws");
    EXPECT_EQ(last().request.timeout, 20s);
    EXPECT_EQ(last().connectCalls, 1);
    EXPECT_TRUE(manager->isSocketInConnectingState());
    EXPECT_EQ(socketUrl(KRApiServer::staging), "wss://staging.kivrane.com/ws");
    EXPECT_NE(socketHost(KRApiServer::rc), rawValue(KRApiServer::rc));
}

TEST_F(KRWebSocketManagerTest, AManagerBuiltFromDependenciesConnectsOverTheirTransport) {
    KRDependencies dependencies;
    dependencies.queue = queue;
    dependencies.webSocketTransport = transport;
    // Were the transport passed over, the TLS one made instead would stay on this machine.
    dependencies.routing.connectTo = {"::127.0.0.1:1"};
    manager = KRWebSocketManager::create(KRApiServer::production, "jwt-2", dependencies);
    manager->setIsConnectedToNetwork(true);
    manager->configureSocket();
    ASSERT_EQ(transport->connections.size(), 1u);
    EXPECT_EQ(last().request.url, "wss://meet.kivrane.com/ws");
    last().emit(Kind::connected);
    queue->runPending();
    ASSERT_EQ(last().written.size(), 1u);
    EXPECT_EQ(last().written[0], R"({"event":"login","data":{"token":"jwt-2"}})");
}

TEST_F(KRWebSocketManagerTest,
       ConnectRequestsAreRefusedWhileConnectingConnectedOfflineOrForwarded) {
    manager->configureSocket();
    manager->configureSocket();
    EXPECT_EQ(transport->connections.size(), 1u);
    last().emit(Kind::connected);
    queue->runPending();
    manager->configureSocket();
    EXPECT_EQ(transport->connections.size(), 1u);

    auto offline = KRWebSocketManager::create(KRApiServer::production, "t", queue, transport);
    offline->configureSocket();
    EXPECT_EQ(transport->connections.size(), 1u);

    auto forwarded = KRWebSocketManager::createForwarded(queue, nullptr);
    forwarded->setIsConnectedToNetwork(true);
    forwarded->configureSocket();
    EXPECT_EQ(transport->connections.size(), 1u);
    EXPECT_FALSE(forwarded->isSocketInConnectingState());
}

TEST_F(KRWebSocketManagerTest, LogsInFirstThenKeepsAliveEveryTwentyFiveSeconds) {
    FakeConnection& connection = connectNow();
    EXPECT_TRUE(manager->isSocketConnected());
    ASSERT_EQ(connection.written.size(), 1u);
    EXPECT_EQ(connection.written[0], R"({"event":"login","data":{"token":"jwt-1"}})");
    advance(24s);
    EXPECT_EQ(connection.written.size(), 1u);
    advance(1s);
    ASSERT_EQ(connection.written.size(), 2u);
    EXPECT_EQ(connection.written[1], R"({"event":"amAlive","data":{"token":"jwt-1"}})");
    advance(25s);
    advance(25s);
    EXPECT_EQ(connection.events(),
              (std::vector<std::string>{"login", "amAlive", "amAlive", "amAlive"}));
}

TEST_F(KRWebSocketManagerTest, KeepAliveWithAnEmptyTokenCarriesNull) {
    manager = KRWebSocketManager::create(KRApiServer::production, "", queue, transport);
    manager->setIsConnectedToNetwork(true);
    FakeConnection& connection = connectNow();
    advance(25s);
    ASSERT_EQ(connection.written.size(), 2u);
    EXPECT_EQ(connection.written[0], R"({"event":"login","data":{"token":""}})");
    EXPECT_EQ(connection.written[1], "{\"event\":\"amAlive\",\"data\":{\"token\":\"(null)\"}}");
}

TEST_F(KRWebSocketManagerTest, EveryObjectFrameIsAcknowledgedBeforeItsHookRuns) {
    FakeConnection& connection = connectNow();
    std::size_t writtenWhenHookRan = 0;
    manager->onRecordingStarted = [&] { writtenWhenHookRan = connection.written.size(); };
    connection.emit(Kind::text, R"({"event":"recordingStarted","data":{}})");
    queue->runPending();
    ASSERT_EQ(writtenWhenHookRan, 2u);
    const auto ack = boost::json::parse(connection.written[1]).as_object();
    EXPECT_EQ(ack.at("event"), "ack");
    EXPECT_EQ(ack.at("data").at("originalEvent"), "recordingStarted");
}

TEST_F(KRWebSocketManagerTest, FramesAreDispatchedByEventAndPayload) {
    const struct {
        const char* frame;
        const char* ackedAs;  // nullptr: no acknowledgement
        const char* call;     // nullptr: no hook
    } table[] = {
        {R"({"event":"recordingStarted"})", "recordingStarted", "recordingStarted"},
        {R"({"event":"recordingStopped","data":1})", "recordingStopped", "recordingStopped"},
        {R"({"event":"chatMessage","data":{"_id":"m1","threadId":"t1"}})", "chatMessage",
         "chat:m1"},
        {R"({"event":"chatMessage","data":"m1"})", "chatMessage", nullptr},
        // Data that is not a chat message never reaches the chat hook.
        {R"({"event":"chatMessage","data":{"_id":"m1"}})", "chatMessage", nullptr},
        {R"({"event":"chatMessage","data":{"_id":"m1","threadId":7}})", "chatMessage", nullptr},
        {R"({"event":"chatMessage","data":{"threadId":"t1","text":"hi"}})", "chatMessage", nullptr},
        {R"({"event":"chatMessageUpdate","data":{"id":"m1"}})", "chatMessageUpdate", nullptr},
        {R"({"event":"chatThreadAddOrEdit","data":{}})", "chatThreadAddOrEdit", nullptr},
        {R"({"event":"login","data":{}})", "login", nullptr},
        {R"({"data":{}})", "", nullptr},
        {R"({"event":42})", "", nullptr},
        {R"({"event":"RoomConnectionStatusUpdate","data":{"kivraneId":"m","eventType":"refresh"}})",
         "RoomConnectionStatusUpdate", nullptr},
        {R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"m","eventType":"refresh"}})",
         "roomconnectionstatusupdate", "refresh"},
        {R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"m","eventType":"refresh","actionType":"SoftMuteAllEnabled"}})",
         "roomconnectionstatusupdate", "refresh"},
        {R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"m","eventType":"refresh","actionType":"leave","sourceId":"u9"}})",
         "roomconnectionstatusupdate", "left:u9"},
        {R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"m","eventType":"refresh","actionType":"leave"}})",
         "roomconnectionstatusupdate", "left:"},
        {R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"m","eventType":"update","actionType":"leave","data":[)"
         R"({"participantId":"p1","micStatus":true,"cameraStatus":true,"isHandRaise":false}]}})",
         "roomconnectionstatusupdate", "update:p1;"},
        {R"({"event":"roomconnectionstatusupdate","data":{"eventType":"update"}})",
         "roomconnectionstatusupdate", nullptr},
        {R"([{"event":"recordingStarted"}])", nullptr, nullptr},
        {R"("recordingStarted")", nullptr, nullptr},
        {R"(12)", nullptr, nullptr},
        {R"({"event":"recordingStarted")", nullptr, nullptr},
    };
    FakeConnection& connection = connectNow();
    for (const auto& row : table) {
        calls.clear();
        const std::size_t before = connection.written.size();
        connection.emit(Kind::text, row.frame);
        queue->runPending();
        if (row.ackedAs == nullptr) {
            EXPECT_EQ(connection.written.size(), before) << row.frame;
        } else {
            ASSERT_EQ(connection.written.size(), before + 1) << row.frame;
            const auto ack = boost::json::parse(connection.written.back());
            EXPECT_EQ(ack.at("event"), "ack") << row.frame;
            EXPECT_EQ(ack.at("data").at("originalEvent"), row.ackedAs) << row.frame;
        }
        EXPECT_EQ(calls, row.call ? std::vector<std::string>{row.call} : std::vector<std::string>{})
            << row.frame;
    }
}

TEST_F(KRWebSocketManagerTest, ForwardedFramesAreDispatchedOnTheQueueAndNeverAcknowledged) {
    auto centre = std::make_shared<platform::NotificationCenter>();
    auto forwarded = KRWebSocketManager::createForwarded(queue, centre);
    std::vector<std::string> seen;
    forwarded->onUserLeftMeeting = [&](const std::string& id) { seen.push_back(id); };
    std::thread poster([&] {
        centre->post(std::string(KRWebSocketManager::kForwardedMessageNotification), nullptr,
                     boost::json::object{{"event", "roomconnectionstatusupdate"},
                                         {"data",
                                          {{"kivraneId", "m"},
                                           {"eventType", "refresh"},
                                           {"actionType", "leave"},
                                           {"sourceId", "u3"}}}});
    });
    poster.join();
    EXPECT_TRUE(seen.empty());  // not on the posting thread
    queue->runPending();
    EXPECT_EQ(seen, std::vector<std::string>{"u3"});

    // A forwarded frame reaching a manager with its own live connection is not acknowledged.
    FakeConnection& connection = connectNow();
    manager->processCustomSocketMessage(boost::json::object{{"event", "recordingStopped"}});
    EXPECT_EQ(calls, std::vector<std::string>{"recordingStopped"});
    EXPECT_EQ(connection.events(), std::vector<std::string>{"login"});
    manager->processCustomSocketMessage(
        boost::json::object{{"event", "recordingStarted"}, {"data", std::nan("")}});
    EXPECT_EQ(calls, std::vector<std::string>{"recordingStopped"});

    forwarded.reset();
    EXPECT_EQ(centre->observerCount(), 0u);
}

// Only a later login the service took on the manager's own connection tells that pushes were
// missed: not the first, not a refused one, not a forwarded login frame.
TEST_F(KRWebSocketManagerTest, OnlyALaterLoginTakenOnTheOwnConnectionCountsAsLoggedInAgain) {
    manager->onLoggedInAgain = [this] { calls.push_back("again"); };
    const auto answer = [&](FakeConnection& connection, const char* frame) {
        connection.emit(Kind::text, frame);
        queue->runPending();
    };
    answer(connectNow(), R"({"event":"login","data":{"success":true,"userId":"u1"}})");
    manager->processCustomSocketMessage(
        boost::json::object{{"event", "login"}, {"data", {{"success", true}}}});
    EXPECT_TRUE(calls.empty());
    manager->releaseCurrentSocket();
    FakeConnection& second = connectNow();
    answer(second, R"({"event":"login","data":{"success":false}})");
    EXPECT_TRUE(calls.empty());
    answer(second, R"({"event":"login","data":{"success":true}})");
    EXPECT_EQ(calls, std::vector<std::string>{"again"});
    manager->releaseCurrentSocket();
    answer(connectNow(), R"({"event":"login","data":{}})");
    EXPECT_EQ(calls, (std::vector<std::string>{"again", "again"}));
}

TEST_F(KRWebSocketManagerTest, AnAttemptEndingBeforeConnectedReturnsToIdle) {
    const struct {
        const char* name;
        std::function<void(KRWebSocketManagerTest&)> end;
        bool backsOff;
    } table[] = {
        {"error", [](KRWebSocketManagerTest& t) { t.last().emit(Kind::error, "refused"); }, true},
        {"close", [](KRWebSocketManagerTest& t) { t.last().emit(Kind::disconnected, "", 1001); },
         true},
        {"twenty seconds", [](KRWebSocketManagerTest& t) { t.clock->advance(20s); }, true},
        {"stop", [](KRWebSocketManagerTest& t) { t.manager->releaseCurrentSocket(); }, false},
    };
    for (const auto& row : table) {
        SetUp();
        transport->connections.clear();
        manager->configureSocket();
        row.end(*this);
        queue->runPending();
        EXPECT_FALSE(manager->isSocketInConnectingState()) << row.name;
        EXPECT_FALSE(manager->isSocketConnected()) << row.name;
        ASSERT_TRUE(last().closeCode.has_value()) << row.name;  // the attempt is abandoned
        if (row.backsOff) {
            manager->configureSocket();
            EXPECT_EQ(transport->connections.size(), 1u) << row.name;
            advance(1s);
        }
        manager->configureSocket();
        EXPECT_EQ(transport->connections.size(), 2u) << row.name;
        last().emit(Kind::connected);
        queue->runPending();
        EXPECT_TRUE(manager->isSocketConnected()) << row.name;
    }
}

TEST_F(KRWebSocketManagerTest, FailedAttemptsBackOffUpToThirtySecondsWithJitter) {
    // Each wait is drawn between half and all of 1, 2, 4 ... 30 s.
    const std::vector<int> expectedWaits = {1, 2, 4, 8, 16, 30, 30};
    for (int wait : expectedWaits) {
        manager->configureSocket();
        const std::size_t made = transport->connections.size();
        last().emit(Kind::error);
        queue->runPending();
        const auto full = std::chrono::milliseconds(wait * 1000);
        advance(full / 2 - 1ms);
        manager->configureSocket();
        EXPECT_EQ(transport->connections.size(), made) << "wait " << wait;
        advance(full - full / 2 + 1ms);
    }
    // Connecting alone does not reset the waits; a connection that stayed up does.
    connectNow();
    manager->releaseCurrentSocket();
    manager->configureSocket();
    last().emit(Kind::error);
    queue->runPending();
    advance(15s - 1ms);
    std::size_t made = transport->connections.size();
    manager->configureSocket();
    EXPECT_EQ(transport->connections.size(), made);
    advance(15s + 1ms);
    connectNow();
    advance(KRWebSocketManager::kHealthyConnection);
    manager->releaseCurrentSocket();
    manager->configureSocket();
    last().emit(Kind::error);
    queue->runPending();
    advance(1s);
    made = transport->connections.size();
    manager->configureSocket();
    EXPECT_EQ(transport->connections.size(), made + 1);
}

TEST_F(KRWebSocketManagerTest, ConnectionsThatEndSoonAfterConnectingBackOff) {
    const struct {
        const char* name;
        Kind kind;
        std::uint16_t code;
    } table[] = {
        {"close 1000", Kind::disconnected, 1000}, {"close 1011", Kind::disconnected, 1011},
        {"dropped", Kind::disconnected, 1006},    {"too big", Kind::disconnected, 1009},
        {"invalid text", Kind::disconnected, 1007}, {"error", Kind::error, 0},
    };
    for (const auto& row : table) {
        SetUp();
        transport->connections.clear();
        // A server that accepts and ends every connection at once.
        std::vector<int> waits;
        for (int round = 0; round < 8; ++round) {
            manager->configureSocket();
            if (transport->connections.size() == static_cast<std::size_t>(round)) {
                // Backing off: count whole seconds until the next attempt is let through.
                int waited = 0;
                while (transport->connections.size() == static_cast<std::size_t>(round) &&
                       waited < 60) {
                    advance(1s);
                    ++waited;
                    manager->configureSocket();
                }
                waits.push_back(waited);
            } else {
                waits.push_back(0);
            }
            ASSERT_EQ(transport->connections.size(), static_cast<std::size_t>(round + 1))
                << row.name;
            last().emit(Kind::connected);
            queue->runPending();
            last().emit(row.kind, "gone", row.code);
            queue->runPending();
        }
        // The first end is answered at once, then the waits grow (jitter aside) up to 30 s.
        ASSERT_EQ(waits.size(), 8u);
        EXPECT_EQ(waits[0], 0) << row.name;
        EXPECT_EQ(waits[1], 0) << row.name;
        const int bounds[][2] = {{1, 1}, {1, 2}, {2, 4}, {4, 8}, {8, 16}, {15, 30}};
        for (std::size_t i = 2; i < waits.size(); ++i) {
            EXPECT_GE(waits[i], bounds[i - 2][0]) << row.name << " round " << i;
            EXPECT_LE(waits[i], bounds[i - 2][1]) << row.name << " round " << i;
        }
        // A connection that stayed up resets it: its end is answered at once.
        advance(60s);
        connectNow();
        advance(KRWebSocketManager::kHealthyConnection);
        const std::size_t made = transport->connections.size();
        last().emit(row.kind, "gone", row.code);
        queue->runPending();
        manager->configureSocket();
        EXPECT_EQ(transport->connections.size(), made + 1) << row.name;
    }
}

TEST_F(KRWebSocketManagerTest, PeerCloseOrDroppedConnectionGoesIdleAndWaitsForTheNextRequest) {
    for (std::uint16_t code : {std::uint16_t{1000}, std::uint16_t{1006}}) {
        transport->connections.clear();
        FakeConnection& connection = connectNow();
        connection.emit(Kind::disconnected, "gone", code);
        queue->runPending();
        EXPECT_FALSE(manager->isSocketConnected());
        EXPECT_FALSE(manager->isSocketInConnectingState());
        EXPECT_EQ(transport->connections.size(), 1u);  // no reconnect by itself
        advance(100s);
        EXPECT_EQ(connection.events(), std::vector<std::string>{"login"});  // keep-alive stopped
        manager->configureSocket();  // no back-off after a live connection ended
        EXPECT_EQ(transport->connections.size(), 2u);
        last().emit(Kind::connected);
        queue->runPending();
        EXPECT_EQ(last().events(), std::vector<std::string>{"login"});  // login again
        manager->releaseCurrentSocket();
    }
}

TEST_F(KRWebSocketManagerTest, AnErrorOnALiveSocketReconnectsAtOnceOnlyWhileJoinedAndOnline) {
    connectNow().emit(Kind::error, "broken pipe");
    queue->runPending();
    EXPECT_EQ(transport->connections.size(), 2u);
    EXPECT_TRUE(manager->isSocketInConnectingState());
    EXPECT_EQ(transport->connections[0]->closeCode, 1000);

    last().emit(Kind::connected);
    queue->runPending();
    manager->setIsUserJoinedMeeting(false);
    last().emit(Kind::error);
    queue->runPending();
    EXPECT_EQ(transport->connections.size(), 2u);
    EXPECT_FALSE(manager->isSocketConnected());
    EXPECT_FALSE(manager->isSocketInConnectingState());
}

TEST_F(KRWebSocketManagerTest, KeepAliveTimerRules) {
    // A connection released after its keep-alive started sends nothing more.
    connectNow();
    manager->releaseCurrentSocket();
    advance(60s);
    EXPECT_EQ(transport->connections[0]->events(), std::vector<std::string>{"login"});

    // The next connection runs exactly one keep-alive timer.
    manager->configureSocket();
    FakeConnection& second = last();
    second.emit(Kind::connected);
    queue->runPending();
    advance(25s);
    EXPECT_EQ(second.events(), (std::vector<std::string>{"login", "amAlive"}));

    // The timer holds the manager weakly: dropping the manager closes the socket and stops it.
    std::weak_ptr<KRWebSocketManager> weak = manager;
    manager.reset();
    EXPECT_TRUE(weak.expired());
    EXPECT_EQ(second.closeCode, 1000);
    advance(100s);
    EXPECT_EQ(second.events(), (std::vector<std::string>{"login", "amAlive"}));
}

TEST_F(KRWebSocketManagerTest, ReleaseBeforeTheDeferredKeepAliveSetUpStartsNoTimer) {
    manager->configureSocket();
    last().emit(Kind::connected);
    bool released = false;
    queue->post([&] {  // queued after the event, before its set-up
        manager->releaseCurrentSocket();
        released = true;
    });
    queue->runPending();
    ASSERT_TRUE(released);
    EXPECT_FALSE(manager->isSocketConnected());
    advance(100s);
    EXPECT_EQ(last().events(), std::vector<std::string>{"login"});
}

TEST_F(KRWebSocketManagerTest, FramesWhileNotConnectedAreDroppedAndLoginIsSentOnEachConnect) {
    manager->configureSocket();
    manager->processCustomSocketMessage(boost::json::object{{"event", "recordingStarted"}});
    EXPECT_TRUE(last().written.empty());
    last().emit(Kind::text, R"({"event":"recordingStopped"})");  // before "connected"
    queue->runPending();
    EXPECT_TRUE(last().written.empty());
    EXPECT_EQ(calls, std::vector<std::string>{"recordingStarted"});
}

TEST_F(KRWebSocketManagerTest, ReconnectSocketNeedsAJoinedMeeting) {
    manager->setIsUserJoinedMeeting(false);
    manager->reconnectSocket();
    EXPECT_TRUE(transport->connections.empty());
    manager->setIsUserJoinedMeeting(true);
    manager->reconnectSocket();
    ASSERT_EQ(transport->connections.size(), 1u);
    last().emit(Kind::connected);
    queue->runPending();
    manager->reconnectSocket();
    EXPECT_EQ(transport->connections.size(), 2u);
    EXPECT_EQ(transport->connections[0]->closeCode, 1000);
    EXPECT_TRUE(manager->isSocketInConnectingState());
}

TEST_F(KRWebSocketManagerTest, AHookMayDropTheManager) {
    FakeConnection& connection = connectNow();
    manager->onRecordingStarted = [this] { manager.reset(); };
    connection.emit(Kind::text, R"({"event":"recordingStarted"})");
    queue->runPending();
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(connection.closeCode, 1000);
}

}  // namespace
}  // namespace kr
