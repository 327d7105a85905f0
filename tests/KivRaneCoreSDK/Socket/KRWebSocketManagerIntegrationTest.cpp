#include <gtest/gtest.h>

#include <boost/json/object.hpp>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/Timer.h"
#include "platform/Http/HttpTransport.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
namespace json = boost::json;
using test::RoomSocketFrame;

/// Keeps what the socket manager logs.
class SocketLog final : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string& moduleName,
                     KivRaneRMLogLevel) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(moduleName + ": " + message);
    }
    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

/// A manager connected over real WSS to the local meeting service on loopback.
class KRWebSocketManagerIntegrationTest : public ::testing::Test {
public:
    void start(std::shared_ptr<platform::Clock> clock = nullptr) {
        queue = clock ? platform::MainQueue::create(clock) : platform::MainQueue::create();
        KRDependencies dependencies;
        dependencies.queue = queue;
        dependencies.routing.connectTo = {"::127.0.0.1:" + std::to_string(service.port())};
        dependencies.routing.caFile = service.caFile();
        dependencies.logCollector = log;
        manager = KRWebSocketManager::create(KRApiServer::production, token, dependencies);
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
        manager->onNewChatMessage = [this](const KRChatMessage& message) {
            calls.push_back("chat:" + message.id);
        };
    }

    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = 10s) {
        return queue->runUntil(done, limit);
    }

    /// Runs the queue in short slices until `done()` holds on the service's side too.
    bool runUntilServiceSees(const std::function<bool()>& done) {
        for (int slice = 0; slice < 1000; ++slice) {
            if (done()) {
                return true;
            }
            queue->runFor(10ms);
        }
        return done();
    }

    bool connectAndLogIn(std::size_t logins) {
        manager->configureSocket();
        return runUntil([&] { return manager->isSocketConnected(); }) &&
               hub().waitUntil([&] { return hub().loginCount() == logins; }, 10s);
    }

    test::RoomSocketHub& hub() { return service.roomSocket(); }

    std::vector<RoomSocketFrame> framesNamed(const std::string& event) {
        std::vector<RoomSocketFrame> out;
        for (auto& frame : hub().receivedFrames()) {
            if (frame.event == event)
                out.push_back(std::move(frame));
        }
        return out;
    }

    /// Reports the participant's status the way a client does, through plain HTTPS.
    void postStatus(const std::string& status) {
        platform::HttpTransportSettings settings;
        settings.routing = service.routing();
        auto http = platform::HttpTransport::create(std::move(settings));
        platform::HttpRequest request;
        request.method = "POST";
        request.url = "https://meet.kivrane.com/api/roomconnectionstatus";
        request.headers = {{"authorization", token}, {"Content-Type", "application/json"}};
        request.body = serializeJson(json::object{{"kivraneId", "1234567890"},
                                                  {"roomID", "room-1"},
                                                  {"roomPin", "4321"},
                                                  {"historyId", "history-9"},
                                                  {"participantUri", "uri-2"},
                                                  {"participantId", "p-2"},
                                                  {"participantName", "Bo"},
                                                  {"status", status},
                                                  {"deviceId", "d-2"},
                                                  {"deviceType", "linux"},
                                                  {"participantType", "speaker"},
                                                  {"micStatus", true},
                                                  {"cameraStatus", false},
                                                  {"isHandRaise", false}});
        std::optional<long> answered;
        ASSERT_TRUE(http->send(request, queue,
                               [&](platform::HttpResult result) {
                                   answered = result ? result.value().status : -1;
                               })
                        .ok());
        ASSERT_TRUE(runUntil([&] { return answered.has_value(); }));
        ASSERT_EQ(*answered, 200);
    }

    test::LocalMeetingService service;
    std::string token = service.issueUserToken("user-2", "Bo");
    std::shared_ptr<platform::MainQueue> queue;
    std::shared_ptr<KRWebSocketManager> manager;
    std::shared_ptr<SocketLog> log = std::make_shared<SocketLog>();
    std::vector<std::string> calls;
};

std::string leaveFrame(int i) {
    return R"({"event":"roomconnectionstatusupdate","data":{"kivraneId":"1234567890",)"
           R"("eventType":"refresh","actionType":"leave","sourceId":"u)" +
           std::to_string(i) + R"("}})";
}

TEST_F(KRWebSocketManagerIntegrationTest, LogsInAndRoomChangesReachTheHooks) {
    start();
    ASSERT_TRUE(connectAndLogIn(1));
    const auto logins = framesNamed("login");
    ASSERT_EQ(logins.size(), 1u);
    EXPECT_TRUE(logins[0].binary);
    EXPECT_EQ(logins[0].text, R"({"event":"login","data":{"token":")" + token + R"("}})");
    // The service answers the login; the answer is acknowledged like any other frame.
    ASSERT_TRUE(runUntilServiceSees([&] { return framesNamed("ack").size() == 1; }));
    EXPECT_EQ(framesNamed("ack")[0].data.at("originalEvent"), "login");

    postStatus("connected");
    ASSERT_TRUE(runUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, std::vector<std::string>{"update:p-2;"});

    postStatus("disconnected");
    ASSERT_TRUE(runUntil([&] { return calls.size() == 2; }));
    EXPECT_EQ(calls.back(), "left:user-2");

    service.pushChatMessage("room-1", json::object{{"_id", "hi"}, {"threadId", "t"}});
    service.pushChatMessage("room-1", json::object{{"_id", "not for me"}, {"threadId", "t"}},
                            "user-2");
    hub().pushToRoom("1234567890", R"({"event":"recordingStarted","data":{}})");
    ASSERT_TRUE(runUntil([&] { return calls.size() == 4; }));
    EXPECT_EQ(calls[2], "chat:hi");
    EXPECT_EQ(calls[3], "recordingStarted");
}

TEST_F(KRWebSocketManagerIntegrationTest,
       BackAndLoggedInWithinOneWatchdogPeriodAfterTheServerLetsGo) {
    auto clock = platform::ManualClock::create();
    start(clock);
    // Stands in for the client's one-second network watchdog.
    auto watchdog = platform::Timer::schedule(
        queue, 1s, true, [this](platform::Timer&) { manager->configureSocket(); });
    ASSERT_TRUE(connectAndLogIn(1));
    const struct {
        const char* name;
        std::function<void()> cut;
    } table[] = {
        {"drop without close", [this] { hub().dropAll(); }},
        {"close frame", [this] { hub().closeAll(1001); }},
    };
    std::size_t logins = 1;
    for (const auto& row : table) {
        // A connection that has been up a while.
        clock->advance(KRWebSocketManager::kHealthyConnection);
        queue->runPending();
        const auto before = std::chrono::steady_clock::now();
        row.cut();
        ++logins;
        ASSERT_TRUE(runUntil([&] { return !manager->isSocketConnected(); })) << row.name;
        clock->advance(1s);  // the next watchdog tick
        ASSERT_TRUE(runUntil(
            [&] { return hub().loginCount() == logins && manager->isSocketConnected(); }, 5s))
            << row.name;
        const auto took = std::chrono::steady_clock::now() - before;
        std::printf("[ measure  ] %s: back and logged in %lld ms after the cut, one tick later\n",
                    row.name,
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        EXPECT_EQ(hub().openConnectionCount(), 1u) << row.name;
    }
    watchdog->invalidate();
}

TEST_F(KRWebSocketManagerIntegrationTest, ARefusedHandshakeEndsTheAttemptAndALaterRequestConnects) {
    auto clock = platform::ManualClock::create();
    start(clock);
    hub().refuseHandshakes(1);
    manager->configureSocket();
    ASSERT_TRUE(runUntil([&] { return !manager->isSocketInConnectingState(); }));
    EXPECT_FALSE(manager->isSocketConnected());
    manager->configureSocket();  // backing off
    EXPECT_FALSE(manager->isSocketInConnectingState());
    clock->advance(1s);
    ASSERT_TRUE(connectAndLogIn(1));
}

TEST_F(KRWebSocketManagerIntegrationTest, AnUnansweredHandshakeIsAbandonedAfterTwentySeconds) {
    auto clock = platform::ManualClock::create();
    start(clock);
    hub().stallHandshakes(1);
    manager->configureSocket();
    ASSERT_TRUE(hub().waitUntil([&] { return hub().stalledHandshakeCount() == 1; }, 10s));
    clock->advance(20s - 1ms);
    queue->runPending();
    EXPECT_TRUE(manager->isSocketInConnectingState());
    clock->advance(1ms);
    queue->runPending();
    EXPECT_FALSE(manager->isSocketInConnectingState());
    // The client hangs up, so the service sees the attempt end.
    ASSERT_TRUE(hub().waitUntil([&] { return hub().abandonedHandshakeCount() == 1; }, 10s));
    clock->advance(1s);
    ASSERT_TRUE(connectAndLogIn(1));
}

TEST_F(KRWebSocketManagerIntegrationTest, ABurstOfAThousandFramesIsHandledInOrder) {
    start();
    ASSERT_TRUE(connectAndLogIn(1));
    constexpr int kFrames = 1000;
    for (int i = 0; i < kFrames; ++i) {
        hub().pushToRoom("1234567890", leaveFrame(i));
    }
    ASSERT_TRUE(runUntil([&] { return calls.size() == kFrames; }, 30s)) << calls.size();
    for (int i = 0; i < kFrames; ++i) {
        ASSERT_EQ(calls[static_cast<std::size_t>(i)], "left:u" + std::to_string(i));
    }
    // Each frame and the login answer were acknowledged.
    EXPECT_TRUE(runUntilServiceSees([&] { return framesNamed("ack").size() == kFrames + 1; }));
}

TEST_F(KRWebSocketManagerIntegrationTest, MalformedFramesAreDroppedWithoutAcknowledgement) {
    start();
    ASSERT_TRUE(connectAndLogIn(1));
    ASSERT_TRUE(runUntilServiceSees([&] { return framesNamed("ack").size() == 1; }));
    for (const char* junk : {"not json", "[1,2]", R"("recordingStarted")", "42", "{\"event\":"}) {
        hub().pushToAll(junk);
    }
    hub().pushToAll(R"({"event":"recordingStarted"})");
    ASSERT_TRUE(runUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, std::vector<std::string>{"recordingStarted"});
    ASSERT_TRUE(runUntilServiceSees([&] { return framesNamed("ack").size() == 2; }));
    EXPECT_EQ(framesNamed("ack")[1].data.at("originalEvent"), "recordingStarted");
    EXPECT_TRUE(manager->isSocketConnected());
}

TEST_F(KRWebSocketManagerIntegrationTest, KeepAlivesReachTheServiceOnTheManualClock) {
    auto clock = platform::ManualClock::create();
    start(clock);
    ASSERT_TRUE(connectAndLogIn(1));
    queue->runPending();  // the deferred keep-alive set-up
    clock->advance(25s);
    queue->runPending();
    ASSERT_TRUE(hub().waitUntil([&] { return framesNamed("amAlive").size() == 1; }, 10s));
    EXPECT_EQ(framesNamed("amAlive")[0].data.at("token"), json::value(token));
}

/// The two ways a meeting lets its socket go: released first, or dropped while connected.
struct WayToLeave {
    const char* name;
    std::function<void(KRWebSocketManagerIntegrationTest&)> leave;
};
std::vector<WayToLeave> waysToLeave() {
    return {
        {"released, then dropped",
         [](KRWebSocketManagerIntegrationTest& t) {
             t.manager->setIsUserJoinedMeeting(false);
             t.manager->releaseCurrentSocket();
             t.manager.reset();
         }},
        {"dropped while connected", [](KRWebSocketManagerIntegrationTest& t) { t.manager.reset(); }},
    };
}

TEST_F(KRWebSocketManagerIntegrationTest, LeavingClosesTheConnectionNormally) {
    const auto table = waysToLeave();
    std::size_t ended = 0;
    for (const auto& row : table) {
        start();
        ASSERT_TRUE(connectAndLogIn(ended + 1)) << row.name;
        row.leave(*this);
        ++ended;
        // The service saw a close frame, not a lost connection.
        ASSERT_TRUE(hub().waitUntil([&] { return hub().clientCloseCodes().size() == ended; }, 10s))
            << row.name;
        EXPECT_EQ(hub().clientCloseCodes().back(), 1000) << row.name;
    }
}

TEST_F(KRWebSocketManagerIntegrationTest, LeavingReturnsAtOnceWhenTheServiceStoppedReading) {
    const auto table = waysToLeave();
    hub().stopReadingAfterLogin(-1);
    std::size_t logins = 0;
    for (const auto& row : table) {
        start();
        ASSERT_TRUE(connectAndLogIn(++logins)) << row.name;
        // The close frame is never read, let alone answered: its handshake runs into its bound.
        const auto before = std::chrono::steady_clock::now();
        row.leave(*this);
        EXPECT_LT(std::chrono::steady_clock::now() - before, 200ms) << row.name;
    }
}

TEST_F(KRWebSocketManagerIntegrationTest, FramesHandedOnBeforeTheServerClosesAreAllAcknowledged) {
    start();
    ASSERT_TRUE(connectAndLogIn(1));
    ASSERT_TRUE(runUntilServiceSees([&] { return framesNamed("ack").size() == 1; }));
    constexpr int kFrames = 30;
    for (int i = 0; i < kFrames; ++i) {
        hub().pushToRoom("1234567890", leaveFrame(i));
    }
    hub().closeAllStillReading(1000);
    ASSERT_TRUE(runUntil([&] { return !manager->isSocketConnected(); }));
    queue->runFor(50ms);  // anything still on its way to the hooks
    EXPECT_EQ(calls.size(), static_cast<std::size_t>(kFrames));
    ASSERT_TRUE(hub().waitUntil([&] { return hub().clientCloseCodes().size() == 1; }, 10s));
    // Every frame that reached a hook was acknowledged to the server.
    EXPECT_EQ(framesNamed("ack").size(), calls.size() + 1);
}

TEST_F(KRWebSocketManagerIntegrationTest, AMessageOverTheLimitClosesWith1009AndTheNextConnectGoesOn) {
    start();
    ASSERT_TRUE(connectAndLogIn(1));
    const std::size_t limit = platform::WebSocketRequest{}.maxMessageSize;
    hub().pushToAll(R"({"event":"recordingStarted","data":")" + std::string(limit, 'x') + R"("})");
    hub().pushToAll(R"({"event":"recordingStopped"})");
    ASSERT_TRUE(runUntil([&] { return !manager->isSocketConnected(); }, 30s));
    ASSERT_TRUE(hub().waitUntil([&] { return hub().clientCloseCodes().size() == 1; }, 10s));
    EXPECT_EQ(hub().clientCloseCodes()[0], 1009);
    EXPECT_TRUE(calls.empty());
    bool logged = false;
    for (const auto& line : log->lines()) {
        logged = logged || line.find("1009") != std::string::npos;
    }
    EXPECT_TRUE(logged);

    ASSERT_TRUE(connectAndLogIn(2));
    hub().pushToAll(R"({"event":"recordingStarted"})");
    ASSERT_TRUE(runUntil([&] { return !calls.empty(); }));
    EXPECT_EQ(calls, std::vector<std::string>{"recordingStarted"});
}

}  // namespace
}  // namespace kr
