#include "platform/Http/HttpTransport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatch/ScopedMainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;
using test::LocalHttpsServer;
using test::RecordedRequest;
using test::ServerReply;

class HttpTransportIntegrationTest : public ::testing::Test {
protected:
    HttpTransportIntegrationTest() { server.installTransportOverrides(); }

    /// Sends on the main queue and runs it until the completion arrived.
    HttpResult exchange(HttpTransport& transport, HttpRequest request) {
        std::optional<HttpResult> outcome;
        auto sent = transport.send(std::move(request), main.get(),
                                   [&](HttpResult r) { outcome.emplace(std::move(r)); });
        EXPECT_TRUE(sent.ok());
        EXPECT_TRUE(main.queue().runUntil([&] { return outcome.has_value(); }, 10s));
        return outcome ? std::move(*outcome)
                       : HttpResult(Failure{HttpError{HttpErrorCode::other, "no completion"}});
    }

    static HttpRequest get(std::string path) {
        HttpRequest request;
        request.url = "https://meet.kivrane.com" + std::move(path);
        return request;
    }

    ScopedMainQueue main;
    LocalHttpsServer server;
};

TEST_F(HttpTransportIntegrationTest, SendsExactHeadersAndBodyOverHttp11) {
    server.route("POST", "/echo", ServerReply::json(201, R"({"ok":true})"));
    HttpTransportSettings settings;
    settings.sessionHeaders = {{"User-Agent", "Tester/1 (x)"}, {"Connection", "keep-alive"}};
    auto transport = HttpTransport::create(settings);

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
    auto transport = HttpTransport::create();
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
    auto transport = HttpTransport::create();
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
    auto transport = HttpTransport::create();

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
    auto transport = HttpTransport::create();

    // A host the certificate does not name.
    const auto wrongHost = exchange(*transport, [] {
        HttpRequest r;
        r.url = "https://api.example.org/x";
        return r;
    }());
    ASSERT_FALSE(wrongHost.ok());
    EXPECT_EQ(wrongHost.error().code, HttpErrorCode::secureConnectionFailed);

    // The right host, but the test CA is not trusted.
    HttpTestOverrides untrusted = HttpTransport::testOverrides();
    untrusted.caFile = "/dev/null";
    HttpTransport::setTestOverrides(untrusted);
    const auto unknownCa = exchange(*HttpTransport::create(), get("/x"));
    ASSERT_FALSE(unknownCa.ok());
    EXPECT_EQ(unknownCa.error().code, HttpErrorCode::secureConnectionFailed);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HttpTransportIntegrationTest, TransportFailures) {
    ServerReply slow = ServerReply::json(200, "{}");
    slow.delay = 3s;
    server.route("GET", "/slow", slow);
    server.route("GET", "/drop", ServerReply::dropped());
    auto transport = HttpTransport::create();

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
    auto transport = HttpTransport::create();
    bool called = false;
    auto send = [&](HttpRequest r) {
        return transport->send(std::move(r), main.get(), [&](HttpResult) { called = true; });
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
    main.queue().runFor(50ms);
    EXPECT_FALSE(called);
    EXPECT_EQ(server.requestCount(), 0u);
}

TEST_F(HttpTransportIntegrationTest, CompletionsArriveInTheOrderTransfersFinish) {
    ServerReply slow = ServerReply::json(200, R"("slow")");
    slow.delay = 400ms;
    server.route("GET", "/slow", slow);
    server.route("GET", "/fast", ServerReply::json(200, R"("fast")"));
    auto transport = HttpTransport::create();

    std::vector<std::string> order;
    for (const char* path : {"/slow", "/fast"}) {
        ASSERT_TRUE(transport
                        ->send(get(path), main.get(),
                               [&](HttpResult r) {
                                   EXPECT_TRUE(main.get()->isCurrent());
                                   order.push_back(r.ok() ? r.value().body : "error");
                               })
                        .ok());
    }
    ASSERT_TRUE(main.queue().runUntil([&] { return order.size() == 2; }, 10s));
    EXPECT_EQ(order, (std::vector<std::string>{R"("fast")", R"("slow")"}));
}

TEST_F(HttpTransportIntegrationTest, DestroyingTheTransportCancelsEachTransferOnce) {
    ServerReply hang = ServerReply::json(200, "{}");
    hang.delay = 10s;
    server.route("GET", "/hang", hang);
    auto transport = HttpTransport::create();
    std::vector<HttpErrorCode> outcomes;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(transport
                        ->send(get("/hang"), main.get(),
                               [&](HttpResult r) {
                                   outcomes.push_back(r.ok() ? HttpErrorCode::other
                                                             : r.error().code);
                               })
                        .ok());
    }
    ASSERT_TRUE(server.waitForRequests(3, 5s));
    transport.reset();
    main.queue().runFor(100ms);
    EXPECT_EQ(outcomes, std::vector<HttpErrorCode>(3, HttpErrorCode::cancelled));
}

TEST_F(HttpTransportIntegrationTest, OfflineTransfersWaitAtMostTheirTimeOut) {
    server.route("GET", "/x", ServerReply::json(200, "{}"));
    auto online = std::make_shared<std::atomic<bool>>(false);
    HttpTransportSettings settings;
    settings.isConnected = [online] { return online->load(); };
    auto transport = HttpTransport::create(settings);

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
        transport->send(request, main.get(), [&](HttpResult r) { outcome.emplace(std::move(r)); })
            .ok());
    main.queue().runFor(150ms);
    EXPECT_FALSE(outcome.has_value());
    online->store(true);
    ASSERT_TRUE(main.queue().runUntil([&] { return outcome.has_value(); }, 5s));
    EXPECT_TRUE(outcome->ok());
}

}  // namespace
}  // namespace kr::platform
