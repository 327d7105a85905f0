#include <gtest/gtest.h>

#include <any>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

WebSocketRequest requestFor(std::string url) {
    WebSocketRequest request;
    request.url = std::move(url);
    request.timeout = 10s;
    return request;
}

TEST(TlsWebSocketTransportIntegrationTest, VerificationIsAlwaysOn) {
    test::LocalMeetingService service;
    const std::string connectTo = "::127.0.0.1:" + std::to_string(service.port());
    const struct {
        const char* name;
        std::string url;
        HttpRouting routing;
        bool connects;
    } table[] = {
        {"trusted", "wss://meet.kivrane.com/ws", {{connectTo}, service.caFile(), {}}, true},
        {"unknown authority", "wss://meet.kivrane.com/ws", {{connectTo}, {}, {}}, false},
        {"name not in certificate",
         "wss://meet.example.org/ws",
         {{connectTo}, service.caFile(), {}},
         false},
        {"not wss", "https://meet.kivrane.com/ws", {{connectTo}, service.caFile(), {}}, false},
    };
    auto queue = MainQueue::create();
    for (const auto& row : table) {
        auto transport = makeTlsWebSocketTransport(row.routing);
        std::vector<WebSocketEvent::Kind> events;
        auto connection = transport->makeConnection(
            requestFor(row.url), queue,
            [&](const WebSocketEvent& event) { events.push_back(event.kind); });
        connection->connect();
        ASSERT_TRUE(queue->runUntil([&] { return !events.empty(); }, 15s)) << row.name;
        EXPECT_EQ(events[0],
                  row.connects ? WebSocketEvent::Kind::connected : WebSocketEvent::Kind::error)
            << row.name;
        connection->disconnect(1000);
    }
}

TEST(TlsWebSocketTransportIntegrationTest, NoEventAfterDisconnectAndWritesAfterTheEndAreDropped) {
    test::LocalMeetingService service;
    HttpRouting routing{{"::127.0.0.1:" + std::to_string(service.port())}, service.caFile(), {}};
    auto queue = MainQueue::create();
    auto transport = makeTlsWebSocketTransport(routing);
    std::vector<WebSocketEvent> events;
    auto connection =
        transport->makeConnection(requestFor("wss://meet.kivrane.com/ws"), queue,
                                  [&](const WebSocketEvent& event) { events.push_back(event); });
    connection->connect();
    ASSERT_TRUE(queue->runUntil([&] { return !events.empty(); }, 15s));
    ASSERT_EQ(events[0].kind, WebSocketEvent::Kind::connected);
    connection->write(R"({"event":"hello","data":{}})");
    ASSERT_TRUE(service.roomSocket().waitUntil(
        [&] { return service.roomSocket().receivedFrames().size() == 1; }, 10s));
    EXPECT_TRUE(service.roomSocket().receivedFrames()[0].binary);

    service.roomSocket().closeAll(4000);
    ASSERT_TRUE(queue->runUntil([&] { return events.size() == 2; }, 10s));
    EXPECT_EQ(events[1].kind, WebSocketEvent::Kind::disconnected);
    EXPECT_EQ(events[1].closeCode, 4000);
    connection->write("late");
    connection->disconnect(1000);
    queue->runFor(50ms);
    EXPECT_EQ(events.size(), 2u);
    EXPECT_EQ(service.roomSocket().receivedFrames().size(), 1u);
}

TEST(TlsWebSocketTransportIntegrationTest, ReadingWaitsForTheQueueAndAcknowledgementsDoNotPileUp) {
    test::LocalMeetingService service;
    auto& hub = service.roomSocket();
    HttpRouting routing{{"::127.0.0.1:" + std::to_string(service.port())}, service.caFile(), {}};
    auto queue = MainQueue::create();
    auto transport = makeTlsWebSocketTransport(routing);
    WebSocketRequest request = requestFor("wss://meet.kivrane.com/ws");
    request.acknowledge = [](std::string_view text) -> std::optional<std::string> {
        return text.substr(0, 4) == "push" ? std::optional<std::string>("ack") : std::nullopt;
    };
    std::vector<WebSocketEvent> events;
    auto connection = transport->makeConnection(
        request, queue, [&](const WebSocketEvent& event) { events.push_back(event); });
    connection->connect();
    ASSERT_TRUE(queue->runUntil([&] { return !events.empty(); }, 15s));
    ASSERT_EQ(events[0].kind, WebSocketEvent::Kind::connected);
    const std::string token = service.issueUserToken("user-2", "Bo");
    connection->write(R"({"event":"login","data":{"token":")" + token + R"("}})");
    ASSERT_TRUE(queue->runUntil([&] { return events.size() == 2; }, 10s));  // login answer
    const auto acks = [&] {
        std::size_t count = 0;
        for (const auto& frame : hub.receivedFrames()) {
            count += frame.text == "ack" ? 1 : 0;
        }
        return count;
    };

    // Far more than the socket buffers hold, while the queue does not run.
    constexpr std::size_t kFrames = 6000;
    const std::string filler(4096, 'f');
    for (std::size_t i = 0; i < kFrames; ++i) {
        hub.pushToAll("push " + std::to_string(i) + " " + filler);
    }
    ASSERT_TRUE(hub.waitUntil(
        [&] { return acks() >= WebSocketConnection::kMaxUndeliveredMessages; }, 10s));
    // The client stopped reading: the rest stays with the server.
    EXPECT_FALSE(hub.waitUntil([&] { return hub.unwrittenFrameCount() == 0; }, 1s));
    EXPECT_LE(acks(), WebSocketConnection::kMaxUndeliveredMessages);

    ASSERT_TRUE(queue->runUntil([&] { return events.size() == 2 + kFrames; }, 60s))
        << events.size();
    for (std::size_t i = 0; i < kFrames; ++i) {
        ASSERT_EQ(events[2 + i].payload, "push " + std::to_string(i) + " " + filler);
    }
    EXPECT_TRUE(hub.waitUntil([&] { return acks() == kFrames; }, 10s)) << acks();
    connection->disconnect(1000);
}

TEST(TlsWebSocketTransportIntegrationTest,
     BurstsArriveInOrderEachAcknowledgedOnceAndBeforeTheCloseAnswer) {
    test::LocalMeetingService service;
    auto& hub = service.roomSocket();
    HttpRouting routing{{"::127.0.0.1:" + std::to_string(service.port())}, service.caFile(), {}};
    auto queue = MainQueue::create();
    auto transport = makeTlsWebSocketTransport(routing);
    WebSocketRequest request = requestFor("wss://meet.kivrane.com/ws");
    // Each answer names its message, and what it prepared must travel with that same message.
    request.acknowledge = [](std::string_view text) -> std::optional<WebSocketAcknowledgement> {
        if (text.substr(0, 2) != "n ") {
            return std::nullopt;
        }
        return WebSocketAcknowledgement("ack " + std::string(text.substr(2)),
                                        std::string(text.substr(2)));
    };
    std::vector<WebSocketEvent> events;
    auto connection = transport->makeConnection(
        request, queue, [&](const WebSocketEvent& event) { events.push_back(event); });
    connection->connect();
    ASSERT_TRUE(queue->runUntil([&] { return !events.empty(); }, 15s));
    ASSERT_EQ(events[0].kind, WebSocketEvent::Kind::connected);
    connection->write(R"({"event":"login","data":{"token":")" +
                      service.issueUserToken("user-2", "Bo") + R"("}})");
    ASSERT_TRUE(queue->runUntil([&] { return events.size() == 2; }, 10s));  // login answer

    // Several bursts of many messages each, unanswered ones among them, then the server's close
    // straight behind the last.
    constexpr int kMessages = 1500;
    for (int i = 0; i < kMessages; ++i) {
        hub.pushToAll(i % 7 == 3 ? "plain " + std::to_string(i) : "n " + std::to_string(i));
    }
    hub.closeAllStillReading(4001);
    ASSERT_TRUE(queue->runUntil(
        [&] { return events.back().kind == WebSocketEvent::Kind::disconnected; }, 30s));

    ASSERT_EQ(events.size(), 2u + kMessages + 1u);
    std::vector<std::string> expectedAcks;
    for (int i = 0; i < kMessages; ++i) {
        const WebSocketEvent& event = events[2 + static_cast<std::size_t>(i)];
        const bool answered = i % 7 != 3;
        ASSERT_EQ(event.payload, (answered ? "n " : "plain ") + std::to_string(i));
        const auto* prepared = std::any_cast<std::string>(&event.prepared);
        ASSERT_EQ(prepared != nullptr, answered) << i;
        if (answered) {
            EXPECT_EQ(*prepared, std::to_string(i));
            expectedAcks.push_back("ack " + std::to_string(i));
        }
    }
    // The client answered the close with its own (recorded only once its frames before it were).
    ASSERT_TRUE(hub.waitUntil([&] { return hub.clientCloseCodes().size() == 1; }, 10s));
    EXPECT_EQ(hub.clientCloseCodes()[0], 4001);
    std::vector<std::string> acks;
    for (const auto& frame : hub.receivedFrames()) {
        if (frame.text.substr(0, 4) == "ack ") {
            acks.push_back(frame.text);
        }
    }
    EXPECT_EQ(acks, expectedAcks);  // all of them, once each, in order, before our close answer
}

/// How the peer behaves when the last handle of a connection and its transport is let go.
struct PeerAtTheEnd {
    const char* name;
    enum class Fault { none, stopsReadingAfterLogin, stallsTheOpening } fault;
    bool writesWaiting;  ///< far more was written than the peer's buffers take
    bool transportFirst;
};

const PeerAtTheEnd kPeersAtTheEnd[] = {
    {"answers the close", PeerAtTheEnd::Fault::none, false, false},
    {"reads nothing after the login", PeerAtTheEnd::Fault::stopsReadingAfterLogin, false, false},
    {"reads nothing after the login, transport let go first",
     PeerAtTheEnd::Fault::stopsReadingAfterLogin, false, true},
    {"reads nothing while our writes wait", PeerAtTheEnd::Fault::stopsReadingAfterLogin, true,
     false},
    {"never answers the opening", PeerAtTheEnd::Fault::stallsTheOpening, false, false},
};

/// Opens a connection to `service` as `peer` says, lets its handle and its transport go, and
/// returns how long that held the caller. `false` in `ok` when the set-up failed.
std::chrono::steady_clock::duration openAndLetGo(test::LocalMeetingService& service,
                                                 const PeerAtTheEnd& peer, bool& ok) {
    ok = false;
    auto& hub = service.roomSocket();
    if (peer.fault == PeerAtTheEnd::Fault::stopsReadingAfterLogin) {
        hub.stopReadingAfterLogin(1);
    } else if (peer.fault == PeerAtTheEnd::Fault::stallsTheOpening) {
        hub.stallHandshakes(1);
    }
    auto queue = MainQueue::create();
    auto transport = makeTlsWebSocketTransport(service.routing());
    std::vector<WebSocketEvent> events;
    auto connection =
        transport->makeConnection(requestFor("wss://meet.kivrane.com/ws"), queue,
                                  [&](const WebSocketEvent& event) { events.push_back(event); });
    connection->connect();
    if (peer.fault == PeerAtTheEnd::Fault::stallsTheOpening) {
        ok = hub.waitUntil([&] { return hub.stalledHandshakeCount() == 1; }, 10s);
    } else {
        ok = queue->runUntil([&] { return !events.empty(); }, 15s) &&
             events[0].kind == WebSocketEvent::Kind::connected;
        connection->write(R"({"event":"login","data":{"token":")" +
                          service.issueUserToken("user-2", "Bo") + R"("}})");
        ok = ok && queue->runUntil([&] { return events.size() == 2; }, 10s);  // login answer
    }
    if (peer.writesWaiting) {
        const std::string chunk(std::size_t{256} * 1024, 'w');
        for (int i = 0; i < 128; ++i) {
            connection->write(chunk);
        }
        queue->runFor(100ms);  // the writes reach the socket and stall there
    }
    const auto before = std::chrono::steady_clock::now();
    if (peer.transportFirst) {
        transport.reset();
    }
    connection.reset();
    transport.reset();
    return std::chrono::steady_clock::now() - before;
}

/// The connections' I/O threads of this process that are still running.
std::size_t ioThreadsRunning() {
    std::size_t count = 0;
    for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(task.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "kr.websocket" ? 1 : 0;
    }
    return count;
}

bool waitFor(const std::function<bool()>& done, std::chrono::steady_clock::duration limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

TEST(TlsWebSocketTransportIntegrationTest, LettingGoNeverWaitsForTheClosingHandshake) {
    for (const auto& peer : kPeersAtTheEnd) {
        test::LocalMeetingService service;
        bool ok = false;
        const auto held = openAndLetGo(service, peer, ok);
        ASSERT_TRUE(ok) << peer.name;
        EXPECT_LT(held, 200ms) << peer.name;
        // The closing goes on without the caller, within its bound, and ends the thread.
        if (peer.fault == PeerAtTheEnd::Fault::stopsReadingAfterLogin) {
            EXPECT_GE(ioThreadsRunning(), 1u) << peer.name;
        }
        EXPECT_TRUE(waitFor([] { return ioThreadsRunning() == 0; },
                            2 * WebSocketConnection::kCloseBound + 1s))
            << peer.name;
        if (peer.fault == PeerAtTheEnd::Fault::none) {
            auto& hub = service.roomSocket();
            ASSERT_TRUE(hub.waitUntil([&] { return hub.clientCloseCodes().size() == 1; }, 10s))
                << peer.name;
            EXPECT_EQ(hub.clientCloseCodes()[0], 1000) << peer.name;
        }
    }
}

TEST(TlsWebSocketTransportIntegrationTest, AKeptTransportRunsNoThreadBetweenItsConnections) {
    test::LocalMeetingService service;
    auto queue = MainQueue::create();
    auto transport = makeTlsWebSocketTransport(service.routing());
    EXPECT_EQ(ioThreadsRunning(), 0u);
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // Two at once share the threads the first started; once both are let go those end, and
        // the next connection starts them again.
        std::vector<WebSocketEvent::Kind> events;
        std::vector<std::shared_ptr<WebSocketConnection>> connections;
        std::size_t threadsOfOne = 0;
        for (int i = 0; i < 2; ++i) {
            connections.push_back(transport->makeConnection(
                requestFor("wss://meet.kivrane.com/ws"), queue,
                [&](const WebSocketEvent& event) { events.push_back(event.kind); }));
            connections.back()->connect();
            ASSERT_TRUE(queue->runUntil([&] { return events.size() == connections.size(); }, 15s));
            if (i == 0) threadsOfOne = ioThreadsRunning();
        }
        EXPECT_EQ(events, (std::vector{WebSocketEvent::Kind::connected,
                                       WebSocketEvent::Kind::connected}));
        EXPECT_GE(threadsOfOne, 1u);
        EXPECT_EQ(ioThreadsRunning(), threadsOfOne);
        connections.clear();
        EXPECT_TRUE(waitFor([] { return ioThreadsRunning() == 0; },
                            2 * WebSocketConnection::kCloseBound + 1s));
    }
}

/// When the process of `letGoAndExit` called `exit`.
std::chrono::steady_clock::time_point exitCalledAt;

/// In a process of its own: lets a connection go as `peer` says and exits straight away, with the
/// closing still under way. The service outlives the exit's wait for it.
[[noreturn]] void letGoAndExit(const PeerAtTheEnd& peer) {
    // Registered ahead of everything the transport sets up, so it runs after the exit's wait.
    std::atexit(+[] {
        if (std::chrono::steady_clock::now() - exitCalledAt >
            2 * WebSocketConnection::kCloseBound + 2s) {
            std::_Exit(2);
        }
        if (ioThreadsRunning() != 0) {
            std::_Exit(3);
        }
    });
    static test::LocalMeetingService service;
    bool ok = false;
    openAndLetGo(service, peer, ok);
    exitCalledAt = std::chrono::steady_clock::now();
    std::exit(ok ? 0 : 1);
}

TEST(TlsWebSocketTransportIntegrationTest, TheExitEndsAClosingStillUnderWayCleanly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const auto& peer : kPeersAtTheEnd) {
        // 1: the set-up failed; 2: the exit waited past the closing's bound; 3: an I/O thread ran
        // on past the exit's wait. A sanitizer's report (a leak, a race, a use after free)
        // changes the exit code as well.
        EXPECT_EXIT(letGoAndExit(peer), ::testing::ExitedWithCode(0), "") << peer.name;
    }
}

}  // namespace
}  // namespace kr::platform
