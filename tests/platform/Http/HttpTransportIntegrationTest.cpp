#include "platform/Http/HttpTransport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;
using test::LocalHttpsServer;
using test::RecordedRequest;
using test::ServerReply;

/// Threads of this process, as the kernel counts them.
int processThreadCount() {
    std::ifstream status("/proc/self/status");
    std::string field;
    while (status >> field) {
        if (field == "Threads:") {
            int count = 0;
            status >> count;
            return count;
        }
    }
    return -1;
}

class HttpTransportIntegrationTest : public ::testing::Test {
protected:
    /// Sends on the main queue and runs it until the completion arrived.
    HttpResult exchange(HttpTransport& transport, HttpRequest request) {
        std::optional<HttpResult> outcome;
        auto sent = transport.send(std::move(request), main,
                                   [&](HttpResult r) { outcome.emplace(std::move(r)); });
        EXPECT_TRUE(sent.ok());
        EXPECT_TRUE(main->runUntil([&] { return outcome.has_value(); }, 10s));
        return outcome ? std::move(*outcome)
                       : HttpResult(Failure{HttpError{HttpErrorCode::other, "no completion"}});
    }

    static HttpRequest get(std::string path) {
        HttpRequest request;
        request.url = "https://meet.kivrane.com" + std::move(path);
        return request;
    }

    /// A transport routed to the local server.
    std::shared_ptr<HttpTransport> makeTransport(HttpTransportSettings settings = {}) {
        settings.routing = server.routing();
        return HttpTransport::create(std::move(settings));
    }

    std::shared_ptr<MainQueue> main = MainQueue::create();
    LocalHttpsServer server;
};

TEST_F(HttpTransportIntegrationTest, SendsExactHeadersAndBodyOverHttp11) {
    server.route("POST", "/echo", ServerReply::json(201, R"({"ok":true})"));
    HttpTransportSettings settings;
    settings.sessionHeaders = {{"User-Agent", "Tester/1 (x)"}, {"Connection", "keep-alive"}};
    auto transport = makeTransport(settings);

    HttpRequest request = get("/echo?a=1&b=%20");
    request.method = "POST";
    request.headers = {{"Content-Type", "application/json"}, {"deviceId", ""}, {"X-Token", "t"}};
    request.body = R"({"k":"v"})";
    const auto result = exchange(*transport, request);

    ASSERT_TRUE(result.ok()) << result.error().message;
    EXPECT_EQ(result.value().status, 201);
    EXPECT_EQ(result.value().body, R"({"ok":true})");
    EXPECT_EQ(findHeader(result.value().headers, "content-type"), "application/json");

    const auto received = server.requests();
    ASSERT_EQ(received.size(), 1u);
    const RecordedRequest& r = received[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.version, 11u);
    EXPECT_EQ(r.path, "/echo");
    EXPECT_EQ(r.query, "a=1&b=%20");
    EXPECT_EQ(r.body, R"({"k":"v"})");
    EXPECT_EQ(r.header("Host"), "meet.kivrane.com");
    EXPECT_EQ(r.header("User-Agent"), "Tester/1 (x)");
    EXPECT_EQ(r.header("Connection"), "keep-alive");
    EXPECT_EQ(r.header("Accept-Encoding"), "gzip, deflate, br");
    EXPECT_EQ(r.header("Content-Type"), "application/json");
    EXPECT_EQ(r.header("deviceId"), "");  // an empty value is still sent
    EXPECT_EQ(r.header("X-Token"), "t");
    EXPECT_EQ(r.headerCount("Expect"), 0u);
}

TEST_F(HttpTransportIntegrationTest, GetAndPostWithoutBody) {
    server.route("*", "/plain", ServerReply::json(200, "{}"));
    auto transport = makeTransport();
    for (const char* method : {"GET", "DELETE", "PUT", "POST"}) {
        HttpRequest request = get("/plain");
        request.method = method;
        ASSERT_TRUE(exchange(*transport, request).ok()) << method;
    }
    const auto received = server.requests();
    ASSERT_EQ(received.size(), 4u);
    for (const auto& r : received) {
        EXPECT_TRUE(r.body.empty()) << r.method;
    }
    EXPECT_EQ(received[1].method, "DELETE");
    EXPECT_EQ(received[3].header("Content-Length"), "0");
}

TEST_F(HttpTransportIntegrationTest, DecodesGzipRepliesAndReusesOneConnection) {
    ServerReply compressed = ServerReply::json(200, std::string(2000, 'x'));
    compressed.gzip = true;
    server.route("GET", "/gz", compressed);
    auto transport = makeTransport();
    for (int i = 0; i < 5; ++i) {
        const auto result = exchange(*transport, get("/gz"));
        ASSERT_TRUE(result.ok()) << result.error().message;
        EXPECT_EQ(result.value().body, std::string(2000, 'x'));
    }
    EXPECT_EQ(server.connectionCount(), 1u);
}

TEST_F(HttpTransportIntegrationTest, FollowsRedirectsOnlyToHttps) {
    ServerReply toHttps = ServerReply::json(302, "");
    toHttps.headers = {{"Location", "https://rc.kivrane.com/target"}};
    ServerReply toHttp = ServerReply::json(302, "");
    toHttp.headers = {{"Location", "http://rc.kivrane.com/target"}};
    server.route("GET", "/secure", toHttps);
    server.route("GET", "/insecure", toHttp);
    server.route("GET", "/target", ServerReply::json(200, R"("arrived")"));
    auto transport = makeTransport();

    const auto followed = exchange(*transport, get("/secure"));
    ASSERT_TRUE(followed.ok());
    EXPECT_EQ(followed.value().body, R"("arrived")");

    const auto refused = exchange(*transport, get("/insecure"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, HttpErrorCode::tooManyRedirects);
    EXPECT_EQ(server.requestCount(), 3u);  // /secure, /target, /insecure: never the http target
}

TEST_F(HttpTransportIntegrationTest, CertificateAndHostNameAreVerified) {
    server.route("GET", "/x", ServerReply::json(200, "{}"));
    auto transport = makeTransport();

    // A host the certificate does not name.
    const auto wrongHost = exchange(*transport, [] {
        HttpRequest r;
        r.url = "https://api.example.org/x";
        return r;
    }());
    ASSERT_FALSE(wrongHost.ok());
    EXPECT_EQ(wrongHost.error().code, HttpErrorCode::secureConnectionFailed);

    // The right host, but the test CA is not trusted.
    HttpTransportSettings untrusted;
    untrusted.routing = server.routing();
    untrusted.routing.caFile = "/dev/null";
    const auto unknownCa = exchange(*HttpTransport::create(untrusted), get("/x"));
    ASSERT_FALSE(unknownCa.ok());
    EXPECT_EQ(unknownCa.error().code, HttpErrorCode::secureConnectionFailed);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HttpTransportIntegrationTest, TransportFailures) {
    ServerReply slow = ServerReply::json(200, "{}");
    slow.delay = 3s;
    server.route("GET", "/slow", slow);
    server.route("GET", "/drop", ServerReply::dropped());
    auto transport = makeTransport();

    HttpRequest idle = get("/slow");
    idle.timeout = 200ms;
    const auto start = std::chrono::steady_clock::now();
    const auto timedOut = exchange(*transport, idle);
    ASSERT_FALSE(timedOut.ok());
    EXPECT_EQ(timedOut.error().code, HttpErrorCode::timedOut);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    const auto dropped = exchange(*transport, get("/drop"));
    ASSERT_FALSE(dropped.ok());
    EXPECT_EQ(dropped.error().code, HttpErrorCode::connectionLost);
}

TEST_F(HttpTransportIntegrationTest, RefusesUnsafeRequestsWithoutCallingTheCompletion) {
    auto transport = makeTransport();
    bool called = false;
    auto send = [&](HttpRequest r) {
        return transport->send(std::move(r), main, [&](HttpResult) { called = true; });
    };
    const std::vector<HttpHeader> badHeaders = {{"deviceId", "a\r\nInjected: 1"},
                                                {"deviceId", "a\nb"},
                                                {"deviceId", std::string("a\0b", 3)},
                                                {"Bad Name", "v"},
                                                {"", "v"},
                                                {"X:Y", "v"}};
    for (const auto& header : badHeaders) {
        HttpRequest r = get("/x");
        r.headers = {header};
        const auto sent = send(r);
        ASSERT_FALSE(sent.ok()) << header.name;
        EXPECT_EQ(sent.error().code, HttpErrorCode::invalidRequest);
    }
    for (const char* url : {"http://meet.kivrane.com/x", "ftp://meet.kivrane.com/x", "not a url"}) {
        HttpRequest r;
        r.url = url;
        EXPECT_FALSE(send(r).ok()) << url;
    }
    main->runFor(50ms);
    EXPECT_FALSE(called);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HttpTransportIntegrationTest, CompletionsArriveInTheOrderTransfersFinish) {
    ServerReply slow = ServerReply::json(200, R"("slow")");
    slow.delay = 400ms;
    server.route("GET", "/slow", slow);
    server.route("GET", "/fast", ServerReply::json(200, R"("fast")"));
    auto transport = makeTransport();

    std::vector<std::string> order;
    for (const char* path : {"/slow", "/fast"}) {
        ASSERT_TRUE(transport
                        ->send(get(path), main,
                               [&](HttpResult r) {
                                   EXPECT_TRUE(main->isCurrent());
                                   order.push_back(r.ok() ? r.value().body : "error");
                               })
                        .ok());
    }
    ASSERT_TRUE(main->runUntil([&] { return order.size() == 2; }, 10s));
    EXPECT_EQ(order, (std::vector<std::string>{R"("fast")", R"("slow")"}));
}

TEST_F(HttpTransportIntegrationTest, BurstsCompleteOnceEachAndLeaveFewHandlesBehind) {
    ServerReply reply = ServerReply::json(200, R"("ok")");
    reply.delay = 20ms;  // the transfers of a burst overlap
    server.route("GET", "/burst", reply);
    auto transport = makeTransport();

    constexpr int kBurst = 40;
    for (int round = 0; round < 3; ++round) {
        std::vector<int> completions(kBurst, 0);
        int failed = 0;
        for (int i = 0; i < kBurst; ++i) {
            ASSERT_TRUE(transport
                            ->send(get("/burst"), main,
                                   [&, i](HttpResult r) {
                                       ++completions[static_cast<std::size_t>(i)];
                                       failed += r.ok() ? 0 : 1;
                                   })
                            .ok());
        }
        ASSERT_TRUE(main->runUntil(
            [&] { return std::count(completions.begin(), completions.end(), 0) == 0; }, 20s));
        main->runFor(50ms);  // a second completion of any transfer would show up here
        EXPECT_EQ(completions, std::vector<int>(kBurst, 1)) << "round " << round;
        EXPECT_EQ(failed, 0) << "round " << round;
        // Fifteen transfers ran at once; a handful of handles stays for the next burst.
        EXPECT_LE(transport->idleHandleCount(), 4u) << "round " << round;
        EXPECT_GT(transport->idleHandleCount(), 0u) << "handles are kept for reuse";
    }
}

// A transport nobody sends on (a client that makes no REST call) costs no thread.
TEST_F(HttpTransportIntegrationTest, TheIoThreadStartsWithTheFirstTransfer) {
    server.route("GET", "/x", ServerReply::json(200, "{}"));
    const int before = processThreadCount();
    ASSERT_GT(before, 0);
    auto transport = makeTransport();
    transport->setConnected(false);
    transport->setConnected(true);
    EXPECT_EQ(processThreadCount(), before);
    ASSERT_TRUE(exchange(*transport, get("/x")).ok());
    EXPECT_GT(processThreadCount(), before);
    transport.reset();
    // The join returns once the thread is done, but the kernel may count it a moment longer.
    const auto deadline = std::chrono::steady_clock::now() + 1s;
    while (processThreadCount() != before && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(processThreadCount(), before);
}

TEST_F(HttpTransportIntegrationTest, DestroyingTheTransportCancelsEachTransferOnce) {
    ServerReply hang = ServerReply::json(200, "{}");
    hang.delay = 10s;
    server.route("GET", "/hang", hang);
    auto transport = makeTransport();
    std::vector<HttpErrorCode> outcomes;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(transport
                        ->send(get("/hang"), main,
                               [&](HttpResult r) {
                                   outcomes.push_back(r.ok() ? HttpErrorCode::other
                                                             : r.error().code);
                               })
                        .ok());
    }
    ASSERT_TRUE(server.waitForRequests(3, 5s));
    transport.reset();
    main->runFor(100ms);
    EXPECT_EQ(outcomes, std::vector<HttpErrorCode>(3, HttpErrorCode::cancelled));
}

TEST_F(HttpTransportIntegrationTest, OfflineTransfersWaitAtMostTheirTimeOut) {
    server.route("GET", "/x", ServerReply::json(200, "{}"));
    auto transport = makeTransport(HttpTransportSettings{});
    transport->setConnected(false);

    HttpRequest request = get("/x");
    request.timeout = 300ms;
    const auto start = std::chrono::steady_clock::now();
    const auto gaveUp = exchange(*transport, request);
    ASSERT_FALSE(gaveUp.ok());
    EXPECT_EQ(gaveUp.error().code, HttpErrorCode::timedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(server.requestCount(), 0u);

    // Connectivity coming back within the time-out lets the waiting transfer go out.
    request.timeout = 5s;
    std::optional<HttpResult> outcome;
    ASSERT_TRUE(
        transport->send(request, main, [&](HttpResult r) { outcome.emplace(std::move(r)); })
            .ok());
    main->runFor(150ms);
    EXPECT_FALSE(outcome.has_value());
    transport->setConnected(true);
    ASSERT_TRUE(main->runUntil([&] { return outcome.has_value(); }, 5s));
    EXPECT_TRUE(outcome->ok());
}

TEST_F(HttpTransportIntegrationTest, RepliesPastTheSizeLimitFailInsteadOfGrowing) {
    constexpr std::size_t kLimit = 64 * 1024;
    ServerReply bomb = ServerReply::json(200, std::string(kLimit + 1, 'x'));
    bomb.gzip = true;  // a few hundred bytes on the wire, past the limit once decoded
    server.route("GET", "/exact", ServerReply::json(200, std::string(kLimit, 'x')));
    server.route("GET", "/announced", ServerReply::json(200, std::string(kLimit + 1, 'x')));
    server.route("GET", "/bomb", bomb);
    server.route("GET", "/endless", ServerReply::stream(std::string(16 * 1024, 'x'), 0ms));
    ServerReply padded = ServerReply::json(200, "{}");
    for (int i = 0; i < 4000; ++i) {
        padded.headers.emplace_back("X-Pad-" + std::to_string(i), std::string(20, 'p'));
    }
    server.route("GET", "/headers", padded);
    HttpTransportSettings settings;
    settings.maxReplyBytes = kLimit;
    auto transport = makeTransport(settings);

    const auto exact = exchange(*transport, get("/exact"));
    ASSERT_TRUE(exact.ok()) << exact.error().message;
    EXPECT_EQ(exact.value().body.size(), kLimit);
    for (const char* path : {"/announced", "/bomb", "/endless", "/headers"}) {
        SCOPED_TRACE(path);
        const auto refused = exchange(*transport, get(path));
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error().code, HttpErrorCode::replyTooLarge);
    }
    // The transport still works afterwards.
    EXPECT_TRUE(exchange(*transport, get("/exact")).ok());
}

TEST_F(HttpTransportIntegrationTest, EndlessReplyStopsAtTheDefaultLimit) {
    server.route("GET", "/endless", ServerReply::stream(std::string(64 * 1024, 'x'), 0ms));
    const auto refused = exchange(*makeTransport(), get("/endless"));
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().code, HttpErrorCode::replyTooLarge);
    EXPECT_EQ(HttpTransportSettings{}.maxReplyBytes, std::size_t{16} * 1024 * 1024);
}

// The request's time-out bounds the whole exchange, however steadily bytes keep arriving; the
// transport's overall deadline bounds only a request that sets no time-out.
TEST_F(HttpTransportIntegrationTest, RequestTimeOutBoundsTheWholeExchange) {
    server.route("GET", "/trickle", ServerReply::stream("x", 40ms));
    server.route("GET", "/stall", ServerReply::stream("x", 30s));
    HttpTransportSettings settings;
    settings.totalTimeout = 800ms;
    auto transport = makeTransport(settings);

    struct Row {
        const char* path;
        std::optional<std::chrono::milliseconds> timeout;
        const char* message;
        std::chrono::milliseconds atLeast;
        std::chrono::milliseconds below;
    };
    const std::vector<Row> rows = {
        {"/trickle", 300ms, "the request timed out", 300ms, 750ms},
        {"/stall", 300ms, "the request timed out", 300ms, 750ms},
        {"/trickle", std::nullopt, "the transfer exceeded its overall deadline", 800ms, 3s},
        // A time-out longer than the transport's deadline is the caller's to choose.
        {"/trickle", 1200ms, "the request timed out", 1200ms, 3s},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.path) + " " +
                     (row.timeout ? std::to_string(row.timeout->count()) : "none"));
        HttpRequest request = get(row.path);
        request.timeout = row.timeout;
        const auto start = std::chrono::steady_clock::now();
        const auto outcome = exchange(*transport, request);
        const auto took = std::chrono::steady_clock::now() - start;
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, HttpErrorCode::timedOut);
        EXPECT_EQ(outcome.error().message, row.message);
        EXPECT_GE(took, row.atLeast - 10ms);  // curl's timer works in whole milliseconds
        EXPECT_LT(took, row.below);
    }
    EXPECT_EQ(HttpTransportSettings{}.totalTimeout, std::chrono::minutes(5));
    EXPECT_FALSE(HttpRequest{}.timeout.has_value());
}

// A server that takes a request on a kept-alive connection and closes it without a word: the
// request may have been acted on, so only a safe method is sent once more (on a new connection);
// every other one fails and reaches the server exactly once.
TEST_F(HttpTransportIntegrationTest, RequestOnAConnectionThatDiesIsResentOnlyWhenSafe) {
    server.route("GET", "/warm", ServerReply::json(200, "{}"));
    server.route("*", "/dropped", ServerReply::dropped());
    auto droppedArrivals = [this] {
        std::size_t count = 0;
        for (const auto& received : server.requests()) {
            count += received.path == "/dropped" ? 1 : 0;
        }
        return count;
    };

    struct Row {
        const char* method;
        std::optional<std::string> body;
        std::size_t arrivals;
    };
    const std::vector<Row> rows = {
        {"POST", std::string(R"({"message":"hello"})"), 1},
        {"POST", std::nullopt, 1},
        {"PUT", std::string("{}"), 1},
        {"DELETE", std::nullopt, 1},
        {"GET", std::nullopt, 2},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.method);
        auto transport = makeTransport();
        const std::size_t arrivalsBefore = droppedArrivals();
        ASSERT_TRUE(exchange(*transport, get("/warm")).ok());  // leaves a connection to reuse

        HttpRequest request = get("/dropped");
        request.method = row.method;
        request.body = row.body;
        const auto outcome = exchange(*transport, request);
        ASSERT_FALSE(outcome.ok());
        EXPECT_EQ(outcome.error().code, HttpErrorCode::connectionLost);

        EXPECT_EQ(droppedArrivals() - arrivalsBefore, row.arrivals);

        // The transport carries on with later requests.
        EXPECT_TRUE(exchange(*transport, get("/warm")).ok());
    }
}

}  // namespace
}  // namespace kr::platform
