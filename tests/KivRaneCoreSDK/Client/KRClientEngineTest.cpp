// The client's answers to the engine wrapper's reports, on a main queue driven by a manual clock:
// the client joins without server calls (its own media bus), then the tests hand it reports
// directly, as the wrapper would.

#include "KivRaneCoreSDK/Client/KRClient.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>

#include <functional>

#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Media/MediaOperation.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/ClientTestDelegate.h"
#include "support/EngineTestDelegate.h"
#include "support/FakeMediaBackend.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

using test::EngineTestDelegate;

std::shared_ptr<KRRtcParticipant> rtc(std::uint64_t uid, bool audioMuted = false) {
    auto participant = std::make_shared<KRRtcParticipant>(uid, 1);
    participant->setIsAudioMuted(audioMuted);
    participant->setIsVideoMuted(false);
    participant->setIsAudience(false);
    return participant;
}

KRRtcParticipantState state(std::uint64_t uid) {
    KRRtcParticipantState s;
    s.uid = uid;
    return s;
}

class KRClientEngineTest : public ::testing::Test {
public:
    KRClientEngineTest() {
        KRDependencies deps;
        deps.queue = queue;
        deps.reachability = test::quietReachability();
        deps.mediaBus = bus;
        client = KRClient::create(deps);
    }

    void join(const std::string& uid = "42") {
        client->setParameters(boost::json::object{
            {"kr_agora_token", "tok"}, {"kr_uid", uid}, {"kr_room_id", "room-9"}});
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), main);
    }

    /// Joined, with the wrapper's reports going to the returned receiver.
    std::shared_ptr<KRRtcManagerDelegate> joined() {
        join();
        queue->runPending();
        EXPECT_EQ(main->lines, std::vector<std::string>{"joined 42"});
        main->lines.clear();
        return client->rtcManager()->delegate();
    }

    void addUser(std::uint64_t uid, bool isSpeaker = true) {
        auto user = internals(client).currentRoom().upsertNewParticipantFromRtcDB(state(uid));
        user->setIsSpeaker(isSpeaker);
    }

    void addShareTrack(std::uint64_t uid, const std::string& sharer) {
        const std::string id = std::to_string(uid);
        std::vector<std::shared_ptr<KRMediaTrack>> tracks{
            std::make_shared<KRScreenShareTrack>(id, nullptr, nullptr, sharer, "Sharer")};
        for (const auto& track : internals(client).currentRoom().allMediaTracks) tracks.push_back(track);
        internals(client).currentRoom().allMediaTracks = std::move(tracks);
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<EngineTestDelegate> main = std::make_shared<EngineTestDelegate>(queue);
    std::shared_ptr<KRClient> client;
};

TEST_F(KRClientEngineTest, TheEngineJoinsWithTheRoomsCredentialsAndConfirmsTheLocalUser) {
    join();
    EXPECT_TRUE(main->lines.empty());  // nothing inside the host's call
    queue->runPending();
    EXPECT_EQ(main->lines, std::vector<std::string>{"joined 42"});
    EXPECT_EQ(bus->members("room-9"), std::vector<std::uint64_t>{42});
    EXPECT_TRUE(internals(client).hasConnectionCheckTimer());
    EXPECT_EQ(client->getMeetingLocalUser()->id(), "42");
}

TEST_F(KRClientEngineTest, AnUnusableMediaUidFailsTheJoinInsteadOfJoiningAsZero) {
    for (const char* uid : {"abc", "-1", "12 3", "99999999999999999999999", "0", "000"}) {
        SCOPED_TRACE(uid);
        auto failures = std::make_shared<test::ClientTestDelegate>();
        KRDependencies deps;
        deps.queue = queue;
        deps.reachability = test::quietReachability();
        deps.mediaBus = bus;
        auto other = KRClient::create(deps);
        other->setParameters(boost::json::object{
            {"kr_agora_token", "tok"}, {"kr_uid", uid}, {"kr_room_id", "room-x"}});
        other->joinMeeting(KRJoinMeetingData("m", "p", "n"),
                           KRJoinMeetingConfig(KRUserRole::speaker(), true, true), failures);
        EXPECT_TRUE(failures->joinFailures.empty());
        queue->runPending();
        ASSERT_EQ(failures->joinFailures.size(), 1u);
        EXPECT_EQ(failures->joinFailures[0].kind, KRMeetingJoinError::Kind::other);
        EXPECT_TRUE(bus->members("room-x").empty());
    }
}

TEST_F(KRClientEngineTest, ALocalJoinUnderAnotherUidFallsBackToTheConfirmedOne) {
    bus->stallNextJoin();
    join();
    queue->runPending();
    ASSERT_TRUE(main->lines.empty());
    // The engine confirms the join under a uid the room did not give.
    client->rtcManager()->rtcEngine()->inject(
        [](platform::MediaEngineDelegate& d) { d.didJoinChannel("room-9", 77, 0); });
    queue->runPending();
    EXPECT_EQ(main->lines, std::vector<std::string>{"joined 77"});
    EXPECT_EQ(internals(client).currentRoom().userWebRtcId, "77");
    EXPECT_TRUE(internals(client).hasConnectionCheckTimer());
}

TEST_F(KRClientEngineTest, AddedStreamsAreClassifiedWithoutAskingWhenTheRoomKnowsThem) {
    struct Row {
        const char* name;
        std::function<void(KRClientEngineTest&)> arrange;
        std::vector<std::string> expected;
    };
    const std::vector<Row> rows = {
        {"a speaker's track", [](auto& t) { t.addUser(7, true); }, {"remote joined 7"}},
        {"an audience member's track", [](auto& t) { t.addUser(7, false); },
         {"remote to participants 7"}},
        {"a share entry", [](auto& t) {
             internals(t.client).currentRoom().screenShareMetaData.emplace_back(7, "5", "Ann");
         }, {"remote share started"}},
        {"a share track whose entry polling dropped", [](auto& t) { t.addShareTrack(7, "5"); },
         {"remote share started"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto events = joined();
        row.arrange(*this);
        events->didRemoteStreamAddedToChannel(7);
        EXPECT_EQ(main->lines, row.expected);
        EXPECT_TRUE(internals(client).pendingStreamQuestions().empty());
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        queue->runPending();
        main->lines.clear();
    }
}

TEST_F(KRClientEngineTest, RemovedStreamsReportAShareStopOrADeparture) {
    struct Row {
        const char* name;
        std::function<void(KRClientEngineTest&)> arrange;
        KRUserLeftReason reason;
        std::vector<std::string> expected;
        std::size_t tracksLeft;
    };
    const std::vector<Row> rows = {
        {"a share entry", [](auto& t) {
             internals(t.client).currentRoom().screenShareMetaData.emplace_back(7, "5", "Ann");
             t.addShareTrack(7, "5");
         }, KRUserLeftReason::leaveMeeting(), {"remote share stopped"}, 1},
        {"a share track without its entry", [](auto& t) { t.addShareTrack(7, "5"); },
         KRUserLeftReason::leaveMeeting(), {"remote share stopped"}, 1},
        {"a participant", [](auto& t) { t.addUser(7); }, KRUserLeftReason::networkDropped(),
         {"remote left 7"}, 1},
        {"a participant gone to the audience", [](auto& t) { t.addUser(7); },
         KRUserLeftReason::becomeAudience(), {"remote left 7"}, 2},
        {"a uid nobody knows", [](auto&) {}, KRUserLeftReason::leaveMeeting(), {"remote left "},
         1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto events = joined();
        row.arrange(*this);
        events->didRemoteStreamRemovedFromChannel(7, row.reason);
        EXPECT_EQ(main->lines, row.expected);
        EXPECT_EQ(internals(client).currentRoom().allMediaTracks.size(), row.tracksLeft);
        EXPECT_TRUE(internals(client).currentRoom().screenShareMetaData.empty());
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        queue->runPending();
        main->lines.clear();
    }
}

TEST_F(KRClientEngineTest, ARemoteShareOverridesTheLocalOneAndTheLocalShareComesBackAsLocal) {
    std::vector<std::string> extension;
    auto token = platform::DarwinNotifyCenter::shared().addObserver(
        "kr.darwin.screenshare.force.stop.screen.share",
        [&](const std::string& name) { extension.push_back(name); });
    auto events = joined();
    KRCurrentRoom& room = internals(client).currentRoom();
    internals(client).localScreenShare().adoptStream(900, "t");
    room.screenShareMetaData.emplace_back(900, "42", "Me");
    room.screenShareMetaData.emplace_back(901, "8", "Eve");
    events->didRemoteStreamAddedToChannel(900);
    EXPECT_EQ(main->lines, std::vector<std::string>{"local share started"});
    EXPECT_TRUE(extension.empty());

    events->didRemoteStreamAddedToChannel(901);
    EXPECT_EQ(main->lines, (std::vector<std::string>{"local share started",
                                                     "local share stopped",
                                                     "remote share started"}));
    EXPECT_EQ(extension.size(), 1u);
    EXPECT_EQ(internals(client).localScreenShare().streamUid(), 0u);
    ASSERT_EQ(room.screenShareMetaData.size(), 1u);
    EXPECT_EQ(room.screenShareMetaData[0].trackID(), 901u);
    // One share track stands, first.
    EXPECT_EQ(room.allMediaTracks.front()->id(), "901");
    EXPECT_EQ(std::count_if(room.allMediaTracks.begin(), room.allMediaTracks.end(),
                            [](const auto& t) {
                                return t->sourceType() == KRMediaTrackSourceType::screenShare;
                            }),
              1);
    // The local user is never a share track carrying its id.
    EXPECT_EQ(client->getMeetingLocalUser()->sourceType(), KRMediaTrackSourceType::user);
    platform::DarwinNotifyCenter::shared().removeObserver(token);
}

TEST_F(KRClientEngineTest, AnOwnShareStreamLeavingAfterItsShareEndedIsNobodysDeparture) {
    struct Row {
        const char* name;
        std::function<void(KRClientEngineTest&, KRRtcManagerDelegate&)> endTheShare;
        std::vector<std::string> told;
    };
    const std::vector<Row> rows = {
        {"another share took over",
         [](auto& t, auto& events) {
             internals(t.client).currentRoom().screenShareMetaData.emplace_back(901, "8", "Eve");
             events.didRemoteStreamAddedToChannel(901);
         },
         {"local share stopped", "remote share started"}},
        {"the host stopped it and the room forgot its entry",
         [](auto& t, auto&) {
             t.client->stopLocalScreenShare();
             t.queue->runPending();
             KRCurrentRoom& room = internals(t.client).currentRoom();
             room.screenShareMetaData.clear();
             std::erase_if(room.allMediaTracks, [](const auto& track) {
                 return track->sourceType() == KRMediaTrackSourceType::screenShare;
             });
         },
         {"local share stopped"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto events = joined();
        internals(client).localScreenShare().adoptStream(900, "t");
        internals(client).currentRoom().screenShareMetaData.emplace_back(900, "42", "Me");
        events->didRemoteStreamAddedToChannel(900);
        main->lines.clear();
        row.endTheShare(*this, *events);
        EXPECT_EQ(main->lines, row.told);
        main->lines.clear();
        // The old stream goes: it was the local user's share, not a user who left.
        events->didRemoteStreamRemovedFromChannel(900, KRUserLeftReason::leaveMeeting());
        EXPECT_EQ(main->lines, std::vector<std::string>{});
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        queue->runPending();
        main->lines.clear();
    }
}

/// Records whether the local share's report ran inside the host's call.
class HostCallDelegate : public EngineTestDelegate {
public:
    using EngineTestDelegate::EngineTestDelegate;
    bool insideHostCall = false;
    int reportsInsideHostCall = 0;
    void didLocalScreenShareStateChanged(const KRMeeting& m, const KRScreenShareState& s) override {
        if (insideHostCall) ++reportsInsideHostCall;
        EngineTestDelegate::didLocalScreenShareStateChanged(m, s);
    }
};

TEST_F(KRClientEngineTest, TheHostsOwnShareStopsAreReportedAfterItsCallInOrder) {
    struct Row {
        const char* name;
        std::function<void(KRClient&)> call;
        std::vector<std::string> told;
    };
    const std::vector<Row> rows = {
        {"the host stops the share", [](KRClient& c) { c.stopLocalScreenShare(); },
         {"local share stopped"}},
        {"the leave", [](KRClient& c) { c.leaveMeeting(KRUserLeftReason::leaveMeeting()); },
         {"local share stopped", "left"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto delegate = std::make_shared<HostCallDelegate>(queue);
        client->setParameters(boost::json::object{
            {"kr_agora_token", "tok"}, {"kr_uid", "42"}, {"kr_room_id", "room-9"}});
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), delegate);
        queue->runPending();
        delegate->lines.clear();
        internals(client).localScreenShare().adoptStream(900, "t");
        delegate->insideHostCall = true;
        row.call(*client);
        delegate->insideHostCall = false;
        EXPECT_EQ(delegate->reportsInsideHostCall, 0);
        queue->runPending();
        EXPECT_EQ(delegate->lines, row.told);
        client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        queue->runPending();
    }
}

TEST_F(KRClientEngineTest, ALeaveThatFinishesAtOnceStillReportsTheShareStopFirst) {
    // Without server calls (media credentials) the media leave follows the host's call at once.
    struct Row {
        const char* name;
        bool insideBackendLeave;  // else right after the call, before the share's task
    };
    for (const Row row : {Row{"the channel reports inside the media leave", true},
                          Row{"the channel reports before the share's task", false}}) {
        SCOPED_TRACE(row.name);
        std::vector<std::shared_ptr<test::FakeMediaBackend>> backends;
        auto other = test::makeClientWithMediaCredentials(queue, bus);
        test::recordBackends(*other, backends);
        auto delegate = std::make_shared<HostCallDelegate>(queue);
        other->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                           KRJoinMeetingConfig(KRUserRole::speaker(), true, true), delegate);
        internals(other).completeLocalMediaJoin("42");
        queue->runPending();
        ASSERT_EQ(backends.size(), 1u);
        backends[0]->leavesAtOnce = row.insideBackendLeave;
        internals(other).localScreenShare().adoptStream(900, "t");
        delegate->lines.clear();
        other->leaveMeeting(KRUserLeftReason::leaveMeeting());
        EXPECT_EQ(delegate->lines, std::vector<std::string>{});  // nothing inside the call
        if (!row.insideBackendLeave) internals(other).handleLocalMediaLeft();
        queue->runPending();
        EXPECT_EQ(delegate->lines, (std::vector<std::string>{"local share stopped", "left"}));
        // A channel that already left is not asked to leave again.
        EXPECT_EQ(backends[0]->count("leave"), row.insideBackendLeave ? 1u : 0u);
    }
}

TEST_F(KRClientEngineTest, SpeakerReportsNameOnlyKnownUsers) {
    auto events = joined();
    addUser(7);
    addUser(8);
    events->didDetectLoudestSpeaker(rtc(7));
    EXPECT_TRUE(client->getUser("7")->audioTrack()->isLoudest());
    events->didDetectLoudestSpeaker(rtc(99));  // a uid with no user: nobody is loudest
    EXPECT_FALSE(client->getUser("7")->audioTrack()->isLoudest());
    events->didDetectLoudestSpeaker(nullptr);
    events->didDetectTopActiveSpeakers({rtc(8), rtc(7)});
    events->didDetectTopActiveSpeakers({rtc(8), rtc(99)});  // dropped whole
    events->didDetectTopActiveSpeakers({});
    EXPECT_EQ(main->lines, (std::vector<std::string>{"loudest 7", "loudest -", "loudest -",
                                                     "speakers 8 7", "speakers"}));
}

TEST_F(KRClientEngineTest, MediaStateReportsFollowTheParticipantButSkipShares) {
    auto events = joined();
    events->didLocalParticipantAudioStatusUpdated(rtc(42, true));
    EXPECT_TRUE(internals(client).currentRoom().isCurrentUserAudioMuted);
    internals(client).currentRoom().screenShareMetaData.emplace_back(7, "5", "Ann");
    events->didRemoteParticipantAudioStatusUpdated(rtc(7, true));  // a share: nothing
    events->didRemoteParticipantAudioStatusUpdated(rtc(8, true));  // unknown: created
    EXPECT_EQ(main->lines, (std::vector<std::string>{"mic off", "remote mic 8 off"}));
    ASSERT_NE(client->getUser("8"), nullptr);
}

TEST_F(KRClientEngineTest, MovingToTheAudienceMutesAndStopsTheExtension) {
    std::vector<std::string> extension;
    auto token = platform::DarwinNotifyCenter::shared().addObserver(
        "kr.darwin.screenshare.force.stop.screen.share",
        [&](const std::string& name) { extension.push_back(name); });
    auto events = joined();
    events->didCurrentUserClientRoleChanged(true);
    EXPECT_TRUE(internals(client).isLocalUserInAudienceMode());
    EXPECT_TRUE(internals(client).currentRoom().isCurrentUserAudioMuted);
    EXPECT_TRUE(internals(client).currentRoom().isCurrentUserVideoMuted);
    EXPECT_FALSE(client->getMeetingLocalUser()->isSpeaker());
    EXPECT_EQ(extension.size(), 1u);  // even though nothing was shared
    events->didCurrentUserClientRoleChanged(false);
    EXPECT_EQ(main->lines, (std::vector<std::string>{"to audience", "to participants"}));
    EXPECT_TRUE(client->getMeetingLocalUser()->isSpeaker());
    platform::DarwinNotifyCenter::shared().removeObserver(token);
}

TEST_F(KRClientEngineTest, TheLocalUsersOwnChangesAreReportedAfterTheHostCallReturned) {
    // A host that notes whether a report reached it from inside one of its own calls.
    struct WatchingHost final : EngineTestDelegate {
        using EngineTestDelegate::EngineTestDelegate;
        bool inHostCall = false;
        std::vector<std::string> heard;
        void note(std::string what) { heard.push_back((inHostCall ? "inside: " : "") + what); }
        void didLocalUserMicStatusUpdated(const KRMeeting&, bool muted) override {
            note(muted ? "mic off" : "mic on");
        }
        void didLocalUserVideoStatusUpdated(const KRMeeting&, bool muted) override {
            note(muted ? "camera off" : "camera on");
        }
        void didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool raised) override {
            note(raised ? "hand up" : "hand down");
        }
    };
    const struct {
        const char* name;
        std::function<void(KRClient&)> call;
        std::vector<std::string> heard;
    } rows[] = {
        {"hand up", [](KRClient& c) { c.raiseHand(); }, {"hand up"}},
        {"hand down", [](KRClient& c) { c.lowerHand(); }, {"hand down"}},
        {"microphone off", [](KRClient& c) { c.muteLocalAudio(true); }, {"mic off"}},
        {"microphone on", [](KRClient& c) { c.muteLocalAudio(false); }, {"mic on"}},
        {"camera off", [](KRClient& c) { c.muteLocalVideo(true); }, {"camera off"}},
        {"camera on", [](KRClient& c) { c.muteLocalVideo(false); }, {"camera on"}},
        {"on and off again in one turn",
         [](KRClient& c) {
             c.muteLocalAudio(true);
             c.muteLocalAudio(false);
         },
         {"mic off", "mic on"}},
        {"to the audience", [](KRClient& c) { c.switchLocalUserRole(KRUserRole::audience()); },
         {"mic off", "camera off"}},
    };
    auto host = std::make_shared<WatchingHost>(queue);
    client->setParameters(boost::json::object{
        {"kr_agora_token", "tok"}, {"kr_uid", "42"}, {"kr_room_id", "room-9"}});
    client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                        KRJoinMeetingConfig(KRUserRole::speaker(), true, true), host);
    queue->runPending();
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        host->heard.clear();
        host->inHostCall = true;
        row.call(*client);
        host->inHostCall = false;
        EXPECT_TRUE(host->heard.empty());
        queue->runPending();
        EXPECT_EQ(host->heard, row.heard);
    }
}

TEST_F(KRClientEngineTest, TheHostMayDropTheClientInsideTheReportOfItsOwnMediaCall) {
    // A host that lets go of the client as soon as it hears the local microphone or camera.
    struct DroppingHost final : EngineTestDelegate {
        using EngineTestDelegate::EngineTestDelegate;
        std::shared_ptr<KRClient>* owner = nullptr;
        void didLocalUserMicStatusUpdated(const KRMeeting& m, bool muted) override {
            EngineTestDelegate::didLocalUserMicStatusUpdated(m, muted);
            if (owner) owner->reset();
        }
        void didLocalUserVideoStatusUpdated(const KRMeeting& m, bool muted) override {
            EngineTestDelegate::didLocalUserVideoStatusUpdated(m, muted);
            if (owner) owner->reset();
        }
    };
    const struct {
        const char* name;
        std::function<void(KRClient&)> call;
        const char* heard;
    } rows[] = {
        {"microphone off", [](KRClient& c) { c.muteLocalAudio(true); }, "mic off"},
        {"camera off", [](KRClient& c) { c.muteLocalVideo(true); }, "camera off"},
        {"to the audience", [](KRClient& c) { c.switchLocalUserRole(KRUserRole::audience()); },
         "mic off"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        KRDependencies deps;
        deps.queue = queue;
        deps.reachability = test::quietReachability();
        deps.mediaBus = platform::MediaBus::create();
        client = KRClient::create(deps);
        auto host = std::make_shared<DroppingHost>(queue);
        client->setParameters(boost::json::object{
            {"kr_agora_token", "tok"}, {"kr_uid", "42"}, {"kr_room_id", "room-9"}});
        client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), host);
        queue->runPending();
        ASSERT_EQ(host->lines, std::vector<std::string>{"joined 42"});
        host->owner = &client;
        std::weak_ptr<KRClient> weak = client;
        row.call(*client);
        // The report comes after the call returned, as a task of its own.
        EXPECT_FALSE(weak.expired());
        EXPECT_EQ(host->lines, std::vector<std::string>{"joined 42"});
        queue->runPending();
        EXPECT_TRUE(weak.expired());
        EXPECT_EQ(host->lines, (std::vector<std::string>{"joined 42", row.heard}));
        clock->advance(std::chrono::seconds(10));
        queue->runPending();
        EXPECT_EQ(host->lines.size(), 2u);
    }
}

TEST_F(KRClientEngineTest, AfterTheLocalLeaveTheEngineReachesNobody) {
    auto events = joined();
    addUser(7);
    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    queue->runPending();
    EXPECT_EQ(main->lines, std::vector<std::string>{"left"});
    EXPECT_EQ(client->rtcManager()->delegate(), nullptr);
    // A report still in flight when the leave landed changes nothing either.
    events->didRemoteStreamRemovedFromChannel(7, KRUserLeftReason::leaveMeeting());
    events->didLocalParticipantLeaveChannel();
    EXPECT_EQ(main->lines, std::vector<std::string>{"left"});
}

TEST_F(KRClientEngineTest, AReceiverThatOutlivesItsClientReachesNothing) {
    // The wrapper's receiver belongs to the client's engine backend; whoever still holds it once
    // the client is gone must find neither the client nor its backend.
    const std::vector<std::pair<const char*, std::function<void(KRRtcManagerDelegate&)>>> rows = {
        {"local joined", [](auto& d) { d.didLocalParticipantJoinedChannel(); }},
        {"local audio", [](auto& d) { d.didLocalParticipantAudioStatusUpdated(rtc(42, true)); }},
        {"local left", [](auto& d) { d.didLocalParticipantLeaveChannel(); }},
        {"stream added", [](auto& d) { d.didRemoteStreamAddedToChannel(7); }},
        {"stream removed",
         [](auto& d) { d.didRemoteStreamRemovedFromChannel(7, KRUserLeftReason::leaveMeeting()); }},
        {"remote video", [](auto& d) { d.didRemoteParticipantVideoStatusUpdated(rtc(7)); }},
        {"to audience", [](auto& d) { d.didRemoteParticipantMovedToAudience(7); }},
        {"loudest", [](auto& d) { d.didDetectLoudestSpeaker(rtc(7)); }},
        {"top speakers", [](auto& d) { d.didDetectTopActiveSpeakers({rtc(7)}); }},
        {"own role", [](auto& d) { d.didCurrentUserClientRoleChanged(true); }},
        {"network", [](auto& d) { d.didNetworkQualityChange(KRNetworkQuality::bad); }},
    };
    for (const auto& [name, report] : rows) {
        SCOPED_TRACE(name);
        KRDependencies deps;
        deps.queue = queue;
        deps.reachability = test::quietReachability();
        deps.mediaBus = platform::MediaBus::create();
        client = KRClient::create(deps);
        auto events = joined();
        addUser(7);
        ASSERT_NE(events, nullptr);
        std::weak_ptr<KRClient> weak = client;
        client.reset();
        ASSERT_TRUE(weak.expired());
        report(*events);
        queue->runPending();
        EXPECT_TRUE(main->lines.empty());
    }
}

TEST_F(KRClientEngineTest, AJoinThatFailsLeavesTheChannelAndReportsNothingMore) {
    join();
    queue->runPending();
    main->lines.clear();
    client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    queue->runPending();
    // A fresh join that times out while the channel is joined: the channel is left quietly.
    bus->stallNextJoin();
    client->joinMeeting(KRJoinMeetingData("m-1", "1111", "Me"),
                        KRJoinMeetingConfig(KRUserRole::speaker(), true, true), main);
    clock->advance(ClientCore::kJoinTimeout);
    queue->runPending();
    EXPECT_EQ(main->lines, (std::vector<std::string>{"left", "failed timed out"}));
    EXPECT_TRUE(bus->members("room-9").empty());
}

}  // namespace
}  // namespace kr
