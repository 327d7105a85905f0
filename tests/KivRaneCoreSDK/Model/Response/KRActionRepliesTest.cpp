#include <gtest/gtest.h>

#include <string>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"
#include "KivRaneCoreSDK/Model/Response/KRGuestLogin.h"
#include "KivRaneCoreSDK/Model/Response/KRJoinCall.h"
#include "KivRaneCoreSDK/Model/Response/KRLeaveChatThread.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomDetails.h"
#include "KivRaneCoreSDK/Model/Response/KRStartRecording.h"
#include "KivRaneCoreSDK/Model/Response/KRStartShareScreen.h"
#include "KivRaneCoreSDK/Model/Response/KRStartWhiteboard.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {
namespace {

template <class T>
bool decodes(const std::string& body) {
    return decodeJson<T>(body).ok();
}

TEST(KRActionRepliesTest, WhichBodiesEachReplyAccepts) {
    struct Case {
        const char* body;
        bool success, status, recording, leaveChat, whiteboard, shareScreen, guestLogin, joinCall;
    };
    // The empty-2xx substitute {"success": true} is the first row.
    const Case cases[] = {
        {R"({"success": true})", true, true, false, false, true, true, false, true},
        {R"({})", false, true, false, false, true, false, false, true},
        {R"([])", false, true, false, false, false, false, false, true},
        {R"({"success": false})", true, true, false, false, true, true, false, true},
        {R"({"success": "true"})", false, true, false, false, true, false, false, true},
        {R"({"_id": "x"})", false, true, true, true, true, false, false, true},
        {R"({"_id": 5})", false, true, false, false, true, false, false, true},
        {R"({"jwt": 5})", false, true, false, false, false, false, false, true},
        {R"({"jwt": null, "whiteboardId": "w"})", false, true, false, false, true, false, false,
         true},
        {R"({"success": true, "message": 5})", true, true, false, false, true, false, false, true},
        {R"({"jwt": "j", "guestUserId": "g"})", false, true, false, false, true, false, true, true},
        {R"({"jwtToken": "j", "guestUserId": "g"})", false, true, false, false, true, false, false,
         true},
        {R"({"jwt": "j", "guestUserId": 1})", false, true, false, false, true, false, false, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodes<KRAPISuccess>(c.body), c.success) << c.body;
        EXPECT_EQ(decodes<KRAPIStatus>(c.body), c.status) << c.body;
        EXPECT_EQ(decodes<KRStartRecording>(c.body), c.recording) << c.body;
        EXPECT_EQ(decodes<KRLeaveChatThread>(c.body), c.leaveChat) << c.body;
        EXPECT_EQ(decodes<KRStartWhiteboard>(c.body), c.whiteboard) << c.body;
        EXPECT_EQ(decodes<KRStartShareScreen>(c.body), c.shareScreen) << c.body;
        EXPECT_EQ(decodes<KRGuestLogin>(c.body), c.guestLogin) << c.body;
        EXPECT_EQ(decodes<KRJoinCall>(c.body), c.joinCall) << c.body;
    }
    // The larger replies refuse the empty-2xx substitute too.
    EXPECT_FALSE(decodes<KRConfiguration>(R"({"success": true})"));
    EXPECT_FALSE(decodes<KRRoomDetails>(R"({"success": true})"));
    EXPECT_FALSE(decodes<KRRoomConnectionStatus>(R"({"success": true})"));
}

TEST(KRActionRepliesTest, DecodedValues) {
    EXPECT_FALSE(decodeJson<KRAPISuccess>(R"({"success": false})")->isSuccess());
    EXPECT_EQ(decodeJson<KRAPIStatus>(R"({"status": "ok"})")->status, "ok");
    EXPECT_FALSE(decodeJson<KRAPIStatus>(R"({"status": 1})")->status);
    EXPECT_EQ(decodeJson<KRStartRecording>(R"({"_id": "rec"})")->id(), "rec");
    EXPECT_EQ(decodeJson<KRStartWhiteboard>(R"({"jwt": "j", "whiteboardId": "w"})")->whiteboardId(),
              "w");
    auto guest = decodeJson<KRGuestLogin>(R"({"jwt": "j", "guestUserId": "g", "isHost": "true"})");
    EXPECT_EQ(guest->jwtToken(), "j");
    EXPECT_EQ(guest->guestUserId(), "g");
    EXPECT_FALSE(guest->isHost());
    EXPECT_EQ(decodeJson<KRJoinCall>(R"({"historyId": "h1"})")->historyId, "h1");
    EXPECT_EQ(decodeJson<KRJoinCall>(R"({"historyId": 3})")->historyId, "");
}

TEST(KRActionRepliesTest, ShareScreenInfoIsLenient) {
    struct Case {
        const char* info;  // nullptr: key absent
        std::uint64_t uid;
        const char* token;
    };
    const Case cases[] = {
        {nullptr, 0, ""},
        {R"("x")", 0, ""},
        {R"({"agoraUid": 42, "agoraToken": "t"})", 42, "t"},
        {R"({"agoraUid": -5, "agoraToken": "t"})", 0, "t"},
        {R"({"agoraUid": 1.5, "agoraToken": "t"})", 0, "t"},
        {R"({"agoraUid": "42", "agoraToken": 1})", 0, ""},
    };
    for (const auto& c : cases) {
        std::string body = R"({"success": true, "message": "m")";
        if (c.info != nullptr) {
            body += std::string(R"(, "agoraScreenShareInfo": )") + c.info;
        }
        body += "}";
        auto reply = decodeJson<KRStartShareScreen>(body);
        ASSERT_TRUE(reply.ok()) << body;
        EXPECT_TRUE(reply->success());
        EXPECT_EQ(reply->message(), "m");
        EXPECT_EQ(reply->agoraUid(), c.uid) << body;
        EXPECT_EQ(reply->agoraToken(), c.token) << body;
    }
}

}  // namespace
}  // namespace kr
