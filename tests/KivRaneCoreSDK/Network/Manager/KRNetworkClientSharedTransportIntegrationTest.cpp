#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "support/ClientTestDelegate.h"
#include "support/NetworkTestDependencies.h"
#include "support/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using Kind = KRApiRequestError::Kind;
using test::LocalHttpsServer;
using test::ServerReply;

struct AckRequest : KRAPIRequest<KRAPISuccess> {
    using KRAPIRequest::KRAPIRequest;
};

AckRequest leave() { return AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post); }

// Clients share a transport exactly when they share its pool of kept-alive connections, which
// the server sees: a second client's request arrives on the first one's connection.
class KRNetworkClientSharedTransportIntegrationTest : public ::testing::Test {
protected:
    KRNetworkClientSharedTransportIntegrationTest() {
        server.route("POST", "/api/leaveall/guest", ServerReply::json(200, R"({"success":true})"));
    }

    /// Sends through `client` and runs the main queue until the completion arrived.
    Result<KRAPISuccess, KRApiRequestError> send(KRNetworkClient& client) {
        std::optional<AckRequest> done;
        client.sendAPIRequest<AckRequest>(leave(), [&](AckRequest r) { done.emplace(std::move(r)); });
        EXPECT_TRUE(main->runUntil([&] { return done.has_value(); }, 10s));
        if (!done) {
            return Failure{KRApiRequestError::unKnown()};
        }
        return done->getResult();
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    LocalHttpsServer server;
    const KRDependencies value = test::networkDependencies(main, server.routing());
};

TEST_F(KRNetworkClientSharedTransportIntegrationTest, ClientsOfOneValueShareOneTransport) {
    struct Row {
        const char* name;
        std::function<KRDependencies(const KRDependencies&)> second;
        std::uint64_t connections;
    };
    const std::vector<Row> rows = {
        {"a copy of the value", [](const KRDependencies& v) { return v; }, 1},
        {"a value of its own",
         [this](const KRDependencies&) {
             return test::networkDependencies(main, server.routing());
         },
         2},
        {"a copy routed otherwise",
         [](const KRDependencies& v) {
             KRDependencies other = v;
             other.routing.maxTimeout = 5s;
             return other;
         },
         2},
        {"a copy without the share",
         [](const KRDependencies& v) {
             KRDependencies other = v;
             other.httpTransports = nullptr;
             return other;
         },
         2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto connectionsBefore = server.connectionCount();
        auto first = KRNetworkClient::create(value);
        auto second = KRNetworkClient::create(row.second(value));
        ASSERT_TRUE(send(*first).ok());
        ASSERT_TRUE(send(*second).ok());
        EXPECT_EQ(server.connectionCount() - connectionsBefore, row.connections);
    }
}

TEST_F(KRNetworkClientSharedTransportIntegrationTest,
       DestroyingOneClientLeavesEveryRequestInFlightRunning) {
    ServerReply slow = ServerReply::json(200, R"({"success":true})");
    slow.delay = 300ms;
    server.route("POST", "/api/joinCall/guest", slow);
    auto leaving = KRNetworkClient::create(value);
    auto staying = KRNetworkClient::create(value);
    const std::weak_ptr<KRNetworkClient> watchLeaving = leaving;

    std::vector<std::optional<Result<KRAPISuccess, KRApiRequestError>>> outcomes(2);
    int calls = 0;
    for (std::size_t i = 0; i < 2; ++i) {
        auto& client = i == 0 ? *leaving : *staying;
        client.sendAPIRequest<AckRequest>(AckRequest(KRAPIPath::joinCall(), KRHTTPMethod::post),
                                          [&, i](AckRequest r) {
                                              ++calls;
                                              outcomes[i] = r.getResult();
                                          });
    }
    ASSERT_TRUE(server.waitForRequests(2, 5s));
    leaving.reset();
    EXPECT_TRUE(watchLeaving.expired());
    ASSERT_TRUE(main->runUntil([&] { return calls == 2; }, 10s));
    main->runFor(50ms);
    EXPECT_EQ(calls, 2);  // each once
    ASSERT_TRUE(outcomes[1]->ok()) << outcomes[1]->error().getMessageString();
    // The gone client's request ran to its end as well; its completion held nothing of it.
    EXPECT_TRUE(outcomes[0]->ok());
    // Both connections stayed in the one pool: a client joining now finds one kept alive.
    const auto connections = server.connectionCount();
    auto joining = KRNetworkClient::create(value);
    ASSERT_TRUE(send(*joining).ok());
    EXPECT_EQ(server.connectionCount(), connections);
}

TEST_F(KRNetworkClientSharedTransportIntegrationTest, TheTransportEndsWithTheLastClient) {
    auto a = KRNetworkClient::create(value);
    auto b = KRNetworkClient::create(value);
    ASSERT_TRUE(send(*a).ok());
    a.reset();
    ASSERT_TRUE(send(*b).ok());
    EXPECT_EQ(server.connectionCount(), 1u);  // b still had a's transport and connection
    b.reset();
    // Nothing keeps the transport now: the next client of the value connects afresh.
    auto c = KRNetworkClient::create(value);
    ASSERT_TRUE(send(*c).ok());
    EXPECT_EQ(server.connectionCount(), 2u);
}

// The defaults a meeting client fills in (its TLS session cache among them) keep the clients of
// one value sending over one transport.
TEST_F(KRNetworkClientSharedTransportIntegrationTest, MeetingClientsOfOneValueShareOneTransport) {
    test::ScopedTempDirectory storage;
    KRDependencies deps = value;
    deps.reachability = test::quietReachability();
    deps.storageDirectory = storage.path();
    deps.mediaBus = platform::MediaBus::create();
    deps.messagingService = platform::MessagingService::create();
    auto first = KRClient::create(deps);
    auto second = KRClient::create(deps);
    ASSERT_TRUE(send(*first->networkClient()).ok());
    ASSERT_TRUE(send(*second->networkClient()).ok());
    EXPECT_EQ(server.connectionCount(), 1u);
}

// Clients of one value hear the same connectivity reports; a client made while the network is
// away must not declare the shared transport online before it has heard any report.
TEST_F(KRNetworkClientSharedTransportIntegrationTest, ALaterClientKeepsTheConnectivityAsTold) {
    KRDependencies capped = value;
    capped.routing.maxTimeout = 300ms;
    auto first = KRNetworkClient::create(capped);
    first->didNetworkStateChanged(false);
    auto later = KRNetworkClient::create(capped);
    const auto offline = send(*later);
    ASSERT_FALSE(offline.ok());
    EXPECT_EQ(offline.error().kind(), Kind::networkFailure);
    EXPECT_EQ(server.requestCount(), 0u);

    first->didNetworkStateChanged(true);
    first.reset();  // going away changes nothing for the other
    EXPECT_TRUE(send(*later).ok());
    EXPECT_EQ(server.requestCount(), 1u);
}

}  // namespace
}  // namespace kr
