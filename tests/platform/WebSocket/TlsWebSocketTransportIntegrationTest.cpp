#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

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
            WebSocketRequest{row.url, 10s}, queue,
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
        transport->makeConnection(WebSocketRequest{"wss://meet.kivrane.com/ws", 10s}, queue,
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

}  // namespace
}  // namespace kr::platform
