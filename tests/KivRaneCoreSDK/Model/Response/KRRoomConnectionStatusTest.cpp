#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"

#include <gtest/gtest.h>

#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {
namespace {

/// A participant record; `extra` adds members (JSON text without braces).
std::string participant(const std::string& uri, const std::string& name, bool sharing,
                        const std::string& extra = "") {
    return R"({"micStatus": true, "cameraStatus": false, "isHandRaise": false,
               "participantUri": ")" +
           uri + R"(", "participantName": ")" + name + R"(", "isSharingScreen": )" +
           (sharing ? "true" : "false") + (extra.empty() ? "" : ", " + extra) + "}";
}

/// A status reply with the three required flags and the given members.
Result<KRRoomConnectionStatus, JsonDecodingError> status(bool whiteboard,
                                                         const std::string& members) {
    return decodeJson<KRRoomConnectionStatus>(
        std::string(R"({"isHardMute": false, "isSoftMute": false, "whiteboardshared": )") +
        (whiteboard ? "true" : "false") + (members.empty() ? "" : ", " + members) + "}");
}

TEST(KRRoomConnectionStatusTest, RequiredFlags) {
    struct Case {
        const char* body;
        const char* key;  // nullptr: decodes
    };
    const Case cases[] = {
        {R"({"isHardMute": true, "isSoftMute": false, "whiteboardshared": false})", nullptr},
        {R"({"isHardMute": true, "isSoftMute": false})", "whiteboardshared"},
        {R"({"isHardMute": true, "isSoftMute": false, "whiteBoardShared": false})",
         "whiteboardshared"},
        {R"({"isHardMute": 1, "isSoftMute": false, "whiteboardshared": false})", "isHardMute"},
        {R"({"isHardMute": true, "isSoftMute": null, "whiteboardshared": false})", "isSoftMute"},
        {R"({"success": true})", "isHardMute"},
        {R"([])", ""},
    };
    for (const auto& c : cases) {
        auto result = decodeJson<KRRoomConnectionStatus>(c.body);
        ASSERT_EQ(result.ok(), c.key == nullptr) << c.body;
        if (!result.ok()) {
            EXPECT_EQ(result.error().key, c.key) << c.body;
        }
    }
    auto minimal = decodeJson<KRRoomConnectionStatus>(cases[0].body);
    EXPECT_TRUE(minimal->isRoomAudioHardMuted);
    EXPECT_FALSE(minimal->isRoomAudioSoftMuted);
    EXPECT_TRUE(minimal->participants.empty());
    EXPECT_FALSE(minimal->hasDroppedParticipants);
    EXPECT_FALSE(minimal->isScreenOrWhiteboardShared);
    EXPECT_EQ(minimal->screenOrWhiteBoardSharingUserId, "");
    EXPECT_EQ(minimal->screenSharedObjectId, "");
    EXPECT_FALSE(minimal->isRecording);
}

TEST(KRRoomConnectionStatusTest, OneBadParticipantDropsOnlyThatRecord) {
    const std::string bad = R"({"micStatus": true, "cameraStatus": true})";  // no isHandRaise
    auto s = status(false, R"("participants": [)" + participant("u1", "One", false) + ", " + bad +
                               ", " + participant("u3", "Three", false) + "]");
    ASSERT_TRUE(s.ok()) << s.error().describe();
    ASSERT_EQ(s->participants.size(), 2u);
    EXPECT_EQ(s->participants[0].participantName, "One");
    EXPECT_EQ(s->participants[1].participantName, "Three");
    EXPECT_TRUE(s->hasDroppedParticipants);

    auto notArray = status(false, R"("participants": {"a": 1})");
    EXPECT_TRUE(notArray->participants.empty());
    EXPECT_TRUE(notArray->hasDroppedParticipants);
    auto nullList = status(false, R"("participants": null)");
    EXPECT_FALSE(nullList->hasDroppedParticipants);
}

TEST(KRRoomConnectionStatusTest, SharingStateIsDerived) {
    const std::string p1 = participant("u1", "One", false, R"("userId": "a1")");
    const std::string p2 = participant("u2", "Two", true, R"("userId": "a2")");
    const std::string p3 = participant("u3", "Three", true, R"("userId": "a3")");
    struct Case {
        const char* what;
        bool whiteboard;
        std::string members;
        bool ok;
        bool screenShared;
        bool anyShared;
        std::string sharerId;
        std::string sharerName;
        std::string sharerAccount = {};
    };
    const Case cases[] = {
        {"nothing shared, isSharing ignored", false,
         R"("isSharing": 5, "participants": [)" + p1 + "]", true, false, false, "", ""},
        {"whiteboard needs isSharing", true, "", false, false, false, "", ""},
        {"whiteboard isSharing must be text", true, R"("isSharing": 1)", false, false, false, "",
         ""},
        {"whiteboard name by uri, not the screen sharer", true,
         R"("isSharing": "u1", "participants": [)" + p2 + ", " + p1 + "]", true, false, true, "u1",
         "One", "a1"},
        {"whiteboard sharer unknown", true, R"("isSharing": "zz", "participants": [)" + p1 + "]",
         true, false, true, "zz", ""},
        {"screen shared needs isSharing", false, R"("participants": [)" + p2 + "]", false, false,
         false, "", ""},
        {"first screen sharer names the share", false,
         R"("isSharing": "other", "participants": [)" + p1 + ", " + p3 + ", " + p2 + "]", true,
         true, true, "other", "Three", "a3"},
    };
    for (const auto& c : cases) {
        auto s = status(c.whiteboard, c.members);
        ASSERT_EQ(s.ok(), c.ok) << c.what;
        if (!s.ok()) {
            EXPECT_EQ(s.error().key, "isSharing") << c.what;
            continue;
        }
        EXPECT_EQ(s->isWhiteBoardShared, c.whiteboard) << c.what;
        EXPECT_EQ(s->isScreenShared, c.screenShared) << c.what;
        EXPECT_EQ(s->isScreenOrWhiteboardShared, c.anyShared) << c.what;
        EXPECT_EQ(s->screenOrWhiteBoardSharingUserId, c.sharerId) << c.what;
        EXPECT_EQ(s->screenOrWhiteBoardSharingUserName, c.sharerName) << c.what;
        EXPECT_EQ(s->sharingUserAccountId, c.sharerAccount) << c.what;
    }
}

TEST(KRRoomConnectionStatusTest, ScreenShareStreamIdKeepsTheRawText) {
    struct Case {
        const char* info;
        const char* id;
        std::optional<std::uint64_t> uid;
    };
    const Case cases[] = {
        {R"({"agoraUid": 12345})", "12345", 12345u},
        {R"({"agoraUid": "12345"})", "12345", 12345u},
        {R"({"agoraUid": 0})", "0", 0u},
        {R"({"agoraUid": ""})", "", std::nullopt},
        {R"({"agoraUid": "share-7"})", "share-7", std::nullopt},
        {R"({"agoraUid": -1})", "", std::nullopt},
        {R"({"agoraUid": 1.5})", "", std::nullopt},
        {R"({"agoraUid": true})", "", std::nullopt},
        {R"("12345")", "", std::nullopt},
        {"null", "", std::nullopt},
    };
    for (const auto& c : cases) {
        auto s = status(false, std::string(R"("agoraScreenShareInfo": )") + c.info);
        ASSERT_TRUE(s.ok()) << c.info;
        EXPECT_EQ(s->screenSharedObjectId, c.id) << c.info;
        EXPECT_EQ(s->screenSharedObjectUid(), c.uid) << c.info;
    }
}

TEST(KRRoomConnectionStatusTest, RecordingIsLenient) {
    EXPECT_TRUE(status(false, R"("isRecording": true)")->isRecording);
    EXPECT_FALSE(status(false, R"("isRecording": "true")")->isRecording);
}

}  // namespace
}  // namespace kr
