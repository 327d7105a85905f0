#include "KivRaneCoreSDK/Model/Response/KRRoomDetails.h"

#include <gtest/gtest.h>

#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {
namespace {

/// A room details reply: the given top-level members and "roomDetails" members.
Result<KRRoomDetails, JsonDecodingError> decodeWith(const std::string& top,
                                                    const std::string& details = "") {
    return decodeJson<KRRoomDetails>("{" + top + (top.empty() ? "" : ", ") +
                                     R"("roomDetails": {"roomID": "r1")" +
                                     (details.empty() ? "" : ", " + details) + "}}");
}

TEST(KRRoomDetailsTest, SmallestReplyGivesTheDefaults) {
    auto d = decodeWith("");
    ASSERT_TRUE(d.ok()) << d.error().describe();
    EXPECT_EQ(d->roomID(), "r1");
    EXPECT_EQ(d->rtcUID(), "");
    EXPECT_EQ(d->maxParticipants(), 0);
    EXPECT_FALSE(d->hasMaxParticipants());
    EXPECT_EQ(d->mediaEngine(), KRRoomMediaEngine::agora);
    EXPECT_FALSE(d->ownerDetails());
    EXPECT_FALSE(d->isWatermarkEnabled());
}

TEST(KRRoomDetailsTest, FailsOnlyWithoutARoomObjectAndId) {
    struct Case {
        const char* body;
        const char* key;
    };
    const Case cases[] = {
        {R"({"agoraToken": "t", "roomDetails": []})", "roomDetails"},
        {R"({"roomDetails": null})", "roomDetails"},
        {R"({"roomDetails": {"roomID": 5}})", "roomDetails.roomID"},
        {R"({"roomDetails": {"roomId": "r"}})", "roomDetails.roomID"},
        {R"({"success": true})", "roomDetails"},
        {R"("text")", ""},
    };
    for (const auto& c : cases) {
        auto result = decodeJson<KRRoomDetails>(c.body);
        ASSERT_FALSE(result.ok()) << c.body;
        EXPECT_EQ(result.error().key, c.key) << c.body;
    }
}

TEST(KRRoomDetailsTest, UidTakesANumberOrAString) {
    struct Case {
        const char* value;
        const char* uid;
    };
    const Case cases[] = {
        {"507", "507"}, {"0", "0"},          {"18446744073709551615", "18446744073709551615"},
        {"12.0", "12"}, {R"("abc")", "abc"}, {R"("")", ""},
        {"-1", ""},     {"12.5", ""},        {"true", ""},
        {"{}", ""},     {"null", ""},
    };
    for (const auto& c : cases) {
        auto d = decodeWith(std::string(R"("agoraUid": )") + c.value);
        ASSERT_TRUE(d.ok()) << c.value;
        EXPECT_EQ(d->rtcUID(), c.uid) << c.value;
    }
}

TEST(KRRoomDetailsTest, LenientKeysAndNestedObjects) {
    struct Case {
        const char* top;
        const char* details;
        KRRoomMediaEngine engine;
        std::optional<bool> watermark;
        bool hardMute;
        bool audioOnJoin;
        bool videoOnJoin;
    };
    const Case cases[] = {
        {"", R"("mediaEngine": "kr-media")", KRRoomMediaEngine::krmedia, {}, false, false, false},
        {"", R"("mediaEngine": "KR-MEDIA")", KRRoomMediaEngine::agora, {}, false, false, false},
        {"", R"("mediaEngine": "kr_media")", KRRoomMediaEngine::agora, {}, false, false, false},
        {"", R"("mediaEngine": 1)", KRRoomMediaEngine::agora, {}, false, false, false},
        {"", R"("isWatermarkEnabled": true)", KRRoomMediaEngine::agora, true, false, false, false},
        {"", R"("isWatermarkEnabled": "true")", KRRoomMediaEngine::agora, {}, false, false, false},
        {"",
         R"("advancedOptions": {"participantAudio": true})",
         KRRoomMediaEngine::agora,
         {},
         false,
         true,
         false},
        {"",
         R"("advancedOptions": {"participantHardAudioMute": true, "participantVideo": true})",
         KRRoomMediaEngine::agora,
         {},
         true,
         false,
         true},
        {"", R"("advancedOptions": "x")", KRRoomMediaEngine::agora, {}, false, false, false},
        // Keys of the nested objects are not read at the top level.
        {R"("participantAudio": true, "mediaEngine": "kr-media")",
         "",
         KRRoomMediaEngine::agora,
         {},
         false,
         false,
         false},
    };
    for (const auto& c : cases) {
        auto d = decodeWith(c.top, c.details);
        ASSERT_TRUE(d.ok()) << c.details;
        EXPECT_EQ(d->mediaEngine(), c.engine) << c.details;
        EXPECT_EQ(d->isWatermarkEnabled(), c.watermark) << c.details;
        EXPECT_EQ(d->isHardAudioMute(), c.hardMute) << c.details;
        EXPECT_EQ(d->isParticipantAudioEnabledoOnJoin(), c.audioOnJoin) << c.details;
        EXPECT_EQ(d->isParticipantVideoEnabledoOnJoin(), c.videoOnJoin) << c.details;
    }

    auto full = decodeWith(
        R"("agoraToken": "tok", "agoraRtmToken": "rtm", "speakerCount": 3,
           "agoraMaxParticipants": 50, "ownerDetails": {"_id": "o1", "name": "Ann", "lname": "Lee"})",
        R"("topic": "Standup", "userId": "u1")");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(full->rtcToken(), "tok");
    EXPECT_EQ(full->rtcRTMToken(), "rtm");
    EXPECT_EQ(full->speakerCount(), 3);
    EXPECT_EQ(full->maxParticipants(), 50);
    EXPECT_TRUE(full->hasMaxParticipants());
    EXPECT_EQ(full->topic(), "Standup");
    EXPECT_EQ(full->userId(), "u1");
    ASSERT_TRUE(full->ownerDetails());
    EXPECT_EQ(full->ownerDetails()->getId(), "o1");
    EXPECT_EQ(full->ownerDetails()->getFullName(), "Ann Lee");

    auto textCount = decodeWith(R"("speakerCount": "3", "agoraMaxParticipants": "9")");
    EXPECT_EQ(textCount->speakerCount(), 0);
    EXPECT_FALSE(textCount->hasMaxParticipants());

    auto ownerText = decodeWith(R"("ownerDetails": "x")");
    ASSERT_TRUE(ownerText->ownerDetails());
    EXPECT_FALSE(ownerText->ownerDetails()->getId());
    EXPECT_EQ(ownerText->ownerDetails()->getFullName(), "");
}

}  // namespace
}  // namespace kr
