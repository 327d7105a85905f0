#include "platform/Messaging/MessagingService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingClient.h"
#include "platform/Messaging/MessagingCodes.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;
using Events = std::vector<std::string>;

// Receives peer and channel messages and writes them down as "peer(from: text)" and
// "channel(from@channel: text)".
class Inbox : public MessagingClientDelegate, public MessagingChannelDelegate {
public:
    Events events;
    std::function<void()> onMessage;  // runs inside the callback

    Events take() { return std::exchange(events, {}); }

    void messageReceived(const MessagingMessage& message, const std::string& peerId) override {
        add("peer(" + peerId + ": " + message.text + ")");
    }
    void messageReceived(const MessagingMessage& message, const MessagingMember& member) override {
        add("channel(" + member.userId + "@" + member.channelId + ": " + message.text + ")");
    }

private:
    void add(std::string event) {
        events.push_back(std::move(event));
        if (onMessage) {
            onMessage();
        }
    }
};

struct Member {
    std::shared_ptr<Inbox> inbox = std::make_shared<Inbox>();
    std::shared_ptr<MessagingClient> client;
    std::shared_ptr<MessagingChannel> channel;
};

class MessagingServiceTest : public ::testing::Test {
protected:
    std::shared_ptr<ManualClock> clock = ManualClock::create();
    // Replaced by a real-time queue in the tests that drive clients from other threads (it wakes
    // up when they post), before any client is made.
    std::shared_ptr<MainQueue> queue = MainQueue::create(clock);
    std::shared_ptr<MessagingService> service = MessagingService::create();

    void run() { queue->runPending(); }

    // Runs the queue and returns the code `call` passed to its completion (nullopt: none came).
    std::optional<int> codeOf(const std::function<void(MessagingClient::Completion)>& call) {
        std::optional<int> code;
        call([&code](int c) { code = c; });
        EXPECT_FALSE(code) << "a completion ran inside the call";
        run();
        return code;
    }

    Member makeMember() {
        Member m;
        m.client = MessagingClient::create("app", m.inbox, service, queue);
        return m;
    }
    // Logged in as `userId` and joined to "room".
    Member connect(const std::string& userId) {
        Member m = makeMember();
        m.client->loginByToken("token", userId, nullptr);
        m.channel = m.client->createChannelWithId("room", m.inbox);
        m.channel->joinWithCompletion(nullptr);
        run();
        EXPECT_TRUE(m.channel->isJoined()) << userId;
        return m;
    }
    static void say(Member& m, const std::string& text,
                    MessagingClient::Completion completion = nullptr) {
        m.channel->sendMessage(MessagingMessage{text}, {}, std::move(completion));
    }
    static void tell(Member& m, const std::string& peer, const std::string& text,
                     MessagingClient::Completion completion = nullptr) {
        m.client->sendMessage(MessagingMessage{text}, peer, {}, std::move(completion));
    }
};

TEST_F(MessagingServiceTest, ChannelMessagesReachEveryOtherMemberInSendOrderAndAreNotEchoed) {
    Member a = connect("a");
    Member b = connect("b");
    Member c = connect("c");
    EXPECT_EQ(service->channelMembers("room"), (Events{"a", "b", "c"}));
    std::vector<int> codes;
    for (const char* text : {"1", "2", "3"}) {
        say(a, text, [&codes](int code) { codes.push_back(code); });
    }
    say(b, "x");
    EXPECT_TRUE(b.inbox->events.empty()) << "delivered inside the send";
    run();
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(a.inbox->take(), (Events{"channel(b@room: x)"}));
    EXPECT_EQ(b.inbox->take(),
              (Events{"channel(a@room: 1)", "channel(a@room: 2)", "channel(a@room: 3)"}));
    EXPECT_EQ(c.inbox->take(), (Events{"channel(a@room: 1)", "channel(a@room: 2)",
                                       "channel(a@room: 3)", "channel(b@room: x)"}));
    const auto records = service->sentMessages();
    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[3], (MessagingRecord{MessagingRecord::Route::channel, "b", "room", "x", 0}));
}

TEST_F(MessagingServiceTest, PeerMessagesArriveInOrderAndAnOfflinePeerGetsNothing) {
    Member a = connect("a");
    Member b = connect("b");
    tell(a, "b", "1");
    say(a, "2");
    tell(a, "b", "3");
    EXPECT_EQ(codeOf([&](auto done) { tell(a, "ghost", "lost", done); }),
              MessagingCodes::kPeerUnreachable);
    EXPECT_EQ(b.inbox->take(), (Events{"peer(a: 1)", "channel(a@room: 2)", "peer(a: 3)"}));
    EXPECT_EQ(service->sentMessages().back(),
              (MessagingRecord{MessagingRecord::Route::peer, "a", "ghost", "lost",
                               MessagingCodes::kPeerUnreachable}));

    EXPECT_EQ(codeOf([&](auto done) { b.client->logoutWithCompletion(done); }), 0);
    EXPECT_FALSE(b.channel->isJoined()) << "a logout leaves the channels";
    EXPECT_EQ(codeOf([&](auto done) { tell(a, "b", "late", done); }),
              MessagingCodes::kPeerUnreachable);
    EXPECT_TRUE(b.inbox->take().empty());
}

TEST_F(MessagingServiceTest, CallsInTheWrongStateGetTheirCodes) {
    const struct {
        const char* name;
        std::function<void(Member&, MessagingClient::Completion)> call;
        int code;
    } cases[] = {
        {"login without a user id",
         [](Member& m, auto done) { m.client->loginByToken("t", "", done); },
         MessagingCodes::kInvalidArgument},
        {"second login",
         [](Member& m, auto done) {
             m.client->loginByToken("t", "u", nullptr);
             m.client->loginByToken("t", "u", done);
         },
         MessagingCodes::kAlreadyLoggedIn},
        {"join before login", [](Member& m, auto done) { m.channel->joinWithCompletion(done); },
         MessagingCodes::kNotLoggedIn},
        {"channel send before join",
         [](Member& m, auto done) {
             m.client->loginByToken("t", "u", nullptr);
             say(m, "hi", done);
         },
         MessagingCodes::kNotInChannel},
        {"peer send before login", [](Member& m, auto done) { tell(m, "u", "hi", done); },
         MessagingCodes::kNotLoggedIn},
        {"leave without join", [](Member& m, auto done) { m.channel->leaveWithCompletion(done); },
         MessagingCodes::kNotInChannel},
    };
    for (const auto& c : cases) {
        Member m = makeMember();
        m.channel = m.client->createChannelWithId("room", m.inbox);
        EXPECT_EQ(codeOf([&](auto done) { c.call(m, done); }), c.code) << c.name;
    }
    EXPECT_EQ(makeMember().client->createChannelWithId("", {}), nullptr);
}

TEST_F(MessagingServiceTest, InjectedFailuresPassTheirCodeAndChangeNothing) {
    Member a = connect("a");
    Member b = connect("b");

    service->failNext(MessagingOperation::sendChannelMessage, 4);
    service->failNext(MessagingOperation::sendPeerMessage, 3, "a");
    EXPECT_EQ(codeOf([&](auto done) { say(a, "c", done); }), 4);
    EXPECT_EQ(codeOf([&](auto done) { tell(b, "a", "p", done); }), 0) << "only a's send fails";
    EXPECT_EQ(codeOf([&](auto done) { tell(a, "b", "p", done); }), 3);
    EXPECT_EQ(b.inbox->take(), Events{});
    EXPECT_EQ(a.inbox->take(), (Events{"peer(b: p)"}));
    EXPECT_EQ(service->sentMessages().front().code, 4);

    service->failNext(MessagingOperation::leaveWithCompletion, 1);
    service->failNext(MessagingOperation::logoutWithCompletion, 1);
    EXPECT_EQ(codeOf([&](auto done) { a.channel->leaveWithCompletion(done); }), 1);
    EXPECT_EQ(codeOf([&](auto done) { a.client->logoutWithCompletion(done); }), 1);
    EXPECT_TRUE(a.channel->isJoined());
    EXPECT_TRUE(service->isOnline("a"));

    service->failNext(MessagingOperation::loginByToken, 5, "c");
    service->failNext(MessagingOperation::joinWithCompletion, 9);
    Member c = makeMember();
    EXPECT_EQ(codeOf([&](auto done) { c.client->loginByToken("t", "c", done); }), 5);
    EXPECT_FALSE(service->isOnline("c"));
    EXPECT_EQ(codeOf([&](auto done) { c.client->loginByToken("t", "c", done); }), 0);
    c.channel = c.client->createChannelWithId("room", c.inbox);
    EXPECT_EQ(codeOf([&](auto done) { c.channel->joinWithCompletion(done); }), 9);
    EXPECT_EQ(service->channelMembers("room"), (Events{"a", "b"}));

    service->failNext(MessagingOperation::createChannelWithId, 1);
    EXPECT_EQ(c.client->createChannelWithId("room", c.inbox), nullptr);
    service->failNext(MessagingOperation::createClient, 1);
    EXPECT_EQ(MessagingClient::create("app", {}, service), nullptr);
    EXPECT_NE(MessagingClient::create("app", {}, service), nullptr);
}

TEST_F(MessagingServiceTest, InjectedTextsArriveFromTheGivenSender) {
    Member a = connect("a");
    Member b = connect("b");
    EXPECT_TRUE(service->injectPeerMessage("server", "a", R"({"raw":true})"));
    EXPECT_FALSE(service->injectPeerMessage("server", "nobody", "x"));
    EXPECT_EQ(service->injectChannelMessage("room", "b", "hello"), 1u);
    EXPECT_EQ(service->injectChannelMessage("room", "ghost", "boo"), 2u);
    run();
    EXPECT_EQ(a.inbox->take(), (Events{R"(peer(server: {"raw":true}))", "channel(b@room: hello)",
                                       "channel(ghost@room: boo)"}));
    EXPECT_EQ(b.inbox->take(), (Events{"channel(ghost@room: boo)"}));
    EXPECT_TRUE(service->sentMessages().empty()) << "injected texts are not sends";
}

TEST_F(MessagingServiceTest, NothingArrivesAfterLeaveLogoutTakeOverDestroyOrDetach) {
    const struct {
        const char* how;
        std::function<void(Member&)> stop;
        Events expected;
    } cases[] = {
        {"channel left",
         [](Member& m) { m.channel->leaveWithCompletion(nullptr); },
         {"peer(a: p)"}},
        {"logged out", [](Member& m) { m.client->logoutWithCompletion(nullptr); }, {}},
        {"channel delegate cleared",
         [](Member& m) { m.channel->setChannelDelegate({}); },
         {"peer(a: p)"}},
        {"client delegate cleared",
         [](Member& m) { m.client->setDelegate({}); },
         {"channel(a@room: c)"}},
        {"user id taken over",
         [](Member& m) {
             auto other = MessagingClient::create("app", {}, m.client->service());
             other->loginByToken("t", "b", nullptr);
             EXPECT_FALSE(m.client->isLoggedIn());
             EXPECT_FALSE(m.channel->isJoined());
         },
         {}},
        {"channel and client dropped",
         [](Member& m) {
             m.channel.reset();
             m.client.reset();
         },
         {}},
    };
    for (const auto& c : cases) {
        Member a = connect("a");
        Member b = connect("b");
        say(a, "c");
        tell(a, "b", "p");
        c.stop(b);
        run();
        EXPECT_EQ(b.inbox->take(), c.expected) << c.how;
    }
}

TEST_F(MessagingServiceTest, DroppingTheClientInsideItsCallbackIsSafe) {
    Member a = connect("a");
    Member b = connect("b");
    b.inbox->onMessage = [&b] {
        b.channel.reset();
        b.client.reset();
    };
    std::weak_ptr<MessagingClient> watch = b.client;
    say(a, "first");
    say(a, "second");
    tell(a, "b", "third");
    run();
    EXPECT_EQ(b.inbox->take(), (Events{"channel(a@room: first)"}));
    EXPECT_TRUE(watch.expired());
    EXPECT_FALSE(service->isOnline("b"));

    // A completion whose issuer is gone is dropped.
    bool completed = false;
    say(a, "again", [&completed](int) { completed = true; });
    a.channel.reset();
    run();
    EXPECT_FALSE(completed);
}

TEST_F(MessagingServiceTest, MembersComingAndGoingOnOtherThreadsNeverReachAGoneInbox) {
    queue = MainQueue::create();
    constexpr int kThreads = 4;
    constexpr int kRounds = 50;
    Member listener = connect("listener");
    std::atomic<int> finished{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            for (int round = 0; round < kRounds; ++round) {
                Member m = makeMember();  // its inbox dies with it, deliveries still queued
                m.client->loginByToken("t", "w" + std::to_string(i), nullptr);
                m.channel = m.client->createChannelWithId("room", m.inbox);
                m.channel->joinWithCompletion(nullptr);
                say(m, "hello");
                tell(m, "listener", "hi");
                tell(listener, "w" + std::to_string(i), "back");
            }
            ++finished;
        });
    }
    const bool done = queue->runUntil([&] { return finished.load() == kThreads; }, 10s);
    for (auto& thread : threads) {
        thread.join();
    }
    queue->runPending();
    EXPECT_TRUE(done);
    EXPECT_EQ(service->channelMembers("room"), (Events{"listener"}));
    EXPECT_EQ(listener.inbox->take().size(), 2u * kThreads * kRounds);
}

}  // namespace
}  // namespace kr::platform
