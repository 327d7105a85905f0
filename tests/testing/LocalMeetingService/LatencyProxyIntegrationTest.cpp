// The latency proxy the join benchmark runs through: every exchange pays its round trips and the
// bytes pass whole and in order. Real sockets and a real clock, so only lower bounds are checked
// (they hold however loaded the machine is).

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/LatencyProxy.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(LatencyScheduleTest, DelaysInOrderAndHoldsTheFirstChunkForTheHandshake) {
    const Clock::time_point t0{};
    LatencySchedule schedule(10ms, 20ms);
    const struct {
        Clock::duration arrival;
        Clock::duration release;
    } chunks[] = {
        {0ms, 30ms},   // first: half a round trip plus the handshake's round trip
        {5ms, 30ms},   // never before the chunk ahead of it
        {25ms, 35ms},  // then half a round trip after arrival
        {25ms, 35ms},
        {100ms, 110ms},
    };
    for (const auto& chunk : chunks) {
        EXPECT_EQ(schedule.releaseAt(t0 + chunk.arrival) - t0, chunk.release)
            << "arrival at " << std::chrono::duration_cast<std::chrono::milliseconds>(chunk.arrival).count()
            << " ms";
    }
}

/// A local server answering GET `path` with `body`, reached through a latency proxy by a transport
/// that asks for no compression (the bytes pass as the server wrote them).
struct ProxiedServer {
    ProxiedServer(std::chrono::milliseconds roundTrip, const std::string& path, std::string body)
        : proxy(server.port(), roundTrip), url("https://meet.kivrane.com" + path) {
        server.route("GET", path, ServerReply::json(200, std::move(body)));
        platform::HttpTransportSettings settings;
        settings.routing = proxy.routing(server.routing());
        settings.acceptEncoding.clear();
        transport = platform::HttpTransport::create(std::move(settings));
    }

    /// One GET, the queue run until its reply came (at most 20 s).
    std::optional<platform::HttpResult> get() {
        platform::HttpRequest request;
        request.url = url;
        std::optional<platform::HttpResult> result;
        EXPECT_TRUE(transport
                        ->send(std::move(request), main,
                               [&](platform::HttpResult r) { result = std::move(r); })
                        .ok());
        EXPECT_TRUE(main->runUntil([&] { return result.has_value(); }, 20s));
        return result;
    }

    LocalHttpsServer server;
    LatencyProxy proxy;
    const std::string url;
    std::shared_ptr<platform::HttpTransport> transport;
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
};

TEST(LatencyProxyIntegrationTest, EveryExchangePaysItsRoundTripsAndBytesPassInOrder) {
    constexpr auto kRoundTrip = 60ms;
    std::string big(512 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) {
        big[i] = static_cast<char>('a' + i % 23);
    }
    ProxiedServer proxied(kRoundTrip, "/big", big);

    const auto exchange = [&] {
        const auto start = Clock::now();
        const auto result = proxied.get();
        const auto elapsed = Clock::now() - start;
        EXPECT_TRUE(result && result->ok() && result->value().body == big);
        return elapsed;
    };
    // A new connection: TCP handshake, TLS handshake, then the request.
    EXPECT_GE(exchange(), 3 * kRoundTrip);
    // The same connection again: the request's round trip only.
    EXPECT_GE(exchange(), kRoundTrip);
    EXPECT_EQ(proxied.server.connectionCount(), 1u);
}

// Half of an odd number of milliseconds is not a whole millisecond: the delay of each direction
// must not be rounded down, or a short round trip would cost less than asked, or nothing.
TEST(LatencyProxyIntegrationTest, AnOddRoundTripIsPaidWhole) {
    constexpr auto kRoundTrip = 1ms;
    constexpr int kExchanges = 20;
    ProxiedServer proxied(kRoundTrip, "/x", "{}");
    const auto opening = proxied.get();
    ASSERT_TRUE(opening && opening->ok());
    const auto start = Clock::now();
    for (int i = 0; i < kExchanges; ++i) {
        const auto result = proxied.get();
        ASSERT_TRUE(result && result->ok());
    }
    EXPECT_GE(Clock::now() - start, kExchanges * kRoundTrip);
}

}  // namespace
}  // namespace kr::test
