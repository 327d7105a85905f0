#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Model/Response/KRUser.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {
namespace {

void setContacts(ContactSyncManager& manager, const char* json) {
    std::vector<boost::json::object> contacts;
    const boost::json::value parsed = boost::json::parse(json);
    for (const auto& c : parsed.as_array()) {
        contacts.push_back(c.as_object());
    }
    manager.setContactsArray(std::move(contacts));
}

constexpr const char* kRequired =
    R"("micStatus": true, "cameraStatus": false, "isHandRaise": true)";

Result<KRMeetingParticipant, JsonDecodingError> decodeWith(const std::string& members) {
    return decodeJson<KRMeetingParticipant>(std::string("{") + kRequired +
                                            (members.empty() ? "" : ", " + members) + "}");
}

TEST(KRMeetingParticipantTest, RequiredFlagsAndDefaults) {
    auto minimal = decodeWith("");
    ASSERT_TRUE(minimal.ok());
    EXPECT_EQ(minimal->userId, "");
    EXPECT_EQ(minimal->participantName, "");
    EXPECT_TRUE(minimal->isMicOn);
    EXPECT_FALSE(minimal->isVideoOn);
    EXPECT_TRUE(minimal->isHandRaise);
    EXPECT_FALSE(minimal->isSharingScreen);
    EXPECT_FALSE(minimal->isHost);
    EXPECT_FALSE(minimal->isCoHost);
    EXPECT_EQ(minimal->participantType, KRMeetingParticipantType::audience);
    EXPECT_EQ(KRMeetingParticipant{}.participantType, KRMeetingParticipantType::speaker);

    struct Case {
        const char* body;
        const char* key;
    };
    const Case failures[] = {
        {R"({"cameraStatus": true, "isHandRaise": true})", "micStatus"},
        {R"({"micStatus": "true", "cameraStatus": true, "isHandRaise": true})", "micStatus"},
        {R"({"micStatus": true, "cameraStatus": null, "isHandRaise": true})", "cameraStatus"},
        {R"({"micStatus": true, "cameraStatus": true})", "isHandRaise"},
        {R"({"success": true})", "micStatus"},
        {R"([1])", ""},
    };
    for (const auto& c : failures) {
        auto result = decodeJson<KRMeetingParticipant>(c.body);
        ASSERT_FALSE(result.ok()) << c.body;
        EXPECT_EQ(result.error().key, c.key) << c.body;
    }
}

TEST(KRMeetingParticipantTest, LenientKeys) {
    struct Case {
        const char* members;
        KRMeetingParticipantType type;
        bool host;
        bool coHost;
        bool sharing;
        const char* name;
    };
    const Case cases[] = {
        {R"("participantType": "speaker")", KRMeetingParticipantType::speaker, false, false, false,
         ""},
        {R"("participantType": "Speaker")", KRMeetingParticipantType::audience, false, false, false,
         ""},
        {R"("participantType": 1)", KRMeetingParticipantType::audience, false, false, false, ""},
        {R"("isCoHost": false, "isHost": true)", KRMeetingParticipantType::audience, true, false,
         false, ""},
        {R"("isHost": "true", "isSharingScreen": true, "participantName": "N")",
         KRMeetingParticipantType::audience, false, false, true, "N"},
        {R"("participantName": 5)", KRMeetingParticipantType::audience, false, false, false, ""},
    };
    for (const auto& c : cases) {
        auto p = decodeWith(c.members);
        ASSERT_TRUE(p.ok()) << c.members;
        EXPECT_EQ(p->participantType, c.type) << c.members;
        EXPECT_EQ(p->isHost, c.host) << c.members;
        EXPECT_EQ(p->isCoHost, c.coHost) << c.members;
        EXPECT_EQ(p->isSharingScreen, c.sharing) << c.members;
        EXPECT_EQ(p->participantName, c.name) << c.members;
    }
    auto full = decodeWith(
        R"("userId": "u", "participantUri": "uri", "participantId": "pid",
           "participantJoinTime": "2024-01-01")");
    EXPECT_EQ(full->userId, "u");
    EXPECT_EQ(full->participantUri, "uri");
    EXPECT_EQ(full->participantId, "pid");
    EXPECT_EQ(full->participantJoinTime, "2024-01-01");
}

// The decoder keeps the server's name; the client's own contact list renames the record.
TEST(KRMeetingParticipantTest, ContactNamesReplaceServerNamesOnlyWhereApplied) {
    ContactSyncManager contacts;
    setContacts(contacts, R"([
        {"userId": "", "name": "Nobody"},
        {"userId": "u1", "name": "Host Name"},
        {"userId": "u1", "name": "Later Duplicate"},
        {"userId": "u2", "name": 7},
        {"userId": "u2", "name": "Shadowed"},
        {"userId": "u3", "name": ""},
        {"userId": 4, "name": "Number Id"}
    ])");
    struct Case {
        const char* members;
        const char* decoded;
        const char* name;
    };
    const Case cases[] = {
        {R"("userId": "u1", "participantName": "Server")", "Server", "Host Name"},
        {R"("userId": "u1")", "", "Host Name"},
        // first match has no name
        {R"("userId": "u2", "participantName": "Server")", "Server", "Server"},
        // empty name kept out
        {R"("userId": "u3", "participantName": "Server")", "Server", "Server"},
        {R"("userId": "unknown", "participantName": "Server")", "Server", "Server"},
        {R"("participantName": "Server")", "Server", "Server"},  // no id: never looked up
        {R"("userId": "", "participantName": "")", "", ""},
    };
    for (const auto& c : cases) {
        auto p = decodeWith(c.members);
        ASSERT_TRUE(p.ok()) << c.members;
        EXPECT_EQ(p->participantName, c.decoded) << c.members;
        p->participantName = contacts.nameToShow(p->userId, std::move(p->participantName));
        EXPECT_EQ(p->participantName, c.name) << c.members;
    }
}

TEST(KRMeetingParticipantTest, UpdateKeepsRightsAndRole) {
    KRMeetingParticipant target;
    target.isCoHost = true;
    target.participantType = KRMeetingParticipantType::audience;
    auto source = decodeWith(
        R"("userId": "u", "participantUri": "uri", "participantId": "id", "participantName": "n",
           "participantJoinTime": "t", "isSharingScreen": true, "isHost": true,
           "participantType": "speaker")");
    ASSERT_TRUE(source.ok());

    target.update(*source);
    EXPECT_EQ(target.userId, "u");
    EXPECT_EQ(target.participantUri, "uri");
    EXPECT_EQ(target.participantId, "id");
    EXPECT_EQ(target.participantName, "n");
    EXPECT_EQ(target.participantJoinTime, "t");
    EXPECT_TRUE(target.isMicOn && target.isHandRaise && target.isSharingScreen);
    EXPECT_FALSE(target.isHost);
    EXPECT_TRUE(target.isCoHost);
    EXPECT_EQ(target.participantType, KRMeetingParticipantType::audience);
}

TEST(KRUserTest, LenientFieldsAndDerivedNames) {
    struct Case {
        const char* body;
        std::optional<std::string> id;
        std::string fullName;
    };
    const Case cases[] = {
        {R"({"_id": "a", "userId": "b", "name": "Ann", "lname": "Lee"})", "a", "Ann Lee"},
        {R"({"userId": "b", "name": "Ann", "lname": ""})", "b", "Ann"},
        {R"({"_id": 5, "userId": "b", "lname": "Lee"})", "b", " Lee"},
        {R"({"tenantId": "t"})", std::nullopt, ""},
        {R"("text")", std::nullopt, ""},
        {R"({"success": true})", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        auto user = decodeJson<KRUser>(c.body);
        ASSERT_TRUE(user.ok()) << c.body;
        EXPECT_EQ(user->getId(), c.id) << c.body;
        EXPECT_EQ(user->getFullName(), c.fullName) << c.body;
    }
    EXPECT_EQ(decodeJson<KRUser>(R"({"tenantId": "t"})")->tenantId, "t");
}

}  // namespace
}  // namespace kr
