// The chat manager without a network: every operation still answers, later and on its queue;
// pushed messages are merged and routed; observers are owned until removed and may change
// themselves from inside a callback.

#include "KivRaneCoreSDK/Chat/KRChatManager.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChatTestSupport.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr {
namespace {

using Kind = KRApiRequestError::Kind;
using test::chatMessage;
using test::RecordingChatObserver;

class KRChatManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<KRChatManager> chat = KRChatManager::create(queue);
};

TEST_F(KRChatManagerTest, WithoutANetworkClientEveryOperationAnswersUnknownLater) {
    chat->setMeetingData("m1", "pin", "room", "uid", "me");
    std::vector<std::string> answered;
    const auto expectUnknown = [&](const char* name) {
        return [&answered, name](const auto& result) {
            EXPECT_FALSE(result.ok()) << name;
            if (!result.ok()) {
                EXPECT_EQ(result.error().kind(), Kind::unKnown) << name;
            }
            answered.push_back(name);
        };
    };
    chat->getMainChatThread(expectUnknown("thread"));
    chat->getChatThreadMessages("t1", expectUnknown("page"));
    chat->getPrivateChatThreadWithUser("u2", expectUnknown("private thread"));
    chat->getPrivateChatMessages("u2", expectUnknown("private page"));
    chat->sendChatTextMessage("hi", std::nullopt, KRChatMessageDestination::group(),
                              expectUnknown("group send"));
    chat->sendChatTextMessage("hi", std::nullopt, KRChatMessageDestination::user("u2"),
                              expectUnknown("private send"));
    chat->markReadMessages("x", "t1", expectUnknown("read mark"));
    chat->getChatActiveParticipants(
        [&](std::vector<KRMeetingParticipant2> members, std::optional<KRApiRequestError> error) {
            EXPECT_TRUE(members.empty());
            ASSERT_TRUE(error);
            EXPECT_EQ(error->kind(), Kind::unKnown);
            answered.push_back("members");
        });
    chat->leaveMainChatThread([&](bool left) {
        EXPECT_FALSE(left);
        answered.push_back("leave");
    });

    EXPECT_TRUE(answered.empty());  // never inside the call
    queue->runPending();
    EXPECT_EQ(answered, (std::vector<std::string>{"thread", "page", "private thread",
                                                  "private page", "group send", "private send",
                                                  "read mark", "members", "leave"}));
    EXPECT_TRUE(chat->allChatMessages().empty());
    EXPECT_TRUE(chat->privateChatThreads().empty());
}

TEST_F(KRChatManagerTest, PushedMessagesAreMergedOnceAndRouted) {
    chat->setMeetingData("m1", "pin", "room", "uid", "me");
    queue->runPending();
    auto observer = std::make_shared<RecordingChatObserver>();
    chat->addChatDelegate(observer, "A");

    struct Push {
        KRChatMessage message;
        const char* expected;  ///< callback, or nullptr for none
    };
    const std::vector<Push> pushes = {
        {chatMessage("s1", "t-main", "u2", {}, "system"), nullptr},
        {chatMessage("p1", "t-private", "u2", {"me", "u2"}), "private:p1:u2"},
        {chatMessage("p1", "t-private", "u2", {"me", "u2"}), nullptr},  // already cached
        {chatMessage("p2", "t-private", "me", {"me"}), "private:p2:"},
        {chatMessage("p3", "t-other", "me"), "private:p3:"},
    };
    std::vector<std::string> expected;
    for (const Push& push : pushes) {
        chat->addSocketChatMessage(push.message);
        if (push.expected != nullptr) {
            expected.push_back(push.expected);
        }
    }
    EXPECT_EQ(observer->seen, expected);
    EXPECT_EQ(observer->incoming, (std::vector<bool>{true, false, false}));
    ASSERT_EQ(chat->allChatMessages().size(), 3u);
    EXPECT_EQ(chat->allChatMessages()[0].id, "p1");
    EXPECT_TRUE(chat->allChatMessages()[0].isIncomingMessage);
    // While the main thread is unknown no message may claim a private thread: it could be the
    // group's own thread.
    EXPECT_TRUE(chat->privateChatThreads().empty());
}

TEST_F(KRChatManagerTest, ChangesToObserversInsideACallbackApplyFromTheNextMessage) {
    struct SelfEditingObserver : RecordingChatObserver {
        KRChatManager* manager = nullptr;
        std::shared_ptr<RecordingChatObserver> toAdd;
        void didRecievePrivateChatMessage(KRChatManager& m, const KRChatMessage& message,
                                          const std::string& from) override {
            RecordingChatObserver::didRecievePrivateChatMessage(m, message, from);
            if (toAdd) {
                m.addChatDelegate(toAdd, "late");
                toAdd.reset();
                m.removeDelegate("B");
                m.removeDelegate("self");
            }
            // Reading the manager from a callback already finds the message.
            EXPECT_EQ(m.allChatMessages().back().id, message.id);
        }
    };
    auto editor = std::make_shared<SelfEditingObserver>();
    auto b = std::make_shared<RecordingChatObserver>();
    auto late = std::make_shared<RecordingChatObserver>();
    editor->toAdd = late;
    chat->addChatDelegate(editor, "self");
    chat->addChatDelegate(b, "B");
    chat->addChatDelegate(nullptr, "empty");  // registered, receives nothing

    chat->addSocketChatMessage(chatMessage("1", "t", "u2", {"u2"}));
    EXPECT_EQ(editor->seen, std::vector<std::string>{"private:1:u2"});
    EXPECT_EQ(b->seen, std::vector<std::string>{"private:1:u2"});  // taken before the removal
    EXPECT_TRUE(late->seen.empty());

    chat->addSocketChatMessage(chatMessage("2", "t", "u2", {"u2"}));
    EXPECT_EQ(editor->seen.size(), 1u);
    EXPECT_EQ(b->seen.size(), 1u);
    EXPECT_EQ(late->seen, std::vector<std::string>{"private:2:u2"});

}

TEST_F(KRChatManagerTest, TheManagerOwnsItsObserversUntilTheyAreRemoved) {
    // Counts into a place the test keeps; the observer itself is kept by the manager alone.
    struct Counting : KRChatClientDelegate {
        explicit Counting(std::shared_ptr<int> c) : count(std::move(c)) {}
        void didRecieveNewChatMessage(KRChatManager&, const KRChatMessage&) override { ++*count; }
        void didRecievePrivateChatMessage(KRChatManager&, const KRChatMessage&,
                                          const std::string&) override {
            ++*count;
        }
        std::shared_ptr<int> count;
    };
    const auto count = std::make_shared<int>(0);
    const auto registerFresh = [&](const std::string& identifier) {
        auto observer = std::make_shared<Counting>(count);
        chat->addChatDelegate(observer, identifier);
        return std::weak_ptr<Counting>(observer);
    };

    const auto first = registerFresh("first");
    chat->addSocketChatMessage(chatMessage("1", "t", "u2", {"u2"}));
    EXPECT_EQ(*count, 1);
    EXPECT_FALSE(first.expired());

    // Replacing or removing an entry lets its observer go.
    chat->addChatDelegate(nullptr, "first");
    EXPECT_TRUE(first.expired());
    const auto second = registerFresh("second");
    chat->removeDelegate("second");
    EXPECT_TRUE(second.expired());
    chat->addSocketChatMessage(chatMessage("2", "t", "u2", {"u2"}));
    EXPECT_EQ(*count, 1);
}

TEST_F(KRChatManagerTest, ReplacingAnIdentifierKeepsItsPlaceInTheCallingOrder) {
    std::vector<std::string> order;
    struct Named : KRChatClientDelegate {
        Named(std::vector<std::string>& o, std::string n) : out(o), name(std::move(n)) {}
        void didRecieveNewChatMessage(KRChatManager&, const KRChatMessage&) override {}
        void didRecievePrivateChatMessage(KRChatManager&, const KRChatMessage&,
                                          const std::string&) override {
            out.push_back(name);
        }
        std::vector<std::string>& out;
        std::string name;
    };
    auto first = std::make_shared<Named>(order, "first");
    auto second = std::make_shared<Named>(order, "second");
    auto replacement = std::make_shared<Named>(order, "replacement");
    chat->addChatDelegate(first, "1");
    chat->addChatDelegate(second, "2");
    chat->addChatDelegate(replacement, "1");
    chat->removeDelegate("never-used");
    chat->addSocketChatMessage(chatMessage("m", "t", "u2"));
    EXPECT_EQ(order, (std::vector<std::string>{"replacement", "second"}));
}

TEST_F(KRChatManagerTest, MainThreadMessagesAreHandedOutWithoutCopies) {
    // Before the main thread is known its id is empty, and so is the thread of these messages.
    for (const char* id : {"1", "2", "3"}) {
        chat->addSocketChatMessage(chatMessage(id, "", "u2"));
    }
    const auto before = chat->getMainThreadChatMessages();
    chat->addSocketChatMessage(chatMessage("4", "", "u2"));
    chat->addSocketChatMessage(chatMessage("other", "t9", "u2"));
    const auto after = chat->getMainThreadChatMessages();

    ASSERT_EQ(before.size(), 3u) << "a list handed out stays as it was";
    ASSERT_EQ(after.size(), 4u);
    std::vector<std::string> ids;
    for (const auto& m : after) {
        ids.push_back(m.id);
    }
    EXPECT_EQ(ids, (std::vector<std::string>{"1", "2", "3", "4"}));
    for (std::size_t i = 0; i < before.size(); ++i) {
        EXPECT_EQ(&before[i], &after[i]) << "the cached message itself, not a copy";
        EXPECT_EQ(&after[i], &chat->allChatMessages()[i]);
    }
}

TEST(KRChatMessageDestinationTest, Equality) {
    EXPECT_EQ(KRChatMessageDestination::group(), KRChatMessageDestination::group());
    EXPECT_EQ(KRChatMessageDestination::user("a"), KRChatMessageDestination::user("a"));
    EXPECT_NE(KRChatMessageDestination::user("a"), KRChatMessageDestination::user("b"));
    EXPECT_NE(KRChatMessageDestination::user(""), KRChatMessageDestination::group());
}

}  // namespace
}  // namespace kr
