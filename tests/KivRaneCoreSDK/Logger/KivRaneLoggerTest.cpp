#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/MainQueue.h"

namespace kr {
namespace {

using Level = KivRaneRMLogLevel;
using std::chrono::seconds;

constexpr const char* kUrl = "https://logs.example.test/_bulk";

// Records every request and lets the test answer it later, on the queue the collector gave.
struct FakeSender {
    struct Sent {
        platform::HttpRequest request;
        std::shared_ptr<platform::DispatchQueue> queue;
        platform::HttpCompletion completion;
    };
    std::vector<Sent> sent;

    KivRaneLogger::SendFunction function() {
        return [this](platform::HttpRequest request, std::shared_ptr<platform::DispatchQueue> queue,
                      platform::HttpCompletion completion) -> Result<Unit, platform::HttpError> {
            sent.push_back({std::move(request), std::move(queue), std::move(completion)});
            return Unit{};
        };
    }
    void answer(std::size_t index, long status) {
        deliver(index, platform::HttpResult(platform::HttpResponse{status, {}, "{}"}));
    }
    void failTransport(std::size_t index) {
        deliver(index, platform::HttpResult(Failure{
                           platform::HttpError{platform::HttpErrorCode::connectionLost, "reset"}}));
    }
    void deliver(std::size_t index, platform::HttpResult result) {
        auto& s = sent.at(index);
        s.queue->post([completion = s.completion, result]() mutable { completion(result); });
    }
};

// The messages of a pushed body, checking its shape: action line and record, alternately, each
// line ending in a newline.
std::vector<std::string> messagesOf(const std::string& body, const std::string& index = "idx") {
    const std::string action = R"({"index" : {"_index" : ")" + index + R"("}})";
    EXPECT_EQ(body.empty() ? '\n' : body.back(), '\n') << body;
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = body.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(body.substr(start, end - start));
    }
    std::vector<std::string> messages;
    EXPECT_EQ(lines.size() % 2, 0u) << body;
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        EXPECT_EQ(lines[i], action);
        messages.emplace_back(boost::json::parse(lines[i + 1]).at("message").as_string());
    }
    return messages;
}

// A collector on a manual clock: the timer on a main queue, the records on a second queue that
// the test drives too, and a fake sender.
class KivRaneLoggerTest : public ::testing::Test {
protected:
    std::shared_ptr<KivRaneLogger> makeLogger(std::size_t maxBacklog) {
        KivRaneLogger::Environment environment;
        environment.workQueue = work;
        environment.timerQueue = main;
        environment.send = sender.function();
        environment.timeStamp = [] { return std::string("2024-01-02T03:04:05+0000"); };
        environment.maxBacklog = maxBacklog;
        return KivRaneLogger::create(std::move(environment));
    }
    void drain() {
        while (main->runPending() + work->runPending() > 0) {
        }
    }
    void advance(seconds by) {
        clock->advance(by);
        drain();
    }
    void configure(int level, int entries, int interval, std::string apiKey = "key-1",
                   std::string url = kUrl, std::string index = "idx", bool enabled = true) {
        logger->configureLogger({.isEnable = enabled,
                                 .level = level,
                                 .entries = entries,
                                 .apiTimeInterval = interval,
                                 .platformKey = std::move(index),
                                 .apiKey = std::move(apiKey),
                                 .url = std::move(url)});
        drain();
    }
    void log(const std::string& message, Level level = Level::INFO) {
        logger->collectLogs(message, "mod", level);
        drain();
    }
    std::vector<std::string> pushed(std::size_t index) {
        return messagesOf(*sender.sent.at(index).request.body);
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MainQueue> work = platform::MainQueue::create(clock);
    FakeSender sender;
    std::shared_ptr<KivRaneLogger> logger = makeLogger(KivRaneLogger::kDefaultMaxBacklog);
};

TEST_F(KivRaneLoggerTest, LevelFilterIsAnExactMatchUnlessDebug) {
    struct Case {
        bool enabled;
        int configured;
        Level level;
        bool passes;
    };
    const Case cases[] = {
        {true, 2, Level::INFO, true},    {true, 2, Level::DEBUG, false},
        {true, 2, Level::WARN, false},   {true, 2, Level::ERROR, false},
        {true, 4, Level::ERROR, true},   {true, 4, Level::WARN, false},
        {true, 1, Level::DEBUG, true},   {true, 1, Level::INFO, true},
        {true, 1, Level::WARN, true},    {true, 1, Level::ERROR, true},
        {true, 0, Level::INFO, false},   {true, 7, Level::ERROR, false},
        {false, 1, Level::ERROR, false}, {false, 2, Level::INFO, false},
    };
    log("before any configuration");
    EXPECT_TRUE(sender.sent.empty());
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.configured) + " " + std::to_string(rawValue(c.level)));
        configure(c.configured, 0, 0, "key-1", kUrl, "idx", c.enabled);
        const auto before = sender.sent.size();
        log("m", c.level);
        ASSERT_EQ(sender.sent.size(), before + (c.passes ? 1 : 0));
        if (c.passes) {
            sender.answer(before, 200);
            drain();
        }
    }
}

TEST_F(KivRaneLoggerTest, EleventhRecordOfABatchOfTenPushesAllElevenAsNdjson) {
    configure(1, 10, 0);
    std::vector<std::string> expected;
    for (int i = 1; i <= 10; ++i) {
        log("m" + std::to_string(i), i % 2 ? Level::INFO : Level::ERROR);
        expected.push_back("mod m" + std::to_string(i));
    }
    EXPECT_TRUE(sender.sent.empty());
    log("m11");
    expected.push_back("mod m11");
    ASSERT_EQ(sender.sent.size(), 1u);
    const auto& request = sender.sent[0].request;
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.url, kUrl);
    EXPECT_EQ(request.headers, (platform::HttpHeaders{{"Content-Type", "application/x-ndjson"},
                                                      {"Authorization", "key-1"}}));
    EXPECT_EQ(request.timeout, seconds(45));
    EXPECT_EQ(pushed(0), expected);
}

TEST_F(KivRaneLoggerTest, BodyBytesEndInANewlineAndTheIndexNameIsEscaped) {
    struct Case {
        const char* index;
        const char* actionLine;
    };
    const Case cases[] = {
        {"idx", R"({"index" : {"_index" : "idx"}})"},
        {"", R"({"index" : {"_index" : ""}})"},
        {"a\"}b\\", R"({"index" : {"_index" : "a\"}b\\"}})"},
    };
    std::size_t push = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.index);
        configure(2, 0, 0, "key-1", kUrl, c.index);
        log("hello \"world\"");
        ASSERT_EQ(sender.sent.size(), push + 1);
        EXPECT_EQ(*sender.sent[push].request.body,
                  std::string(c.actionLine) +
                      "\n"
                      R"({"timestamp":"2024-01-02T03:04:05+0000","message":"mod hello \"world\"",)"
                      R"("level":"2","meetingId":"NA","userId":"NA","name":"NA","lname":"NA",)"
                      R"("identity":"NA"})"
                      "\n");
        sender.answer(push++, 200);
        drain();
    }
}

TEST_F(KivRaneLoggerTest, UserDataStampsLaterRecords) {
    struct Case {
        const char* name;
        const char* first;
        const char* last;
    };
    const Case cases[] = {
        {"  Ada Lovelace  ", "Ada", "Lovelace"}, {"Ada", "Ada", "Ada"},
        {"Ada  Lovelace", "Ada", "Lovelace"},    {"Ada King Lovelace", "Ada", "Lovelace"},
        {"\n\tAda\r\n", "Ada", "Ada"},           {"", "", ""},
    };
    configure(2, 0, 0);
    log("before");
    EXPECT_EQ(boost::json::parse(
                  sender.sent[0].request.body->substr(sender.sent[0].request.body->find('\n') + 1)),
              boost::json::parse(R"({"timestamp":"2024-01-02T03:04:05+0000",
                  "message":"mod before","level":"2","meetingId":"NA","userId":"NA",
                  "name":"NA","lname":"NA","identity":"NA"})"));
    sender.answer(0, 200);
    drain();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        logger->setUserData(c.name, "login-7", "meeting-9", "ada@example.test");
        log("after");
        const auto& body = *sender.sent.back().request.body;
        const auto record = boost::json::parse(body.substr(body.find('\n') + 1)).as_object();
        EXPECT_EQ(record.at("name"), c.first);
        EXPECT_EQ(record.at("lname"), c.last);
        EXPECT_EQ(record.at("userId"), "login-7");
        EXPECT_EQ(record.at("identity"), "ada@example.test");
        EXPECT_EQ(record.at("meetingId"), "meeting-9");
        sender.answer(sender.sent.size() - 1, 200);
        drain();
    }
}

TEST_F(KivRaneLoggerTest, OnlyUnansweredOrRetryableBatchesAreSentAgain) {
    struct Case {
        const char* name;
        std::optional<long> status;  // none: no HTTP answer at all
        bool resent;
    };
    const Case cases[] = {
        {"200", 200, false},
        {"400", 400, false},
        {"404", 404, false},
        {"500", 500, true},
        {"503", 503, true},
        {"429", 429, true},
        {"transport failure", std::nullopt, true},
    };
    configure(2, 0, 0);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto first = sender.sent.size();
        log("first");
        ASSERT_EQ(sender.sent.size(), first + 1);
        if (c.status) {
            sender.answer(first, *c.status);
        } else {
            sender.failTransport(first);
        }
        drain();
        log("second");
        if (c.resent) {
            EXPECT_EQ(sender.sent.size(), first + 1) << "waits out the back-off";
            advance(KivRaneLogger::kFirstRetryDelay);
        }
        ASSERT_EQ(sender.sent.size(), first + 2);
        EXPECT_EQ(pushed(first + 1), c.resent
                                         ? (std::vector<std::string>{"mod first", "mod second"})
                                         : std::vector<std::string>{"mod second"});
        sender.answer(first + 1, 200);
        drain();
    }
}

TEST_F(KivRaneLoggerTest, AtMostOnePushInFlightAndItOwnsItsRecords) {
    configure(2, 0, 0);
    log("a");
    log("b");
    log("c");
    ASSERT_EQ(sender.sent.size(), 1u) << "b and c wait for the answer to a's push";
    sender.failTransport(0);
    drain();
    advance(KivRaneLogger::kFirstRetryDelay);
    ASSERT_EQ(sender.sent.size(), 2u) << "the deferred push follows the back-off";
    EXPECT_EQ(pushed(1), (std::vector<std::string>{"mod a", "mod b", "mod c"}));
    log("d");
    sender.answer(1, 200);
    drain();
    ASSERT_EQ(sender.sent.size(), 3u);
    EXPECT_EQ(pushed(2), std::vector<std::string>{"mod d"});
}

TEST_F(KivRaneLoggerTest, UnusableUrlOrUnsafeKeySkipsThePushAndKeepsTheRecords) {
    struct Case {
        const char* name;
        std::string url;
        std::string apiKey;
    };
    const Case cases[] = {
        {"empty url", "", "key-1"},       {"not a url", "logs example", "key-1"},
        {"no host", "https://", "key-1"}, {"CR LF in key", kUrl, "key\r\nX-Injected: 1"},
        {"LF in key", kUrl, "key\nmore"}, {"NUL in key", kUrl, std::string("key\0tail", 8)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = sender.sent.size();
        configure(2, 0, 0, c.apiKey, c.url);
        log(std::string("kept ") + c.name);
        EXPECT_EQ(sender.sent.size(), before);
        configure(2, 0, 0);
        log("next");
        ASSERT_EQ(sender.sent.size(), before + 1);
        EXPECT_EQ(pushed(before),
                  (std::vector<std::string>{std::string("mod kept ") + c.name, "mod next"}));
        sender.answer(before, 200);
        drain();
    }
}

TEST_F(KivRaneLoggerTest, UnsentBacklogIsCappedDroppingTheOldest) {
    logger = makeLogger(5);
    configure(2, 0, 0, "key-1", "");
    for (int i = 0; i < 8; ++i) {
        log("m" + std::to_string(i));
    }
    EXPECT_TRUE(sender.sent.empty());
    configure(2, 0, 0);
    log("m8");
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(pushed(0),
              (std::vector<std::string>{"mod m4", "mod m5", "mod m6", "mod m7", "mod m8"}));

    sender.failTransport(0);  // put back, then capped again with newer records
    drain();
    log("m9");
    advance(KivRaneLogger::kFirstRetryDelay);
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(pushed(1),
              (std::vector<std::string>{"mod m5", "mod m6", "mod m7", "mod m8", "mod m9"}));
}

TEST_F(KivRaneLoggerTest, BatchLargerThanTheCapStillPushesOnOverflow) {
    logger = makeLogger(5);
    configure(2, 6, 0);
    for (int i = 0; i < 7; ++i) {
        log("m" + std::to_string(i));
    }
    ASSERT_EQ(sender.sent.size(), 1u) << "the seventh record overflows a batch of six";
    EXPECT_EQ(pushed(0),
              (std::vector<std::string>{"mod m2", "mod m3", "mod m4", "mod m5", "mod m6"}));
}

TEST_F(KivRaneLoggerTest, TimerPushesPendingRecordsOnItsInterval) {
    configure(2, 100, 10);  // ticks at once, with nothing pending
    EXPECT_TRUE(sender.sent.empty());
    log("a");
    advance(seconds(9));
    EXPECT_TRUE(sender.sent.empty());
    advance(seconds(1));
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(pushed(0), std::vector<std::string>{"mod a"});

    log("b");  // a tick while that push is in flight waits for its answer
    advance(seconds(10));
    EXPECT_EQ(sender.sent.size(), 1u);
    sender.answer(0, 200);
    drain();
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(pushed(1), std::vector<std::string>{"mod b"});
}

TEST_F(KivRaneLoggerTest, WhatArrivesWhileAPushIsInFlightFollowsItsAnswer) {
    configure(2, 1, 10);
    // Queued together: "b" overflows the batch, "c" arrives before the re-armed timer's tick.
    for (const char* message : {"a", "b", "c"}) {
        logger->collectLogs(message, "mod", Level::INFO);
    }
    drain();
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(pushed(0), (std::vector<std::string>{"mod a", "mod b"}));
    sender.answer(0, 200);
    drain();
    ASSERT_EQ(sender.sent.size(), 2u) << "no wait for the next interval";
    EXPECT_EQ(pushed(1), std::vector<std::string>{"mod c"});
    sender.answer(1, 200);
    drain();
    EXPECT_EQ(sender.sent.size(), 2u) << "nothing pending, nothing pushed";

    // Logged on its own, well after the push started and after anything queued with it.
    log("d");
    log("e");
    ASSERT_EQ(sender.sent.size(), 3u);
    log("f");
    advance(seconds(1));
    EXPECT_EQ(sender.sent.size(), 3u) << "one push at a time";
    sender.answer(2, 200);
    drain();
    ASSERT_EQ(sender.sent.size(), 4u) << "f does not wait for the next interval";
    EXPECT_EQ(pushed(3), std::vector<std::string>{"mod f"});
    // The timer was re-armed by that push: its next tick is a full interval later.
    sender.answer(3, 200);
    log("g");
    advance(seconds(9));
    EXPECT_EQ(sender.sent.size(), 4u);
    advance(seconds(1));
    ASSERT_EQ(sender.sent.size(), 5u);
    EXPECT_EQ(pushed(4), std::vector<std::string>{"mod g"});
}

TEST_F(KivRaneLoggerTest, NegativeBatchSizePushesEveryRecordButNeverAnEmptyList) {
    configure(2, -1, 0);
    log("a");
    ASSERT_EQ(sender.sent.size(), 1u);
    sender.answer(0, 200);
    drain();
    EXPECT_EQ(sender.sent.size(), 1u);
    log("b");
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(pushed(1), std::vector<std::string>{"mod b"});
}

TEST_F(KivRaneLoggerTest, FailedPushesBackOffWithAGrowingBoundedDelay) {
    configure(2, 0, 0);
    log("r0");
    ASSERT_EQ(sender.sent.size(), 1u);
    auto delay = KivRaneLogger::kFirstRetryDelay;
    for (int failure = 1; failure <= 10; ++failure) {
        SCOPED_TRACE(failure);
        const auto before = sender.sent.size();
        sender.failTransport(before - 1);
        drain();
        log("r" + std::to_string(failure));
        advance(delay - seconds(1));
        EXPECT_EQ(sender.sent.size(), before) << "still backing off";
        advance(seconds(1));
        ASSERT_EQ(sender.sent.size(), before + 1);
        EXPECT_EQ(pushed(before).size(), static_cast<std::size_t>(failure + 1))
            << "everything unsent goes again";
        delay = std::min<seconds>(delay * 2, KivRaneLogger::kMaxRetryDelay);
    }
    EXPECT_EQ(delay, KivRaneLogger::kMaxRetryDelay);
    // An answer ends the back-off.
    sender.answer(sender.sent.size() - 1, 200);
    drain();
    log("after");
    EXPECT_EQ(pushed(sender.sent.size() - 1), std::vector<std::string>{"mod after"});
}

TEST_F(KivRaneLoggerTest, TimerNeedsTenSecondsAndTicksAtOnceWhenConfigured) {
    configure(2, 100, 9);
    log("a");
    advance(seconds(1000));
    EXPECT_TRUE(sender.sent.empty()) << "9 s sets up no timer";

    configure(2, 100, 10);  // the immediate tick finds "a" pending
    ASSERT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(pushed(0), std::vector<std::string>{"mod a"});

    // Switched off: collection stops at once, the running timer still pushes what is pending.
    sender.answer(0, 200);
    log("b");
    configure(2, 100, 10, "key-1", kUrl, "idx", false);
    log("dropped");
    advance(seconds(10));
    ASSERT_EQ(sender.sent.size(), 2u);
    EXPECT_EQ(pushed(1), std::vector<std::string>{"mod b"});
}

TEST_F(KivRaneLoggerTest, CollectsFromManyThreadsInPerThreadOrder) {
    configure(1, 1000, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([this, t] {
            for (int i = 0; i < 200; ++i) {
                logger->collectLogs(std::to_string(t) + ":" + std::to_string(i), "mod",
                                    Level::WARN);
            }
        });
    }
    std::thread configurer([this] {
        for (int i = 0; i < 50; ++i) {
            logger->configureLogger({.isEnable = true,
                                     .level = 1,
                                     .entries = 1000,
                                     .apiTimeInterval = 0,
                                     .platformKey = "idx",
                                     .apiKey = "key-1",
                                     .url = kUrl});
        }
    });
    for (auto& thread : threads) {
        thread.join();
    }
    configurer.join();
    drain();
    configure(1, 0, 0);
    log("flush");
    ASSERT_EQ(sender.sent.size(), 1u);
    const auto messages = pushed(0);
    ASSERT_EQ(messages.size(), 801u);
    std::vector<int> next(4, 0);
    for (std::size_t i = 0; i + 1 < messages.size(); ++i) {
        const int thread = messages[i][4] - '0';
        EXPECT_EQ(messages[i],
                  "mod " + std::to_string(thread) + ":" + std::to_string(next[thread]++));
    }
}

TEST(KivRaneLoggerSharedTest, SharedCollectorIsInstalledForComponentLoggers) {
    const std::shared_ptr<LogCollector> collector = KivRaneLogger::shared();
    EXPECT_EQ(LogCollector::shared(), collector);
    EXPECT_EQ(KivRaneLogger::shared(), collector) << "made once";
}

}  // namespace
}  // namespace kr
