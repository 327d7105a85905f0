// The room socket resumes the TLS session the REST transport left for the same host name, never
// another host's, and still connects when the server refuses the session.

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "platform/Http/TlsSessionCache.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

class TlsSessionResumptionIntegrationTest : public ::testing::Test {
protected:
    HttpRouting routingTo(const test::LocalMeetingService& server) const {
        HttpRouting routing = server.routing();
        routing.tlsSessions = sessions;
        return routing;
    }

    void restCall(const test::LocalMeetingService& server, const std::string& host) {
        HttpTransportSettings settings;
        settings.routing = routingTo(server);
        auto transport = HttpTransport::create(std::move(settings));
        HttpRequest request;
        request.url = "https://" + host + "/api/unknown";
        std::optional<bool> answered;
        ASSERT_TRUE(transport
                        ->send(std::move(request), queue,
                               [&](HttpResult r) { answered = r.ok(); })
                        .ok());
        ASSERT_TRUE(queue->runUntil([&] { return answered.has_value(); }, 10s));
        ASSERT_TRUE(*answered) << host;
    }

    /// Opens a room socket to `host` on `server`; true once it connected.
    bool socketConnects(const test::LocalMeetingService& server, const std::string& host) {
        auto transport = makeTlsWebSocketTransport(routingTo(server));
        WebSocketRequest request;
        request.url = "wss://" + host + "/ws";
        request.timeout = 10s;
        std::optional<WebSocketEvent::Kind> first;
        auto connection = transport->makeConnection(std::move(request), queue,
                                                    [&](const WebSocketEvent& event) {
                                                        if (!first)
                                                            first = event.kind;
                                                    });
        connection->connect();
        const bool ended = queue->runUntil([&] { return first.has_value(); }, 15s);
        connection->disconnect(1000);
        return ended && *first == WebSocketEvent::Kind::connected;
    }

    static test::LocalHttpsServer::HandshakeCount handshakes(
        const test::LocalMeetingService& server, const std::string& host) {
        const auto all = server.tlsHandshakesByServerName();
        const auto it = all.find(host);
        return it == all.end() ? test::LocalHttpsServer::HandshakeCount{} : it->second;
    }

    std::shared_ptr<MainQueue> queue = MainQueue::create();
    std::shared_ptr<TlsSessionCache> sessions = std::make_shared<TlsSessionCache>();
    test::LocalMeetingService service;
};

TEST_F(TlsSessionResumptionIntegrationTest, SocketResumesTheSessionOfTheRestCallsToItsHost) {
    restCall(service, "meet.kivrane.com");
    ASSERT_TRUE(socketConnects(service, "meet.kivrane.com"));
    const auto count = handshakes(service, "meet.kivrane.com");
    EXPECT_EQ(count.total, 2u);
    EXPECT_EQ(count.resumed, 1u);
    // The socket kept its own session: the next socket resumes as well.
    ASSERT_TRUE(socketConnects(service, "meet.kivrane.com"));
    EXPECT_EQ(handshakes(service, "meet.kivrane.com").resumed, 2u);
}

TEST_F(TlsSessionResumptionIntegrationTest, NoSessionIsOfferedToAnotherHost) {
    restCall(service, "meet.kivrane.com");
    ASSERT_TRUE(socketConnects(service, "rcsocket.kivrane.com"));
    const auto count = handshakes(service, "rcsocket.kivrane.com");
    EXPECT_EQ(count.total, 1u);
    EXPECT_EQ(count.resumed, 0u);
}

TEST_F(TlsSessionResumptionIntegrationTest, RefusedSessionFallsBackToAFullHandshake) {
    // Another server under the same name cannot read the first one's session tickets.
    test::LocalMeetingService other;
    restCall(service, "meet.kivrane.com");
    ASSERT_TRUE(socketConnects(other, "meet.kivrane.com"));
    const auto count = handshakes(other, "meet.kivrane.com");
    EXPECT_EQ(count.total, 1u);
    EXPECT_EQ(count.resumed, 0u);
}

}  // namespace
}  // namespace kr::platform
