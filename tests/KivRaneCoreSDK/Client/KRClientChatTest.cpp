// The client's chat methods before any join configured the chat: each one answers later, on the
// queue, that nothing could be asked; the cached views stay empty and agree.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "support/ClientTestDelegate.h"

namespace kr {
namespace {

using Kind = KRApiRequestError::Kind;

TEST(KRClientChatTest, BeforeAnyJoinEveryChatRequestAnswersLaterThatNothingWasAsked) {
    auto queue = platform::MainQueue::create(platform::ManualClock::create());
    KRDependencies deps;
    deps.queue = queue;
    deps.reachability = test::quietReachability();
    deps.notifications = std::make_shared<platform::NotificationCenter>();
    auto client = KRClient::create(deps);

    std::vector<std::string> answered;
    const auto record = [&](const std::string& name) {
        return [&answered, name](const auto& result) {
            EXPECT_FALSE(result.ok()) << name;
            if (!result.ok()) {
                EXPECT_EQ(result.error().kind(), Kind::unKnown) << name;
            }
            answered.push_back(name);
        };
    };
    client->sendChatTextMessage("hello", record("group"));
    client->sendPrivateChatTextMessage("hello", "u2", record("private"));
    client->sendAttachmentMessage("", "", "", "", "", record("attachment"));
    client->getMainChatThread(record("thread"));
    client->getChatThreadMessages("t1", record("page"));
    client->getPrivateChatThread("u2", record("privateThread"));
    client->getPrivateChatMessages("u2", record("privatePage"));
    client->markReadMessages("m1", "t1", record("read"));
    client->getAllActiveParticipants(
        [&](std::vector<KRMeetingParticipant2> members, std::optional<KRApiRequestError> error) {
            EXPECT_TRUE(members.empty());
            EXPECT_TRUE(error.has_value());
            answered.push_back("members");
        });
    EXPECT_TRUE(answered.empty());  // never inside the call
    queue->runPending();
    EXPECT_EQ(answered, (std::vector<std::string>{"group", "private", "attachment", "thread",
                                                  "page", "privateThread", "privatePage", "read",
                                                  "members"}));
    EXPECT_TRUE(client->getMeetingChatMessages().empty());
    EXPECT_TRUE(client->getMainChatThreadMessages().empty());
    EXPECT_FALSE(client->chatClient()->hasNetworkClient());
}

}  // namespace
}  // namespace kr
