#include "KivRaneCoreSDK/RTM/Managers/KRRtmManager.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/RTM/Constants/KRRtmConstants.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Messaging/MessagingChannel.h"
#include "platform/Messaging/MessagingClient.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {
namespace {

using platform::MessagingCodes;
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

bool contains(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Writes what reaches the host app and the delegate into one journal, in order.
class Recorder final : public KRRtmManagerDelegate {
public:
    explicit Recorder(Lines& journal) : journal_(journal) {}

    std::vector<KRRtmMessage> publics;
    std::vector<KRRtmMessage> privates;
    std::function<void()> onMessage;  // runs inside the callback

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        publics.push_back(message);
        journal_.push_back("public " + std::string(rawValue(message.message)));
        if (onMessage) onMessage();
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        privates.push_back(message);
        journal_.push_back("private " + std::string(rawValue(message.message)));
        if (onMessage) onMessage();
    }

private:
    Lines& journal_;
};

// One participant: a manager with its own host notification centre.
struct Peer {
    std::string userId;
    std::shared_ptr<platform::NotificationCenter> center =
        std::make_shared<platform::NotificationCenter>();
    Lines journal;  // "host <text>" for the raw-text notification, then the delegate's calls
    std::shared_ptr<Recorder> delegate = std::make_shared<Recorder>(journal);
    std::shared_ptr<RecordingCollector> logs = std::make_shared<RecordingCollector>();
    std::shared_ptr<KRRtmManager> manager;

    void postSendRequest(boost::json::object userInfo) {
        center->post(std::string(KRRtmConstants::sendRtmFromExternalSource), this,
                     std::move(userInfo));
    }
};

// Counts how often, and with what, a send completion was called.
struct Outcome {
    std::vector<bool> results;
    KRRtmManager::SendCompletion completion() {
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
    for (const auto& m : messages) out.push_back(m.message);
    return out;
}

class KRRtmManagerTest : public ::testing::Test {
protected:
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MessagingService> service = platform::MessagingService::create();
    std::shared_ptr<ContactSyncManager> contacts = std::make_shared<ContactSyncManager>();
    std::vector<std::unique_ptr<Peer>> peers;

    void run() { queue->runPending(); }

    Peer& makePeer(const std::string& userId) {
        auto peer = std::make_unique<Peer>();
        peer->userId = userId;
        KRDependencies dependencies;
        dependencies.queue = queue;
        dependencies.messagingService = service;
        dependencies.logCollector = peer->logs;
        peer->manager = KRRtmManager::create(dependencies, peer->center, contacts);
        peer->manager->setDelegate(peer->delegate);
        peer->center->addObserver(
            std::string(KRRtmConstants::rtmMessageRecieved),
            [journal = &peer->journal](const platform::Notification& n) {
                EXPECT_EQ(n.object, nullptr);
                EXPECT_EQ(n.userInfo.size(), 1u);
                journal->push_back("host " + std::string(n.userInfo.at("message").as_string()));
            });
        peers.push_back(std::move(peer));
        return *peers.back();
    }

    void configure(Peer& peer, const std::string& room = "room") {
        peer.manager->configureRtmKit("app", "token-" + peer.userId, peer.userId, room);
    }

    // Logged in and joined to "room".
    Peer& join(const std::string& userId) {
        Peer& peer = makePeer(userId);
        configure(peer);
        run();
        EXPECT_TRUE(peer.manager->rtmChannel() && peer.manager->rtmChannel()->isJoined())
            << userId;
        peer.logs->take();
        return peer;
    }
};

TEST_F(KRRtmManagerTest, LogsInThenJoinsTheRoomNamedByTheConfiguration) {
    Peer& a = makePeer("a");
    configure(a, "room-42");
    ASSERT_TRUE(a.manager->rtmKit());
    EXPECT_EQ(a.manager->rtmKit()->callTexts(), Lines{"loginByToken(token-a, a)"});
    EXPECT_FALSE(a.manager->rtmChannel()) << "the channel waits for the login";
    run();
    EXPECT_EQ(a.manager->rtmKit()->callTexts(),
              (Lines{"loginByToken(token-a, a)", "createChannelWithId(room-42)",
                     "joinWithCompletion(room-42)"}));
    EXPECT_EQ(service->channelMembers("room-42"), Lines{"a"});
    EXPECT_EQ(a.logs->take(), (Lines{"INFO Successfully Logined to RTM Engine",
                                   "INFO RTM Channel room-42 Joined Successfully"}));
}

TEST_F(KRRtmManagerTest, ChannelMessagesReachEveryOtherMemberInOrderAndNeverTheSender) {
    Peer& a = join("a");
    Peer& b = join("b");
    Peer& c = join("c");
    Outcome sent;
    const std::vector<KRRtmMessage> fromA = {
        toChannel(Event::participantRaiseHand, "a"), toChannel(Event::lockMeeting, "a"),
        toChannel(Event::lowerParticipantHand, "a")};
    for (const auto& message : fromA) a.manager->sendMessage(message, sent.completion());
    b.manager->sendMessage(toChannel(Event::recordingStarted, "b"), sent.completion());
    EXPECT_TRUE(sent.results.empty()) << "completed inside the call";
    EXPECT_TRUE(b.delegate->publics.empty()) << "delivered inside the call";
    run();

    EXPECT_EQ(sent.results, (std::vector<bool>{true, true, true, true}));
    EXPECT_EQ(b.delegate->publics, fromA);
    EXPECT_EQ(events(c.delegate->publics),
              (std::vector<Event>{Event::participantRaiseHand, Event::lockMeeting,
                                  Event::lowerParticipantHand, Event::recordingStarted}));
    EXPECT_EQ(events(a.delegate->publics), std::vector<Event>{Event::recordingStarted});
    EXPECT_TRUE(a.delegate->privates.empty() && b.delegate->privates.empty());

    const std::string lock(rawValue(Event::lockMeeting));
    Lines lines = a.logs->take();
    EXPECT_TRUE(contains(lines, "INFO Sending Public RTM Message ::: " + lock));
    EXPECT_TRUE(contains(lines, "INFO Public RTM Message::: " + lock + " Sent Successfully"));
    lines = c.logs->take();
    EXPECT_TRUE(contains(lines, "INFO Recieved RTM Public Message ::: " + lock));
}

TEST_F(KRRtmManagerTest, PeerMessagesReachOnlyTheirTarget) {
    Peer& a = join("a");
    Peer& b = join("b");
    Peer& c = join("c");
    Outcome sent;
    const KRRtmMessage request = toPeer(Event::requestToStartAudio, "a", "b");
    a.manager->sendMessage(request, sent.completion());
    a.manager->sendMessage(toPeer(Event::micDecline, "a", "nobody"), sent.completion());
    run();

    EXPECT_EQ(sent.results, (std::vector<bool>{true, false}));
    EXPECT_EQ(b.delegate->privates, std::vector<KRRtmMessage>{request});
    EXPECT_TRUE(b.delegate->publics.empty());
    EXPECT_TRUE(c.delegate->privates.empty() && c.delegate->publics.empty());
    EXPECT_TRUE(a.delegate->privates.empty());
    const auto records = service->sentMessages();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].route, MessagingRecord::Route::peer);
    EXPECT_EQ(records[0].to, "b");
    EXPECT_EQ(records[0].text, request.encode().value());
    EXPECT_EQ(records[1].code, MessagingCodes::kPeerUnreachable);

    const std::string decline(rawValue(Event::micDecline));
    const Lines lines = a.logs->take();
    EXPECT_TRUE(contains(lines, "INFO Sending Private RTM Message ::: " + decline));
    EXPECT_FALSE(contains(lines, "INFO Private RTM Message::: " + decline + " Sent Successfully"));
}

TEST_F(KRRtmManagerTest, WhereATextArrivesDecidesTheDelegateMethodAndContactsRenameTheSender) {
    Peer& b = join("b");
    contacts->setContactsArray({boost::json::object{{"userId", "u-a"}, {"name", "Contact A"}}});
    const auto text = [](KRRtmMessageType type, const std::string& from) {
        return controlMessage(type, Event::hardMuteEnabled, from).encode().value();
    };
    service->injectChannelMessage("room", "a", text(KRRtmMessageType::peerToPeer, "a"));
    service->injectPeerMessage("z", "b", text(KRRtmMessageType::publicChat, "z"));
    run();

    ASSERT_EQ(b.delegate->publics.size(), 1u);
    EXPECT_EQ(b.delegate->publics[0].messageType, KRRtmMessageType::peerToPeer);
    EXPECT_EQ(b.delegate->publics[0].senderName, "Contact A");
    ASSERT_EQ(b.delegate->privates.size(), 1u);
    EXPECT_EQ(b.delegate->privates[0].messageType, KRRtmMessageType::publicChat);
    EXPECT_EQ(b.delegate->privates[0].senderName, "Name z") << "no contact: own name kept";
}

TEST_F(KRRtmManagerTest, TheHostSeesEveryRawTextFirstAndOnlyGoodOnesReachTheDelegate) {
    Peer& b = join("b");
    const std::string good = toChannel(Event::stopwhiteboard, "a").encode().value();
    KRRtmMessage big = toChannel(Event::reactionShare, "a");
    big.senderName.assign(KRRtmConstants::maxIncomingTextBytes, 'x');
    const std::string oversized = big.encode().value();
    for (const std::string& text :
         {good, std::string("not json"), std::string(R"({"type":"Nope","sender":{}})"),
          oversized}) {
        service->injectChannelMessage("room", "a", text);
    }
    service->injectPeerMessage("a", "b", "{}");
    run();

    EXPECT_EQ(b.journal, (Lines{"host " + good, "public " + std::string(rawValue(Event::stopwhiteboard)),
                                "host not json", R"(host {"type":"Nope","sender":{}})",
                                "host " + oversized, "host {}"}));
    const Lines lines = b.logs->take();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0], "INFO Recieved RTM Public Message ::: " +
                            std::string(rawValue(Event::stopwhiteboard)));
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_EQ(lines[i].rfind("WARN Dropped RTM ", 0), 0u) << lines[i];
    }
    EXPECT_NE(lines[3].find("over the limit"), std::string::npos);
    EXPECT_EQ(lines[4].rfind("WARN Dropped RTM Private Message", 0), 0u);
}

TEST_F(KRRtmManagerTest, HostSendRequestsAreSentUnchangedByTheirType) {
    Peer& a = join("a");
    join("b");
    struct Case {
        boost::json::object userInfo;
        MessagingRecord::Route route;
        std::string to;
        std::string text;
        std::string log;
    };
    const std::vector<Case> cases = {
        {{{"message", "raw one"}}, MessagingRecord::Route::channel, "room", "raw one",
         "INFO Public RTM Message Sent Successfully"},
        {{{"type", "PrivateChat"}, {"message", "p"}, {"targetParticipantId", "b"}},
         MessagingRecord::Route::peer, "b", "p", "INFO Private RTM Message Sent Successfully"},
        {{{"type", "PrivateChat"}, {"message", "q"}}, MessagingRecord::Route::peer, "", "q",
         "ERROR Failed to send Private RTM Message"},
        {{{"type", "privatechat"}, {"message", "r"}, {"targetParticipantId", "b"}},
         MessagingRecord::Route::channel, "room", "r", "INFO Public RTM Message Sent Successfully"},
        {{{"type", 7}, {"message", "s"}}, MessagingRecord::Route::channel, "room", "s",
         "INFO Public RTM Message Sent Successfully"},
        {{{"type", "PublicChat"}, {"message", 5}}, MessagingRecord::Route::channel, "room", "",
         "INFO Public RTM Message Sent Successfully"},
        {{{"type", "PrivateChat"}, {"message", "t"}, {"targetParticipantId", true}},
         MessagingRecord::Route::peer, "", "t", "ERROR Failed to send Private RTM Message"},
    };
    for (const Case& c : cases) {
        service->clearSentMessages();
        a.postSendRequest(c.userInfo);
        run();
        const auto records = service->sentMessages();
        ASSERT_EQ(records.size(), 1u) << c.text;
        EXPECT_EQ(records[0].route, c.route);
        EXPECT_EQ(records[0].from, "a");
        EXPECT_EQ(records[0].to, c.to);
        EXPECT_EQ(records[0].text, c.text);
        EXPECT_EQ(a.logs->take(), Lines{c.log});
    }

    service->clearSentMessages();
    a.postSendRequest({});
    run();
    EXPECT_TRUE(service->sentMessages().empty()) << "no user info, nothing to send";
}

TEST_F(KRRtmManagerTest, HostSendRequestsNeedAClientOrChannel) {
    Peer& a = makePeer("a");
    a.postSendRequest({{"message", "early"}});
    a.postSendRequest({{"type", "PrivateChat"}, {"message", "early"}});
    run();
    EXPECT_TRUE(service->sentMessages().empty()) << "before the configuration";

    service->failNext(MessagingOperation::loginByToken, 9);
    configure(a);
    run();
    a.postSendRequest({{"message", "no channel"}});
    run();
    EXPECT_TRUE(service->sentMessages().empty()) << "the login failed: no channel";

    configure(a);
    run();
    a.manager->leaveAndLogout();
    a.postSendRequest({{"message", "leaving"}});
    a.postSendRequest({{"type", "PrivateChat"}, {"message", "leaving"}});
    run();
    EXPECT_TRUE(service->sentMessages().empty()) << "after the leave";
    for (const std::string& line : a.logs->take()) {
        EXPECT_EQ(line.find("RTM Message"), std::string::npos) << "no record of a send: " << line;
    }
}

TEST_F(KRRtmManagerTest, HostSendRequestFromAnotherThreadIsSentOnTheQueue) {
    Peer& a = join("a");
    Peer& b = join("b");
    std::thread host([&a] {
        for (int i = 0; i < 50; ++i) {
            a.postSendRequest({{"message", "m" + std::to_string(i)}});
        }
    });
    host.join();
    EXPECT_TRUE(service->sentMessages().empty()) << "sent off the queue";
    run();
    ASSERT_EQ(service->sentMessages().size(), 50u);
    Lines expected;
    for (int i = 0; i < 50; ++i) expected.push_back("host m" + std::to_string(i));
    EXPECT_EQ(b.journal, expected);
}

TEST_F(KRRtmManagerTest, InjectedFailuresGiveTheMappedResults) {
    struct Case {
        MessagingOperation operation;
        Lines log;                // records of the connection
        bool channelMade;         // the manager holds a channel afterwards
        std::vector<bool> sends;  // channel send, peer send to "b"
    };
    const std::vector<Case> cases = {
        {MessagingOperation::createClient, {}, false, {false, false}},
        {MessagingOperation::loginByToken, {"INFO Failed to Login to RTM Engine"}, false,
         {false, false}},
        {MessagingOperation::createChannelWithId, {"INFO Successfully Logined to RTM Engine"},
         false, {false, true}},
        {MessagingOperation::joinWithCompletion,
         {"INFO Successfully Logined to RTM Engine", "ERROR Failed to Join RTM Channel room. Error ::: 9"},
         true, {false, true}},
        {MessagingOperation::sendChannelMessage,
         {"INFO Successfully Logined to RTM Engine", "INFO RTM Channel room Joined Successfully"},
         true, {false, true}},
        {MessagingOperation::sendPeerMessage,
         {"INFO Successfully Logined to RTM Engine", "INFO RTM Channel room Joined Successfully"},
         true, {true, false}},
    };
    join("b");
    const std::string unlock(rawValue(Event::unLockMeeting));
    const std::string decline(rawValue(Event::videoDecline));
    for (const Case& c : cases) {
        const std::string name(platform::messagingOperationName(c.operation));
        Peer& a = makePeer("a");
        service->failNext(c.operation, 9);
        configure(a);
        run();
        EXPECT_EQ(a.logs->take(), c.log) << name;
        EXPECT_EQ(a.manager->rtmChannel() != nullptr, c.channelMade) << name;

        Outcome outcome;
        a.manager->sendMessage(toChannel(Event::unLockMeeting, "a"), outcome.completion());
        a.manager->sendMessage(toPeer(Event::videoDecline, "a", "b"), outcome.completion());
        run();
        EXPECT_EQ(outcome.results, c.sends) << name;
        const Lines lines = a.logs->take();
        EXPECT_EQ(contains(lines, "INFO Public RTM Message::: " + unlock + " Sent Successfully"),
                  c.sends[0])
            << name;
        EXPECT_EQ(contains(lines, "INFO Private RTM Message::: " + decline + " Sent Successfully"),
                  c.sends[1])
            << name;
        a.manager.reset();  // its client goes offline
        run();
    }
}

TEST_F(KRRtmManagerTest, EverySendCompletesExactlyOnceAndNeverInsideTheCall) {
    Peer& a = makePeer("a");
    join("b");
    Outcome early;
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), early.completion());
    a.manager->sendMessage(toPeer(Event::micDecline, "a", "b"), early.completion());
    EXPECT_TRUE(early.results.empty());
    run();
    EXPECT_EQ(early.results, (std::vector<bool>{false, false})) << "no client, no channel";

    configure(a);
    run();
    Outcome unencodable;
    KRRtmMessage broken = toChannel(Event::lockMeeting, "a");
    broken.senderName = "bad \xC3";
    a.manager->sendMessage(broken, unencodable.completion());
    EXPECT_TRUE(unencodable.results.empty());
    run();
    EXPECT_EQ(unencodable.results, std::vector<bool>{false});
    EXPECT_TRUE(contains(a.logs->take(), "ERROR Failed to encode RTM Message ::: " +
                                           std::string(rawValue(Event::lockMeeting)) +
                                           " (a text field is not valid UTF-8)"));

    Outcome replaced;  // unanswered when a new configure drops the session
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), replaced.completion());
    a.manager->sendMessage(toPeer(Event::micDecline, "a", "b"), replaced.completion());
    configure(a);
    run();
    EXPECT_EQ(replaced.results, (std::vector<bool>{false, false}));

    Outcome afterLeave;
    a.manager->leaveAndLogout();
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), afterLeave.completion());
    a.manager->sendMessage(toPeer(Event::micDecline, "a", "b"), afterLeave.completion());
    run();
    EXPECT_EQ(afterLeave.results, (std::vector<bool>{false, false}));

    configure(a);
    run();
    Outcome destroyed;
    a.manager->sendMessage(toChannel(Event::lockMeeting, "a"), destroyed.completion());
    a.manager.reset();
    EXPECT_TRUE(destroyed.results.empty());
    run();
    EXPECT_EQ(destroyed.results, std::vector<bool>{false});
    run();
    EXPECT_EQ(destroyed.results.size(), 1u);
}

TEST_F(KRRtmManagerTest, AQuickRejoinKeepsTheNewSessionWhateverTheOldOneAnswersLate) {
    Peer& a = join("a");
    Peer& b = join("b");
    const auto oldClient = a.manager->rtmKit();
    a.manager->leaveAndLogout();
    configure(a);  // before the leave, logout or login has been answered
    const auto newClient = a.manager->rtmKit();
    run();

    EXPECT_NE(newClient, oldClient);
    EXPECT_EQ(a.manager->rtmKit(), newClient);
    EXPECT_TRUE(newClient->isLoggedIn());
    EXPECT_EQ(service->client("a"), newClient);
    ASSERT_TRUE(a.manager->rtmChannel());
    EXPECT_TRUE(a.manager->rtmChannel()->isJoined());
    EXPECT_EQ(service->channelMembers("room"), (Lines{"b", "a"}));
    EXPECT_EQ(oldClient->callTexts(),
              (Lines{"loginByToken(token-a, a)", "createChannelWithId(room)",
                     "joinWithCompletion(room)", "setChannelDelegate(room, none)",
                     "setDelegate(none)", "leaveWithCompletion(room)", "logoutWithCompletion()"}));

    b.manager->sendMessage(toChannel(Event::hostLowerAllHands, "b"));
    b.manager->sendMessage(toPeer(Event::stopParticipantAudio, "b", "a"));
    run();
    EXPECT_EQ(events(a.delegate->publics), std::vector<Event>{Event::hostLowerAllHands});
    EXPECT_EQ(events(a.delegate->privates), std::vector<Event>{Event::stopParticipantAudio});
}

TEST_F(KRRtmManagerTest, LeavingBeforeTheLoginIsAnsweredLogsOutAndJoinsNothing) {
    Peer& a = makePeer("a");
    configure(a);
    const auto client = a.manager->rtmKit();
    a.manager->leaveAndLogout();
    run();
    EXPECT_FALSE(service->isOnline("a"));
    EXPECT_EQ(client->callTexts(), (Lines{"loginByToken(token-a, a)", "setDelegate(none)",
                                          "logoutWithCompletion()"}));
    EXPECT_EQ(a.logs->take(), Lines{"INFO Logging Out of RTM Engine"});

    service->failNext(MessagingOperation::loginByToken, 4);  // and after a failed login
    configure(a);
    run();
    const auto failed = a.manager->rtmKit();
    a.manager->leaveAndLogout();
    run();
    EXPECT_EQ(failed->callTexts().back(), "logoutWithCompletion()");
    EXPECT_FALSE(a.manager->rtmKit());
}

TEST_F(KRRtmManagerTest, NothingIsDeliveredAfterLeaveOrDestroy) {
    Peer& a = join("a");
    Peer& b = join("b");
    Peer& c = join("c");
    std::weak_ptr<platform::MessagingClient> cClient = c.manager->rtmKit();
    a.manager->sendMessage(toChannel(Event::participantRaiseHand, "a"));
    a.manager->sendMessage(toPeer(Event::requestToStartVideo, "a", "b"));
    a.manager->sendMessage(toPeer(Event::requestToStartVideo, "a", "c"));
    b.manager->leaveAndLogout();
    c.manager.reset();
    run();
    EXPECT_TRUE(b.journal.empty());
    EXPECT_TRUE(c.journal.empty());
    EXPECT_TRUE(cClient.expired());
    EXPECT_FALSE(service->isOnline("b"));
    EXPECT_FALSE(service->isOnline("c"));
    EXPECT_EQ(service->channelMembers("room"), Lines{"a"});

    a.manager->sendMessage(toChannel(Event::participantRaiseHand, "a"));
    service->injectPeerMessage("x", "b", "late");
    run();
    EXPECT_TRUE(b.journal.empty());
}

TEST_F(KRRtmManagerTest, TheDelegateIsHeldWeaklyAndMayDropTheManagerFromItsCallback) {
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
    EXPECT_FALSE(c.manager);
}

}  // namespace
}  // namespace kr
