// The meeting operations a host app may call at the wrong moment (before any join, after the
// leave has finished), and host controls the server refuses with an acknowledgement: none of them
// reaches the service or the others in the room, changes what the host app was told, or
// completes true. A guest stays in the room throughout and must hear nothing. An answer that
// arrives after its meeting ended completes with what the server did, and changes nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
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
using R = test::MeetingServiceRoute;
using Completion = KRClient::Completion;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kHostToken = "host-token-1";

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<test::ControlMessageRecorder> heard;  // main delegate
    std::shared_ptr<test::ClientTestDelegate> extra;      // every other report, errors included
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

/// What a row's call is made with: the client, and a participant that is (or was) in the room.
struct Target {
    KRClient& client;
    std::shared_ptr<KRMeetingUser> user;
    std::string id() const { return user->id(); }
};

/// One public operation. `call` gets a completion when the operation takes one (else ignores it).
/// A host control called on `Target`, with the service route it asks.
struct HostControl {
    const char* name;
    R route;
    std::function<void(Target&, Completion)> call;
};

/// The host controls from the lock to the role change, then `more`.
std::vector<HostControl> withHostControls(std::vector<HostControl> more) {
    std::vector<HostControl> rows{
        {"lock", R::lockMeeting, [](Target& t, Completion c) { t.client.lockMeeting(c); }},
        {"unlock", R::unLockMeeting, [](Target& t, Completion c) { t.client.unLockMeeting(c); }},
        {"startRecording", R::startRecording,
         [](Target& t, Completion c) { t.client.startRecording(c); }},
        {"stopRecording", R::stopRecording,
         [](Target& t, Completion c) { t.client.stopRecording(c); }},
        {"hardMute", R::muteAll,
         [](Target& t, Completion c) { t.client.hardMuteUnmuteUsersAudio(true, c); }},
        {"softMute", R::muteAll, [](Target& t, Completion c) { t.client.softMuteUsersAudio(c); }},
        {"lowerAllHands", R::hostActions,
         [](Target& t, Completion c) { t.client.lowerAllUsersHands(c); }},
        {"audioOff", R::muteAudio,
         [](Target& t, Completion c) { t.client.changeUserAudioState(t.id(), false, c); }},
        {"videoOff", R::muteVideo,
         [](Target& t, Completion c) { t.client.changeUserVideoState(t.id(), false, c); }},
        {"coHost", R::hostActions,
         [](Target& t, Completion c) { t.client.updateUserCoHostRights(t.user, true, c); }},
        {"role", R::changeUserRole,
         [](Target& t, Completion c) { t.client.changeUserRole(t.user, KRUserRole::audience(), c); }},
    };
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

struct Operation {
    const char* name;
    std::function<void(Target&, Completion)> call;
    bool completes = true;
};

std::vector<Operation> meetingOperations() {
    const auto noCompletion = [](std::function<void(Target&)> f) {
        return [f = std::move(f)](Target& t, const Completion&) { f(t); };
    };
    return {
        {"lockMeeting", [](Target& t, Completion c) { t.client.lockMeeting(c); }},
        {"unLockMeeting", [](Target& t, Completion c) { t.client.unLockMeeting(c); }},
        {"startRecording", [](Target& t, Completion c) { t.client.startRecording(c); }},
        {"stopRecording", [](Target& t, Completion c) { t.client.stopRecording(c); }},
        {"hardMute", [](Target& t, Completion c) { t.client.hardMuteUnmuteUsersAudio(true, c); }},
        {"hardUnmute",
         [](Target& t, Completion c) { t.client.hardMuteUnmuteParticipantsAudio(false, c); }},
        {"softMute", [](Target& t, Completion c) { t.client.softMuteUsersAudio(c); }},
        {"softMuteParticipants",
         [](Target& t, Completion c) { t.client.softMuteParticipantsAudio(c); }},
        {"lowerAllHands", [](Target& t, Completion c) { t.client.lowerAllUsersHands(c); }},
        {"lowerAllParticipantsHands",
         [](Target& t, Completion c) { t.client.lowerAllParticipantsHands(c); }},
        {"audioOff", [](Target& t, Completion c) { t.client.changeUserAudioState(t.id(), false, c); }},
        {"audioOn", [](Target& t, Completion c) { t.client.changeUserAudioState(t.id(), true, c); }},
        {"videoOff", [](Target& t, Completion c) { t.client.changeUserVideoState(t.id(), false, c); }},
        {"videoOn", [](Target& t, Completion c) { t.client.changeUserVideoState(t.id(), true, c); }},
        {"removeById", [](Target& t, Completion c) { t.client.removeUserFromMeeting(t.id(), c); }},
        {"removeUser", [](Target& t, Completion c) { t.client.removeUserFromMeeting(t.user, c); }},
        {"roleById",
         [](Target& t, Completion c) { t.client.changeUserRole(t.id(), KRUserRole::audience(), c); }},
        {"roleOfUser",
         [](Target& t, Completion c) { t.client.changeUserRole(t.user, KRUserRole::speaker(), c); }},
        {"coHost", [](Target& t, Completion c) { t.client.updateUserCoHostRights(t.user, true, c); }},
        {"stopUserShare", [](Target& t, Completion c) { t.client.stopUserScreenShare(t.user, c); }},
        {"shareScreen", [](Target& t, Completion c) { t.client.shareScreenAPICall(c); }},
        {"localWhiteboard",
         [](Target& t, Completion c) { t.client.startWhitebboard(false, "", "", c); }},
        {"remoteWhiteboard",
         [](Target& t, Completion c) { t.client.startWhitebboard(true, "Ann", t.id(), c); }},
        {"stopWhiteboard", [](Target& t, Completion c) { t.client.stopWhiteboard(c); }},
        {"getStatus", [](Target& t, Completion c) { internals(t.client).roomSync().fetchRoomStatus(c); }},
        {"postStatus",
         [](Target& t, Completion c) { internals(t.client).roomSync().postOwnStatus(ClientCore::OwnStatus::connected, c); }},
        {"muteAudio", noCompletion([](Target& t) { t.client.muteLocalAudio(true); }), false},
        {"unmuteAudio", noCompletion([](Target& t) { t.client.muteLocalAudio(false); }), false},
        {"muteVideo", noCompletion([](Target& t) { t.client.muteLocalVideo(true); }), false},
        {"unmuteVideo", noCompletion([](Target& t) { t.client.muteLocalVideo(false); }), false},
        {"raiseHand", noCompletion([](Target& t) { t.client.raiseHand(); }), false},
        {"lowerHand", noCompletion([](Target& t) { t.client.lowerHand(); }), false},
        {"stopLocalShare", noCompletion([](Target& t) { t.client.stopLocalScreenShare(); }), false},
        {"reaction", noCompletion([](Target& t) { t.client.sendReactionType("clap"); }), false},
        {"declineAudio",
         noCompletion([](Target& t) { t.client.declineHostRequestToTurnOnAudio(t.user); }), false},
        {"declineVideo",
         noCompletion([](Target& t) { t.client.declineHostRequestToTurnOnVideo(t.user); }), false},
        // Media of the local device: nothing of these may reach the room either.
        {"localRole",
         noCompletion([](Target& t) { t.client.switchLocalUserRole(KRUserRole::audience()); }),
         false},
        {"subscribeAudio", noCompletion([](Target& t) { t.client.subscribeRemoteUserAudio(t.id()); }),
         false},
        {"unsubscribeVideo",
         noCompletion([](Target& t) { t.client.unsubscribeRemoteUserVideo(t.id()); }), false},
        {"streamQuality", noCompletion([](Target& t) {
             t.client.setVideoStreamQuality(KRRemoteStreamQuality::low, t.id());
         }),
         false},
        {"block", noCompletion([](Target& t) { t.client.blockRemoteAudioVideo(77); }), false},
        {"preview", noCompletion([](Target& t) {
             t.client.startPreview();
             t.client.switchCamera();
             t.client.stopPreview();
         }),
         false},
        // Reached through the engine wrapper the client exposes.
        {"engineLocalMedia", noCompletion([](Target& t) {
             const auto& rtc = t.client.rtcManager();
             rtc->muteUnmuteLocalAudio(true);
             rtc->muteUnmuteLocalVideo(true);
             rtc->switchClientRole(false);
         }),
         false},
        {"engineRemoteMedia", noCompletion([](Target& t) {
             const auto& rtc = t.client.rtcManager();
             rtc->muteUnmuteUserAudioStream(true, t.id());
             rtc->muteUnmuteUserVideoStream(true, t.id());
             rtc->setRemoteStreamQuality(KRRemoteStreamQuality::high, t.id());
             rtc->setRemoteUsersVolume(30);
             rtc->blockRemoteAudioVideo(5);
             rtc->removeBlockedRemoteAudioVideo(5);
             rtc->setUpRemoteVideo(5, 1);
         }),
         false},
        {"engineChannel", noCompletion([](Target& t) {
             const auto& rtc = t.client.rtcManager();
             rtc->leaveMeetingRoom();
             rtc->playChimeOnUserJoin();
             rtc->playChimeOnUserLeave();
         }),
         false},
    };
}

class KRClientOutsideMeetingIntegrationTest : public ::testing::Test {
protected:
    Member makeMember() {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        Member member{KRClient::create(deps), std::make_shared<test::ControlMessageRecorder>(),
                      std::make_shared<test::ClientTestDelegate>()};
        member.client->addDelegate("extra", member.extra);
        return member;
    }

    Member joined(KRUserRole role) {
        Member member = makeMember();
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, "4321", "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true), member.heard);
        EXPECT_TRUE(main->runUntil([&] { return !internals(member.client).isJoining(); }, 10s));
        EXPECT_EQ(member.heard->lines, std::vector<std::string>{"joined"});
        return member;
    }

    /// The guest in the room and the host's view of it, each knowing the other.
    void joinPair() {
        host = joined(KRUserRole::host(kHostToken));
        guest = joined(KRUserRole::speaker());
        ASSERT_TRUE(main->runUntil(
            [&] {
                return host.client->getUser(guest.uid()) && guest.client->getUser(host.uid()) &&
                       internals(host.client).pendingStreamQuestions().empty() &&
                       internals(guest.client).pendingStreamQuestions().empty();
            },
            10s));
        host.heard->lines.clear();
        guest.heard->lines.clear();
    }

    /// REST requests so far that carry `member`'s token (none before its join).
    std::size_t requestsOf(const Member& member) const {
        const std::string token = internals(member.client).networkClient()->getJwtToken();
        std::size_t count = 0;
        for (const auto& request : service.allRequests()) {
            if (request.path.starts_with("/api/") &&
                request.header("authorization").value_or("") == token) {
                ++count;
            }
        }
        return count;
    }

    /// Runs the queue until no request of `member` has arrived for a while: what it sent before
    /// its leave (chat pages, the leave itself) is then in.
    std::size_t settledRequestsOf(const Member& member) {
        std::size_t count = requestsOf(member);
        for (;;) {
            main->runFor(100ms);
            const std::size_t now = requestsOf(member);
            if (now == count) return count;
            count = now;
        }
    }

    /// Whatever the guest was to hear has arrived once a reaction sent after it has: messages of
    /// one channel keep their order.
    void flushMessagesToGuest() {
        host.client->sendReactionType("flush");
        ASSERT_TRUE(main->runUntil(
            [&] { return !guest.heard->lines.empty() && guest.heard->lines.back().starts_with(
                                                            "reaction flush"); },
            10s));
        guest.heard->lines.pop_back();
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    Member host;
    Member guest;
};

/// What the host app could see of a client: its reports and the room flags the snapshot shows.
struct Seen {
    std::vector<std::string> main;
    std::vector<std::string> extra;
    std::string room;
    bool operator==(const Seen&) const = default;
};

Seen seen(const Member& m) {
    const KRCurrentRoom& r = internals(m.client).currentRoom();
    const KRMeeting meeting = m.client->getCurrentMeetingData();
    std::string room;
    for (bool flag : {r.isCurrentUserHandRaised, r.isCurrentUserAudioMuted, r.isCurrentUserVideoMuted,
                      r.isMeetingLocked, r.isRecordingOn, r.isWhiteboardShared,
                      r.isLocalUserSharingWhiteboard, r.isHardMuteEnabled,
                      meeting.localParticipant() && meeting.localParticipant()->isHandRaised()}) {
        room += flag ? '1' : '0';
    }
    room += " tracks " + std::to_string(r.allMediaTracks.size()) + " wb " + r.whiteboardId;
    return {m.heard->lines, m.extra->events(), room};
}

TEST_F(KRClientOutsideMeetingIntegrationTest, EveryMeetingOperationOutsideAMeetingDoesNothing) {
    joinPair();
    const auto guestUser = host.client->getUser(guest.uid());
    ASSERT_TRUE(guestUser);

    enum class When { beforeJoin, afterLeave };
    for (When when : {When::beforeJoin, When::afterLeave}) {
        for (const Operation& op : meetingOperations()) {
            SCOPED_TRACE(std::string(when == When::beforeJoin ? "before join: " : "after leave: ") +
                         op.name);
            Member subject = when == When::beforeJoin ? makeMember() : joined(KRUserRole::host(kHostToken));
            if (when == When::afterLeave) {
                subject.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
                ASSERT_TRUE(main->runUntil(
                    [&] { return subject.heard->lines.back().starts_with("left"); }, 10s));
                ASSERT_NO_FATAL_FAILURE(flushMessagesToGuest());
                guest.heard->lines.clear();
            }
            const std::size_t requestsBefore = settledRequestsOf(subject);
            const Seen before = seen(subject);

            std::vector<bool> results;
            Target target{*subject.client, guestUser};
            for (int i = 0; i < 2; ++i) {  // and once more, as a double tap would
                op.call(target, [&](bool ok) { results.push_back(ok); });
            }
            EXPECT_TRUE(results.empty()) << "completed inside the call";
            const std::size_t expected = op.completes ? 2 : 0;
            EXPECT_TRUE(main->runUntil([&] { return results.size() >= expected; }, 10s));
            main->runFor(30ms);
            EXPECT_EQ(results, std::vector<bool>(expected, false));
            EXPECT_EQ(requestsOf(subject), requestsBefore);
            EXPECT_EQ(seen(subject), before);
            ASSERT_NO_FATAL_FAILURE(flushMessagesToGuest());
            EXPECT_TRUE(guest.heard->lines.empty())
                << "the room heard: " << guest.heard->lines.front();
            guest.heard->lines.clear();
        }
    }
    const auto room = service.room(kMeetingId);
    ASSERT_TRUE(room);
    EXPECT_FALSE(room->isLocked);
    EXPECT_FALSE(room->isRecording);
    EXPECT_TRUE(room->whiteboardSharerUri.empty());
    EXPECT_TRUE(room->removedIds.empty());
}

TEST_F(KRClientOutsideMeetingIntegrationTest, AnAcknowledgementSayingNoIsARefusal) {
    joinPair();
    const auto guestUser = host.client->getUser(guest.uid());
    ASSERT_TRUE(guestUser);
    using Row = HostControl;
    const std::vector<Row> rows = withHostControls({
        {"remove", R::removeParticipant,
         [](Target& t, Completion c) { t.client.removeUserFromMeeting(t.user, c); }},
        {"whiteboard", R::startWhiteboard,
         [](Target& t, Completion c) { t.client.startWhitebboard(false, "", "", c); }},
    });
    Target target{*host.client, guestUser};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        // Unlock and stop have something to undo: the room is locked and recorded first.
        if (row.route == R::unLockMeeting) internals(host.client).currentRoom().isMeetingLocked = true;
        if (row.route == R::stopRecording) internals(host.client).currentRoom().isRecordingOn = true;
        const Seen before = seen(host);
        service.injectFault(row.route,
                            test::MeetingServiceFault::withStatus(200, R"({"success":false})").times(1));
        std::optional<bool> result;
        row.call(target, [&](bool ok) { result = ok; });
        ASSERT_TRUE(main->runUntil([&] { return result.has_value(); }, 10s));
        EXPECT_FALSE(*result);
        Seen after = seen(host);
        // A refused recording is reported as an error, and only that.
        if (row.route == R::startRecording || row.route == R::stopRecording) {
            ASSERT_EQ(host.extra->errors.size(), 1u);
            host.extra->errors.clear();
            ASSERT_FALSE(after.extra.empty());
            after.extra.pop_back();
            after.main = before.main;
        }
        EXPECT_EQ(after, before);
        ASSERT_NO_FATAL_FAILURE(flushMessagesToGuest());
        EXPECT_TRUE(guest.heard->lines.empty()) << "the room heard: " << guest.heard->lines.front();
        guest.heard->lines.clear();
        internals(host.client).currentRoom().isMeetingLocked = false;
        internals(host.client).currentRoom().isRecordingOn = false;
    }
    EXPECT_FALSE(service.room(kMeetingId)->isLocked);
}

TEST_F(KRClientOutsideMeetingIntegrationTest, AnAnswerAfterItsMeetingEndedOnlyCompletesWithIt) {
    joinPair();
    const auto guestUser = host.client->getUser(guest.uid());
    ASSERT_TRUE(guestUser);
    struct Row {
        const char* name;
        R route;
        std::function<void(Target&, Completion)> call;
        /// The local user's own board is open first (its stop, and a remote board to open).
        bool ownBoardFirst = false;
    };
    std::vector<Row> rows;
    for (const HostControl& control : withHostControls({})) {
        rows.push_back({control.name, control.route, control.call});
    }
    rows.insert(rows.end(), {
        {"localWhiteboard", R::startWhiteboard,
         [](Target& t, Completion c) { t.client.startWhitebboard(false, "", "", c); }},
        {"remoteWhiteboard", R::remoteWhiteboard,
         [](Target& t, Completion c) { t.client.startWhitebboard(true, "Ann", t.id(), c); }, true},
        {"stopWhiteboard", R::shareScreen,
         [](Target& t, Completion c) { t.client.stopWhiteboard(c); }, true},
        {"shareScreen", R::shareScreen,
         [](Target& t, Completion c) { t.client.shareScreenAPICall(c); }},
        // Last: the server takes the guest out.
        {"remove", R::removeParticipant,
         [](Target& t, Completion c) { t.client.removeUserFromMeeting(t.user, c); }},
    });
    for (const bool serverDoesIt : {true, false}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(serverDoesIt ? "done: " : "refused: ") + row.name);
            // Joined as `joined` does, but into a room earlier rows may have left recorded.
            Member subject = makeMember();
            subject.client->joinMeeting(KRJoinMeetingData(kMeetingId, "4321", "Name"),
                                        KRJoinMeetingConfig(KRUserRole::host(kHostToken), true, true),
                                        subject.heard);
            ASSERT_TRUE(main->runUntil(
                [&] {
                    return internals(subject.client).meetingState() ==
                           ClientCore::MeetingState::inMeeting;
                },
                10s));
            ASSERT_TRUE(main->runUntil(
                [&] {
                    return subject.client->getUser(guest.uid()) &&
                           internals(subject.client).pendingStreamQuestions().empty();
                },
                10s));
            if (row.ownBoardFirst) {
                const std::size_t boardsFetched = service.requestCount(R::remoteWhiteboard);
                std::optional<bool> opened;
                subject.client->startWhitebboard(false, "", "", [&](bool ok) { opened = ok; });
                ASSERT_TRUE(main->runUntil([&] { return opened.has_value(); }, 10s));
                ASSERT_TRUE(*opened);
                // The host and the guest open the board too, on the route a refused row fails:
                // their requests are in before the fault is set, or one of them takes it.
                ASSERT_TRUE(main->runUntil(
                    [&] { return service.requestCount(R::remoteWhiteboard) >= boardsFetched + 2; },
                    10s));
            }
            if (!serverDoesIt) {
                service.injectFault(
                    row.route,
                    test::MeetingServiceFault::withStatus(200, R"({"success":false})").times(1));
            }
            const std::string subjectId = subject.uid();
            std::optional<bool> result;
            Target target{*subject.client, guestUser};
            row.call(target, [&](bool ok) { result = ok; });
            // The engine ends the meeting before the answer is in.
            internals(subject.client).handleLocalMediaLeft();
            const Seen ended = seen(subject);
            const auto sentBySubject = [&] {
                const auto sent = messaging->sentMessages();
                return std::count_if(sent.begin(), sent.end(),
                                     [&](const auto& m) { return m.from == subjectId; });
            };
            const auto sentWhenEnded = sentBySubject();

            ASSERT_TRUE(main->runUntil([&] { return result.has_value(); }, 10s));
            main->runFor(30ms);
            EXPECT_EQ(*result, serverDoesIt);
            EXPECT_EQ(seen(subject), ended);
            EXPECT_TRUE(subject.extra->errors.empty());
            EXPECT_EQ(sentBySubject(), sentWhenEnded) << "the others were told";
            service.clearFaults();
        }
    }
}

TEST_F(KRClientOutsideMeetingIntegrationTest, TheChatWiringIsPublicAndForwardsToTheChatManager) {
    Member fresh = makeMember();
    EXPECT_FALSE(fresh.client->chatClient()->hasNetworkClient());
    internals(fresh.client).configureChatClient();
    EXPECT_TRUE(fresh.client->chatClient()->hasNetworkClient());

    joinPair();
    ASSERT_TRUE(main->runUntil(
        [&] { return !guest.client->chatClient()->mainChatThreadID().empty(); }, 10s));
    internals(guest.client).leaveChatThread();
    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::leaveChatThread) == 1; }, 10s));
}

}  // namespace
}  // namespace kr
