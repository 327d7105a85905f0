// Chat managers of guests of one meeting against the local meeting service over HTTPS: the main
// thread and its first page, sending, private threads, read marks, members and leaving; pushed
// messages reach the other guests through the service's posting hook, as the room socket will
// deliver them.

#include "KivRaneCoreSDK/Chat/KRChatManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ChatTestSupport.h"
#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Dispatch/MainQueue.h"
#include "support/NetworkTestDependencies.h"
#include "support/MeetingServiceTestClient.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::test {
namespace {

using namespace std::chrono_literals;
using R = MeetingServiceRoute;
using Kind = KRApiRequestError::Kind;
using MessageResult = Result<KRChatMessage, KRApiRequestError>;
using PageResult = Result<KRThreadChatMessages, KRApiRequestError>;

struct Guest {
    std::string name;
    std::string userId;
    std::shared_ptr<KRNetworkClient> client;
    std::shared_ptr<KRChatManager> chat;
    std::shared_ptr<RecordingChatObserver> observer = std::make_shared<RecordingChatObserver>();
    std::vector<std::vector<KRChatMessage>> firstPages;
};

template <class Messages>
std::vector<std::string> idsOf(const Messages& messages) {
    std::vector<std::string> ids;
    for (const auto& m : messages) {
        ids.push_back(m.id);
    }
    return ids;
}

class KRChatManagerIntegrationTest : public ::testing::Test {
protected:
    KRChatManagerIntegrationTest() {
        // Stands in for the room socket: each posted message is pushed to the other members'
        // managers on the main queue, decoded from the exact JSON the service sent.
        service.setOnChatMessagePosted([this, queue = std::weak_ptr<platform::MainQueue>(
                                                  main)](const ChatMessagePosted& posted) {
            const auto target = queue.lock();
            if (!target) {
                return;
            }
            target->post([this, posted] {
                auto message = decodeJson<KRChatMessage>(posted.messageJson);
                ASSERT_TRUE(message.ok());
                for (const std::string& userId : posted.recipientUserIds) {
                    if (const auto it = guests_.find(userId); it != guests_.end()) {
                        it->second->chat->addSocketChatMessage(message.value());
                    }
                }
                if (pushToSender_) {
                    if (const auto it = guests_.find(posted.senderUserId); it != guests_.end()) {
                        it->second->chat->addSocketChatMessage(message.value());
                    }
                }
            });
        });
    }
    ~KRChatManagerIntegrationTest() override {
        service.setOnChatMessagePosted({});
    }

    /// A second meeting on the service, with its own chat thread.
    MeetingRoomSetup addSecondRoom(std::string chatThreadId) {
        MeetingRoomSetup second;
        second.meetingId = "2222222222";
        second.roomId = "room-2";
        second.chatThreadId = std::move(chatThreadId);
        service.addRoom(second);
        return second;
    }

    bool runUntil(const std::function<bool()>& done) {
        return main->runUntil(done, 20s);
    }

    /// Logs a guest in and configures its chat; waits for the main thread (and its first page)
    /// unless told not to.
    std::unique_ptr<Guest> join(const std::string& name, bool waitForMainThread = true) {
        auto guest = std::make_unique<Guest>();
        guest->name = name;
        guest->client = KRNetworkClient::create(test::networkDependencies(main, service.routing()));
        const auto login =
            sendAndWait(*guest->client, GuestLoginRequest(setup.meetingId, "", setup.pin, name, ""));
        EXPECT_TRUE(login.getResult().ok());
        guest->userId = login.getResult().value().guestUserId();
        guest->client->setJwtToken(login.getResult().value().jwtToken());
        guest->chat = KRChatManager::create(main);
        guest->chat->addChatDelegate(guest->observer, "observer");
        Guest* raw = guest.get();
        guest->chat->setOnGetAllChatMessages(
            [raw](const std::vector<KRChatMessage>& page) { raw->firstPages.push_back(page); });
        guest->chat->assignNetworkClient(guest->client);
        guest->chat->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid-" + name,
                                    guest->userId);
        if (waitForMainThread) {
            EXPECT_TRUE(runUntil([raw] { return !raw->firstPages.empty(); }));
            EXPECT_EQ(guest->chat->mainChatThreadID(), setup.chatThreadId);
        }
        guests_[guest->userId] = guest.get();
        return guest;
    }

    MessageResult send(Guest& from, const std::string& text, KRChatMessageDestination to,
                       std::optional<KRSendAttachmentInfo> file = std::nullopt) {
        std::optional<MessageResult> out;
        from.chat->sendChatTextMessage(text, std::move(file), std::move(to),
                                       [&](MessageResult r) { out.emplace(std::move(r)); });
        EXPECT_TRUE(runUntil([&] { return out.has_value(); }));
        return out ? std::move(*out) : MessageResult(Failure{KRApiRequestError::noData()});
    }

    PageResult page(Guest& g, const std::string& threadId) {
        std::optional<PageResult> out;
        g.chat->getChatThreadMessages(threadId, [&](PageResult r) { out.emplace(std::move(r)); });
        EXPECT_TRUE(runUntil([&] { return out.has_value(); }));
        return out ? std::move(*out) : PageResult(Failure{KRApiRequestError::noData()});
    }

    using Members = std::pair<std::vector<KRMeetingParticipant2>, std::optional<KRApiRequestError>>;

    Members members(Guest& g) {
        std::optional<Members> out;
        g.chat->getChatActiveParticipants(
            [&](std::vector<KRMeetingParticipant2> list, std::optional<KRApiRequestError> error) {
                out.emplace(std::move(list), std::move(error));
            });
        EXPECT_TRUE(runUntil([&] { return out.has_value(); }));
        return out ? std::move(*out) : Members{};
    }

    bool leave(Guest& g) {
        std::optional<bool> out;
        g.chat->leaveMainChatThread([&](bool left) { out = left; });
        EXPECT_TRUE(runUntil([&] { return out.has_value(); }));
        return out.value_or(false);
    }

    ScopedTempDirectory defaults_;
    LocalMeetingService service;
    MeetingRoomSetup setup;
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create(clock);
    std::map<std::string, Guest*> guests_;
    bool pushToSender_ = false;
};

TEST_F(KRChatManagerIntegrationTest, TwoGuestsExchangeGroupAndPrivateMessages) {
    auto ann = join("Ann");
    auto bob = join("Bob");

    // Group messages: the sender's reply and the other side's push, in order.
    const auto hello = send(*ann, "hello", KRChatMessageDestination::group());
    ASSERT_TRUE(hello.ok());
    EXPECT_FALSE(hello->isIncomingMessage);
    EXPECT_EQ(idsOf(ann->chat->getMainThreadChatMessages()), std::vector<std::string>{hello->id});
    ASSERT_TRUE(runUntil([&] { return bob->observer->seen.size() == 1; }));
    const auto hi = send(*bob, "hi Ann", KRChatMessageDestination::group());
    ASSERT_TRUE(hi.ok());
    ASSERT_TRUE(runUntil([&] { return ann->observer->seen.size() == 1; }));
    EXPECT_EQ(bob->observer->seen, std::vector<std::string>{"main:" + hello->id});
    EXPECT_EQ(ann->observer->seen, std::vector<std::string>{"main:" + hi->id});
    EXPECT_EQ(bob->observer->incoming, std::vector<bool>{true});
    const std::vector<std::string> groupOrder = {hello->id, hi->id};
    EXPECT_EQ(idsOf(ann->chat->getMainThreadChatMessages()), groupOrder);
    EXPECT_EQ(idsOf(bob->chat->getMainThreadChatMessages()), groupOrder);
    EXPECT_EQ(bob->chat->getMainThreadChatMessages()[0].getOwnerFullName(), "Ann");

    // A private message opens the thread once; the push tells Bob which thread is Ann's.
    const KRSendAttachmentInfo file("f-1", "notes.pdf", "2048", "https://files.test/f-1");
    const auto secret = send(*ann, "just for you", KRChatMessageDestination::user(bob->userId), file);
    ASSERT_TRUE(secret.ok());
    ASSERT_TRUE(secret->attachment());
    EXPECT_EQ(secret->attachment()->downloadUrl, "https://files.test/f-1");
    EXPECT_EQ(service.requestCount(R::chatPrivateThread), 1u);
    const std::string privateThread = secret->threadId;
    EXPECT_NE(privateThread, setup.chatThreadId);
    EXPECT_EQ(ann->chat->privateChatThreads().at(bob->userId), privateThread);
    ASSERT_TRUE(runUntil([&] { return bob->observer->seen.size() == 2; }));
    EXPECT_EQ(bob->observer->seen[1], "private:" + secret->id + ":" + ann->userId);
    EXPECT_EQ(bob->chat->privateChatThreads().at(ann->userId), privateThread);
    EXPECT_EQ(idsOf(bob->chat->getMainThreadChatMessages()), groupOrder);

    const auto answer = send(*bob, "thanks", KRChatMessageDestination::user(ann->userId));
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(answer->threadId, privateThread);
    EXPECT_EQ(service.requestCount(R::chatPrivateThread), 1u);  // the pushed thread was used
    ASSERT_TRUE(runUntil([&] { return ann->observer->seen.size() == 2; }));
    EXPECT_EQ(ann->observer->seen[1], "private:" + answer->id + ":" + bob->userId);

    // History newest first, with Bob's unread count; a read mark clears it.
    std::optional<PageResult> history;
    bob->chat->getPrivateChatMessages(ann->userId, [&](PageResult r) { history.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return history.has_value(); }));
    ASSERT_TRUE(history->ok());
    EXPECT_EQ(idsOf(*history->value().messages),
              (std::vector<std::string>{answer->id, secret->id}));
    EXPECT_EQ(history->value().totalCount, 2);
    EXPECT_EQ(history->value().unreadCount, 1);
    EXPECT_EQ(history->value().moreAvailable, false);
    EXPECT_EQ(history->value().messages->at(1).isIncomingMessage, true);

    std::optional<Result<KRAPISuccess, KRApiRequestError>> read;
    bob->chat->markReadMessages(secret->id, privateThread, [&](auto r) { read.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return read.has_value(); }));
    ASSERT_TRUE(read->ok());
    EXPECT_TRUE(read->value().isSuccess());
    EXPECT_EQ(page(*bob, privateThread).value().unreadCount, 0);

    // Members: both guests; Bob's entry carries the private thread's last message, which Ann has
    // not read yet.
    auto [list, error] = members(*ann);
    ASSERT_FALSE(error);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].memberId, bob->userId);
    EXPECT_EQ(list[0].name, "Bob");
    EXPECT_EQ(list[0].lastMessageId, answer->id);
    EXPECT_EQ(list[0].threadId, privateThread);
    list[0].setUnreadStatus(ann->userId);
    EXPECT_EQ(list[0].unread, true);
    EXPECT_EQ(list[1].memberId, ann->userId);

    // Leaving takes Bob off the member list; his cache and threads stay.
    EXPECT_TRUE(leave(*bob));
    EXPECT_EQ(members(*ann).first.size(), 1u);
    EXPECT_EQ(bob->chat->mainChatThreadID(), setup.chatThreadId);
    EXPECT_EQ(bob->chat->allChatMessages().size(), 4u);
}

TEST_F(KRChatManagerIntegrationTest, FirstPageReachesTheHookBeforeTheCache) {
    auto ann = join("Ann");
    const auto one = send(*ann, "one", KRChatMessageDestination::group());
    const auto two = send(*ann, "two", KRChatMessageDestination::group());
    ASSERT_TRUE(one.ok() && two.ok());

    std::vector<std::string> cachedDuringHook = {"not called"};
    auto late = join("Carl", false);
    late->chat->setOnGetAllChatMessages([&](const std::vector<KRChatMessage>& firstPage) {
        late->firstPages.push_back(firstPage);
        cachedDuringHook = idsOf(late->chat->getMainThreadChatMessages());
    });
    ASSERT_TRUE(runUntil([&] { return !late->firstPages.empty(); }));
    EXPECT_TRUE(cachedDuringHook.empty());
    EXPECT_EQ(idsOf(late->firstPages[0]), (std::vector<std::string>{two->id, one->id}));
    EXPECT_TRUE(late->firstPages[0][0].isIncomingMessage);
    EXPECT_EQ(idsOf(late->chat->getMainThreadChatMessages()),
              (std::vector<std::string>{two->id, one->id}));
}

TEST_F(KRChatManagerIntegrationTest, PageProcessingKeepsNormalMessagesAndCachesEachIdOnce) {
    auto ann = join("Ann");
    const std::string body =
        R"({"messages":[
            {"_id":"s","threadId":"thread-1","type":"system","systemComponent":{"message":"x"}},
            {"_id":"mine","threadId":"thread-1","createdBy":")" + ann->userId + R"("},
            {"_id":"theirs","threadId":"thread-1","createdBy":"guest-99"},
            {"_id":"theirs","threadId":"thread-1","createdBy":"guest-99","messageComponent":{"text":"dup"}}],
            "moreAvailable":true,"totalCount":300,"unreadCount":7})";
    service.injectFault(R::chatThreadMessages, MeetingServiceFault::withStatus(200, body).times(2));
    for (int fetch = 0; fetch < 2; ++fetch) {
        SCOPED_TRACE(fetch);
        const auto reply = page(*ann, setup.chatThreadId);
        ASSERT_TRUE(reply.ok());
        EXPECT_EQ(idsOf(*reply->messages), (std::vector<std::string>{"mine", "theirs", "theirs"}));
        EXPECT_FALSE(reply->messages->at(0).isIncomingMessage);
        EXPECT_TRUE(reply->messages->at(1).isIncomingMessage);
        EXPECT_EQ(reply->moreAvailable, true);
        EXPECT_EQ(reply->totalCount, 300);
        EXPECT_EQ(reply->unreadCount, 7);
        ASSERT_EQ(ann->chat->allChatMessages().size(), 2u);
        EXPECT_EQ(ann->chat->allChatMessages()[1].messageText, "");  // the first copy stays
    }
}

TEST_F(KRChatManagerIntegrationTest, NothingGoesToAnUnknownMainThread) {
    service.injectFault(R::chatMainThread, MeetingServiceFault::withStatus(500).times(1));
    auto ann = join("Ann", false);
    ASSERT_TRUE(runUntil([&] { return service.requestCount(R::chatMainThread) == 1; }));
    main->runFor(50ms);
    EXPECT_TRUE(ann->chat->mainChatThreadID().empty());
    EXPECT_TRUE(ann->firstPages.empty());

    const auto sent = send(*ann, "lost?", KRChatMessageDestination::group());
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().kind(), Kind::unKnown);
    const auto [list, error] = members(*ann);
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), Kind::unKnown);
    EXPECT_FALSE(leave(*ann));
    EXPECT_EQ(service.requestCount(R::chatSendMessage), 0u);
    EXPECT_EQ(service.requestCount(R::chatMembers), 0u);
    EXPECT_EQ(service.requestCount(R::leaveChatThread), 0u);

    // Asking for the main thread hands it over without adopting it.
    std::optional<Result<KRChatThread, KRApiRequestError>> thread;
    ann->chat->getMainChatThread([&](auto r) { thread.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return thread.has_value(); }));
    EXPECT_EQ(thread->value().id, setup.chatThreadId);
    EXPECT_TRUE(ann->chat->mainChatThreadID().empty());  // fetching the thread sets nothing
}

TEST_F(KRChatManagerIntegrationTest, UnreadableMembersReplyGivesAnEmptyListAndUnknown) {
    auto ann = join("Ann");
    service.injectFault(R::chatMembers, MeetingServiceFault::malformedJson().times(1));
    const auto [list, error] = members(*ann);
    EXPECT_TRUE(list.empty());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->kind(), Kind::unKnown);
}

TEST_F(KRChatManagerIntegrationTest, APrivateSendWhoseThreadCannotBeOpenedFailsWithThatError) {
    auto ann = join("Ann");
    service.injectFault(R::chatPrivateThread, MeetingServiceFault::withStatus(403).times(1));
    const auto sent = send(*ann, "hello?", KRChatMessageDestination::user("guest-77"));
    ASSERT_FALSE(sent.ok());
    EXPECT_EQ(sent.error().kind(), Kind::failedApi);
    EXPECT_EQ(sent.error().getStatusCode(), 403);
    EXPECT_EQ(service.requestCount(R::chatSendMessage), 0u);
    EXPECT_TRUE(ann->chat->allChatMessages().empty());
    EXPECT_TRUE(ann->chat->privateChatThreads().empty());

    std::optional<PageResult> history;
    ann->chat->getPrivateChatMessages("guest-77", [&](PageResult r) { history.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return history.has_value(); }));
    EXPECT_EQ(history->error().kind(), Kind::unKnown);
    EXPECT_EQ(service.requestCount(R::chatThreadMessages), 1u);  // the first page only
}

TEST_F(KRChatManagerIntegrationTest, IncomingFlagsBelongToTheUserWhoAsked) {
    auto ann = join("Ann");
    const auto mine = send(*ann, "mine", KRChatMessageDestination::group());
    ASSERT_TRUE(mine.ok());

    // The manager moves to another user while the page is on its way.
    service.injectFault(R::chatThreadMessages, MeetingServiceFault::delayed(100ms).times(1));
    std::optional<PageResult> moved;
    ann->chat->getChatThreadMessages(setup.chatThreadId, [&](PageResult r) { moved.emplace(r); });
    ann->chat->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid", "someone-else");
    ASSERT_TRUE(runUntil([&] { return moved.has_value(); }));
    EXPECT_FALSE(moved->value().messages->at(0).isIncomingMessage);

    // The manager is gone before the page lands: Ann's own message is still not incoming.
    auto again = KRChatManager::create(main);
    again->assignNetworkClient(ann->client);
    again->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid", ann->userId);
    ASSERT_TRUE(runUntil([&] { return !again->mainChatThreadID().empty(); }));
    service.injectFault(R::chatThreadMessages, MeetingServiceFault::delayed(100ms).times(1));
    std::optional<PageResult> orphan;
    again->getChatThreadMessages(setup.chatThreadId, [&](PageResult r) { orphan.emplace(r); });
    again.reset();
    ASSERT_TRUE(runUntil([&] { return orphan.has_value(); }));
    ASSERT_TRUE(orphan->ok());
    EXPECT_FALSE(orphan->value().messages->at(0).isIncomingMessage);
}

TEST_F(KRChatManagerIntegrationTest, OwnPushBeforeTheSendReplyIsCachedOnce) {
    pushToSender_ = true;
    auto ann = join("Ann");
    service.injectFault(R::chatSendMessage, MeetingServiceFault::delayed(150ms).times(1));
    std::optional<MessageResult> sent;
    ann->chat->sendChatTextMessage("early", std::nullopt, KRChatMessageDestination::group(),
                                   [&](MessageResult r) { sent.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return !ann->observer->seen.empty(); }));
    EXPECT_FALSE(sent.has_value());
    EXPECT_EQ(ann->observer->incoming, std::vector<bool>{false});
    ASSERT_TRUE(runUntil([&] { return sent.has_value(); }));
    ASSERT_TRUE(sent->ok());
    EXPECT_EQ(ann->observer->seen, std::vector<std::string>{"main:" + sent->value().id});
    EXPECT_EQ(ann->chat->allChatMessages().size(), 1u);
}

// Pushes of a thread whose missed-messages page is out wait for that page, whatever becomes of
// it: the thread is reported and cached oldest first, and nothing is held for good.
TEST_F(KRChatManagerIntegrationTest, PushesWaitForTheThreadsMissedMessagesPage) {
    struct Case {
        const char* name;
        std::optional<MeetingServiceFault> pageFault;
        bool wanted;
        bool meetingMovesOn;
        std::vector<int> reported;  // of "one", "two", "three", in this order
    };
    const Case cases[] = {
        {"the page answers", std::nullopt, true, false, {0, 1, 2}},
        {"the page fails", MeetingServiceFault::withStatus(500).times(1), true, false, {1, 2}},
        {"the meeting moves on first", std::nullopt, true, true, {1, 2}},
        {"nothing is wanted any more", std::nullopt, false, false, {}},
    };
    auto ann = join("Ann");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto bob = join("Bob");
        guests_.erase(bob->userId);  // Bob's socket is away: no pushes reach him
        std::vector<KRChatMessage> sent;
        for (const char* text : {"one", "two", "three"}) {
            auto message = send(*ann, text, KRChatMessageDestination::group());
            ASSERT_TRUE(message.ok());
            sent.push_back(message.value());
        }
        if (c.pageFault) service.injectFault(R::chatThreadMessages, *c.pageFault);
        const auto pages = service.requestCount(R::chatThreadMessages);
        bob->chat->fetchMissedMessages([wanted = c.wanted] { return wanted; });
        bob->chat->addSocketChatMessage(sent[1]);  // before the page, which has it too
        bob->chat->addSocketChatMessage(sent[2]);
        EXPECT_TRUE(bob->observer->seen.empty());
        if (c.meetingMovesOn) {
            bob->chat->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid-Bob",
                                      bob->userId);
            ASSERT_TRUE(runUntil([&] { return bob->firstPages.size() == 2; }));
        }
        std::vector<std::string> expected;
        for (int i : c.reported) expected.push_back("main:" + sent[i].id);
        ASSERT_TRUE(runUntil([&] {
            return service.requestCount(R::chatThreadMessages) > pages &&
                   bob->observer->seen.size() >= expected.size();
        }));
        main->runFor(100ms);  // anything else the page would bring lands now
        EXPECT_EQ(bob->observer->seen, expected);
        if (!c.meetingMovesOn) {  // (a new meeting's first page is cached too, silently)
            std::vector<std::string> cached;
            for (const auto& m : bob->chat->getMainThreadChatMessages()) {
                for (const auto& one : sent) {
                    if (m.id == one.id) cached.push_back("main:" + m.id);
                }
            }
            EXPECT_EQ(cached, expected);
        }

        // Nothing stays held: a later push of the thread is reported at once.
        const auto later = send(*ann, "later", KRChatMessageDestination::group());
        ASSERT_TRUE(later.ok());
        bob->chat->addSocketChatMessage(later.value());
        ASSERT_FALSE(bob->observer->seen.empty());
        EXPECT_EQ(bob->observer->seen.back(), "main:" + later->id);
        service.clearFaults();
    }
}

TEST_F(KRChatManagerIntegrationTest, ASlowCatchUpPageHoldsLiveChatNoLongerThanItsLimit) {
    auto ann = join("Ann");
    auto bob = join("Bob");
    guests_.erase(bob->userId);
    std::vector<KRChatMessage> sent;
    for (const char* text : {"one", "two", "three"}) {
        auto message = send(*ann, text, KRChatMessageDestination::group());
        ASSERT_TRUE(message.ok());
        sent.push_back(message.value());
    }
    service.injectFault(R::chatThreadMessages, MeetingServiceFault::delayed(1500ms).times(1));
    bob->chat->fetchMissedMessages([] { return true; });
    bob->chat->addSocketChatMessage(sent[1]);
    bob->chat->addSocketChatMessage(sent[2]);
    main->runFor(300ms);
    EXPECT_TRUE(bob->observer->seen.empty());  // still waiting for the page
    clock->advance(KRChatManager::kCatchUpHoldLimit);
    main->runPending();
    EXPECT_EQ(bob->observer->seen,
              (std::vector<std::string>{"main:" + sent[1].id, "main:" + sent[2].id}));
    // The page comes at last and adds only what was missed.
    ASSERT_TRUE(runUntil([&] { return bob->observer->seen.size() == 3; }));
    main->runFor(200ms);
    EXPECT_EQ(bob->observer->seen.back(), "main:" + sent[0].id);
    EXPECT_EQ(bob->observer->seen.size(), 3u);
}

TEST_F(KRChatManagerIntegrationTest, ANewMeetingForgetsTheOldMainThreadButKeepsTheCache) {
    const MeetingRoomSetup second = addSecondRoom("thread/2");  // needs its own path segment

    auto client = KRNetworkClient::create(test::networkDependencies(main, service.routing()));
    client->setCurrentUserType(KRCurrentUserType::loggedIn);
    client->setJwtToken(service.issueUserToken("user-7", "Eve"));
    auto chat = KRChatManager::create(main);
    chat->assignNetworkClient(client);
    chat->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid", "user-7");
    ASSERT_TRUE(runUntil([&] { return !chat->mainChatThreadID().empty(); }));
    std::optional<MessageResult> first;
    chat->sendChatTextMessage("first meeting", std::nullopt, KRChatMessageDestination::group(),
                              [&](MessageResult r) { first.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return first.has_value(); }));
    ASSERT_EQ(chat->getMainThreadChatMessages().size(), 1u);

    chat->setMeetingData(second.meetingId, second.pin, second.roomId, "uid", "user-7");
    EXPECT_TRUE(chat->mainChatThreadID().empty());
    EXPECT_TRUE(chat->getMainThreadChatMessages().empty());
    ASSERT_TRUE(runUntil([&] { return chat->mainChatThreadID() == second.chatThreadId; }));
    std::optional<MessageResult> next;
    chat->sendChatTextMessage("second meeting", std::nullopt, KRChatMessageDestination::group(),
                              [&](MessageResult r) { next.emplace(r); });
    ASSERT_TRUE(runUntil([&] { return next.has_value(); }));
    ASSERT_TRUE(next->ok());
    EXPECT_EQ(idsOf(chat->getMainThreadChatMessages()),
              std::vector<std::string>{next->value().id});
    EXPECT_EQ(chat->allChatMessages().size(), 2u);
}

TEST_F(KRChatManagerIntegrationTest, ALateMainThreadOfTheEarlierMeetingIsIgnored) {
    const MeetingRoomSetup second = addSecondRoom("thread-2");
    auto client = KRNetworkClient::create(test::networkDependencies(main, service.routing()));
    client->setCurrentUserType(KRCurrentUserType::loggedIn);
    client->setJwtToken(service.issueUserToken("user-7", "Eve"));
    auto chat = KRChatManager::create(main);
    int hookCalls = 0;
    chat->setOnGetAllChatMessages([&](const std::vector<KRChatMessage>&) { ++hookCalls; });
    chat->assignNetworkClient(client);

    service.injectFault(R::chatMainThread, MeetingServiceFault::delayed(200ms).times(1));
    chat->setMeetingData(setup.meetingId, setup.pin, setup.roomId, "uid", "user-7");
    ASSERT_TRUE(runUntil([&] { return service.requestCount(R::chatMainThread) == 1; }));
    chat->setMeetingData(second.meetingId, second.pin, second.roomId, "uid", "user-7");
    ASSERT_TRUE(runUntil([&] { return hookCalls == 1; }));
    EXPECT_EQ(chat->mainChatThreadID(), second.chatThreadId);
    main->runFor(300ms);  // the first meeting's answer lands now
    EXPECT_EQ(chat->mainChatThreadID(), second.chatThreadId);
    EXPECT_EQ(hookCalls, 1);
}

TEST_F(KRChatManagerIntegrationTest, TheNextMeetingNeitherKeepsNorCatchesUpOnTheLastOnesPrivateThreads) {
    const MeetingRoomSetup second = addSecondRoom("thread/2");
    auto ann = join("Ann");
    auto bob = join("Bob");
    ASSERT_TRUE(send(*bob, "p1", KRChatMessageDestination::user(ann->userId)).ok());
    ASSERT_TRUE(runUntil([&] { return ann->observer->seen.size() == 1; }));
    ASSERT_FALSE(ann->chat->privateChatThreads().empty());
    // Ann's chat manager moves on to another meeting; Bob writes into the old thread meanwhile.
    ann->chat->setMeetingData(second.meetingId, second.pin, second.roomId, "uid-Ann2", ann->userId);
    guests_.erase(ann->userId);
    ASSERT_TRUE(send(*bob, "late, in meeting 1", KRChatMessageDestination::user(ann->userId)).ok());
    EXPECT_TRUE(ann->chat->privateChatThreads().empty());
    ann->chat->fetchMissedMessages([] { return true; });
    main->runFor(500ms);
    EXPECT_EQ(ann->observer->seen.size(), 1u);
}

}  // namespace
}  // namespace kr::test
