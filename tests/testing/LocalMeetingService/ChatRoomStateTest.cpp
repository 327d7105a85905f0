// The local service's chat: who may use which thread, paging, read marks and member order.

#include "testing/LocalMeetingService/ChatRoomState.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>

namespace kr::test {
namespace {

namespace json = boost::json;

json::value body(const ServerReply& reply) {
    return json::parse(reply.body);
}

class ChatRoomStateTest : public ::testing::Test {
protected:
    ChatRoomStateTest() {
        chat.onThreadOpened = [this](const std::string& id) { opened.push_back(id); };
        for (const ChatCaller* c : {&ann, &bob, &eve}) {
            chat.rememberUser(*c);
        }
        EXPECT_EQ(chat.mainThread(ann, "m1", "r1", "main").status, 200);
        EXPECT_EQ(chat.mainThread(bob, "m1", "r1", "main").status, 200);
    }

    std::string post(const ChatCaller& from, const std::string& thread, const std::string& text) {
        const auto reply = chat.send(
            from, thread,
            json::parse(R"({"messageComponent":{"text":")" + text +
                        R"(","attachments":[]},"kivraneId":"m1"})")
                .as_object());
        EXPECT_EQ(reply.status, 200) << reply.body;
        return std::string(body(reply).at("_id").as_string());
    }

    ChatRoomState chat;
    ChatCaller ann{"guest-1", "m1", "Ann", ""};
    ChatCaller bob{"guest-2", "m1", "Bob", ""};
    ChatCaller eve{"guest-3", "m2", "Eve", ""};
    std::vector<std::string> opened;
};

TEST_F(ChatRoomStateTest, AccessRules) {
    const auto privateBody = json::parse(R"({"members":["guest-2","guest-1"],"context":"guest-1",
                                             "admins":["guest-1"]})")
                                 .as_object();
    struct Case {
        const char* name;
        ServerReply reply;
        int status;
    };
    const Case cases[] = {
        {"another meeting's guest reads the main thread", chat.page(eve, "main", ""), 403},
        {"unknown thread", chat.page(ann, "nope", ""), 404},
        {"private thread for others", chat.privateThread(eve, privateBody), 403},
        {"private thread with oneself",
         chat.privateThread(ann, json::parse(R"({"members":["guest-1","guest-1"],
                                                 "context":"guest-1","admins":["guest-1"]})")
                                     .as_object()),
         400},
        {"bad page size", chat.page(ann, "main", "limit=-1"), 400},
        {"send without a message component",
         chat.send(ann, "main", json::parse(R"({"kivraneId":"m1"})").as_object()), 400},
        {"read mark without previous=read",
         chat.markRead(ann, "main", "", json::parse(R"({"messageIds":["x"]})").as_object()), 400},
        {"members with another meeting id", chat.members(ann, "main", "kivraneId=m2", {}), 400},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.reply.status, c.status) << c.name << ": " << c.reply.body;
    }
    // The same pair always gets the same private thread, whoever asks.
    const auto first = body(chat.privateThread(ann, privateBody));
    const auto second = body(chat.privateThread(
        bob, json::parse(R"({"members":["guest-1","guest-2"],"context":"guest-2",
                              "admins":["guest-2"]})")
                 .as_object()));
    EXPECT_EQ(first.at("_id"), second.at("_id"));
    EXPECT_EQ(opened.size(), 1u);
    EXPECT_EQ(chat.page(eve, std::string(first.at("_id").as_string()), "").status, 403);
}

TEST_F(ChatRoomStateTest, PagesAreNewestFirstAndReadMarksCountDown) {
    std::vector<std::string> ids;
    for (int i = 0; i < 5; ++i) {
        ids.push_back(post(ann, "main", "m" + std::to_string(i)));
    }
    const auto page = body(chat.page(bob, "main", "limit=2&offset=1"));
    EXPECT_EQ(page.at("messages").as_array()[0].at("_id"), json::value(ids[3]));
    EXPECT_EQ(page.at("messages").as_array()[1].at("_id"), json::value(ids[2]));
    EXPECT_EQ(page.at("moreAvailable"), json::value(true));
    EXPECT_EQ(page.at("totalCount"), json::value(5));
    EXPECT_EQ(page.at("unreadCount"), json::value(5));
    EXPECT_EQ(body(chat.page(ann, "main", "")).at("unreadCount"), json::value(0));

    const auto mark = chat.markRead(bob, "main", "previous=read",
                                    json::parse(R"({"messageIds":[")" + ids[2] + R"("]})").as_object());
    EXPECT_EQ(mark.status, 200);
    EXPECT_EQ(body(chat.page(bob, "main", "")).at("unreadCount"), json::value(2));
    EXPECT_EQ(chat.takePosted().size(), 5u);
    EXPECT_TRUE(chat.takePosted().empty());
}

}  // namespace
}  // namespace kr::test
