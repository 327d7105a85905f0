#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "KivRaneCoreSDK/Logger/KRLoggerData.h"
#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"

namespace kr {
namespace {

TEST(KivRaneRMLogLevelTest, RawValues) {
    struct Case {
        std::int64_t raw;
        std::optional<KivRaneRMLogLevel> level;
    };
    const Case cases[] = {
        {1, KivRaneRMLogLevel::DEBUG},
        {2, KivRaneRMLogLevel::INFO},
        {3, KivRaneRMLogLevel::WARN},
        {4, KivRaneRMLogLevel::ERROR},
        {0, std::nullopt},
        {5, std::nullopt},
        {-1, std::nullopt},
        {(std::int64_t{1} << 32) + 1, std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kivRaneRMLogLevelFromRaw(c.raw), c.level) << c.raw;
        if (c.level) {
            EXPECT_EQ(rawValue(*c.level), c.raw);
        }
    }
}

TEST(KRLoggerDataTest, EncodesEightMembersInFixedOrderUnderWireKeys) {
    struct Case {
        KRLoggerData record;
        std::string json;
    };
    const Case cases[] = {
        {KRLoggerData{},
         R"({"timestamp":"","message":"","level":"","meetingId":"","userId":"","name":"",)"
         R"("lname":"","identity":""})"},
        {{.timestamp = "2024-05-01T10:20:30+0530",
          .message = "krclient joined",
          .level = "2",
          .meetingId = "NA",
          .userId = "NA",
          .firstName = "NA",
          .lastName = "NA",
          .identity = "NA"},
         R"({"timestamp":"2024-05-01T10:20:30+0530","message":"krclient joined","level":"2",)"
         R"("meetingId":"NA","userId":"NA","name":"NA","lname":"NA","identity":"NA"})"},
        {{.timestamp = "t",
          .message = "KivRaneRTC say \"hi\"\n\\",
          .level = "4",
          .meetingId = "m-1",
          .userId = "u-1",
          .firstName = "Ann",
          .lastName = "Lee",
          .identity = "ann@example.com"},
         R"({"timestamp":"t","message":"KivRaneRTC say \"hi\"\n\\","level":"4",)"
         R"("meetingId":"m-1","userId":"u-1","name":"Ann","lname":"Lee",)"
         R"("identity":"ann@example.com"})"},
        // Bad UTF-8 must not stop a record from being written.
        {{.timestamp = "t", .message = "bad \xff byte", .level = "1"},
         "{\"timestamp\":\"t\",\"message\":\"bad \xef\xbf\xbd byte\",\"level\":\"1\","
         "\"meetingId\":\"\",\"userId\":\"\",\"name\":\"\",\"lname\":\"\",\"identity\":\"\"}"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.record.encode(), c.json);
    }
    const auto keys = [](const boost::json::object& o) {
        std::vector<std::string> out;
        for (const auto& m : o) {
            out.emplace_back(m.key());
        }
        return out;
    }(cases[0].record.toJsonObject());
    EXPECT_EQ(keys, (std::vector<std::string>{"timestamp", "message", "level", "meetingId",
                                              "userId", "name", "lname", "identity"}));
}

// Remembers every message handed to it.
class RecordingCollector : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string& moduleName,
                     KivRaneRMLogLevel level) override {
        calls.emplace_back(message, moduleName, level);
    }
    std::vector<std::tuple<std::string, std::string, KivRaneRMLogLevel>> calls;
};

TEST(KivRaneRealTimeLogger2Test, EachLevelMakesExactlyOneCallWithTheCurrentModule) {
    const auto collector = std::make_shared<RecordingCollector>();
    KivRaneRealTimeLogger2 logger("krclient", collector);
    logger.debug("d");
    logger.info("i");
    logger.warn("w");
    logger.error("e");
    logger.setModuleName("");
    logger.info("later");

    using Call = std::tuple<std::string, std::string, KivRaneRMLogLevel>;
    EXPECT_EQ(collector->calls, (std::vector<Call>{
                                    {"d", "krclient", KivRaneRMLogLevel::DEBUG},
                                    {"i", "krclient", KivRaneRMLogLevel::INFO},
                                    {"w", "krclient", KivRaneRMLogLevel::WARN},
                                    {"e", "krclient", KivRaneRMLogLevel::ERROR},
                                    {"later", "", KivRaneRMLogLevel::INFO},
                                }));
}

// A logger reaches only the collector it was given: the process one is never looked up.
TEST(KivRaneRealTimeLogger2Test, WithoutACollectorMessagesAreDropped) {
    const auto collector = std::make_shared<RecordingCollector>();
    LogCollector::setShared(collector);
    KivRaneRealTimeLogger2("KivRaneRTM").error("dropped");
    KivRaneRealTimeLogger2("KivRaneRTM", collector).error("kept");
    LogCollector::setShared(nullptr);
    ASSERT_NE(LogCollector::shared(), nullptr);
    KivRaneRealTimeLogger2("KivRaneRTM").error("dropped");
    EXPECT_EQ(collector->calls.size(), 1u);
}

}  // namespace
}  // namespace kr
