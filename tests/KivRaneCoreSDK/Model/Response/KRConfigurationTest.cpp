#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"

#include <gtest/gtest.h>

#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {
namespace {

/// A configuration reply holding "agoraAppID" plus the given members (JSON text without braces).
Result<KRConfiguration, JsonDecodingError> decodeWith(const std::string& members) {
    return decodeJson<KRConfiguration>(R"({"agoraAppID": "app")" +
                                       (members.empty() ? "" : ", " + members) + "}");
}

TEST(KRConfigurationTest, MinimalReplyGivesTheDefaults) {
    auto c = decodeWith("");
    ASSERT_TRUE(c.ok()) << c.error().describe();
    EXPECT_EQ(c->webRtcAppId(), "app");
    EXPECT_EQ(c->roomConnectionPollingTimeInSecs(), 0.0);
    EXPECT_FALSE(c->isGIFEnabled());
    EXPECT_EQ(c->guestPartyJoiningLimit(), 4);
    EXPECT_FALSE(c->mixPanelEventsEnabled());
    EXPECT_TRUE(c->showNoInternetView());
    EXPECT_TRUE(c->showSpeakingOnMuteView());
    EXPECT_FALSE(c->termsConditionUrl());
    EXPECT_FALSE(c->videoConfiguration());
    EXPECT_FALSE(c->lowQualityVideoConfiguration());
    EXPECT_FALSE(c->appIds());
    EXPECT_FALSE(c->elkLogginCredentials());
    EXPECT_FALSE(c->appStrings());
    EXPECT_FALSE(c->userActiveSpeakerCallback());
    EXPECT_FALSE(c->useLocalSpeakerSpeakingOnMuteCallback());
    EXPECT_FALSE(c->activeSpeakerCallbackInterval());
    EXPECT_FALSE(c->reactions());
}

TEST(KRConfigurationTest, OnlyTheAppIdAndAMalformedLoggingObjectFailTheReply) {
    struct Case {
        const char* body;
        const char* failingKey;  // nullptr: decodes
    };
    const Case cases[] = {
        {R"({"agoraAppID": 5})", "agoraAppID"},
        {R"({"agoraAppID": null})", "agoraAppID"},
        {R"({})", "agoraAppID"},
        {R"({"success": true})", "agoraAppID"},
        {R"([])", ""},
        {R"({"agoraAppID": "a", "cloudLogging": "x"})", "cloudLogging"},
        {R"({"agoraAppID": "a", "cloudLogging": [1]})", "cloudLogging"},
        {R"({"agoraAppID": "a", "cloudLogging": null})", nullptr},
        {R"({"agoraAppID": "a", "agoraBandwidthConfig": 1, "agoraAppIdList": {}, "reactions": 3,
             "appstrings": [], "isGIFEnabled": "yes", "guestPartyJoiningLimit": true})",
         nullptr},
    };
    for (const auto& c : cases) {
        auto result = decodeJson<KRConfiguration>(c.body);
        EXPECT_EQ(result.ok(), c.failingKey == nullptr) << c.body;
        if (!result.ok() && c.failingKey != nullptr) {
            EXPECT_EQ(result.error().key, c.failingKey) << c.body;
        }
    }
}

TEST(KRConfigurationTest, LenientScalarsFallBackOnWrongTypes) {
    struct Case {
        const char* members;
        double polling;
        std::int64_t guestLimit;
        bool gif;
        bool noInternetView;
    };
    const Case cases[] = {
        {R"("roomConnectionPollingTimeInSecs": 10)", 10.0, 4, false, true},
        {R"("roomConnectionPollingTimeInSecs": 2.5)", 2.5, 4, false, true},
        {R"("roomConnectionPollingTimeInSecs": "10")", 0.0, 4, false, true},
        {R"("guestPartyJoiningLimit": 6)", 0.0, 6, false, true},
        {R"("guestPartyJoiningLimit": 6.0)", 0.0, 6, false, true},
        {R"("guestPartyJoiningLimit": "6")", 0.0, 4, false, true},
        {R"("guestPartyJoiningLimit": 6.5)", 0.0, 4, false, true},
        {R"("isGIFEnabled": true, "showNoInternetView": false)", 0.0, 4, true, false},
        {R"("isGIFEnabled": 1, "showNoInternetView": "false")", 0.0, 4, false, true},
    };
    for (const auto& c : cases) {
        auto config = decodeWith(c.members);
        ASSERT_TRUE(config.ok()) << c.members;
        EXPECT_EQ(config->roomConnectionPollingTimeInSecs(), c.polling) << c.members;
        EXPECT_EQ(config->guestPartyJoiningLimit(), c.guestLimit) << c.members;
        EXPECT_EQ(config->isGIFEnabled(), c.gif) << c.members;
        EXPECT_EQ(config->showNoInternetView(), c.noInternetView) << c.members;
    }
}

TEST(KRConfigurationTest, LoggingCredentialsParseTheirTextNumbers) {
    auto empty = decodeWith(R"("cloudLogging": {})");
    ASSERT_TRUE(empty.ok());
    ASSERT_TRUE(empty->elkLogginCredentials());
    const auto& defaults = *empty->elkLogginCredentials();
    EXPECT_FALSE(defaults.isEnabled());
    EXPECT_EQ(defaults.level(), 4);
    EXPECT_EQ(defaults.url(), "");
    EXPECT_EQ(defaults.apiKey(), "");
    EXPECT_EQ(defaults.index(), "");
    EXPECT_EQ(defaults.batchSize(), 25);
    EXPECT_EQ(defaults.timeOut(), 30000);

    struct Case {
        const char* value;  // JSON under both "batchSize" and "timeout"
        std::int64_t batchSize;
        std::int64_t timeOut;
    };
    const Case cases[] = {
        {"50", 25, 30000},       {R"("50")", 50, 50},     {R"("+7")", 7, 7},
        {R"("-3")", -3, -3},     {R"("abc")", 25, 30000}, {R"("")", 25, 30000},
        {R"(" 50")", 25, 30000}, {R"("5.0")", 25, 30000}, {R"("1e3")", 25, 30000},
        {R"("+-1")", 25, 30000}, {R"("+")", 25, 30000},   {R"("99999999999999999999")", 25, 30000},
    };
    for (const auto& c : cases) {
        const std::string members = std::string(R"("cloudLogging": {"batchSize": )") + c.value +
                                    R"(, "timeout": )" + c.value + "}";
        auto config = decodeWith(members);
        ASSERT_TRUE(config.ok()) << members;
        EXPECT_EQ(config->elkLogginCredentials()->batchSize(), c.batchSize) << c.value;
        EXPECT_EQ(config->elkLogginCredentials()->timeOut(), c.timeOut) << c.value;
    }

    auto full = decodeWith(
        R"("cloudLogging": {"enable": true, "isEnabled": false, "level": 1, "url": "https://l",
            "apiKey": "k", "index": "i"})");
    ASSERT_TRUE(full.ok());
    const auto& logging = *full->elkLogginCredentials();
    EXPECT_TRUE(logging.isEnabled());
    EXPECT_EQ(logging.level(), 1);
    EXPECT_EQ(logging.url(), "https://l");
    EXPECT_EQ(logging.apiKey(), "k");
    EXPECT_EQ(logging.index(), "i");
}

TEST(KRConfigurationTest, NestedRecordsAreLenientAsAWhole) {
    // Video configurations.
    auto onlyVideo = decodeWith(R"("agoraBandwidthConfig": {"video": {"width": 640}})");
    ASSERT_TRUE(onlyVideo.ok());
    ASSERT_TRUE(onlyVideo->videoConfiguration());
    EXPECT_EQ(onlyVideo->videoConfiguration()->width, 640);
    EXPECT_FALSE(onlyVideo->videoConfiguration()->height);
    EXPECT_FALSE(onlyVideo->videoConfiguration()->isEnabled);
    EXPECT_FALSE(onlyVideo->lowQualityVideoConfiguration());

    auto videoText = decodeWith(R"("agoraBandwidthConfig": {"video": "x"})");
    ASSERT_TRUE(videoText->videoConfiguration());
    EXPECT_FALSE(videoText->videoConfiguration()->width);

    auto bandwidthText = decodeWith(R"("agoraBandwidthConfig": "x")");
    EXPECT_FALSE(bandwidthText->videoConfiguration());

    auto full = decodeWith(
        R"("agoraBandwidthConfig": {"lowQualityVideo": {"isEnabled": true, "width": 160,
            "height": 90.0, "fps": "7", "bitrate": 64, "orientation": 0}})");
    const auto& low = *full->lowQualityVideoConfiguration();
    EXPECT_EQ(low.isEnabled, true);
    EXPECT_EQ(low.width, 160);
    EXPECT_EQ(low.height, 90);
    EXPECT_FALSE(low.fps);
    EXPECT_EQ(low.bitrate, 64);
    EXPECT_EQ(low.orientation, 0);

    // App id list: all or nothing.
    auto oneBad = decodeWith(R"("agoraAppIdList": [{"name": "a", "id": "1"}, {"name": "b"}])");
    EXPECT_FALSE(oneBad->appIds());
    auto emptyList = decodeWith(R"("agoraAppIdList": [])");
    ASSERT_TRUE(emptyList->appIds());
    EXPECT_TRUE(emptyList->appIds()->empty());
    auto good = decodeWith(R"("agoraAppIdList": [{"name": "a", "id": "1"}])");
    ASSERT_EQ(good->appIds()->size(), 1u);
    EXPECT_EQ(good->appIds()->front().name, "a");
    EXPECT_EQ(good->appIds()->front().id, "1");

    // Reactions need both keys.
    EXPECT_FALSE(decodeWith(R"("reactions": {"reactionsbaseurl": "u"})")->reactions());
    auto reactions = decodeWith(R"("reactions": {"reactionsbaseurl": "u", "reactionsCount": 3})");
    ASSERT_TRUE(reactions->reactions());
    EXPECT_EQ(reactions->reactions()->reactionsbaseurl, "u");
    EXPECT_EQ(reactions->reactions()->reactionsCount, 3);

    // App strings: one non-string value drops the map.
    EXPECT_FALSE(decodeWith(R"("appstrings": {"a": "x", "b": 1})")->appStrings());
    auto strings = decodeWith(R"("appstrings": {"a": "x"}, "appStrings": {"b": "y"})");
    ASSERT_TRUE(strings->appStrings());
    EXPECT_EQ(strings->appStrings()->at("a"), "x");
    EXPECT_EQ(strings->appStrings()->size(), 1u);

    // Optional callbacks settings.
    auto callbacks = decodeWith(
        R"("userActiveSpeakerCallback": false, "useLocalSpeakerSpeakingOnMuteCallback": "t",
           "activeSpeakerCallbackInterval": 300)");
    EXPECT_EQ(callbacks->userActiveSpeakerCallback(), false);
    EXPECT_FALSE(callbacks->useLocalSpeakerSpeakingOnMuteCallback());
    EXPECT_EQ(callbacks->activeSpeakerCallbackInterval(), 300);
}

TEST(KRConfigurationTest, TermsUrlIsAbsentWhenEmptyOrNotAUrl) {
    struct Case {
        const char* value;
        std::optional<std::string> url;
    };
    const Case cases[] = {
        {R"("https://example.test/terms?a=1#x")", "https://example.test/terms?a=1#x"},
        {R"("https://example.test/a%20b")", "https://example.test/a%20b"},
        {R"("")", std::nullopt},
        {R"("has space")", std::nullopt},
        {R"("bad%zz")", std::nullopt},
        {"7", std::nullopt},
    };
    for (const auto& c : cases) {
        auto config = decodeWith(std::string(R"("termsConditionUrl": )") + c.value);
        ASSERT_TRUE(config.ok());
        EXPECT_EQ(config->termsConditionUrl(), c.url) << c.value;
    }
}

}  // namespace
}  // namespace kr
