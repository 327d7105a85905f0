// Two clients in one meeting on the local meeting service over real HTTPS and WSS: what one of
// them changes reaches the other through the room socket (status, recording, chat), the chat
// methods of the client against the service, the watchdog bringing a dropped socket back, and
// silence after the leave. The engine's confirmation of the local join is given by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json/object.hpp>
#include <boost/json/parse.hpp>
#include <cstdio>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Media/MediaBus.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Notifications/ApplicationNotifications.h"
#include "support/LocalMeetingDependencies.h"
#include "support/ClientTestDelegate.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using test::ClientTestDelegate;
using R = test::MeetingServiceRoute;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";
constexpr const char* kHostToken = "host-token-1";

/// What a chat observer saw: "main:<text>" or "private:<text>:<from user>".
struct ChatLog : KRChatClientDelegate {
    std::vector<std::string> seen;
    void didRecieveNewChatMessage(KRChatManager&, const KRChatMessage& message) override {
        seen.push_back("main:" + message.messageText);
    }
    void didRecievePrivateChatMessage(KRChatManager&, const KRChatMessage& message,
                                      const std::string& from) override {
        seen.push_back("private:" + message.messageText + ":" + from);
    }
};

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<ClientTestDelegate> delegate;
    std::shared_ptr<ChatLog> chat = std::make_shared<ChatLog>();
    std::shared_ptr<platform::NotificationCenter> notifications;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
    std::string userId() const { return internals(client).currentRoom().guestUserId; }
};

class KRClientSocketChatIntegrationTest : public ::testing::Test {
protected:
    ~KRClientSocketChatIntegrationTest() override { members.clear(); }

    Member& joined(const std::string& tag, KRUserRole role = KRUserRole::speaker(),
                   const boost::json::object& settings = {}) {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        deps.notifications = std::make_shared<platform::NotificationCenter>();
        Member made;
        made.client = KRClient::create(deps);
        made.delegate = std::make_shared<ClientTestDelegate>(tag, nullptr, main);
        made.notifications = deps.notifications;
        members.push_back(std::move(made));
        Member& member = members.back();
        member.client->setParameters(settings);
        member.client->addChatDelegate(member.chat, "log");
        const auto logins = hub().loginCount();
        const auto pages = service.requestCount(R::chatThreadMessages);
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, tag),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.delegate);
        EXPECT_TRUE(main->runUntil([&] { return internals(member.client).isAwaitingMediaJoin(); }, 10s));
        // In the media channel, logged in on the socket, the chat's main thread known, and no
        // question about another's media stream still out (its answer would race the checks).
        EXPECT_TRUE(main->runUntil(
            [&] {
                for (const Member& m : members)
                    if (!internals(m.client).pendingStreamQuestions().empty())
                        return false;
                return member.client->getMeetingLocalUser() && hub().loginCount() > logins &&
                       hub().openConnectionCount() >= members.size() &&
                       !member.client->chatClient()->mainChatThreadID().empty() &&
                       // The first page is asked for: a message sent later is not in it, so
                       // it arrives as new rather than as history.
                       service.requestCount(R::chatThreadMessages) > pages;
            },
            10s));
        return member;
    }

    template <class T>
    T await(const std::function<void(std::function<void(T)>)>& call) {
        std::optional<T> out;
        call([&](T value) { out.emplace(std::move(value)); });
        EXPECT_TRUE(main->runUntil([&] { return out.has_value(); }, 10s));
        return std::move(*out);
    }

    KRChatMessage send(Member& from, const std::string& text,
                       const std::optional<std::string>& toUser = std::nullopt) {
        using Reply = Result<KRChatMessage, KRApiRequestError>;
        Reply reply = await<Reply>([&](auto done) {
            if (toUser) {
                from.client->sendPrivateChatTextMessage(text, *toUser, done);
            } else {
                from.client->sendChatTextMessage(text, done);
            }
        });
        EXPECT_TRUE(reply.ok()) << text;
        return reply.ok() ? reply.value() : KRChatMessage{};
    }

    static std::size_t count(const std::vector<std::string>& events, const std::string& line) {
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), line));
    }

    test::RoomSocketHub& hub() { return service.roomSocket(); }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::deque<Member> members;
};

TEST_F(KRClientSocketChatIntegrationTest, AStatusChangeAndTheRecordingReachTheOtherThroughTheSocket) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest");
    const auto statusFetches = service.requestCount(R::getRoomConnectionStatus);

    guest.client->muteLocalAudio(true);
    const auto guestRecord = [&]() -> std::optional<KRMeetingParticipant> {
        for (const auto& p : internals(host.client).currentRoom().allParticipants) {
            if (p.participantId == guest.uid() || p.participantUri == guest.uid()) return p;
        }
        return std::nullopt;
    };
    ASSERT_TRUE(main->runUntil([&] { return guestRecord() && !guestRecord()->isMicOn; }, 10s));

    std::optional<bool> started;
    host.client->startRecording([&](bool ok) { started = ok; });
    ASSERT_TRUE(main->runUntil(
        [&] {
            return started.has_value() &&
                   count(guest.delegate->events(), "guest: recording started") == 1;
        },
        10s));
    EXPECT_TRUE(*started);
    EXPECT_TRUE(internals(guest.client).currentRoom().isRecordingOn);
    // Neither reached the guest through a poll: nobody asked the server for the room status.
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), statusFetches);

    // The stop reaches the guest by the socket alone, before the reply to a question asked while
    // it recorded: that reply starts nothing again.
    service.injectFault(R::getRoomConnectionStatus, test::MeetingServiceFault::delayed(2500ms));
    bool answered = false;
    internals(guest.client).roomSync().fetchRoomStatus([&](bool) { answered = true; });
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(R::getRoomConnectionStatus) > statusFetches; }, 5s));
    messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                        platform::MessagingCodes::kFailure, host.uid());
    host.client->stopRecording({});
    ASSERT_TRUE(main->runUntil([&] { return answered; }, 10s));
    main->runFor(50ms);
    EXPECT_EQ(count(guest.delegate->events(), "guest: recording started"), 1u);
    EXPECT_EQ(count(guest.delegate->events(), "guest: recording stopped"), 1u);
    EXPECT_EQ(guest.delegate->offQueueCalls, 0);
}

TEST_F(KRClientSocketChatIntegrationTest, APushDoesNotUndoALocalChangeTheServiceHasNotHeard) {
    Member& a = joined("a");
    Member& b = joined("b");
    // a's raised hand never reaches the service, which keeps a's hand down.
    const auto posts = service.requestCount(R::postRoomConnectionStatus);
    service.injectFault(R::postRoomConnectionStatus, test::MeetingServiceFault::dropConnection());
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 10s));
    main->runFor(200ms);  // the lost post comes back as lost
    ASSERT_TRUE(a.client->getMeetingLocalUser()->isHandRaised());

    // b's change reaches a through a push, which carries a's own record as the service has it.
    b.client->muteLocalAudio(true);
    const auto bAtA = [&]() -> std::optional<KRMeetingParticipant> {
        for (const auto& p : internals(a.client).currentRoom().allParticipants) {
            if (p.participantId == b.uid()) return p;
        }
        return std::nullopt;
    };
    ASSERT_TRUE(main->runUntil([&] { return bAtA() && !bAtA()->isMicOn; }, 10s));
    EXPECT_TRUE(a.client->getMeetingLocalUser()->isHandRaised());
}

TEST_F(KRClientSocketChatIntegrationTest, GroupAndPrivateMessagesArriveInOrderWithReadMarksAndMembers) {
    Member& a = joined("a");
    Member& b = joined("b");

    std::vector<std::string> sentIds;
    for (const char* text : {"one", "two", "three"}) {
        sentIds.push_back(send(a, text).id);
    }
    ASSERT_TRUE(main->runUntil([&] { return b.chat->seen.size() == 3; }, 10s))
        << ::testing::PrintToString(b.chat->seen) << " open sockets "
        << hub().openConnectionCount() << " cached " << b.client->getMeetingChatMessages().size()
        << " b socket " << (internals(b.client).webSocketManager() ? "yes" : "no");
    EXPECT_EQ(b.chat->seen, (std::vector<std::string>{"main:one", "main:two", "main:three"}));
    EXPECT_TRUE(a.chat->seen.empty());  // a sender hears nothing of its own sends

    send(b, "hello a", a.userId());
    send(b, "again", a.userId());
    ASSERT_TRUE(main->runUntil([&] { return a.chat->seen.size() == 2; }, 10s));
    EXPECT_EQ(a.chat->seen, (std::vector<std::string>{"private:hello a:" + b.userId(),
                                                      "private:again:" + b.userId()}));
    const KRChatMessage reply = send(a, "hi b", b.userId());
    ASSERT_TRUE(main->runUntil([&] { return b.chat->seen.size() == 4; }, 10s));
    EXPECT_EQ(b.chat->seen.back(), "private:hi b:" + a.userId());
    // Both ends agree on one private thread.
    EXPECT_EQ(a.client->chatClient()->privateChatThreads().at(b.userId()), reply.threadId);
    EXPECT_EQ(b.client->chatClient()->privateChatThreads().at(a.userId()), reply.threadId);

    // The main thread as both see it: the same ids in the same order.
    const auto ids = [](const auto& messages) {
        std::vector<std::string> out;
        for (const auto& m : messages) out.push_back(m.id);
        return out;
    };
    EXPECT_EQ(ids(a.client->getMeetingChatMessages()), sentIds);
    EXPECT_EQ(ids(b.client->getMainChatThreadMessages()), sentIds);

    // The history page through REST holds them too, newest first.
    using Page = Result<KRThreadChatMessages, KRApiRequestError>;
    const std::string threadId = a.client->chatClient()->mainChatThreadID();
    Page page = await<Page>([&](auto done) { b.client->getChatThreadMessages(threadId, done); });
    ASSERT_TRUE(page.ok());
    std::vector<std::string> pageIds = ids(page.value().messages.value_or(std::vector<KRChatMessage>{}));
    std::reverse(pageIds.begin(), pageIds.end());
    EXPECT_EQ(pageIds, sentIds);
    Page privatePage = await<Page>([&](auto done) { a.client->getPrivateChatMessages(b.userId(), done); });
    ASSERT_TRUE(privatePage.ok());
    EXPECT_EQ(privatePage.value().messages.value_or(std::vector<KRChatMessage>{}).size(), 3u);

    using Read = Result<KRAPISuccess, KRApiRequestError>;
    Read read = await<Read>(
        [&](auto done) { b.client->markReadMessages(sentIds.back(), threadId, done); });
    EXPECT_TRUE(read.ok());

    std::optional<std::vector<KRMeetingParticipant2>> list;
    b.client->getAllActiveParticipants(
        [&](std::vector<KRMeetingParticipant2> entries, std::optional<KRApiRequestError> error) {
            EXPECT_FALSE(error.has_value());
            list = std::move(entries);
        });
    ASSERT_TRUE(main->runUntil([&] { return list.has_value(); }, 10s));
    std::vector<std::string> memberIds;
    for (const auto& m : *list) memberIds.push_back(m.memberId);
    std::sort(memberIds.begin(), memberIds.end());
    std::vector<std::string> expected{a.userId(), b.userId()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(memberIds, expected);
}

TEST_F(KRClientSocketChatIntegrationTest, AfterTheServerDropsTheSocketTheWatchdogLogsInAgainSoon) {
    Member& a = joined("a");
    ASSERT_TRUE(main->runUntil([&] { return internals(a.client).webSocketManager()->isSocketConnected(); }, 5s));
    std::vector<double> seconds;
    for (int round = 0; round < 3; ++round) {
        const auto logins = hub().loginCount();
        const auto dropped = std::chrono::steady_clock::now();
        hub().dropAll();
        ASSERT_TRUE(main->runUntil([&] { return hub().loginCount() > logins; }, 5s));
        seconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - dropped).count());
        // Let the next drop find a settled connection.
        ASSERT_TRUE(main->runUntil(
            [&] { return internals(a.client).webSocketManager()->isSocketConnected(); }, 5s));
    }
    for (double s : seconds) {
        std::printf("[ socket ] dropped -> logged in again: %.3f s\n", s);
    }
    // A single drop is answered at the next watchdog tick. Connections that end again soon after
    // connecting wait a little longer each time (about 1 s, then 2 s), so a server that drops
    // everyone is not hammered; they still come back.
    EXPECT_LE(seconds[0], 1.5);
    EXPECT_LE(seconds[1], 2.5);
    EXPECT_LE(seconds[2], 3.5);
    // And what happens in the room still arrives.
    Member& b = joined("b");
    send(b, "after the drop");
    ASSERT_TRUE(main->runUntil([&] { return !a.chat->seen.empty(); }, 10s));
    EXPECT_EQ(a.chat->seen.back(), "main:after the drop");
}

TEST_F(KRClientSocketChatIntegrationTest, NothingReachesAClientAfterItLeft) {
    Member& host = joined("host", KRUserRole::host(kHostToken));
    Member& guest = joined("guest", KRUserRole::speaker(),
                           boost::json::object{{"kr_leave_chat_thread_on_leave", true}});
    guest.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    ASSERT_TRUE(main->runUntil(
        [&] { return guest.delegate->events().back() == "guest: left 1"; }, 10s));
    EXPECT_EQ(internals(guest.client).webSocketManager(), nullptr);
    ASSERT_TRUE(main->runUntil([&] { return hub().openConnectionCount() == 1; }, 5s));
    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::leaveChatThread) == 1; }, 5s));

    const auto eventsAfterLeave = guest.delegate->events();
    std::optional<bool> recording;
    host.client->startRecording([&](bool ok) { recording = ok; });
    send(host, "anyone?");
    ASSERT_TRUE(main->runUntil([&] { return recording.has_value(); }, 10s));
    // The application coming back to the foreground opens nothing either.
    guest.notifications->post(platform::ApplicationNotifications::didBecomeActive);
    main->runFor(300ms);
    EXPECT_EQ(guest.delegate->events(), eventsAfterLeave);
    EXPECT_TRUE(guest.chat->seen.empty());
    EXPECT_EQ(hub().openConnectionCount(), 1u);

    // The guest left the chat thread: the members list no longer shows it.
    std::optional<std::vector<KRMeetingParticipant2>> list;
    host.client->getAllActiveParticipants(
        [&](std::vector<KRMeetingParticipant2> entries, std::optional<KRApiRequestError>) {
            list = std::move(entries);
        });
    ASSERT_TRUE(main->runUntil([&] { return list.has_value(); }, 10s));
    for (const auto& m : *list) EXPECT_NE(m.memberId, guest.userId());
}

// Chat posted while a client's room socket is away reaches that client once the socket logs in
// again: each message once, in the thread's order, through the callbacks a pushed one uses, also
// when a push comes before the fetched page and the page brings the same message. The meeting's
// first login fetches nothing.
TEST_F(KRClientSocketChatIntegrationTest, ChatPostedWhileTheSocketWasAwayArrivesOnceAfterItLogsInAgain) {
    std::mutex postedMutex;
    std::map<std::string, boost::json::object> posted;  // by message id, as the service sent it
    service.setOnChatMessagePosted([&](const test::ChatMessagePosted& message) {
        boost::json::object json = boost::json::parse(message.messageJson).as_object();
        const std::string id(json.at("_id").as_string());
        std::lock_guard lock(postedMutex);
        posted[id] = std::move(json);
    });
    const auto postedAs = [&](const std::string& id) {
        std::lock_guard lock(postedMutex);
        return posted.at(id);
    };
    Member& a = joined("a");
    Member& b = joined("b");
    send(b, "hi a", a.userId());  // a knows its private thread with b from here on
    ASSERT_TRUE(main->runUntil([&] { return a.chat->seen.size() == 1; }, 10s));
    const auto pagesAfterJoin = service.requestCount(R::chatThreadMessages);
    EXPECT_EQ(pagesAfterJoin, 2u);  // each client's first page, nothing more

    // a's socket goes away and stays away while b writes.
    hub().refuseHandshakes(-1);
    a.notifications->post(platform::ApplicationNotifications::willResignActive);
    ASSERT_TRUE(main->runUntil([&] { return hub().openConnectionCount() == 1; }, 5s));
    std::vector<std::string> ids;
    for (const char* text : {"one", "two", "three"}) ids.push_back(send(b, text).id);
    for (const char* text : {"p1", "p2"}) send(b, text, a.userId());
    main->runFor(200ms);
    EXPECT_EQ(a.chat->seen.size(), 1u);

    // Back: the pages are slow, and "two" is pushed again before they come.
    service.injectFault(R::chatThreadMessages, test::MeetingServiceFault::delayed(1s).times(2));
    const auto logins = hub().loginCount();
    hub().clearFaults();
    ASSERT_TRUE(main->runUntil([&] { return hub().loginCount() > logins; }, 10s));
    hub().pushChatMessageTo({a.userId()}, postedAs(ids[1]));
    ASSERT_TRUE(main->runUntil([&] { return a.chat->seen.size() >= 6; }, 10s))
        << ::testing::PrintToString(a.chat->seen);
    // Later pushes of what was reported change nothing.
    hub().pushChatMessageTo({a.userId()}, postedAs(ids[2]));
    main->runFor(300ms);

    std::vector<std::string> mainLines, privateLines;
    for (const std::string& line : a.chat->seen) {
        (line.rfind("main:", 0) == 0 ? mainLines : privateLines).push_back(line);
    }
    EXPECT_EQ(mainLines, (std::vector<std::string>{"main:one", "main:two", "main:three"}));
    const std::string from = ":" + b.userId();
    EXPECT_EQ(privateLines, (std::vector<std::string>{"private:hi a" + from, "private:p1" + from,
                                                      "private:p2" + from}));
    EXPECT_EQ(service.requestCount(R::chatThreadMessages), pagesAfterJoin + 2);
    std::vector<std::string> shown;
    for (const auto& m : a.client->getMainChatThreadMessages()) shown.push_back(m.id);
    EXPECT_EQ(shown, ids);
}

}  // namespace
}  // namespace kr
