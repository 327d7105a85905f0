// Decoding of the chat records, key by key, with each record's own rule for what a missing or
// mistyped key gives.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/ApiDateFormatter.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatThread.h"
#include "KivRaneCoreSDK/Chat/Models/KRMeetingParticipant2.h"
#include "KivRaneCoreSDK/Chat/Models/KRThreadChatMessages.h"
#include "KivRaneCoreSDK/Common/Json/JsonDate.h"
#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

// Table rows leave trailing expectations at their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace kr {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;

template <class T>
Result<T, JsonDecodingError> decode(const std::string& text) {
    return decodeJson<T>(text);
}

// ---- messages ----

struct MessageCase {
    const char* name;
    std::string json;
    bool decodes;
    KRChatMessageType type = KRChatMessageType::normal;
    std::string text;
    std::string creatorId;
    std::optional<std::size_t> attachments;
    std::optional<std::size_t> added;
    std::optional<std::size_t> removed;
    std::optional<std::size_t> recipients;
};

TEST(KRChatMessageTest, DecodingTable) {
    const std::vector<MessageCase> cases = {
        {"only the two required keys", R"({"_id":"m1","threadId":"t1"})", true},
        {"no thread id", R"({"_id":"m1"})", false},
        {"number as id", R"({"_id":7,"threadId":"t1"})", false},
        {"null thread id", R"({"_id":"m1","threadId":null})", false},
        {"not an object", R"(["m1"])", false},
        {"normal text and files",
         R"({"_id":"m","threadId":"t","type":"message","createdBy":"u1",
             "messageComponent":{"text":"hi","attachments":[{"fileID":"f"},{}]}})",
         true, KRChatMessageType::normal, "hi", "u1", 2u},
        {"unknown type reads the message component",
         R"({"_id":"m","threadId":"t","type":"poll","messageComponent":{"text":"q"}})", true,
         KRChatMessageType::normal, "q"},
        {"system notice ignores the message component",
         R"({"_id":"m","threadId":"t","type":"system",
             "messageComponent":{"text":"x","attachments":[{}]},
             "systemComponent":{"message":"Ann joined","usersAdded":[{"name":"Ann"}],
                                "usersRemoved":[],"action":"other"}})",
         true, KRChatMessageType::system, "Ann joined", "", std::nullopt, 1u, 0u},
        {"normal message ignores the system component",
         R"({"_id":"m","threadId":"t","systemComponent":{"message":"x","usersAdded":[{}]}})", true},
        {"mistyped optional texts give empty",
         R"({"_id":"m","threadId":"t","createdBy":42,"messageComponent":{"text":42}})", true},
        {"component that is not an object",
         R"({"_id":"m","threadId":"t","messageComponent":"hi"})", true},
        {"one bad attachment drops the list",
         R"({"_id":"m","threadId":"t","messageComponent":{"attachments":[{},3]}})", true},
        {"empty attachment list stays empty",
         R"({"_id":"m","threadId":"t","messageComponent":{"attachments":[]}})", true,
         KRChatMessageType::normal, "", "", 0u},
        {"one bad recipient drops the list",
         R"({"_id":"m","threadId":"t","recipients":[{"userId":"a"},"b"]})", true},
        {"recipients read leniently",
         R"({"_id":"m","threadId":"t","recipients":[{"userId":"a","isDeleted":"yes"},{}]})", true,
         KRChatMessageType::normal, "", "", std::nullopt, std::nullopt, std::nullopt, 2u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto m = decode<KRChatMessage>(c.json);
        ASSERT_EQ(m.ok(), c.decodes);
        if (!c.decodes) {
            continue;
        }
        EXPECT_EQ(m->messageType, c.type);
        EXPECT_EQ(m->isSystemMessage, c.type == KRChatMessageType::system);
        EXPECT_FALSE(m->isIncomingMessage);
        EXPECT_EQ(m->systemAction, KRSystemChatMessageAction::usermod);
        EXPECT_EQ(m->messageText, c.text);
        EXPECT_EQ(m->creatorId, c.creatorId);
        EXPECT_EQ(m->attachments ? std::optional(m->attachments->size()) : std::nullopt,
                  c.attachments);
        EXPECT_EQ(m->addedUsers ? std::optional(m->addedUsers->size()) : std::nullopt, c.added);
        EXPECT_EQ(m->removedUsers ? std::optional(m->removedUsers->size()) : std::nullopt,
                  c.removed);
        EXPECT_EQ(m->reciepients ? std::optional(m->reciepients->size()) : std::nullopt,
                  c.recipients);
    }
}

TEST(KRChatMessageTest, DerivedValues) {
    const auto bare = decode<KRChatMessage>(R"({"_id":"m","threadId":"t"})");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(bare->getOwnerFullName(), "");
    EXPECT_FALSE(bare->isAttachmentMessage());
    EXPECT_FALSE(bare->attachment());
    const auto before = Clock::now();
    EXPECT_GE(bare->createdAt(), before);  // unparsable time reads as "now"
    // So does a time the clock cannot hold.
    for (const char* when : {"2263-01-01T00:00:00.000+0000", "1600-01-01T00:00:00.000+0000"}) {
        const auto far = decode<KRChatMessage>(
            std::string(R"({"_id":"m","threadId":"t","cOn":")") + when + "\"}");
        ASSERT_TRUE(far.ok()) << when;
        const auto createdAt = far->createdAt();
        EXPECT_GE(createdAt, before) << when;
        EXPECT_LE(createdAt, Clock::now()) << when;
    }

    const auto full = decode<KRChatMessage>(
        R"({"_id":"m","threadId":"t","creatorsName":"Ann","creatorsLName":"Lee",
            "cOn":"2024-05-01T10:15:30.250+0200","recipients":[{"userId":"u","isUnread":true}],
            "messageComponent":{"attachments":[{"fileID":"first"},{"fileID":"second"}]}})");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(full->getOwnerFullName(), "Ann Lee");
    EXPECT_TRUE(full->isAttachmentMessage());
    EXPECT_EQ(full->attachment()->fileId, "first");
    EXPECT_EQ(full->createdAt(), full->createdAt());
    EXPECT_EQ(full->createdAt(), ApiDateFormatter::parse("2024-05-01T08:15:30.250Z"));
    EXPECT_TRUE(full->reciepients->at(0).isUnread);
    EXPECT_FALSE(full->reciepients->at(0).isDeleted);

    const auto lastOnly = decode<KRChatMessage>(R"({"_id":"m","threadId":"t","creatorsLName":"Lee"})");
    EXPECT_EQ(lastOnly->getOwnerFullName(), " Lee");
}

TEST(ApiDateFormatterTest, ZonesFractionsAndImpossibleDates) {
    const auto utc = Clock::time_point{} + 1714558530s + 250ms;  // 2024-05-01T10:15:30.250Z
    struct Case {
        const char* text;
        std::optional<Clock::time_point> expected;
    };
    const std::vector<Case> cases = {
        {"2024-05-01T10:15:30.250Z", utc},
        {"2024-05-01T12:15:30.250+0200", utc},
        {"2024-05-01T12:15:30.250+02:00", utc},
        {"2024-05-01T07:45:30.250-02:30", utc},
        {"2024-05-01T10:15:30Z", utc - 250ms},
        {"2024-05-01T10:15:30.25Z", utc},
        {"2024-05-01T10:15:30.250999Z", utc},
        {"2024-02-29T00:00:00.000Z", Clock::time_point{} + 1709164800s},
        {"2023-02-29T00:00:00.000Z", std::nullopt},
        {"2024-05-01T24:00:00.000Z", std::nullopt},
        {"2024-05-01T10:15:30.250", std::nullopt},
        {"2024-05-01T10:15:30.250+2400", std::nullopt},
        {"2024-05-01 10:15:30.250Z", std::nullopt},
        {"2024-05-01T10:15:30.Z", std::nullopt},
        {"2024-05-01T10:15:30.250Zjunk", std::nullopt},
        {"", std::nullopt},
        // Only the instants the clock can hold: its ticks reach from 1677 to 2262.
        {"2262-04-11T23:47:16.854Z", Clock::time_point{} + 9223372036854ms},
        {"2262-04-11T23:47:16.855Z", std::nullopt},
        {"2263-01-01T00:00:00.000Z", std::nullopt},
        {"9999-12-31T23:59:59.999-2359", std::nullopt},
        {"1677-09-21T00:12:43.146Z", Clock::time_point{} - 9223372036854ms},
        {"1677-09-21T00:12:43.145Z", std::nullopt},
        {"0000-01-01T00:00:00.000+2359", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(ApiDateFormatter::parse(c.text), c.expected);
    }
}

// ---- attachments, users, members of a thread ----

TEST(KRChatAttachmentTest, KeysAreReadAsTheServiceSpellsThem) {
    const auto a = decode<KRChatMessageAttachment>(
        R"({"fileID":"f","fileName":"a.png","fileSize":12,"downloadURL":null,
            "imageTrancodedURL":"i","streamingURL":"s","documentURL":"d",
            "fileId":"no","downloadUrl":"no"})");
    ASSERT_TRUE(a.ok());
    EXPECT_EQ(a->id(), "f");
    EXPECT_EQ(a->fileName, "a.png");
    EXPECT_EQ(a->fileSize, "");  // a number is not text
    EXPECT_EQ(a->downloadUrl, "");
    EXPECT_EQ(a->imageTrancodedURL, "i");
    EXPECT_EQ(a->streamingUrl, "s");
    EXPECT_EQ(a->documentUrl, "d");
    EXPECT_TRUE(decode<KRChatMessageAttachment>("{}").ok());
    EXPECT_FALSE(decode<KRChatMessageAttachment>("3").ok());
}

TEST(KRChatUserTest, UsersAndThreadMembers) {
    const auto user = decode<KRChatUser>(R"({"name":"Ann","userId":5})");
    ASSERT_TRUE(user.ok());
    EXPECT_EQ(user->name, "Ann");
    EXPECT_FALSE(user->lname);
    EXPECT_FALSE(user->userId);

    EXPECT_FALSE(decode<KRChatParticipant>(R"({"name":"Ann"})").ok());
    EXPECT_FALSE(decode<KRChatParticipant>(R"({"_id":1})").ok());
    struct Case {
        const char* json;
        const char* fullName;
    };
    for (const Case& c : std::vector<Case>{{R"({"_id":"a"})", ""},
                                           {R"({"_id":"a","name":"Ann"})", "Ann"},
                                           {R"({"_id":"a","name":"Ann","lname":""})", "Ann"},
                                           {R"({"_id":"a","lname":"Lee"})", " Lee"},
                                           {R"({"_id":"a","name":"Ann","lname":"Lee"})", "Ann Lee"}}) {
        SCOPED_TRACE(c.json);
        const auto member = decode<KRChatParticipant>(c.json);
        ASSERT_TRUE(member.ok());
        EXPECT_EQ(member->getFullName(), c.fullName);
    }
}

// ---- threads ----

TEST(KRChatThreadTest, OnlyTheIdIsRequired) {
    const auto bare = decode<KRChatThread>(R"({"_id":"t"})");
    ASSERT_TRUE(bare.ok());
    EXPECT_EQ(bare->id, "t");
    EXPECT_FALSE(bare->kivraneId || bare->name || bare->status || bare->isRestrictedChat ||
                 bare->numberOfAttachments || bare->context || bare->createdBy ||
                 bare->createdAt || bare->modifiedAt || bare->update || bare->members);
    EXPECT_FALSE(decode<KRChatThread>(R"({"_id":3})").ok());
    EXPECT_FALSE(decode<KRChatThread>(R"("t")").ok());

    const auto full = decode<KRChatThread>(
        R"({"_id":"t","kivraneId":"m","name":"n","status":"active","context":"c","createdBy":"u",
            "createdAt":"2024-05-01T10:00:00Z","modifiedAt":0,"isRestrictedChat":false,
            "update":true,"numberOfAttachments":4,"members":[]})");
    ASSERT_TRUE(full.ok());
    EXPECT_EQ(full->modifiedAt, JsonDate::referenceDate());
    EXPECT_FALSE(full->createdAt);
    EXPECT_EQ(full->isRestrictedChat, false);
    EXPECT_EQ(full->update, true);
    EXPECT_EQ(full->numberOfAttachments, 4);
    EXPECT_EQ(full->members->size(), 0u);

    const auto odd = decode<KRChatThread>(
        R"({"_id":"t","modifiedAt":"2024-05-01T10:00:00Z","isRestrictedChat":"true","update":1,
            "numberOfAttachments":"4","members":[{"_id":"a"},{"name":"no id"},{"_id":"c"}]})");
    ASSERT_TRUE(odd.ok());
    EXPECT_FALSE(odd->modifiedAt || odd->isRestrictedChat || odd->update ||
                 odd->numberOfAttachments || odd->members);
}

// ---- pages ----

TEST(KRThreadChatMessagesTest, APageAlwaysDecodes) {
    struct Case {
        const char* json;
        std::optional<std::size_t> messages;
        std::optional<bool> more;
        std::optional<std::int64_t> total;
        std::optional<std::int64_t> unread;
    };
    const std::vector<Case> cases = {
        {"{}", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {"[1,2]", std::nullopt, std::nullopt, std::nullopt, std::nullopt},
        {R"({"messages":[],"moreAvailable":false,"totalCount":0,"unreadCount":0})", 0u, false, 0, 0},
        {R"({"messages":[{"_id":"a","threadId":"t"},{"_id":"b"}],"moreAvailable":true,
             "totalCount":9,"unreadCount":2})",
         std::nullopt, true, 9, 2},
        {R"({"messages":[{"_id":"a","threadId":"t"}],"moreAvailable":1,"totalCount":"9"})", 1u,
         std::nullopt, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const auto page = decode<KRThreadChatMessages>(c.json);
        ASSERT_TRUE(page.ok());
        EXPECT_EQ(page->messages ? std::optional(page->messages->size()) : std::nullopt,
                  c.messages);
        EXPECT_EQ(page->moreAvailable, c.more);
        EXPECT_EQ(page->totalCount, c.total);
        EXPECT_EQ(page->unreadCount, c.unread);
    }
}

// ---- member list entries ----

TEST(KRMeetingParticipant2Test, DecodingTable) {
    struct Case {
        const char* json;
        bool decodes;
        std::optional<std::string> lastMessageId;
        std::optional<std::string> threadId;
        std::optional<std::size_t> recipients;
    };
    const std::vector<Case> cases = {
        {R"({"member":"u","memberInfo":{"name":"Ann","lname":"Lee"}})", true},
        {R"({"member":"u","memberInfo":{"name":"Ann"}})", false},
        {R"({"member":"u","memberInfo":{"name":null,"lname":"Lee"}})", false},
        {R"({"memberInfo":{"name":"Ann","lname":"Lee"}})", false},
        {R"({"member":"u"})", false},
        {R"({"member":"u","memberInfo":{"name":"A","lname":"L"},"threadInfo":{"lastMessageId":"m"}})",
         true, "m"},
        {R"({"member":"u","memberInfo":{"name":"A","lname":"L"},"threadInfo":"x"})", true},
        {R"({"member":"u","memberInfo":{"name":"A","lname":"L"},"threadInfo":{"lastMessageId":"m",
             "lastMessage":{"threadId":"t","recipients":[{"userId":"a","unread":true},{"userId":"b"}]}}})",
         true, "m", "t"},
        {R"({"member":"u","memberInfo":{"name":"A","lname":"L"},"threadInfo":{
             "lastMessage":{"threadId":"t","recipients":[]}}})",
         true, std::nullopt, "t", 0u},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.json);
        const auto entry = decode<KRMeetingParticipant2>(c.json);
        ASSERT_EQ(entry.ok(), c.decodes);
        if (!c.decodes) {
            continue;
        }
        EXPECT_EQ(entry->lastMessageId, c.lastMessageId);
        EXPECT_EQ(entry->threadId, c.threadId);
        EXPECT_EQ(entry->recipients ? std::optional(entry->recipients->size()) : std::nullopt,
                  c.recipients);
        EXPECT_FALSE(entry->unread);
    }
    // One bad entry fails the whole member list.
    EXPECT_FALSE(decode<std::vector<KRMeetingParticipant2>>(
                     R"([{"member":"u","memberInfo":{"name":"A","lname":"L"}},
                         {"member":"v","memberInfo":{"name":"B"}}])")
                     .ok());
}

TEST(KRMeetingParticipant2Test, UnreadStatusFollowsTheFirstMatchingRecipient) {
    auto entry = decode<KRMeetingParticipant2>(
                     R"({"member":"u","memberInfo":{"name":"A","lname":"L"},"threadInfo":{
                         "lastMessage":{"recipients":[{"userId":"me","unread":true},
                                                      {"userId":"me","unread":false}]}}})")
                     .value();
    entry.setUnreadStatus("me");
    EXPECT_EQ(entry.unread, true);
    entry.setUnreadStatus("someone else");
    EXPECT_FALSE(entry.unread);

    auto noList = decode<KRMeetingParticipant2>(R"({"member":"u","memberInfo":{"name":"A","lname":"L"}})")
                      .value();
    noList.unread = false;
    noList.setUnreadStatus("me");
    EXPECT_EQ(noList.unread, false);  // nothing to go by: left as it was

    const Recipient r{"me", true};
    EXPECT_EQ(serializeJson(r.toJson()), R"({"userId":"me","unread":true})");
}

}  // namespace
}  // namespace kr
