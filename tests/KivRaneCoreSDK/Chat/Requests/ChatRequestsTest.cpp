// Every chat request as it goes on the wire: URL (path and query), method and exact body.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "KivRaneCoreSDK/Chat/Requests/GetChatMessagesRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetChatThreadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetParticipantsRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetPrivateChatThreadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/MessageMarkReadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/SendChatMessageRequest.h"

namespace kr {
namespace {

template <class Request, class Reply>
constexpr bool kRepliesWith =
    KRAPIRequestType<Request>&& std::is_same_v<typename Request::ReturnDataType, Reply>;
static_assert(kRepliesWith<GetChatThreadRequest, KRChatThread>);
static_assert(kRepliesWith<GetChatMessagesRequest, KRThreadChatMessages>);
static_assert(kRepliesWith<GetPrivateChatThreadRequest, KRChatThread>);
static_assert(kRepliesWith<GetParticipantsRequest, std::vector<KRMeetingParticipant2>>);
static_assert(kRepliesWith<SendChatMessageRequest, KRChatMessage>);
static_assert(kRepliesWith<MessageMarkReadRequest, KRAPISuccess>);

struct Wire {
    std::string url;
    std::string method;
    std::optional<std::string> body;
};

template <class Request>
Wire wire(const Request& request, bool guest) {
    const auto built = request.createUrlRequest(KRApiServer::production, "device", "token", guest);
    EXPECT_TRUE(built.ok());
    const std::string& url = built.value().url;
    return {url.substr(url.find("/api/")), built.value().method, built.value().body};
}

struct Case {
    const char* name;
    std::function<Wire(bool guest)> build;
    std::string url;
    std::string method;
    const char* body;  ///< nullptr: no body
};

TEST(ChatRequestsTest, PathMethodAndBodyOfEveryRequest) {
    const KRSendAttachmentInfo file("f-1", "photo.png", "2048", "https://files.test/f-1");
    const std::vector<Case> cases = {
        {"main thread", [](bool g) { return wire(GetChatThreadRequest("1234567890"), g); },
         "/api/chat/getThreadForChat/guest", "POST", R"({"kivraneId":"1234567890"})"},
        {"thread page", [](bool g) { return wire(GetChatMessagesRequest("t1"), g); },
         "/api/chat/thread/t1/messages?limit=150&offset=0", "GET", nullptr},
        {"private thread", [](bool g) { return wire(GetPrivateChatThreadRequest("A", "B"), g); },
         "/api/chat/thread", "POST", R"({"members":["A","B"],"context":"B","admins":["B"]})"},
        {"private thread with oneself",
         [](bool g) { return wire(GetPrivateChatThreadRequest("B", "B"), g); }, "/api/chat/thread",
         "POST", R"({"members":["B","B"],"context":"B","admins":["B"]})"},
        {"members", [](bool g) { return wire(GetParticipantsRequest("m 1", "t1"), g); },
         "/api/chat/thread/t1/getsortedmembers/?kivraneId=m%201", "GET", nullptr},
        {"send without a file",
         [](bool g) { return wire(SendChatMessageRequest("t1", "m1", "", std::nullopt), g); },
         "/api/chat/thread/t1/messages", "POST",
         R"({"messageComponent":{"text":"","attachments":[]},"kivraneId":"m1"})"},
        {"send with a file",
         [&](bool g) { return wire(SendChatMessageRequest("t1", "m1", "look", file), g); },
         "/api/chat/thread/t1/messages", "POST",
         R"({"messageComponent":{"text":"look","attachments":[{"fileID":"f-1","fileSize":"2048",
             "fileName":"photo.png","documentURL":"https://files.test/f-1",
             "downloadURL":"https://files.test/f-1","imageTrancodedURL":"https://files.test/f-1"}]},
             "kivraneId":"m1"})"},
        {"read mark", [](bool g) { return wire(MessageMarkReadRequest("msg-9", "t1"), g); },
         "/api/chat/thread/t1/messages/markread?previous=read", "POST",
         R"({"messageIds":["msg-9"]})"},
    };
    for (const auto& c : cases) {
        for (const bool guest : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (guest ? " (guest)" : " (signed in)"));
            const Wire w = c.build(guest);
            EXPECT_EQ(w.url, c.url);
            EXPECT_EQ(w.method, c.method);
            if (c.body == nullptr) {
                EXPECT_FALSE(w.body);
            } else {
                ASSERT_TRUE(w.body);
                EXPECT_EQ(boost::json::parse(*w.body), boost::json::parse(c.body));
            }
        }
    }
}

TEST(ChatRequestsTest, ThreadIdsAreOnePathSegmentEach) {
    struct IdCase {
        const char* id;
        const char* segment;
    };
    for (const IdCase& c : std::vector<IdCase>{{"a/b", "a%2Fb"},
                                              {"..", "%2E%2E"},
                                              {"x?y#z", "x%3Fy%23z"},
                                              {"", ""}}) {
        SCOPED_TRACE(c.id);
        const std::string thread = std::string("/api/chat/thread/") + c.segment;
        EXPECT_EQ(wire(GetChatMessagesRequest(c.id), true).url,
                  thread + "/messages?limit=150&offset=0");
        EXPECT_EQ(wire(SendChatMessageRequest(c.id, "m", "t", std::nullopt), true).url,
                  thread + "/messages");
        EXPECT_EQ(wire(MessageMarkReadRequest("x", c.id), true).url,
                  thread + "/messages/markread?previous=read");
        EXPECT_EQ(wire(GetParticipantsRequest("m", c.id), true).url,
                  thread + "/getsortedmembers/?kivraneId=m");
    }
}

TEST(ChatRequestsTest, TextsThatAreNotUtf8AreRepairedInTheBody) {
    const std::string bad = "caf\xC3";  // a cut-off two-byte sequence
    const SendChatMessageRequest send("t", "m", bad, KRSendAttachmentInfo("f", bad, "1", "u"));
    const auto& content = send.requestParameters.at("messageComponent").as_object();
    EXPECT_EQ(content.at("text").as_string(), "caf\xEF\xBF\xBD");
    EXPECT_EQ(content.at("attachments").as_array()[0].as_object().at("fileName").as_string(),
              "caf\xEF\xBF\xBD");
    const GetPrivateChatThreadRequest thread("\xFF", "me");
    EXPECT_EQ(thread.requestParameters.at("members").as_array()[0].as_string(), "\xEF\xBF\xBD");
}

TEST(ChatRequestsTest, AnUnansweredRequestReadsAsUnknown) {
    const GetChatMessagesRequest request("t1");
    EXPECT_EQ(request.getResult().error().kind(), KRApiRequestError::Kind::unKnown);
}

}  // namespace
}  // namespace kr
