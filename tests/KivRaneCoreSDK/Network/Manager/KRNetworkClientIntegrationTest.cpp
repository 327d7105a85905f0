#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "support/ClientTestDelegate.h"
#include "support/NetworkTestDependencies.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using Kind = KRApiRequestError::Kind;
using test::LocalHttpsServer;
using test::ServerReply;

struct AckRequest : KRAPIRequest<KRAPISuccess> {
    using KRAPIRequest::KRAPIRequest;
};

class KRNetworkClientIntegrationTest : public ::testing::Test {
protected:
    /// Sends through the client and runs the main queue until the completion arrived.
    AckRequest send(const AckRequest& request) {
        std::optional<AckRequest> done;
        client->sendAPIRequest<AckRequest>(request, [&](AckRequest r) {
            EXPECT_TRUE(main->isCurrent());
            done.emplace(std::move(r));
        });
        EXPECT_TRUE(main->runUntil([&] { return done.has_value(); }, 10s));
        return done ? std::move(*done) : request;
    }

    /// Replaces the client with one whose requests time out after `cap`.
    void capTimeouts(std::chrono::milliseconds cap) {
        auto routing = server.routing();
        routing.maxTimeout = cap;
        client = KRNetworkClient::create(test::networkDependencies(main, routing));
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    LocalHttpsServer server;
    std::shared_ptr<KRNetworkClient> client =
        KRNetworkClient::create(test::networkDependencies(main, server.routing()));
};

TEST_F(KRNetworkClientIntegrationTest, ExactRequestOnTheWireAndDecodedReplyOnTheMainQueue) {
    server.route("POST", "/api/roomconnectionstatus/control/audio",
                 ServerReply::json(200, R"({"success":true})"));
    client->configureEnvironment(KRApiServer::staging);
    client->setJwtToken("eyJhbGciOi.payload.sig");
    client->setDeviceId("0A1B2C3D-0000-4000-8000-000000000001");
    client->setCurrentUserType(KRCurrentUserType::loggedIn);

    const AckRequest request(KRAPIPath::muteUnmuteLocalAudio(), KRHTTPMethod::post,
                             {{"os_type", "ios"}, {"limit", 20}},
                             {{"meetingId", "m-1"}, {"audio", false}});
    const AckRequest answered = send(request);

    ASSERT_TRUE(answered.getResult().ok());
    EXPECT_TRUE(answered.getResult().value().isSuccess());
    EXPECT_FALSE(request.response.has_value());  // the caller's value is untouched

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    const auto& r = received[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/api/roomconnectionstatus/control/audio");
    EXPECT_EQ(r.query, "os_type=ios&limit=20");
    EXPECT_EQ(r.header("Host"), std::string(rawValue(KRApiServer::staging)));
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("deviceId"), "0A1B2C3D-0000-4000-8000-000000000001");
    EXPECT_EQ(r.header("authorization"), "eyJhbGciOi.payload.sig");
    EXPECT_EQ(r.header("Accept-Encoding"), "gzip, deflate, br");
    EXPECT_EQ(r.header("Connection"), "keep-alive");
    EXPECT_EQ(r.header("User-Agent"), KRApiRequestManager::userAgent());
    EXPECT_EQ(boost::json::parse(r.body),
              boost::json::parse(R"({"meetingId":"m-1","audio":false})"));
}

TEST_F(KRNetworkClientIntegrationTest, NewClientIsAGuestOnProductionWithEmptyCredentials) {
    server.route("GET", "/api/roomconnectionstatus/get/guest", ServerReply::json(200, ""));
    const auto answered = send(AckRequest(KRAPIPath::getRoomConnectionStatus(), KRHTTPMethod::get));
    EXPECT_TRUE(answered.getResult().ok());  // empty 2xx reads as {"success":true}

    const auto r = server.requests().at(0);
    EXPECT_EQ(r.header("Host"), std::string(rawValue(KRApiServer::production)));
    EXPECT_EQ(r.header("deviceId"), "");
    EXPECT_EQ(r.headerCount("authorization"), 0u);
    EXPECT_FALSE(r.hasQuery);
    EXPECT_TRUE(r.body.empty());
}

TEST_F(KRNetworkClientIntegrationTest, OutcomesOfTheExchange) {
    struct Row {
        const char* path;
        ServerReply reply;
        std::optional<Kind> failure;
        std::string message;
        std::string code;
    };
    ServerReply gzipped = ServerReply::json(200, R"({"success":true})");
    gzipped.gzip = true;
    ServerReply late = ServerReply::json(200, R"({"success":true})");
    late.delay = 2s;
    const std::vector<Row> rows = {
        {"/gzip", gzipped, std::nullopt, "", ""},
        {"/locked", ServerReply::json(403, R"({"message":"ROOMLOCKED","errors":"Room is locked"})"),
         Kind::failedApi, "Room is locked", "ROOMLOCKED"},
        {"/broken", ServerReply::json(502, "<html/>"), Kind::serverError,
         "Server Error. Please try again after sometime.", "UNKNOWN_ERROR"},
        {"/undecodable", ServerReply::json(200, R"({"success":"yes"})"), Kind::unKnown,
         "Undefined Error.", "UNKNOWN_ERROR"},
        {"/dropped", ServerReply::dropped(), Kind::networkFailure,
         "Please check your internet connection.", "NO_NETWORK"},
        {"/late", late, Kind::networkFailure, "Please check your internet connection.",
         "NO_NETWORK"},
    };
    capTimeouts(300ms);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        server.route("POST", std::string("/api/rooms") + row.path + "/whiteboard", row.reply);
        const auto answered =
            send(AckRequest(KRAPIPath::startRemoteWhiteboard(row.path + 1), KRHTTPMethod::post));
        const auto result = answered.getResult();
        if (!row.failure) {
            ASSERT_TRUE(result.ok()) << result.error().getMessageString();
            continue;
        }
        ASSERT_FALSE(result.ok());
        EXPECT_EQ(result.error().kind(), *row.failure);
        EXPECT_EQ(result.error().getMessageString(), row.message);
        EXPECT_EQ(result.error().getErrorCode(), row.code);
    }
}

// A server that takes a POST on a kept-alive connection and closes it without answering may
// have acted on it: the caller gets a network failure, and the server has seen the POST once.
TEST_F(KRNetworkClientIntegrationTest, PostOnAConnectionThatDiesReachesTheServerOnce) {
    server.route("POST", "/api/rooms/warm/whiteboard",
                 ServerReply::json(200, R"({"success":true})"));
    server.route("POST", "/api/rooms/gone/whiteboard", ServerReply::dropped());
    ASSERT_TRUE(send(AckRequest(KRAPIPath::startRemoteWhiteboard("warm"), KRHTTPMethod::post))
                    .getResult()
                    .ok());

    const auto result = send(AckRequest(KRAPIPath::startRemoteWhiteboard("gone"),
                                        KRHTTPMethod::post, {}, {{"message", "hello"}}))
                            .getResult();
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind(), Kind::networkFailure);
    const auto received = server.requests();
    EXPECT_EQ(std::count_if(received.begin(), received.end(),
                            [](const auto& r) { return r.path == "/api/rooms/gone/whiteboard"; }),
              1);
}

TEST_F(KRNetworkClientIntegrationTest, CompletionsFollowTheOrderRepliesArrive) {
    ServerReply slow = ServerReply::json(200, R"({"success":false})");
    slow.delay = 300ms;
    server.route("POST", "/api/recording/start", slow);
    server.route("POST", "/api/recording/stop", ServerReply::json(200, R"({"success":true})"));
    std::vector<std::string> order;
    for (auto path : {KRAPIPath::startRecording(), KRAPIPath::stopRecording()}) {
        client->sendAPIRequest<AckRequest>(AckRequest(path, KRHTTPMethod::post), [&](AckRequest r) {
            order.push_back(r.path.getPath(false));
        });
    }
    ASSERT_TRUE(main->runUntil([&] { return order.size() == 2; }, 10s));
    EXPECT_EQ(order, (std::vector<std::string>{"recording/stop", "recording/start"}));
}

TEST_F(KRNetworkClientIntegrationTest,
       DestroyingTheClientMidFlightCompletesOnceWithNetworkFailure) {
    ServerReply hang = ServerReply::json(200, R"({"success":true})");
    hang.delay = 10s;
    server.route("POST", "/api/leaveall/guest", hang);
    int calls = 0;
    std::optional<KRApiRequestError> error;
    std::weak_ptr<KRNetworkClient> watcher = client;
    client->sendAPIRequest<AckRequest>(AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post),
                                       [&](AckRequest r) {
                                           ++calls;
                                           EXPECT_TRUE(watcher.expired());
                                           if (!r.getResult().ok()) {
                                               error = r.getResult().error();
                                           }
                                       });
    ASSERT_TRUE(server.waitForRequests(1, 5s));
    client.reset();
    main->runFor(200ms);
    EXPECT_EQ(calls, 1);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind(), Kind::networkFailure);
}

TEST_F(KRNetworkClientIntegrationTest, OfflineSendWaitsBoundedThenFailsAndRecoversWhenOnline) {
    server.route("POST", "/api/leaveall/guest", ServerReply::json(200, R"({"success":true})"));
    capTimeouts(300ms);
    std::vector<bool> reports;
    client->setOnNetworkStateChanged([&](bool connected) { reports.push_back(connected); });

    client->didNetworkStateChanged(false);
    EXPECT_TRUE(reports.empty());  // told on the queue, not inside the report from outside it
    const auto offline = send(AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post));
    ASSERT_FALSE(offline.getResult().ok());
    EXPECT_EQ(offline.getResult().error().kind(), Kind::networkFailure);
    EXPECT_EQ(server.requestCount(), 0u);

    client->didNetworkStateChanged(true);
    client->didNetworkStateChanged(true);
    EXPECT_TRUE(send(AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post)).getResult().ok());
    EXPECT_EQ(reports, (std::vector<bool>{false, true, true}));
}

TEST_F(KRNetworkClientIntegrationTest, ASendWaitingOfflineGoesOutWhenAnotherThreadReportsTheNetwork) {
    server.route("POST", "/api/leaveall/guest", ServerReply::json(200, R"({"success":true})"));
    capTimeouts(5s);
    client->didNetworkStateChanged(false);
    std::optional<AckRequest> done;
    client->sendAPIRequest<AckRequest>(AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post),
                                       [&](AckRequest r) { done.emplace(std::move(r)); });
    main->runFor(150ms);
    EXPECT_FALSE(done.has_value());
    EXPECT_EQ(server.requestCount(), 0u);

    // As a reachability handler announcing on its own queue would: the send already waiting
    // goes out, well within its time-out.
    const auto reported = std::chrono::steady_clock::now();
    std::thread([client = client] { client->didNetworkStateChanged(true); }).join();
    ASSERT_TRUE(main->runUntil([&] { return done.has_value(); }, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - reported, 2s);
    EXPECT_TRUE(done->getResult().ok());
    EXPECT_EQ(server.requestCount(), 1u);
}

TEST_F(KRNetworkClientIntegrationTest, UnbuildableRequestFailsLaterOnTheQueueWithoutTheNetwork) {
    client->setJwtToken("token\r\nX-Injected: yes");
    std::optional<AckRequest> done;
    client->sendAPIRequest<AckRequest>(AckRequest(KRAPIPath::getConfiguration(), KRHTTPMethod::get),
                                       [&](AckRequest r) {
                                           EXPECT_TRUE(main->isCurrent());
                                           done.emplace(std::move(r));
                                       });
    EXPECT_FALSE(done.has_value());  // never inside the call that caused it
    EXPECT_EQ(main->runPending(), 1u);
    ASSERT_TRUE(done.has_value());
    EXPECT_EQ(done->getResult().error().kind(), Kind::invalidUrlRequest);
    main->runFor(50ms);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(KRNetworkClientIntegrationTest, SettingsAreReadWhenEachRequestIsSent) {
    server.route("POST", "/api/joinCall/guest", ServerReply::json(200, R"({"success":true})"));
    int done = 0;
    for (int i = 0; i < 3; ++i) {
        client->setJwtToken("jwt-" + std::to_string(i));
        client->sendAPIRequest<AckRequest>(AckRequest(KRAPIPath::joinCall(), KRHTTPMethod::post),
                                           [&](AckRequest) { ++done; });
    }
    client->setCurrentUserType(KRCurrentUserType::loggedIn);  // after the sends: no effect on them
    ASSERT_TRUE(main->runUntil([&] { return done == 3; }, 10s));
    std::vector<std::string> tokens;
    for (const auto& r : server.requests()) {
        EXPECT_EQ(r.path, "/api/joinCall/guest");
        tokens.push_back(r.header("authorization").value_or(""));
    }
    std::sort(tokens.begin(), tokens.end());
    EXPECT_EQ(tokens, (std::vector<std::string>{"jwt-0", "jwt-1", "jwt-2"}));
}

AckRequest leave() {
    return AckRequest(KRAPIPath::leaveMeeting(), KRHTTPMethod::post);
}

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
        client.sendAPIRequest<AckRequest>(leave(),
                                          [&](AckRequest r) { done.emplace(std::move(r)); });
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
    ASSERT_TRUE(send(*internals(first).networkClient()).ok());
    ASSERT_TRUE(send(*internals(second).networkClient()).ok());
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
