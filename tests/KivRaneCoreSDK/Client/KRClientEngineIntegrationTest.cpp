// Two and three clients meeting through the local meeting service (real HTTPS) and one shared
// stand-in media bus: what each hears of the others as they join, mute, share a screen, move to
// the audience and leave, all on the main queue and nothing after the leave.

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json.hpp>
#include <functional>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingOperation.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/LocalMeetingDependencies.h"
#include "support/ClientTestDelegate.h"
#include "support/EngineTestDelegate.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/ScreenShareBroadcast.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::EngineTestDelegate;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<EngineTestDelegate> delegate;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class KRClientEngineIntegrationTest : public ::testing::Test {
protected:
    ~KRClientEngineIntegrationTest() override { members.clear(); }

    Member& makeMember() {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        members.push_back({KRClient::create(deps), std::make_shared<EngineTestDelegate>(main)});
        return members.back();
    }

    Member& joined(KRUserRole role = KRUserRole::speaker()) {
        Member& member = makeMember();
        member.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.delegate);
        EXPECT_TRUE(main->runUntil(
            [&] {
                return !member.delegate->lines.empty() &&
                       member.delegate->lines.front().rfind("joined", 0) == 0;
            },
            10s));
        return member;
    }

    bool runUntil(const std::function<bool()>& done) { return main->runUntil(done, 10s); }

    void leave(Member& member) {
        main->post([&] { member.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
        EXPECT_TRUE(runUntil([&] { return member.delegate->has("left"); }));
    }

    std::shared_ptr<platform::MainQueue> main =
        platform::MainQueue::create(platform::SteadyClock::instance());
    /// Runs a host call with a completion and waits for its outcome.
    bool await(const std::function<void(KRClient::Completion)>& call) {
        std::optional<bool> result;
        main->post([&] { call([&](bool ok) { result = ok; }); });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or(false);
    }

    /// Everyone in `group` has heard every other one join.
    bool allSeeEachOther(std::initializer_list<Member*> group) {
        return runUntil([&] {
            for (Member* m : group)
                for (Member* other : group)
                    if (m != other && !m->delegate->has("remote joined " + other->uid()))
                        return false;
            return true;
        });
    }

    /// `sharer` shares its screen as the broadcast extension would: a share stream from the
    /// server, published on the bus, seen by `viewer`.
    void share(Member& sharer, test::ScreenShareBroadcast& broadcast, Member& viewer) {
        ASSERT_TRUE(await([&](auto done) { sharer.client->shareScreenAPICall(done); }));
        broadcast.start(internals(sharer.client).currentRoom().roomID,
                        internals(sharer.client).localScreenShare().streamUid());
        ASSERT_TRUE(runUntil([&] {
            return sharer.delegate->count("local share started") ==
                       1 + sharer.delegate->count("local share stopped") &&
                   viewer.delegate->count("remote share started") >
                       viewer.delegate->count("remote share stopped");
        }));
    }

    /// The stops of `member`'s own share the server was asked for.
    std::size_t shareStopsOf(const Member& member) const {
        const auto requests = service.requests(R::shareScreen);
        return static_cast<std::size_t>(std::count_if(
            requests.begin(), requests.end(), [&](const test::RecordedRequest& r) {
                const auto body = boost::json::parse(r.body).as_object();
                const auto* action = body.if_contains("action");
                const auto* uri = body.if_contains("participantUri");
                return action && uri && action->is_string() && uri->is_string() &&
                       action->as_string() == "stop" && uri->as_string() == member.uid();
            }));
    }

    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::deque<Member> members;
};

TEST_F(KRClientEngineIntegrationTest, ThreeClientsHearEachOtherJoinMuteAndLeaveOnce) {
    Member& a = joined();
    Member& b = joined();
    Member& c = joined();
    ASSERT_NE(a.uid(), b.uid());
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("remote joined " + b.uid()) &&
               a.delegate->has("remote joined " + c.uid()) &&
               b.delegate->has("remote joined " + a.uid()) &&
               b.delegate->has("remote joined " + c.uid()) &&
               c.delegate->has("remote joined " + a.uid()) &&
               c.delegate->has("remote joined " + b.uid());
    }));
    main->runFor(300ms);  // a second report would come by now
    for (Member* m : {&a, &b, &c}) {
        for (Member* other : {&a, &b, &c}) {
            if (m == other) continue;
            EXPECT_EQ(m->delegate->count("remote joined " + other->uid()), 1u);
        }
        EXPECT_EQ(m->client->getMeetingUsers().size(), 3u);
        EXPECT_TRUE(internals(m->client).hasConnectionCheckTimer());
    }

    // c switches the microphone off: the server hears it, c and whoever listens to c see it.
    main->post([&] { a.client->subscribeRemoteUserAudio(c.uid()); });
    main->runFor(100ms);
    main->post([&] { c.client->muteLocalAudio(true); });
    ASSERT_TRUE(runUntil([&] {
        return c.delegate->has("mic off") && a.delegate->has("remote mic " + c.uid() + " off");
    }));
    EXPECT_TRUE(internals(c.client).currentRoom().isCurrentUserAudioMuted);
    ASSERT_TRUE(runUntil([&] { return service.requestCount(R::muteAudio) == 1; }));
    main->post([&] { c.client->muteLocalVideo(true); });
    ASSERT_TRUE(runUntil([&] {
        return c.delegate->has("camera off") && service.requestCount(R::muteVideo) == 1;
    }));

    leave(b);
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("remote left " + b.uid()) &&
               c.delegate->has("remote left " + b.uid());
    }));
    const std::size_t heardByB = b.delegate->lines.size();
    main->post([&] { c.client->muteLocalAudio(false); });
    main->runFor(300ms);
    EXPECT_EQ(b.delegate->lines.size(), heardByB);  // nothing after the leave
    EXPECT_EQ(b.delegate->count("left"), 1u);
    EXPECT_EQ(a.delegate->count("remote left " + b.uid()), 1u);
    EXPECT_EQ(a.client->getMeetingUsers().size(), 2u);
    EXPECT_FALSE(internals(b.client).hasConnectionCheckTimer());
    EXPECT_TRUE(internals(b.client).currentRoom().allMediaTracks.empty());
    for (Member* m : {&a, &b, &c}) EXPECT_EQ(m->delegate->offQueueCalls, 0);
}

TEST_F(KRClientEngineIntegrationTest, AScreenShareIsClassifiedAndItsStopAlwaysReported) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return b.delegate->has("remote joined " + a.uid()); }));

    main->post([&] { a.client->shareScreenAPICall({}); });
    ASSERT_TRUE(runUntil([&] { return internals(a.client).localScreenShare().streamUid() != 0; }));
    const std::uint64_t shareUid = internals(a.client).localScreenShare().streamUid();
    const std::size_t questionsBefore = service.requestCount(R::getRoomConnectionStatus);

    // The broadcast extension publishes the share as an engine of its own.
    test::ScreenShareBroadcast broadcast(bus, main);
    broadcast.start(internals(a.client).currentRoom().roomID, shareUid);
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("local share started") && b.delegate->has("remote share started");
    }));
    // b had not polled since the share began, so it asked the server once; a knows its own
    // share's stream and asks nothing about it.
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), questionsBefore + 1);
    EXPECT_FALSE(b.delegate->has("remote joined " + std::to_string(shareUid)));
    EXPECT_EQ(b.delegate->tracksAtShareStart, 3u);
    ASSERT_FALSE(internals(b.client).currentRoom().allMediaTracks.empty());
    EXPECT_EQ(internals(b.client).currentRoom().allMediaTracks.front()->sourceType(),
              KRMediaTrackSourceType::screenShare);
    EXPECT_EQ(a.client->getMeetingLocalUser()->id(), a.uid());

    // Polling dropped the share's entry at b; its track still says what the uid is.
    main->post([&] { internals(b.client).currentRoom().screenShareMetaData.clear(); });
    main->post([&] { broadcast.stop(); });
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("local share stopped") && b.delegate->has("remote share stopped");
    }));
    EXPECT_FALSE(b.delegate->has("remote left " + std::to_string(shareUid)));
    EXPECT_EQ(internals(a.client).localScreenShare().streamUid(), 0u);
    EXPECT_EQ(b.client->getMeetingUsers().size(), 2u);
    EXPECT_EQ(a.delegate->offQueueCalls + b.delegate->offQueueCalls, 0);
}

TEST_F(KRClientEngineIntegrationTest, ARoleChangeToTheAudienceIsHeardByBothSides) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote joined " + b.uid()); }));
    const std::size_t postsBefore = service.requestCount(R::postRoomConnectionStatus);
    main->post([&] { b.client->switchLocalUserRole(KRUserRole::audience()); });
    ASSERT_TRUE(runUntil([&] {
        return b.delegate->has("to audience") && a.delegate->has("remote to audience " + b.uid());
    }));
    EXPECT_TRUE(internals(b.client).isLocalUserInAudienceMode());
    EXPECT_FALSE(b.client->getMeetingLocalUser()->isSpeaker());
    EXPECT_TRUE(internals(b.client).currentRoom().isCurrentUserAudioMuted);
    ASSERT_TRUE(runUntil(
        [&] { return service.requestCount(R::postRoomConnectionStatus) > postsBefore; }));
    // The track stays: an audience member is still in the meeting.
    EXPECT_EQ(a.client->getMeetingUsers().size(), 2u);
    EXPECT_FALSE(a.client->getUser(b.uid())->isSpeaker());
    EXPECT_FALSE(a.delegate->has("remote left " + b.uid()));
}

TEST_F(KRClientEngineIntegrationTest, AStatusReplyAskedBeforeTheEngineMovedSomeoneLeavesTheirRole) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote joined " + b.uid()); }));
    // a asks for the room while b is still a speaker at the service; the answer comes late.
    service.injectFault(R::getRoomConnectionStatus,
                        test::MeetingServiceFault::delayed(600ms).times(1));
    const std::size_t questions = service.requestCount(R::getRoomConnectionStatus);
    std::optional<bool> answered;
    main->post([&] {
        internals(a.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
    });
    ASSERT_TRUE(runUntil(
        [&] { return service.requestCount(R::getRoomConnectionStatus) > questions; }));
    main->post([&] { b.client->switchLocalUserRole(KRUserRole::audience()); });
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote to audience " + b.uid()); }));
    ASSERT_TRUE(runUntil([&] { return answered.has_value(); }));
    ASSERT_TRUE(*answered);
    EXPECT_FALSE(a.client->getUser(b.uid())->isSpeaker());
    // A question asked once the service took the move has the service's word.
    ASSERT_TRUE(runUntil([&] {
        const auto record = service.participant(kMeetingId, b.uid());
        return record && record->participantType == "audience";
    }));
    ASSERT_TRUE(await([&](auto done) { internals(a.client).roomSync().fetchRoomStatus(done); }));
    EXPECT_FALSE(a.client->getUser(b.uid())->isSpeaker());
    EXPECT_EQ(a.delegate->count("remote to audience " + b.uid()), 1u);
}

TEST_F(KRClientEngineIntegrationTest, AParticipantTheHostMovesBackFromTheAudienceIsMovedForEveryone) {
    Member& host = joined(KRUserRole::host("host-token-1"));
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(allSeeEachOther({&host, &a, &b}));
    ASSERT_TRUE(await([&](auto done) {
        host.client->changeUserRole(a.uid(), KRUserRole::audience(), done);
    }));
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("to audience") &&
               host.delegate->has("remote to audience " + a.uid()) &&
               b.delegate->has("remote to audience " + a.uid());
    }));
    // The server makes a a speaker at once, and the host's and b's next status replies say so
    // before a's stream is back: the upgrade, refused once, reaches a only when it is sent again
    // after them.
    messaging->failNext(platform::MessagingOperation::sendPeerMessage, 1, host.uid());
    std::optional<bool> changed;
    main->post([&] {
        host.client->changeUserRole(a.uid(), KRUserRole::speaker(),
                                    [&](bool ok) { changed = ok; });
    });
    for (Member* m : {&host, &b}) {
        ASSERT_TRUE(await([&](auto done) { internals(m->client).roomSync().fetchRoomStatus(done); }));
    }
    ASSERT_TRUE(runUntil([&] { return changed.has_value(); }));
    ASSERT_TRUE(*changed);
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("to participants") &&
               host.delegate->has("remote to participants " + a.uid()) &&
               b.delegate->has("remote to participants " + a.uid());
    }));
    main->runFor(300ms);  // a late report would come by now
    for (Member* m : {&host, &b}) {
        EXPECT_EQ(m->delegate->count("remote joined " + a.uid()), 1u);
        EXPECT_EQ(m->delegate->count("remote to participants " + a.uid()), 1u);
        EXPECT_FALSE(m->delegate->has("remote left " + a.uid()));
        EXPECT_TRUE(m->client->getUser(a.uid())->isSpeaker());
    }
}

TEST_F(KRClientEngineIntegrationTest, AnEndedShareIsStoppedAtTheServerOnceAndHeardOnceAsOwn) {
    Member& host = joined(KRUserRole::host("host-token-1"));
    Member& a = joined();
    ASSERT_TRUE(allSeeEachOther({&host, &a}));
    const auto captureStopped = [] {
        platform::DarwinNotifyCenter::shared().post(KRClient::kCaptureStoppedNotification);
    };
    struct Case {
        const char* name;
        /// Ends a's running share; returns once a was told.
        std::function<void(test::ScreenShareBroadcast&)> end;
    };
    const Case cases[] = {
        {"the capture stops, then its stream goes",
         [&](test::ScreenShareBroadcast& broadcast) {
             main->post(captureStopped);
             ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share stopped"); }));
             main->post([&] { broadcast.stop(); });
         }},
        {"the host stops it, then the extension ends",
         [&](test::ScreenShareBroadcast& broadcast) {
             ASSERT_TRUE(await([&](auto done) {
                 host.client->stopUserScreenShare(host.client->getUser(a.uid()), done);
             }));
             ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share stopped"); }));
             main->post([&] { broadcast.stop(); });
             main->post(captureStopped);
         }},
        {"the host's own share overrides it, then the extension ends",
         [&](test::ScreenShareBroadcast& broadcast) {
             test::ScreenShareBroadcast hostShare(bus, main);
             share(host, hostShare, a);
             ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share stopped"); }));
             main->post([&] { broadcast.stop(); });
             main->runFor(300ms);
             EXPECT_FALSE(a.delegate->has("remote share stopped"));
             EXPECT_EQ(a.delegate->count("local share stopped"), 1u);
             // The host's share ends too, so the next case starts with no share on.
             main->post([&] { host.client->stopLocalScreenShare(); });
             main->post([&] { hostShare.stop(); });
             ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote share stopped"); }));
             a.delegate->lines.clear();
             main->post(captureStopped);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        a.delegate->lines.clear();
        const std::size_t stopsBefore = shareStopsOf(a);
        test::ScreenShareBroadcast broadcast(bus, main);
        share(a, broadcast, host);
        c.end(broadcast);
        ASSERT_TRUE(runUntil([&] { return shareStopsOf(a) > stopsBefore; }));
        ASSERT_TRUE(runUntil([&] { return service.room(kMeetingId)->screenSharerUri != a.uid(); }));
        main->runFor(300ms);  // a second stop or a remote report would come by now
        EXPECT_EQ(shareStopsOf(a), stopsBefore + 1);
        EXPECT_LE(a.delegate->count("local share stopped"), 1u);
        EXPECT_FALSE(a.delegate->has("remote share stopped"));
        EXPECT_EQ(internals(a.client).localScreenShare().streamUid(), 0u);
    }
}

TEST_F(KRClientEngineIntegrationTest, AHandAndAMuteMadeWhileTheServiceIsDownReachItWhenItReturns) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(allSeeEachOther({&a, &b}));
    const std::size_t postsBefore = service.requestCount(R::postRoomConnectionStatus);
    const std::size_t mutesBefore = service.requestCount(R::muteAudio);
    service.injectFault(R::postRoomConnectionStatus, test::MeetingServiceFault::dropConnection());
    service.injectFault(R::muteAudio, test::MeetingServiceFault::dropConnection());
    main->post([&] {
        a.client->raiseHand();
        a.client->muteLocalAudio(true);
    });
    ASSERT_TRUE(runUntil([&] {
        return service.requestCount(R::postRoomConnectionStatus) > postsBefore &&
               service.requestCount(R::muteAudio) > mutesBefore;
    }));
    main->runFor(1500ms);  // the watchdog ticks while the service is still down
    const auto stale = service.participant(kMeetingId, a.uid());
    ASSERT_TRUE(stale.has_value());
    EXPECT_FALSE(stale->isHandRaised);
    EXPECT_TRUE(stale->isMicOn);

    service.clearFaults();
    ASSERT_TRUE(runUntil([&] {
        const auto now = service.participant(kMeetingId, a.uid());
        return now && now->isHandRaised && !now->isMicOn;
    }));
    // The next status replies agree with what the app was told, at a and at b.
    ASSERT_TRUE(await([&](auto done) { internals(b.client).roomSync().fetchRoomStatus(done); }));
    EXPECT_TRUE(b.client->getUser(a.uid())->isHandRaised());
    ASSERT_TRUE(await([&](auto done) { internals(a.client).roomSync().fetchRoomStatus(done); }));
    EXPECT_TRUE(a.client->getMeetingLocalUser()->isHandRaised());
    EXPECT_TRUE(internals(a.client).currentRoom().isCurrentUserAudioMuted);
    EXPECT_EQ(a.delegate->count("mic off"), 1u);
}

TEST_F(KRClientEngineIntegrationTest, UnderHardMuteAJoiningParticipantStartsWithTheMicOff) {
    Member& host = joined(KRUserRole::host("host-token-1"));
    std::optional<bool> muted;
    main->post([&] { host.client->hardMuteUnmuteUsersAudio(true, [&](bool ok) { muted = ok; }); });
    ASSERT_TRUE(runUntil([&] { return muted.has_value(); }));
    ASSERT_TRUE(*muted);
    Member& guest = joined();
    ASSERT_TRUE(runUntil([&] { return guest.delegate->has("mic off"); }));
    EXPECT_TRUE(internals(guest.client).currentRoom().isCurrentUserAudioMuted);
    EXPECT_TRUE(guest.client->rtcManager()->isLocalUserAudioMuted());
    EXPECT_TRUE(guest.client->getMeetingLocalUser()->audioTrack()->isMuted());
    EXPECT_FALSE(host.client->rtcManager()->isLocalUserAudioMuted());
}

TEST_F(KRClientEngineIntegrationTest, ALateAnswerAboutAStreamChangesNothing) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote joined " + b.uid()); }));
    service.injectFault(R::getRoomConnectionStatus, test::MeetingServiceFault::delayed(400ms));

    // A stream nobody knows: both ask the server, which answers late.
    test::ScreenShareBroadcast stranger(bus, main);
    stranger.start(internals(a.client).currentRoom().roomID, 424242);
    ASSERT_TRUE(runUntil([&] {
        return internals(a.client).pendingStreamQuestions().count(424242) == 1 &&
               internals(b.client).pendingStreamQuestions().count(424242) == 1;
    }));
    // a leaves before the answer; at b the stream goes before the answer.
    main->post([&] { a.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("left"); }));
    main->post([&] { stranger.stop(); });
    main->runFor(1200ms);
    EXPECT_EQ(a.delegate->lines.back(), "left");
    EXPECT_FALSE(b.delegate->has("remote joined 424242"));
    EXPECT_FALSE(b.delegate->has("remote left 424242"));
    EXPECT_TRUE(internals(b.client).pendingStreamQuestions().empty());
    EXPECT_TRUE(internals(a.client).currentRoom().allMediaTracks.empty());
}

TEST_F(KRClientEngineIntegrationTest, StreamsReportedWhileAQuestionIsOutShareTheNextOne) {
    Member& a = joined();
    ASSERT_TRUE(runUntil([&] { return internals(a.client).pendingStreamQuestions().empty(); }));
    service.injectFault(R::getRoomConnectionStatus, test::MeetingServiceFault::delayed(300ms));
    const std::size_t questionsBefore = service.requestCount(R::getRoomConnectionStatus);

    // Four streams nobody announced: the first is asked about at once, the three that come
    // while that question is out are asked about together in one more.
    std::vector<std::unique_ptr<test::ScreenShareBroadcast>> strangers;
    for (std::uint64_t uid = 515151; uid < 515155; ++uid) {
        strangers.push_back(std::make_unique<test::ScreenShareBroadcast>(bus, main));
        strangers.back()->start(internals(a.client).currentRoom().roomID, uid);
        ASSERT_TRUE(runUntil([&] { return internals(a.client).pendingStreamQuestions().count(uid) == 1; }));
    }
    ASSERT_TRUE(runUntil([&] {
        return a.delegate->has("remote joined 515154") && internals(a.client).pendingStreamQuestions().empty();
    }));
    EXPECT_EQ(service.requestCount(R::getRoomConnectionStatus), questionsBefore + 2);
    for (std::uint64_t uid = 515151; uid < 515155; ++uid) {
        EXPECT_TRUE(a.delegate->has("remote joined " + std::to_string(uid))) << uid;
    }
    // Reported in the order the streams came.
    const auto at = [&](std::uint64_t uid) {
        return std::find(a.delegate->lines.begin(), a.delegate->lines.end(),
                         "remote joined " + std::to_string(uid));
    };
    EXPECT_LT(at(515152), at(515153));
    EXPECT_LT(at(515153), at(515154));
}

TEST_F(KRClientEngineIntegrationTest, AReturningStreamKeepsTheMicrophoneAndCameraItSends) {
    Member& a = joined();
    Member& b = joined();
    ASSERT_TRUE(allSeeEachOther({&a, &b}));
    const auto sends = [&](bool audio) {
        const auto user = a.client->getUser(b.uid());
        return user && !(audio ? user->audioTrack()->isMuted() : user->videoTrack()->isMuted());
    };
    main->post([&] {
        a.client->subscribeRemoteUserAudio(b.uid());
        a.client->subscribeRemoteUserVideo(b.uid());
    });
    ASSERT_TRUE(runUntil([&] { return sends(true) && sends(false); }));
    const auto media =
        bus->engineFor(internals(b.client).currentRoom().roomID, std::stoull(b.uid()));
    ASSERT_TRUE(media);

    // b's media drops and comes back: a no longer knows the stream and asks the service about
    // it, while the engine already reports what b sends.
    main->post([&] { media->simulateNetworkDrop(); });
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote left " + b.uid()); }));
    main->post([&] { media->simulateNetworkReturn(); });
    ASSERT_TRUE(runUntil([&] { return a.delegate->count("remote joined " + b.uid()) == 2; }));
    main->runFor(300ms);  // nothing later corrects what the join showed
    EXPECT_TRUE(sends(true)) << "microphone shown off";
    EXPECT_TRUE(sends(false)) << "camera shown off";
}

TEST_F(KRClientEngineIntegrationTest, AClientDestroyedWhileItsMediaJoinIsUnderWayLeavesQuietly) {
    Member& a = joined();
    Member& b = makeMember();
    b.client->joinMeeting(KRJoinMeetingData(kMeetingId, kPin, "Name"),
                          KRJoinMeetingConfig(KRUserRole::speaker(), true, true), b.delegate);
    ASSERT_TRUE(runUntil([&] { return internals(b.client).isAwaitingMediaJoin(); }));
    std::weak_ptr<KRClient> gone = b.client;
    b.client.reset();
    EXPECT_TRUE(gone.expired());
    main->runFor(300ms);
    EXPECT_TRUE(b.delegate->lines.empty());
    EXPECT_EQ(a.delegate->offQueueCalls, 0);
}

}  // namespace
}  // namespace kr
