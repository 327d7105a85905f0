// Several clients in one meeting on the local meeting service (real HTTPS) and one shared
// messaging service: what one participant or the host does reaches the others as control
// messages. The media channel's confirmations are given by the test, and each client is shown
// the others as the media channel would show them.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <boost/json.hpp>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingRecord.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "support/LocalMeetingDependencies.h"
#include "support/ClientTestDelegate.h"
#include "support/ControlMessageRecorder.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using JoinKind = KRMeetingJoinError::Kind;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";
constexpr const char* kHostToken = "host-token-1";

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<test::ControlMessageRecorder> recorder;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
    bool failed() const {
        return std::any_of(recorder->lines.begin(), recorder->lines.end(),
                           [](const std::string& l) { return l.rfind("join failed", 0) == 0; });
    }
};

/// Counts the board start replies the members' clients handled (their own and their accesses).
class BoardStartReplies : public LogCollector {
public:
    void collectLogs(const std::string& message, const std::string&, KivRaneRMLogLevel) override {
        if (message.rfind("Start Whiteboard", 0) == 0) ++handled;
    }
    std::atomic<std::size_t> handled{0};
};

class KRClientMessagingIntegrationTest : public ::testing::Test {
protected:
    ~KRClientMessagingIntegrationTest() override { members.clear(); }

    Member& makeMember(const std::string& name, KRUserRole role,
                       const boost::json::object& settings = {}) {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        deps.contacts = std::make_shared<ContactSyncManager>();  // each member its own
        deps.logCollector = boardStartReplies;
        Member member{KRClient::create(deps), std::make_shared<test::ControlMessageRecorder>(main)};
        if (!settings.empty()) member.client->setParameters(settings);
        members.push_back(member);
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, name),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.recorder);
        return members.back();
    }

    /// A member in the media channel (its engine confirmed the join) and in the messaging channel.
    Member& join(const std::string& name, KRUserRole role = KRUserRole::speaker(),
                 const boost::json::object& settings = {}) {
        Member& member = makeMember(name, std::move(role), settings);
        EXPECT_TRUE(main->runUntil(
            [&] { return internals(member.client).isAwaitingMediaJoin() || member.failed(); }, 10s));
        EXPECT_FALSE(member.failed()) << name;
        const std::string room = internals(member.client).currentRoom().roomID;
        EXPECT_TRUE(main->runUntil(
            [&] {
                const auto inRoom = messaging->channelMembers(room);
                return member.client->getMeetingLocalUser() &&
                       std::find(inRoom.begin(), inRoom.end(), member.uid()) != inRoom.end();
            },
            10s));
        return member;
    }

    /// Host, Ann and Ben in one meeting, each seeing the other two with their roles.
    void meet() {
        // The room socket pushes recording and room changes too, racing the control messages
        // this suite checks; without it every event here comes from messaging.
        service.roomSocket().refuseHandshakes(-1);
        host = &join("Hostess", KRUserRole::host(kHostToken));
        ann = &join("Ann");
        ben = &join("Ben");
        // Everyone sees the other two through the media channel, and no question about a media
        // stream is still out (a late answer would overwrite what the messages below set).
        ASSERT_TRUE(main->runUntil(
            [&] {
                for (Member* m : {host, ann, ben}) {
                    if (!internals(m->client).pendingStreamQuestions().empty())
                        return false;
                    for (Member* other : {host, ann, ben})
                        if (other != m && !m->client->getUser(other->uid()))
                            return false;
                }
                return true;
            },
            10s));
        for (Member* m : {host, ann, ben}) {
            ASSERT_TRUE(await([&](auto done) { internals(m->client).roomSync().fetchRoomStatus(done); }));
            main->runFor(50ms);  // the media channel's own reports of the others settle
            m->recorder->take();
        }
        ASSERT_TRUE(host->client->getUser(ann->uid()) != nullptr);
        ASSERT_TRUE(ann->client->getUser(host->uid())->isHost());
    }

    bool await(const std::function<void(KRClient::Completion)>& call) {
        std::optional<bool> result;
        call([&](bool ok) { result = ok; });
        EXPECT_TRUE(main->runUntil([&] { return result.has_value(); }, 10s));
        return result.value_or(false);
    }

    /// Runs the queue until `member` has recorded `count` lines (or a while has passed).
    Lines linesOf(Member& member, std::size_t count) {
        main->runUntil([&] { return member.recorder->lines.size() >= count; }, 5s);
        main->runFor(50ms);  // anything extra would show up here
        return member.recorder->take();
    }

    /// The member's whiteboard address names the board the service has open.
    bool namesOpenBoard(const Member* m) const {
        const std::string board = "/whiteboard/" + service.room(kMeetingId)->whiteboardId + "?";
        return m->client->whiteboardUrl().find(board) != std::string::npos;
    }

    /// The texts of the messages of `event` that `member` tried to send since the log was
    /// cleared, in order.
    std::vector<std::string> sentBy(const Member& member, KRRtmMessageEvent event) const {
        std::vector<std::string> texts;
        for (const auto& record : messaging->sentMessages()) {
            const auto message = KRRtmMessage::decode(record.text);
            if (record.from == member.uid() && message && message->message == event) {
                texts.push_back(record.text);
            }
        }
        return texts;
    }

    void expectAllOnQueue() {
        for (const Member& m : members)
            EXPECT_EQ(m.recorder->offQueueCalls, 0);
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<BoardStartReplies> boardStartReplies = std::make_shared<BoardStartReplies>();
    std::deque<Member> members;
    Member* host = nullptr;
    Member* ann = nullptr;
    Member* ben = nullptr;
};

TEST_F(KRClientMessagingIntegrationTest, ARaisedHandIsSeenByEveryoneElse) {
    meet();
    main->post([&] { ann->client->raiseHand(); });
    EXPECT_EQ(linesOf(*ann, 1), Lines{"local hand up"});
    EXPECT_EQ(linesOf(*host, 1), Lines{"hand " + ann->uid() + " up"});
    EXPECT_EQ(linesOf(*ben, 1), Lines{"hand " + ann->uid() + " up"});
    // A room status poll already on its way may briefly show the older server state.
    EXPECT_TRUE(main->runUntil(
        [&] { return ben->client->getUser(ann->uid())->isHandRaised(); }, 5s));
    main->post([&] { ann->client->lowerHand(); });
    EXPECT_EQ(linesOf(*ben, 1), Lines{"hand " + ann->uid() + " down"});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, LockReachesTheOthersAndKeepsTheFourthOut) {
    meet();
    ASSERT_TRUE(await([&](auto done) { host->client->lockMeeting(done); }));
    const Lines locked{"locked by " + host->uid()};
    EXPECT_EQ(linesOf(*ann, 1), locked);
    EXPECT_EQ(linesOf(*ben, 1), locked);
    EXPECT_TRUE(internals(ann->client).currentRoom().isMeetingLocked);

    Member& late = makeMember("Late", KRUserRole::speaker());
    ASSERT_TRUE(main->runUntil([&] { return late.failed(); }, 10s));
    EXPECT_EQ(late.recorder->lines,
              Lines{"join failed " + std::to_string(static_cast<int>(JoinKind::meetingLocked))});

    ASSERT_TRUE(await([&](auto done) { host->client->unLockMeeting(done); }));
    EXPECT_EQ(linesOf(*ben, 1), Lines{"unlocked by " + host->uid()});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, RecordingOnAndOffReachTheOthersOnce) {
    meet();
    // Ann and Ben ask for the room status while it records; the replies land after the stop.
    const auto route = test::MeetingServiceRoute::getRoomConnectionStatus;
    service.injectFault(route, test::MeetingServiceFault::delayed(2500ms));
    const Lines started{"recording started by " + host->uid()};
    const Lines stopped{"recording stopped by " + host->uid()};
    ASSERT_TRUE(await([&](auto done) { host->client->startRecording(done); }));
    int answered = 0;
    const std::size_t asked = service.requestCount(route);
    for (Member* m : {host, ann, ben}) {
        EXPECT_EQ(linesOf(*m, 1), started);
        if (m != host) internals(m->client).roomSync().fetchRoomStatus([&](bool) { ++answered; });
    }
    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(route) >= asked + 2; }, 5s));
    ASSERT_TRUE(await([&](auto done) { host->client->stopRecording(done); }));
    EXPECT_EQ(linesOf(*host, 1), stopped);
    ASSERT_TRUE(main->runUntil([&] { return answered == 2; }, 10s));
    for (Member* m : {ann, ben}) EXPECT_EQ(linesOf(*m, 1), stopped);

    // A start nobody heard of: a reply asked after the last word tells it.
    messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                        platform::MessagingCodes::kFailure, host->uid());
    ASSERT_TRUE(await([&](auto done) { host->client->startRecording(done); }));
    ASSERT_TRUE(await([&](auto done) { internals(ann->client).roomSync().fetchRoomStatus(done); }));
    EXPECT_EQ(linesOf(*ann, 1), Lines{"recording started by -"});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest,
       HardMuteByTheHostMarksEveryoneAndAParticipantCannotFakeIt) {
    meet();
    ASSERT_TRUE(await([&](auto done) { host->client->hardMuteUnmuteUsersAudio(true, done); }));
    // The microphone is muted first, then the hard mute is reported.
    const Lines muted{"local mic off", "hard mute by " + host->uid()};
    EXPECT_EQ(linesOf(*ann, 2), muted);
    EXPECT_EQ(linesOf(*ben, 2), muted);
    EXPECT_TRUE(internals(ann->client).currentRoom().isHardMuteEnabled);
    EXPECT_TRUE(ann->client->getUser(ben->uid())->audioTrack()->isHardAudioMuted());
    ASSERT_TRUE(await([&](auto done) { host->client->hardMuteUnmuteUsersAudio(false, done); }));
    EXPECT_EQ(linesOf(*ann, 1), Lines{"hard unmute by " + host->uid()});
    EXPECT_FALSE(internals(ann->client).currentRoom().isHardMuteEnabled);

    // Ben, neither host nor co-host, sends the message himself: Ann ignores it.
    KRRtmMessage forged;
    forged.message = KRRtmMessageEvent::hardMuteEnabled;
    forged.senderParticipantId = ben->uid();
    messaging->injectChannelMessage(internals(ann->client).currentRoom().roomID, ben->uid(),
                                    forged.encode().value());
    EXPECT_EQ(linesOf(*ann, 0), Lines{});
    EXPECT_FALSE(internals(ann->client).currentRoom().isHardMuteEnabled);
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, AClientJoinedWithoutTheServerObeysTheRealHost) {
    meet();
    // Zed has media credentials and never asks the server who is who: it knows the host only
    // from the media channel, with no rights on record; only its questions about streams reach
    // the service.
    KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
    Member zed{KRClient::create(deps), std::make_shared<test::ControlMessageRecorder>(main)};
    members.push_back(zed);
    boost::json::object credentials{{"kr_agora_token", "rtc-token-9090"},
                                    {"kr_uid", "9090"},
                                    {"kr_room_id", internals(host->client).currentRoom().roomID},
                                    {"kr_rtm_token", "rtm-token"}};
    zed.client->setParameters(credentials);
    zed.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Zed"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), zed.recorder);
    ASSERT_TRUE(main->runUntil(
        [&] {
            const auto inRoom = messaging->channelMembers(internals(host->client).currentRoom().roomID);
            return zed.client->getUser(host->uid()) != nullptr &&
                   std::find(inRoom.begin(), inRoom.end(), "9090") != inRoom.end();
        },
        10s));
    ASSERT_FALSE(zed.client->getUser(host->uid())->isHost());
    main->runFor(50ms);
    zed.recorder->take();

    ASSERT_TRUE(await([&](auto done) { host->client->lockMeeting(done); }));
    EXPECT_EQ(linesOf(zed, 1), Lines{"locked by " + host->uid()});
    ASSERT_TRUE(await([&](auto done) { host->client->startRecording(done); }));
    EXPECT_EQ(linesOf(zed, 1), Lines{"recording started by " + host->uid()});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, APlainParticipantCannotGrantCoHostRights) {
    meet();
    // Ben sends the grant himself, naming Ann's account: Ann ignores it.
    KRRtmMessage forged;
    forged.message = KRRtmMessageEvent::makeCoHost;
    forged.senderParticipantId = ben->uid();
    forged.targetParticipantId = ann->client->getMeetingLocalUser()->userId();
    ASSERT_FALSE(forged.targetParticipantId.empty());
    messaging->injectChannelMessage(internals(ann->client).currentRoom().roomID, ben->uid(),
                                    forged.encode().value());
    EXPECT_EQ(linesOf(*ann, 0), Lines{});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, CoHostRightsReachOnlyTheirTarget) {
    meet();
    const auto annSeenByHost = host->client->getUser(ann->uid());
    ASSERT_TRUE(
        await([&](auto done) { host->client->updateUserCoHostRights(annSeenByHost, true, done); }));
    EXPECT_EQ(linesOf(*ann, 1), Lines{"cohost granted by " + host->uid()});
    EXPECT_EQ(linesOf(*ben, 0), Lines{});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, RoleChangeToAudienceIsAskedOfThatParticipantAlone) {
    meet();
    messaging->clearSentMessages();
    ASSERT_TRUE(await([&](auto done) {
        host->client->changeUserRole(ann->uid(), KRUserRole::audience(), done);
    }));
    main->runUntil([&] { return !messaging->sentMessages().empty(); }, 5s);
    const auto sent = messaging->sentMessages();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].route, platform::MessagingRecord::Route::peer);
    EXPECT_EQ(sent[0].to, ann->uid());
    EXPECT_EQ(sent[0].code, 0);
    EXPECT_EQ(KRRtmMessage::decode(sent[0].text)->message,
              KRRtmMessageEvent::participantDowngradeToAudience);
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ARemovedParticipantLeavesAndHearsNothingMore) {
    meet();
    ASSERT_TRUE(await([&](auto done) { host->client->removeUserFromMeeting(ann->uid(), done); }));
    const auto removed =
        std::to_string(static_cast<int>(KRUserLeftReason::Kind::removedFromMeeting));
    EXPECT_EQ(linesOf(*ann, 1), Lines{"left " + removed + " Hostess"});
    main->runUntil(
        [&] { return messaging->channelMembers(internals(host->client).currentRoom().roomID).size() == 2; },
        5s);
    // Nothing after the leave: the lock reaches Ben, not Ann.
    ASSERT_TRUE(await([&](auto done) { host->client->lockMeeting(done); }));
    EXPECT_EQ(linesOf(*ben, 1), Lines{"locked by " + host->uid()});
    EXPECT_EQ(linesOf(*ann, 0), Lines{});
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ARemovalDuringALeaveLeavesTheJoinWaitingForItAlone) {
    meet();
    // Ann's leave waits for the service; she asked to join again meanwhile.
    service.injectFault(test::MeetingServiceRoute::leaveMeeting,
                        test::MeetingServiceFault::delayed(2s).times(1));
    const std::size_t removalsSent = messaging->sentMessages().size();
    ann->client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    auto again = std::make_shared<test::ControlMessageRecorder>(main);
    ann->client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Ann"),
                             KRJoinMeetingConfig(KRUserRole::speaker(), true, true), again);
    // The host removes her from the meeting she is leaving: not her word, so her join stands.
    ASSERT_TRUE(await([&](auto done) { host->client->removeUserFromMeeting(ann->uid(), done); }));
    ASSERT_TRUE(main->runUntil([&] { return messaging->sentMessages().size() > removalsSent; }, 5s));
    ASSERT_TRUE(main->runUntil([&] { return !again->lines.empty(); }, 10s));
    EXPECT_EQ(again->lines.front(), "joined");
}

TEST_F(KRClientMessagingIntegrationTest, AWhiteboardStartAndStopReachTheOthers) {
    meet();
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    EXPECT_EQ(linesOf(*ann, 0), Lines{});  // the sharer's own start is no event
    const Lines started{"whiteboard started by " + ann->uid() + " Ann"};
    EXPECT_EQ(linesOf(*ben, 1), started);
    EXPECT_EQ(linesOf(*host, 1), started);
    EXPECT_EQ(internals(ben->client).currentRoom().whiteboardSharingId, ann->uid());
    EXPECT_EQ(internals(ben->client).currentRoom().whiteboardShareBy, "Ann");

    // Each one's address names the board open at the service; none once it closed.
    EXPECT_TRUE(namesOpenBoard(ben) && namesOpenBoard(ann));

    ASSERT_TRUE(await([&](auto done) { ann->client->stopWhiteboard(done); }));
    const Lines stopped{"whiteboard stopped by " + ann->uid()};
    EXPECT_EQ(linesOf(*ann, 1), stopped);
    EXPECT_EQ(linesOf(*ben, 1), stopped);
    EXPECT_FALSE(internals(ben->client).currentRoom().isWhiteboardShared);
    for (Member* m : {ann, ben, host}) EXPECT_EQ(m->client->whiteboardUrl(), "");

    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    EXPECT_EQ(linesOf(*ben, 1), started);
    EXPECT_TRUE(namesOpenBoard(ben) && namesOpenBoard(ann));  // the new board's id
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ABoardStoppedWhileItsAccessIsOnTheWayStaysClosed) {
    meet();
    // The others' access to Ann's board comes after she has stopped it.
    service.injectFault(test::MeetingServiceRoute::remoteWhiteboard,
                        test::MeetingServiceFault::delayed(1s).times(2));
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    const std::size_t repliesBefore = boardStartReplies->handled;
    ASSERT_TRUE(main->runUntil(
        [&] { return service.requestCount(test::MeetingServiceRoute::remoteWhiteboard) == 2; }, 5s));
    ASSERT_TRUE(await([&](auto done) { ann->client->stopWhiteboard(done); }));
    // Both accesses have come back to Ben's and the host's clients.
    ASSERT_TRUE(
        main->runUntil([&] { return boardStartReplies->handled >= repliesBefore + 2; }, 10s));
    main->runPending();
    for (Member* m : {ben, host}) {
        EXPECT_FALSE(internals(m->client).currentRoom().isWhiteboardShared);
        EXPECT_EQ(m->recorder->take(), Lines{});  // a board they never saw open
    }

    // Her next board opens as any other.
    service.clearFaults();
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    EXPECT_EQ(linesOf(*ben, 1), Lines{"whiteboard started by " + ann->uid() + " Ann"});
    EXPECT_TRUE(internals(ben->client).currentRoom().isWhiteboardShared);
}

TEST_F(KRClientMessagingIntegrationTest, ABoardAnotherOpenedOverYoursIsClosedByItsSharer) {
    meet();
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    ASSERT_TRUE(
        await([&](auto done) { ben->client->startWhitebboard(false, "Ben", ben->uid(), done); }));
    // Ben's board replaces Ann's everywhere; Ann now only looks at it.
    const std::string bensStart = "whiteboard started by " + ben->uid() + " Ben";
    for (Member* m : {ann, host}) {
        EXPECT_TRUE(main->runUntil(
            [&] {
                const auto& l = m->recorder->lines;
                return std::find(l.begin(), l.end(), bensStart) != l.end();
            },
            5s));
    }
    main->runFor(50ms);
    for (Member* m : {host, ann, ben}) {
        m->recorder->take();
        EXPECT_TRUE(namesOpenBoard(m));
    }

    // Ann leaves the board by asking its sharer to close it, and Ben does.
    // On the queue, as a host app's call is made.
    ASSERT_TRUE(await([&](auto done) { main->post([&, done] { ann->client->stopWhiteboard(done); }); }));
    const Lines closedByBen{"whiteboard stopped by " + ben->uid()};
    EXPECT_EQ(linesOf(*ben, 1), closedByBen);
    EXPECT_EQ(linesOf(*host, 1), closedByBen);
    EXPECT_FALSE(internals(ann->client).currentRoom().isWhiteboardShared);
    for (Member* m : {host, ann, ben}) EXPECT_EQ(m->client->whiteboardUrl(), "");
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ABoardsStartMessageAfterTheStatusOpenedItChangesNothing) {
    meet();
    // Ann's start message is held up on its way: Ben opens her board from the room's status
    // first.
    messaging->clearSentMessages();
    messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                        platform::MessagingCodes::kFailure, ann->uid());
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    const auto start = sentBy(*ann, KRRtmMessageEvent::startWhiteboard);
    ASSERT_EQ(start.size(), 1u);
    ASSERT_TRUE(
        await([&](auto done) { internals(ben->client).roomSync().fetchRoomStatus(done); }));
    const Lines started{"whiteboard started by " + ann->uid() + " Ann"};
    EXPECT_EQ(linesOf(*ben, 1), started);
    ASSERT_TRUE(namesOpenBoard(ben));

    // The message arrives: the host opens the board, Ben only asks for its access again.
    messaging->clearSentMessages();
    const std::size_t replies = boardStartReplies->handled;
    const std::string room = internals(ann->client).currentRoom().roomID;
    ASSERT_EQ(messaging->injectChannelMessage(room, ann->uid(), start.front()), 2u);
    ASSERT_TRUE(main->runUntil([&] { return boardStartReplies->handled >= replies + 2; }, 5s));
    EXPECT_EQ(linesOf(*host, 1), started);
    EXPECT_EQ(ben->recorder->take(), Lines{});  // neither closed nor opened again
    EXPECT_TRUE(namesOpenBoard(ben) && namesOpenBoard(host));
    for (Member* m : {host, ben}) {
        EXPECT_EQ(sentBy(*m, KRRtmMessageEvent::participantOverrideScreenShare).size(), 0u);
    }
    EXPECT_TRUE(internals(ann->client).currentRoom().isLocalUserSharingWhiteboard);
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ContactNamesNameSendersAndSharersAndAnEmptyOneBlanksNone) {
    meet();
    const auto contactsNaming = [&](const std::string& name) {
        const auto& records = internals(host->client).currentRoom().allParticipants;
        const auto annsRecord = std::find_if(records.begin(), records.end(), [&](const auto& r) {
            return r.participantId == ann->uid();
        });
        EXPECT_NE(annsRecord, records.end());
        const std::string account = annsRecord == records.end() ? "" : annsRecord->userId;
        EXPECT_FALSE(account.empty());
        return boost::json::object{
            {"kr_contacts_array",
             boost::json::array{boost::json::object{{"userId", account}, {"name", name}}}}};
    };
    ben->client->setParameters(contactsNaming(""));
    ASSERT_TRUE(
        await([&](auto done) { ann->client->startWhitebboard(false, "Ann", ann->uid(), done); }));
    EXPECT_EQ(linesOf(*ben, 1), Lines{"whiteboard started by " + ann->uid() + " Ann"});

    // A newcomer reads the open board from the room's status, and names its sharer as its
    // participant list does.
    Member& cat = join("Cat", KRUserRole::speaker(), contactsNaming("Annie"));
    const std::string started = "whiteboard started by " + ann->uid() + " Annie";
    EXPECT_TRUE(main->runUntil(
        [&] {
            const auto& l = cat.recorder->lines;
            return std::find(l.begin(), l.end(), started) != l.end();
        },
        5s));
    EXPECT_EQ(internals(cat.client).currentRoom().whiteboardShareBy, "Annie");
    ASSERT_TRUE(main->runUntil([&] { return cat.client->getUser(ann->uid()) != nullptr; }, 5s));
    EXPECT_EQ(cat.client->getUser(ann->uid())->displayName(), "Annie");
    expectAllOnQueue();
}

TEST_F(KRClientMessagingIntegrationTest, ARequestToTurnMediaOnCompletesWithWhatTheMessagingDid) {
    meet();
    for (const bool audio : {true, false}) {
        SCOPED_TRACE(audio ? "audio" : "video");
        const auto ask = [&](auto done) {
            audio ? host->client->changeUserAudioState(ann->uid(), true, done)
                  : host->client->changeUserVideoState(ann->uid(), true, done);
        };
        EXPECT_TRUE(await(ask));
        EXPECT_EQ(linesOf(*ann, 1).size(), 1u);
        messaging->failNext(platform::MessagingOperation::sendPeerMessage, 3);
        EXPECT_FALSE(await(ask));
        EXPECT_EQ(linesOf(*ann, 0), Lines{});
    }
    expectAllOnQueue();
}

// A command the server carried out is the target's only once its message went out: one refused
// send is sent again and the completion waits for it; a message that never goes out, or whose
// meeting ends while it waits, completes false.
TEST_F(KRClientMessagingIntegrationTest, AHostCommandWhoseMessageIsRefusedIsSentAgainUntilItsTargetHearsIt) {
    meet();
    using Event = KRRtmMessageEvent;
    const auto peerSendsOfHost = [&] {
        std::vector<std::pair<Event, int>> out;  // event, code
        for (const auto& m : messaging->sentMessages()) {
            if (m.from == host->uid() && m.route == platform::MessagingRecord::Route::peer) {
                out.emplace_back(KRRtmMessage::decode(m.text)->message, m.code);
            }
        }
        return out;
    };
    const auto refuseNext = [&](int count) {
        for (int i = 0; i < count; ++i) {
            messaging->failNext(platform::MessagingOperation::sendPeerMessage,
                                platform::MessagingCodes::kFailure, host->uid());
        }
    };
    const auto has = [](Member& m, const std::string& prefix) {
        return std::any_of(m.recorder->lines.begin(), m.recorder->lines.end(),
                           [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    struct Row {
        const char* name;
        Event event;
        std::function<void(KRClient::Completion)> call;
        std::function<bool()> targetObeyed;
    };
    const std::vector<Row> rows{
        {"audioOff", Event::stopParticipantAudio,
         [&](auto done) { host->client->changeUserAudioState(ann->uid(), false, done); },
         [&] { return has(*ann, "request " + std::to_string(static_cast<int>(AudioVideoState::stopAudio))); }},
        {"videoOff", Event::stopParticipantVideo,
         [&](auto done) { host->client->changeUserVideoState(ann->uid(), false, done); },
         [&] { return has(*ann, "request " + std::to_string(static_cast<int>(AudioVideoState::stopVideo))); }},
        {"toAudience", Event::participantDowngradeToAudience,
         [&](auto done) { host->client->changeUserRole(ben->uid(), KRUserRole::audience(), done); },
         [&] { return internals(ben->client).isLocalUserInAudienceMode(); }},
        {"remove", Event::hostRemoveParticipant,
         [&](auto done) { host->client->removeUserFromMeeting(ben->uid(), done); },
         [&] { return has(*ben, "left "); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        messaging->clearSentMessages();
        refuseNext(1);
        std::optional<bool> done;
        row.call([&](bool ok) {
            // True only once the target could hear it.
            EXPECT_EQ(peerSendsOfHost().size(), 2u);
            done = ok;
        });
        ASSERT_TRUE(main->runUntil([&] { return done.has_value(); }, 10s));
        EXPECT_TRUE(*done);
        using Sends = std::vector<std::pair<Event, int>>;
        EXPECT_EQ(peerSendsOfHost(),
                  (Sends{{row.event, platform::MessagingCodes::kFailure}, {row.event, 0}}));
        EXPECT_TRUE(main->runUntil(row.targetObeyed, 5s));
    }

    // Never out: a few tries on the back-off, then false.
    messaging->clearSentMessages();
    refuseNext(10);
    EXPECT_FALSE(await([&](auto done) { host->client->changeUserAudioState(ann->uid(), false, done); }));
    const auto tries = peerSendsOfHost();
    EXPECT_GE(tries.size(), 2u);
    EXPECT_LE(tries.size(), 5u);
    for (const auto& attempt : tries) EXPECT_NE(attempt.second, 0);
    main->runFor(300ms);
    EXPECT_EQ(peerSendsOfHost().size(), tries.size());

    // The meeting ends while a try waits: no more tries, and false.
    messaging->clearSentMessages();
    refuseNext(1);
    std::optional<bool> ended;
    host->client->changeUserVideoState(ann->uid(), false, [&](bool ok) { ended = ok; });
    ASSERT_TRUE(main->runUntil([&] { return !peerSendsOfHost().empty(); }, 10s));
    main->post([&] { internals(host->client).handleLocalMediaLeft(); });  // the engine ends it
    ASSERT_TRUE(main->runUntil([&] { return ended.has_value(); }, 10s));
    EXPECT_FALSE(*ended);
    EXPECT_EQ(peerSendsOfHost().size(), 1u);
    expectAllOnQueue();
}

}  // namespace
}  // namespace kr
