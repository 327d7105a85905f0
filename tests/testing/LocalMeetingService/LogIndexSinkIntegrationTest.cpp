#include "testing/LocalMeetingService/LogIndexSink.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::test {
namespace {

using namespace std::chrono_literals;

TEST(LogIndexSinkIntegrationTest, KeepsBulkRecordsAndAnswersAsScripted) {
    auto main = platform::MainQueue::create();
    LocalHttpsServer server;
    LogIndexSink sink(server);
    platform::HttpTransportSettings settings;
    settings.routing = server.routing();
    auto transport = platform::HttpTransport::create(settings);

    auto push = [&](std::string body) {
        platform::HttpRequest request;
        request.method = "POST";
        request.url = "https://logs.kivrane.test/_bulk";
        request.headers = {{"Content-Type", "application/x-ndjson"}, {"Authorization", "key"}};
        request.body = std::move(body);
        std::optional<platform::HttpResult> outcome;
        EXPECT_TRUE(transport
                        ->send(request, main,
                               [&](platform::HttpResult r) { outcome.emplace(std::move(r)); })
                        .ok());
        EXPECT_TRUE(main->runUntil([&] { return outcome.has_value(); }, 10s));
        return outcome.value_or(platform::HttpResult(Failure{platform::HttpError{}}));
    };

    const auto first = push(
        "{ \"index\" : { \"_index\" : \"ios-logs\"}}\n{\"message\":\"a\"}\n"
        "{ \"index\" : { \"_index\" : \"ios\"logs\"}}\n{\"message\":\"b\"}");
    ASSERT_TRUE(first.ok());
    EXPECT_EQ(first.value().status, 200);
    const auto entries = sink.entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].index, "ios-logs");
    EXPECT_EQ(entries[0].record.at("message").as_string(), "a");
    // An index name written unescaped is kept as the raw action line.
    EXPECT_EQ(entries[1].index, "{ \"index\" : { \"_index\" : \"ios\"logs\"}}");
    EXPECT_EQ(sink.pushes().at(0).authorization, "key");
    EXPECT_EQ(sink.pushes().at(0).contentType, "application/x-ndjson");

    sink.setStatus(500);
    const auto rejected = push("{}\n{}");
    ASSERT_TRUE(rejected.ok());
    EXPECT_EQ(rejected.value().status, 500);

    sink.setDropConnection(true);
    EXPECT_FALSE(push("{}\n{}").ok());
    EXPECT_GE(sink.pushCount(), 3u);
}

}  // namespace
}  // namespace kr::test
