#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"
#include "testing/LocalMeetingService/LogIndexSink.h"

namespace kr {
namespace {

using std::chrono::seconds;

std::vector<std::string> messagesOf(const test::LogIndexSink::Push& push) {
    std::vector<std::string> messages;
    for (const auto& entry : test::LogIndexSink::parseBody(push.body)) {
        EXPECT_EQ(entry.index, "kr-logs");
        messages.emplace_back(entry.record.at("message").as_string());
    }
    return messages;
}

// Real pushes over HTTPS to the local log index: wire format, headers, and the delivery rule.
TEST(KivRaneLoggerIntegrationTest, PushesNdjsonAndResendsOnlyRetryableBatches) {
    auto clock = platform::ManualClock::create();
    auto main = platform::MainQueue::create(clock);
    test::LocalHttpsServer server;
    test::LogIndexSink sink(server);
    KRDependencies dependencies;
    dependencies.queue = main;
    dependencies.routing = server.routing();
    auto logger = KivRaneLogger::create(dependencies);
    logger->configureLogger({.isEnable = true,
                             .level = 1,
                             .entries = 2,
                             .apiTimeInterval = 0,
                             .platformKey = "kr-logs",
                             .apiKey = "ApiKey secret",
                             .url = "https://logs.kivrane.test/_bulk"});

    auto logThree = [&](const std::string& prefix) {
        for (int i = 1; i <= 3; ++i) {
            logger->collectLogs(prefix + std::to_string(i), "krclient", KivRaneRMLogLevel::WARN);
        }
    };

    logThree("a");
    ASSERT_TRUE(sink.waitForPushes(1, seconds(10)));
    auto push = sink.pushes()[0];
    EXPECT_EQ(push.contentType, "application/x-ndjson");
    EXPECT_EQ(push.authorization, "ApiKey secret");
    EXPECT_EQ(messagesOf(push),
              (std::vector<std::string>{"krclient a1", "krclient a2", "krclient a3"}));
    const auto record = test::LogIndexSink::parseBody(push.body).at(0).record.as_object();
    EXPECT_EQ(record.at("level"), "3");
    // "yyyy-MM-dd'T'HH:mm:ssZ": local time with a numeric offset such as +0530.
    const std::string stamp(record.at("timestamp").as_string());
    const std::string shape = "dddd-dd-ddTdd:dd:dd+dddd";
    ASSERT_EQ(stamp.size(), shape.size()) << stamp;
    for (std::size_t i = 0; i < shape.size(); ++i) {
        const bool fits = shape[i] == 'd'   ? (stamp[i] >= '0' && stamp[i] <= '9')
                          : shape[i] == '+' ? (stamp[i] == '+' || stamp[i] == '-')
                                            : stamp[i] == shape[i];
        EXPECT_TRUE(fits) << stamp;
    }

    sink.setStatus(503);  // the service is overloaded: the batch is kept
    logThree("b");
    ASSERT_TRUE(sink.waitForPushes(2, seconds(10)));
    sink.setStatus(400);  // an answer, even a refusal, ends the batch
    logThree("c");
    // The resend waits out the back-off on the manual clock; the 503 may still be on its way.
    for (int i = 0; i < 50 && !sink.waitForPushes(3, std::chrono::milliseconds(100)); ++i) {
        clock->advance(KivRaneLogger::kMaxRetryDelay);
    }
    ASSERT_EQ(sink.pushes().size(), 3u);
    EXPECT_EQ(messagesOf(sink.pushes()[2]),
              (std::vector<std::string>{"krclient b1", "krclient b2", "krclient b3", "krclient c1",
                                        "krclient c2", "krclient c3"}));
    sink.setStatus(200);
    logThree("d");
    ASSERT_TRUE(sink.waitForPushes(4, seconds(10)));
    EXPECT_EQ(messagesOf(sink.pushes()[3]),
              (std::vector<std::string>{"krclient d1", "krclient d2", "krclient d3"}));
}

}  // namespace
}  // namespace kr
