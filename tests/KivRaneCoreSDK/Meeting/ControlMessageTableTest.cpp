// The table of incoming control messages, checked on both backends through what the host app can
// see: a host-only event from a participant the server lists without rights changes nothing,
// the same event from the host or a co-host does; and where a row gives both backends the same
// handler, the same message gives the same reports on either backend. The default backend joins
// without server calls; the room engine backend joins a "kr-media" room of the local meeting
// service on a scripted engine. Both run on a manual clock.

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Meeting/ControlMessages/IncomingControlMessages.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/ControlMessageRecorder.h"
#include "support/MultiMediaMeeting.h"
#include "testing/KRClientTestSeam.h"

namespace kr {
namespace {

/// A server record kept and merged without raising the merge's hooks.
constexpr MeetingParticipantsManager::RecordMerge kRecordOnly{.reportChanges = false};

using namespace test;
using E = KRRtmMessageEvent;
using Backend = MediaBackend::Kind;
using Route = ControlMessageRoute;

constexpr const char* kHost = "7";
constexpr const char* kCoHost = "8";
constexpr const char* kPlain = "9";

/// Everything a control message can change that the host app sees.
struct Seen {
    Lines reports;
    Lines engineCalls;
    int extensionStops = 0;
    bool locked = false, recording = false, hardMute = false, softMute = false, coHost = false;
    bool operator==(const Seen&) const = default;
};

std::string describe(const Seen& s) {
    return testing::PrintToString(s.reports) + testing::PrintToString(s.engineCalls) + " stops " +
           std::to_string(s.extensionStops) + " flags " + std::to_string(s.locked) +
           std::to_string(s.recording) + std::to_string(s.hardMute) + std::to_string(s.softMute) +
           std::to_string(s.coHost);
}

KRMeetingParticipant record(const char* id, bool isHost, bool isCoHost) {
    KRMeetingParticipant r;
    r.participantId = id;
    r.isHost = isHost;
    r.isCoHost = isCoHost;
    return r;
}

class ControlMessageTableTest : public MultiMediaMeetingTest {
protected:
    ControlMessageTableTest() : MultiMediaMeetingTest(platform::ManualClock::create()) {}

    void SetUp() override {
        addKrMediaRoom(kKrRoom, "room-kr");
        stopsToken_ = extension_->addObserver(
            "kr.darwin.screenshare.force.stop.screen.share",
            [this](const std::string&) { ++stops_; });
    }
    void TearDown() override { extension_->removeObserver(stopsToken_); }

    static constexpr const char* kKrRoom = "5550001111";

    /// A client in a meeting on `backend` with a host, a co-host and a plain participant whose
    /// server records say so.
    struct Party {
        Backend backend = Backend::defaultEngine;
        std::shared_ptr<KRClient> client;
        std::shared_ptr<ControlMessageRecorder> reports =
            std::make_shared<ControlMessageRecorder>();
        std::shared_ptr<ScriptedEngine> engine;  // the room engine backend's
        std::string localId;
        bool leaveReported = false;
    };

    Party joinOn(Backend backend) {
        Party p;
        p.backend = backend;
        KRDependencies d = deps();
        d.extensionNotifications = extension_;
        p.client = KRClient::create(d);
        if (backend == Backend::defaultEngine) {
            p.client->setParameters(boost::json::parse(R"({"kr_agora_token":"tok","kr_uid":"42",
                "kr_room_id":"room-9","kr_rtm_token":"rtm"})")
                                        .as_object());
        } else {
            p.client->setMultiMediaEngineIntegration(true);
            p.engine = std::make_shared<ScriptedEngine>();
            p.client->setRtcEngineManager(p.engine);
        }
        p.client->joinMeeting(
            KRJoinMeetingData(backend == Backend::defaultEngine ? "m-1" : kKrRoom, "4321", "Me"),
            KRJoinMeetingConfig(KRUserRole::speaker(), true, true), p.reports);
        if (backend == Backend::defaultEngine) {
            EXPECT_TRUE(main->runUntil([&] { return !p.reports->lines.empty(); }, 5s));
            p.localId = "42";
            p.client->getMeetingLocalUser()->setUserId("acct-42");
            auto& tracks = internals(p.client).currentRoom().allMediaTracks;
            for (const char* id : {kHost, kCoHost, kPlain}) {
                tracks.push_back(std::make_shared<KRMeetingUser>(
                    KRMeetingUser::Parameters{.id = id, .displayName = "P" + std::string(id)}));
            }
            auto& records = internals(p.client).currentRoom().allParticipants;
            records.push_back(record(kHost, true, false));
            records.push_back(record(kCoHost, false, true));
            records.push_back(record(kPlain, false, false));
        } else {
            EXPECT_TRUE(main->runUntil([&] { return p.engine->called("join"); }, 10s));
            const auto rtc = p.engine->delegate.lock();
            // A uid no earlier session claimed in the room: the service keeps those it has seen.
            p.localId = std::to_string(nextUid_++);
            bool joined = false;
            rtc->didLocalParticipantJoinChannel(
                std::make_shared<RtcPeerMetaData>(p.localId, false, false, false),
                [&] { joined = true; });
            EXPECT_TRUE(main->runUntil([&] { return joined; }, 10s));
            auto& merge = internals(p.client).meetingUsersManager();
            for (const char* id : {kHost, kCoHost, kPlain}) {
                rtc->didRemoteParticipantJoinChannel(
                    std::make_shared<RtcPeerMetaData>(id, false, false, false), [] {});
            }
            merge.upsertParticipantMetaData(record(kHost, true, false), kRecordOnly);
            merge.upsertParticipantMetaData(record(kCoHost, false, true), kRecordOnly);
            merge.upsertParticipantMetaData(record(kPlain, false, false), kRecordOnly);
        }
        main->runPending();
        p.reports->take();
        if (p.engine)
            p.engine->calls.clear();
        return p;
    }

    static KRRtmMessage message(const Party& p, E event, Route route, const char* from) {
        KRRtmMessage m;
        m.message = event;
        m.messageType =
            route == Route::peer ? KRRtmMessageType::peerToPeer : KRRtmMessageType::publicChat;
        m.senderParticipantId = from;
        m.senderName = "Sender";
        const auto local = p.client->getMeetingLocalUser();
        if (event == E::makeCoHost || event == E::removeCoHost) {
            m.targetParticipantId = local->userId().empty() ? local->id() : local->userId();
        } else if (route == Route::peer) {
            m.targetParticipantId = p.localId;
        }
        return m;
    }

    /// Hands the message to the backend's receiver, then lets what it started settle: replies of
    /// the local service, and the engine's report of a leave it was asked for. Waits longer
    /// while fewer than `awaitReports` reports are in.
    void deliver(Party& p, const KRRtmMessage& m, Route route, std::size_t awaitReports = 0) {
        if (p.backend == Backend::defaultEngine) {
            route == Route::peer ? internals(p.client).incomingMessages().handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::peer, m)
                                 : internals(p.client).incomingMessages().handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::channel, m);
            main->runPending();
            return;
        }
        const auto rtm = p.engine->rtm.lock();
        ASSERT_TRUE(rtm);
        route == Route::peer ? rtm->didRecievePrivateMessage(m) : rtm->didRecievePublicMessage(m);
        for (int round = 0; round < (awaitReports > 0 ? 500 : 5); ++round) {
            main->runFor(10ms);
            if (p.engine->called("leave") && !p.leaveReported) {
                p.leaveReported = true;
                if (const auto rtc = p.engine->delegate.lock())
                    rtc->didLocalParticipantLeaveChannel(KRUserLeftReason::leaveMeeting(), {});
            }
            if (awaitReports > 0 && p.reports->lines.size() >= awaitReports)
                break;
        }
    }

    /// The state a row's event needs before it can change anything.
    static void prepare(Party& p, E event) {
        KRCurrentRoom& room = internals(p.client).currentRoom();
        if (event == E::recordingStopped)
            room.isRecordingOn = true;
        if (event == E::unLockMeeting)
            room.isMeetingLocked = true;
        if (event == E::stopwhiteboard)
            room.isWhiteboardShared = true;
        if (event == E::participantStopScreenShare && p.backend == Backend::defaultEngine) {
            // The local user shares its screen: only then is the stop a host's to give.
            room.allMediaTracks.push_back(
                std::make_shared<KRScreenShareTrack>("500", nullptr, nullptr, p.localId, "Me"));
            internals(p.client).localScreenShare().adoptStream(500, "t");
        }
    }

    Seen seen(const Party& p) const {
        const KRCurrentRoom& room = internals(p.client).currentRoom();
        const auto local = p.client->getMeetingLocalUser();
        return Seen{p.reports->lines,
                    p.engine ? p.engine->calls : Lines{},
                    stops_,
                    room.isMeetingLocked,
                    room.isRecordingOn,
                    room.isHardMuteEnabled,
                    room.isSoftMuteEnabled,
                    local && local->isCoHost()};
    }

private:
    int nextUid_ = 10001;
    int stops_ = 0;
    /// The broadcast-extension centre of every party, where share stops are counted.
    std::shared_ptr<platform::DarwinNotifyCenter> extension_ =
        std::make_shared<platform::DarwinNotifyCenter>();
    platform::ObserverToken stopsToken_{};
};

TEST(ControlMessageTableRowsTest, EachEventHasOneRowPerRouteAndEveryHonouredRuleAHandler) {
    std::set<std::pair<E, Route>> seenKeys;
    for (const ControlMessageRow& row : IncomingControlMessages::rows()) {
        SCOPED_TRACE(std::string(rawValue(row.event)));
        EXPECT_TRUE(seenKeys.insert({row.event, row.route}).second) << "a second row is dead";
        EXPECT_EQ(IncomingControlMessages::find(row.route, row.event), &row);
        for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
            const auto& rule = row.on(backend);
            EXPECT_EQ(rule.authority == ControlMessageAuthority::ignored, rule.handler == nullptr);
        }
    }
    EXPECT_EQ(IncomingControlMessages::find(Route::channel, E::hostEndsCall), nullptr);
    EXPECT_EQ(IncomingControlMessages::find(Route::channel, E::unknown), nullptr);
}

TEST_F(ControlMessageTableTest, AHostOnlyEventActsFromAHostOrCoHostAndNeverFromAPlainParticipant) {
    struct Case {
        E event;
        Route route;
        bool hostOnlyByDefault;
        bool hostOnlyOnMultiMedia;
    };
    constexpr auto channel = Route::channel;
    constexpr auto peer = Route::peer;
    // Written apart from the table, so that a row that loses its check fails here.
    const Case cases[] = {
        {E::hardMuteEnabled, channel, true, true},
        {E::hardMuteDisabled, channel, true, true},
        {E::softMuteEnabled, channel, true, true},
        {E::hostLowerAllHands, channel, true, true},
        {E::recordingStarted, channel, true, true},
        {E::recordingStopped, channel, true, true},
        {E::lockMeeting, channel, true, true},
        {E::unLockMeeting, channel, true, true},
        {E::makeCoHost, channel, true, true},
        {E::removeCoHost, channel, true, true},
        {E::hostRemoveParticipant, peer, true, true},
        {E::participantStopScreenShare, peer, true, true},  // default backend: while sharing
        {E::participantDowngradeToAudience, peer, true, true},
        // The default backend takes these from anyone; the room engine backend from hosts only.
        {E::stopParticipantAudio, peer, false, true},
        {E::stopParticipantVideo, peer, false, true},
        {E::requestToStartAudio, peer, false, true},
        {E::requestToStartVideo, peer, false, true},
        {E::audienceUpgradeToParticipant, peer, false, true},
    };
    for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
        for (const Case& c : cases) {
            // A speaker on the default engine has no audience role to leave: nothing to see.
            if (backend == Backend::defaultEngine && c.event == E::audienceUpgradeToParticipant)
                continue;
            const bool hostOnly =
                backend == Backend::defaultEngine ? c.hostOnlyByDefault : c.hostOnlyOnMultiMedia;
            for (const char* rightful : {kHost, kCoHost}) {
                SCOPED_TRACE(std::string(backend == Backend::defaultEngine
                                             ? "default backend "
                                             : "room engine backend ") +
                             std::string(rawValue(c.event)) + " then from " + rightful);
                Party p = joinOn(backend);
                prepare(p, c.event);
                const Seen before = seen(p);
                deliver(p, message(p, c.event, c.route, kPlain), c.route);
                if (!hostOnly) {
                    EXPECT_NE(seen(p), before)
                        << "a plain participant's message was dropped " << describe(seen(p));
                    break;
                }
                EXPECT_EQ(seen(p), before) << describe(seen(p));
                deliver(p, message(p, c.event, c.route, rightful), c.route);
                EXPECT_NE(seen(p), before) << "nothing changed " << describe(seen(p));
            }
        }
    }
}

TEST_F(ControlMessageTableTest, ARowWithOneHandlerGivesTheSameReportsOnBothBackends) {
    for (const ControlMessageRow& row : IncomingControlMessages::rows()) {
        if (row.defaultEngine.handler != row.roomEngine.handler)
            continue;  // the row says they differ
        SCOPED_TRACE(std::string(rawValue(row.event)));
        Lines reports[2];
        for (Backend backend : {Backend::defaultEngine, Backend::roomEngine}) {
            Party p = joinOn(backend);
            prepare(p, row.event);
            deliver(p, message(p, row.event, row.route, kHost), row.route, reports[0].size());
            reports[static_cast<int>(backend)] = p.reports->take();
        }
        EXPECT_EQ(reports[0], reports[1]);
    }
}

}  // namespace
}  // namespace kr
