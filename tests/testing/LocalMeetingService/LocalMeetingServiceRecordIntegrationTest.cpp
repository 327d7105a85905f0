#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::test {
namespace {

using namespace std::chrono_literals;

// A service that runs for long (a load benchmark, the example host) keeps the newest requests and
// frames only, while its counts still cover everything it received.

TEST(LocalMeetingServiceRecordIntegrationTest, RequestRecordsKeepTheNewestUpToTheirCaps) {
    LocalMeetingService service;
    auto main = platform::MainQueue::create();
    platform::HttpTransportSettings settings;
    settings.routing = service.routing();
    auto transport = platform::HttpTransport::create(settings);

    // One after another, so that arrival order is the order sent.
    constexpr std::size_t kSent = LocalHttpsServer::kMaxRecordedRequests + 40;
    std::size_t completed = 0;
    std::function<void()> sendNext = [&] {
        platform::HttpRequest request;
        request.url = "https://meet.kivrane.com/api/config?n=" + std::to_string(completed);
        ASSERT_TRUE(transport
                        ->send(std::move(request), main,
                               [&](platform::HttpResult result) {
                                   ASSERT_TRUE(result.ok()) << result.error().message;
                                   if (++completed < kSent) {
                                       sendNext();
                                   }
                               })
                        .ok());
    };
    sendNext();
    ASSERT_TRUE(main->runUntil([&] { return completed == kSent; }, 120s)) << completed;

    const struct {
        const char* store;
        std::vector<RecordedRequest> kept;
        std::size_t cap;
    } table[] = {
        {"server", service.allRequests(), LocalHttpsServer::kMaxRecordedRequests},
        {"route", service.requests(MeetingServiceRoute::configuration),
         LocalMeetingService::kMaxRecordedRequestsPerRoute},
    };
    for (const auto& row : table) {
        ASSERT_EQ(row.kept.size(), row.cap) << row.store;
        EXPECT_EQ(row.kept.front().query, "n=" + std::to_string(kSent - row.cap)) << row.store;
        EXPECT_EQ(row.kept.back().query, "n=" + std::to_string(kSent - 1)) << row.store;
    }
    EXPECT_EQ(service.requestCount(MeetingServiceRoute::configuration), kSent);
}

TEST(LocalMeetingServiceRecordIntegrationTest, FrameRecordKeepsTheNewestUpToItsCap) {
    LocalMeetingService service;
    auto& hub = service.roomSocket();
    auto main = platform::MainQueue::create();
    auto transport = platform::makeTlsWebSocketTransport(
        {{"::127.0.0.1:" + std::to_string(service.port())}, service.caFile(), {}});
    platform::WebSocketRequest request;
    request.url = "wss://meet.kivrane.com/ws";
    request.timeout = 10s;
    bool connected = false;
    auto connection =
        transport->makeConnection(request, main, [&](const platform::WebSocketEvent& event) {
            connected = connected || event.kind == platform::WebSocketEvent::Kind::connected;
        });
    connection->connect();
    ASSERT_TRUE(main->runUntil([&] { return connected; }, 15s));

    constexpr std::size_t kSent = RoomSocketHub::kMaxRecordedFrames + 10;
    // In rounds that stay within what the connection queues for writing.
    constexpr std::size_t kRound = platform::WebSocketConnection::kMaxQueuedWrites / 2;
    for (std::size_t sent = 0; sent < kSent;) {
        for (const std::size_t end = std::min(kSent, sent + kRound); sent < end; ++sent) {
            connection->write("frame " + std::to_string(sent));
        }
        ASSERT_TRUE(hub.waitUntil([&] { return hub.receivedFrameCount() == sent; }, 10s))
            << hub.receivedFrameCount() << " of " << sent;
    }
    const auto kept = hub.receivedFrames();
    ASSERT_EQ(kept.size(), RoomSocketHub::kMaxRecordedFrames);
    EXPECT_EQ(kept.front().text, "frame 10");
    EXPECT_EQ(kept.back().text, "frame " + std::to_string(kSent - 1));
    connection->disconnect(1000);
}

}  // namespace
}  // namespace kr::test
