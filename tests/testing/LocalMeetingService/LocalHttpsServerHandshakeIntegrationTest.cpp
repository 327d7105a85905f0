// The local server's handshake counter, which the join benchmark reads to tell whether a client
// reuses its connections: one handshake per connection, keyed by the name the client asked for.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::test {
namespace {

using namespace std::chrono_literals;

class LocalHttpsServerHandshakeIntegrationTest : public ::testing::Test {
protected:
    void exchange(platform::HttpTransport& transport, const std::string& url) {
        platform::HttpRequest request;
        request.url = url;
        std::optional<bool> ok;
        ASSERT_TRUE(
            transport.send(std::move(request), main, [&](platform::HttpResult r) { ok = r.ok(); })
                .ok());
        ASSERT_TRUE(main->runUntil([&] { return ok.has_value(); }, 10s));
        EXPECT_TRUE(*ok) << url;
    }

    std::shared_ptr<platform::HttpTransport> makeTransport() {
        platform::HttpTransportSettings settings;
        settings.routing = server.routing();
        return platform::HttpTransport::create(std::move(settings));
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    LocalHttpsServer server;
};

TEST_F(LocalHttpsServerHandshakeIntegrationTest, CountsOneHandshakePerConnectionAndServerName) {
    server.route("GET", "/ping", ServerReply::json(200, "{}"));
    EXPECT_EQ(server.tlsHandshakeCount(), 0u);

    auto first = makeTransport();
    for (int i = 0; i < 3; ++i) {
        exchange(*first, "https://meet.kivrane.com/ping");
    }
    exchange(*first, "https://rc.kivrane.com/ping");
    // Another client cannot share the first one's connection.
    auto second = makeTransport();
    exchange(*second, "https://meet.kivrane.com/ping");

    const auto byName = server.tlsHandshakesByServerName();
    ASSERT_EQ(byName.size(), 2u);
    EXPECT_EQ(byName.at("meet.kivrane.com").total, 2u);
    EXPECT_EQ(byName.at("rc.kivrane.com").total, 1u);
    EXPECT_EQ(server.tlsHandshakeCount(), 3u);
    EXPECT_EQ(server.tlsHandshakeCount(), server.connectionCount());
}

}  // namespace
}  // namespace kr::test
