#include "KivRaneCoreSDK/RTM/Managers/AgoraRtmManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/RTM/Constants/KRRtmConstants.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingClient.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {
namespace {

using platform::MessagingOperation;
using platform::MessagingRecord;
using Event = KRRtmMessageEvent;
using Lines = std::vector<std::string>;

// Keeps the manager's records as "LEVEL text" lines.
class RecordingCollector final : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string& moduleName,
                     KivRaneRMLogLevel level) override {
        static const char* const kNames[] = {"?", "DEBUG", "INFO", "WARN", "ERROR"};
        std::lock_guard lock(mutex_);
        lines_.push_back(std::string(kNames[rawValue(level)]) + " " + message);
        EXPECT_EQ(moduleName, "KivRaneRTM");
    }
    Lines take() {
        std::lock_guard lock(mutex_);
        return std::exchange(lines_, {});
    }

private:
    std::mutex mutex_;
    Lines lines_;
};

// Writes what reaches the host app and the delegate into one journal, in order.
class Recorder final : public AgoraRtmManagerDelegate {
public:
    explicit Recorder(Lines& journal) : journal_(journal) {}

    std::vector<KRRtmMessage> publics;
    std::vector<KRRtmMessage> privates;
    std::function<void()> onMessage;  // runs inside the callback

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        publics.push_back(message);
        journal_.push_back("public " + std::string(rawValue(message.message)));
        if (onMessage)
            onMessage();
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        privates.push_back(message);
        journal_.push_back("private " + std::string(rawValue(message.message)));
        if (onMessage)
            onMessage();
    }

private:
    Lines& journal_;
};

struct Peer {
    std::string userId;
    std::shared_ptr<platform::NotificationCenter> center =
        std::make_shared<platform::NotificationCenter>();
    Lines journal;  // "host <text>" for the raw-text notification, then the delegate's calls
    std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>(journal);
    std::shared_ptr<RecordingCollector> logs = std::make_shared<RecordingCollector>();
    std::shared_ptr<AgoraRtmManager> manager;

    void postSendRequest(boost::json::object userInfo) {
        center->post(std::string(KRRtmConstants::sendRtmFromExternalSource), this,
                     std::move(userInfo));
    }
};

struct Outcome {
    std::vector<bool> results;
    AgoraRtmManager::SendCompletion completion() {
        return [this](bool sent) { results.push_back(sent); };
    }
};

KRRtmMessage controlMessage(KRRtmMessageType type, Event event, const std::string& from,
                            const std::string& to = "") {
    KRRtmMessage message;
    message.messageType = type;
    message.message = event;
    message.senderParticipantId = "p-" + from;
    message.senderName = "Name " + from;
    message.senderUserId = "u-" + from;
    message.targetParticipantId = to;
    return message;
}
KRRtmMessage toChannel(Event event, const std::string& from) {
    return controlMessage(KRRtmMessageType::publicChat, event, from);
}
KRRtmMessage toPeer(Event event, const std::string& from, const std::string& to) {
    return controlMessage(KRRtmMessageType::peerToPeer, event, from, to);
}

std::vector<Event> events(const std::vector<KRRtmMessage>& messages) {
    std::vector<Event> out;
    for (const auto& m : messages)
        out.push_back(m.message);
    return out;
}

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class AgoraRtmManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MessagingService> service = platform::MessagingService::create();
    std::vector<std::unique_ptr<Peer>> peers;

    void run() { queue->runPending(); }

    Peer& makePeer(const std::string& userId) {
        auto peer = std::make_unique<Peer>();
        peer->userId = userId;
        KRDependencies dependencies;
        dependencies.queue = queue;
        dependencies.messagingService = service;
        dependencies.logCollector = peer->logs;
        peer->manager = AgoraRtmManager::create(dependencies, peer->center);
        peer->manager->setDelegate(peer->delegate);
        peer->center->addObserver(
            std::string(KRRtmConstants::rtmMessageRecieved),
            [journal = &peer->journal](const platform::Notification& n) {
                journal->push_back("host " + std::string(n.userInfo.at("message").as_string()));
            });
        peers.push_back(std::move(peer));
        return *peers.back();
    }

    void configure(Peer& peer, const std::string& room = "room") {
        peer.manager->configureRtmKit("app", "token-" + peer.userId, peer.userId, room);
    }

    Peer& join(const std::string& userId) {
        Peer& peer = makePeer(userId);
        configure(peer);
        run();
        EXPECT_TRUE(peer.manager->rtmChannel() && peer.manager->rtmChannel()->isJoined()) << userId;
        peer.logs->take();
        return peer;
    }

    std::vector<MessagingRecord> takeSent() {
        auto records = service->sentMessages();
        service->clearSentMessages();
        return records;
    }
};

TEST_F(AgoraRtmManagerTest, ConnectsSendsAndDeliversByWhereTheTextArrived) {
    Peer& a = makePeer("a");
    configure(a, "room");
    EXPECT_EQ(a.manager->rtmKit()->callTexts(), Lines{"loginByToken(token-a, a)"});
    run();
    EXPECT_EQ(a.manager->rtmKit()->callTexts(),
              (Lines{"loginByToken(token-a, a)", "createChannelWithId(room)",
                     "joinWithCompletion(room)"}));
    EXPECT_EQ(a.logs->take(), (Lines{"INFO Successfully Logined to RTM Engine",
                                     "INFO RTM Channel room Joined Successfully"}));
    a.logs->take();
    Peer& b = join("b");

    Outcome sent;
    const KRRtmMessage hand = toChannel(Event::participantRaiseHand, "a");
    const KRRtmMessage ask = toPeer(Event::requestToStartAudio, "a", "b");
    a.manager->sendMessage(hand, sent.completion());
    a.manager->sendMessage(ask, sent.completion());
    a.manager->sendMessage(toPeer(Event::micDecline, "a", "nobody"), sent.completion());
    EXPECT_TRUE(sent.results.empty()) << "completed inside the call";
    run();
    EXPECT_EQ(sent.results, (std::vector<bool>{true, true, false}));
    EXPECT_EQ(b.delegate->publics, std::vector<KRRtmMessage>{hand});
    EXPECT_EQ(b.delegate->privates, std::vector<KRRtmMessage>{ask});
    const std::string raise(rawValue(Event::participantRaiseHand));
    const Lines sender = a.logs->take();
    EXPECT_TRUE(contains(sender, "INFO Sending Public RTM Message ::: " + raise));
    EXPECT_TRUE(contains(sender, "INFO Public RTM Message::: " + raise + " Sent Successfully"));
    EXPECT_EQ(b.logs->take(), (Lines{"INFO Recieved RTM Public Message ::: " + raise,
                                     "INFO Recieved RTM Private Message ::: " +
                                         std::string(rawValue(Event::requestToStartAudio))}));

    // The arrival decides the method, not the message's own route.
    service->injectChannelMessage(
        "room", "z",
        controlMessage(KRRtmMessageType::peerToPeer, Event::lockMeeting, "z").encode().value());
    service->injectPeerMessage(
        "z", "b",
        controlMessage(KRRtmMessageType::publicChat, Event::unLockMeeting, "z").encode().value());
    run();
    EXPECT_EQ(events(b.delegate->publics),
              (std::vector<Event>{Event::participantRaiseHand, Event::lockMeeting}));
    EXPECT_EQ(events(b.delegate->privates),
              (std::vector<Event>{Event::requestToStartAudio, Event::unLockMeeting}));
}

TEST_F(AgoraRtmManagerTest, MessagesReachTheDelegateAsDecodedAfterTheHostSawTheText) {
    Peer& b = join("b");
    const std::string good = toChannel(Event::stopwhiteboard, "a").encode().value();
    service->injectChannelMessage("room", "a", good);
    service->injectChannelMessage("room", "a", "not json");
    service->injectPeerMessage("a", "b", "{}");
    run();

    EXPECT_EQ(b.journal,
              (Lines{"host " + good, "public " + std::string(rawValue(Event::stopwhiteboard)),
                     "host not json", "host {}"}));
    ASSERT_EQ(b.delegate->publics.size(), 1u);
    EXPECT_EQ(b.delegate->publics[0], toChannel(Event::stopwhiteboard, "a"));
    const Lines lines = b.logs->take();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1].rfind("WARN Dropped RTM Public Message", 0), 0u);
    EXPECT_EQ(lines[2].rfind("WARN Dropped RTM Private Message", 0), 0u);
}

TEST_F(AgoraRtmManagerTest, HostSendRequestsAreSentOnlyWhileAMeetingIsConfigured) {
    Peer& a = makePeer("a");
    join("b");
    const boost::json::object toRoom{{"message", "raw"}};
    const boost::json::object toB{
        {"type", "PrivateChat"}, {"message", "p"}, {"targetParticipantId", "b"}};

    a.postSendRequest(toRoom);
    run();
    EXPECT_TRUE(takeSent().empty()) << "before the first configure";
    EXPECT_EQ(a.center->observerCount(), 1u) << "only the test's own observer";

    configure(a);
    configure(a);  // a second meeting set-up without a leave registers nothing more
    run();
    EXPECT_EQ(a.center->observerCount(), 2u);
    a.postSendRequest(toRoom);
    a.postSendRequest(toB);
    run();
    const auto records = takeSent();
    ASSERT_EQ(records.size(), 2u) << "each request sent once";
    EXPECT_EQ(records[0].route, MessagingRecord::Route::channel);
    EXPECT_EQ(records[0].text, "raw");
    EXPECT_EQ(records[1].route, MessagingRecord::Route::peer);
    EXPECT_EQ(records[1].to, "b");
    EXPECT_EQ(a.logs->take().back(), "INFO Private RTM Message Sent Successfully");

    a.manager->leaveAndLogout();  // the leave and logout are still under way
    a.postSendRequest(toRoom);
    a.postSendRequest(toB);
    run();
    EXPECT_TRUE(takeSent().empty()) << "after the leave";
    EXPECT_EQ(a.center->observerCount(), 1u);

    configure(a);
    run();
    a.postSendRequest(toRoom);
    run();
    EXPECT_EQ(takeSent().size(), 1u) << "the next meeting opens the bridge again";
}

TEST_F(AgoraRtmManagerTest, ARequestFromAnotherThreadStillWaitingAtTheLeaveIsNotSent) {
    Peer& a = join("a");
    join("b");
    std::thread host([&a] {
        for (int i = 0; i < 20; ++i) {
            a.postSendRequest({{"message", "m" + std::to_string(i)}});
        }
    });
    host.join();
    EXPECT_TRUE(service->sentMessages().empty()) << "handled off the queue";
    run();
    EXPECT_EQ(takeSent().size(), 20u);

    // To a peer: the new session's client exists at once, so a stale request would be tried.
    host = std::thread([&a] {
        a.postSendRequest(
            {{"type", "PrivateChat"}, {"message", "late"}, {"targetParticipantId", "b"}});
    });
    host.join();
    a.manager->leaveAndLogout();
    configure(a);  // a new meeting before the queue got to the request
    run();
    EXPECT_TRUE(takeSent().empty());
}

TEST_F(AgoraRtmManagerTest, ALeaveWithoutAChannelStillLogsOut) {
    Peer& a = makePeer("a");
    configure(a);
    const auto pending = a.manager->rtmKit();
    a.manager->leaveAndLogout();  // before the login is answered
    run();
    EXPECT_FALSE(service->isOnline("a"));
    EXPECT_EQ(pending->callTexts(),
              (Lines{"loginByToken(token-a, a)", "setDelegate(none)", "logoutWithCompletion()"}));
    EXPECT_EQ(a.logs->take(), Lines{"INFO Logging Out of RTM Engine"});
    EXPECT_EQ(service->channelMembers("room"), Lines{}) << "the late login joined nothing";

    service->failNext(MessagingOperation::createChannelWithId, 3);  // logged in, no channel
    configure(a);
    run();
    ASSERT_TRUE(service->isOnline("a"));
    const auto noChannel = a.manager->rtmKit();
    a.manager->leaveAndLogout();
    run();
    EXPECT_FALSE(service->isOnline("a"));
    EXPECT_EQ(noChannel->callTexts().back(), "logoutWithCompletion()");
    EXPECT_FALSE(a.manager->rtmKit());
}

TEST_F(AgoraRtmManagerTest, CompletionsBelongToTheSessionThatIssuedThem) {
    Peer& a = join("a");
    Peer& b = join("b");
    const auto oldClient = a.manager->rtmKit();
    Outcome oldSends;
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), oldSends.completion());
    a.manager->leaveAndLogout();
    configure(a);  // before the old send, leave and logout and the new login are answered
    const auto newClient = a.manager->rtmKit();
    run();

    EXPECT_EQ(oldSends.results, std::vector<bool>{true});
    EXPECT_NE(newClient, oldClient);
    EXPECT_EQ(a.manager->rtmKit(), newClient);
    EXPECT_TRUE(newClient->isLoggedIn()) << "the old logout did not end the new login";
    ASSERT_TRUE(a.manager->rtmChannel());
    EXPECT_TRUE(a.manager->rtmChannel()->isJoined());
    EXPECT_EQ(service->channelMembers("room"), (Lines{"b", "a"}));

    b.manager->sendMessage(toChannel(Event::hostLowerAllHands, "b"));
    b.manager->sendMessage(toPeer(Event::stopParticipantAudio, "b", "a"));
    run();
    EXPECT_EQ(events(a.delegate->publics), std::vector<Event>{Event::hostLowerAllHands});
    EXPECT_EQ(events(a.delegate->privates), std::vector<Event>{Event::stopParticipantAudio});
}

TEST_F(AgoraRtmManagerTest, EverySendCompletesExactlyOnceAndNeverInsideTheCall) {
    Peer& a = makePeer("a");
    join("b");
    const auto sendBoth = [&a](Outcome& outcome) {
        a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), outcome.completion());
        a.manager->sendMessage(toPeer(Event::micDecline, "a", "b"), outcome.completion());
        EXPECT_TRUE(outcome.results.empty());
    };

    Outcome early;  // no client, no channel
    sendBoth(early);
    run();
    EXPECT_EQ(early.results, (std::vector<bool>{false, false}));

    configure(a);
    run();
    Outcome unencodable;
    KRRtmMessage broken = toChannel(Event::lockMeeting, "a");
    broken.senderName = "bad \xC3";
    a.manager->sendMessage(broken, unencodable.completion());
    run();
    EXPECT_EQ(unencodable.results, std::vector<bool>{false});

    Outcome replaced;  // a new configure drops the session before the service answers
    sendBoth(replaced);
    configure(a);
    run();
    EXPECT_EQ(replaced.results, (std::vector<bool>{false, false}));

    Outcome afterLeave;
    a.manager->leaveAndLogout();
    sendBoth(afterLeave);
    run();
    EXPECT_EQ(afterLeave.results, (std::vector<bool>{false, false}));

    configure(a);
    run();
    Outcome destroyed;
    sendBoth(destroyed);
    a.manager.reset();
    run();
    run();
    EXPECT_EQ(destroyed.results, (std::vector<bool>{false, false}));
    EXPECT_FALSE(service->isOnline("a"));
}

TEST_F(AgoraRtmManagerTest, TheDelegateIsHeldWeaklyAndMayDropTheManagerFromItsCallback) {
    Peer& a = join("a");
    Peer& b = join("b");
    std::weak_ptr<Recorder> weakDelegate = b.delegate;
    b.delegate.reset();
    EXPECT_TRUE(weakDelegate.expired()) << "the manager kept its delegate alive";
    a.manager->sendMessage(toChannel(Event::recordingStopped, "a"));
    run();
    EXPECT_EQ(b.journal.size(), 1u) << "the host still hears the text";

    Peer& c = join("c");
    c.delegate->onMessage = [&c] { c.manager.reset(); };
    a.manager->sendMessage(toChannel(Event::recordingStarted, "a"));
    a.manager->sendMessage(toChannel(Event::recordingStopped, "a"));
    run();
    EXPECT_EQ(events(c.delegate->publics), std::vector<Event>{Event::recordingStarted});
    EXPECT_EQ(c.center->observerCount(), 1u) << "the bridge closed with the manager";
}

TEST_F(AgoraRtmManagerTest, NothingIsDeliveredAfterTheLeave) {
    Peer& a = join("a");
    Peer& b = join("b");
    b.center->addObserver(std::string(KRRtmConstants::rtmMessageRecieved),
                          [&b](const platform::Notification&) { b.manager->leaveAndLogout(); });
    a.manager->sendMessage(toChannel(Event::participantRaiseHand, "a"));
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"));
    run();
    EXPECT_EQ(b.journal,
              Lines{"host " + toChannel(Event::participantRaiseHand, "a").encode().value()})
        << "the host left from its observer: the message does not act, the next never arrives";
    EXPECT_TRUE(b.delegate->publics.empty());
}

}  // namespace
}  // namespace kr
