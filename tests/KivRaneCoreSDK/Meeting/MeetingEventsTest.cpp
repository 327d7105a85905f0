// The client's reports on their own: who hears each one and in what order, and the lock,
// recording and whiteboard changes that are reported only when the room store changed.

#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kr {
namespace {

using Lines = std::vector<std::string>;

/// A meeting with a room store of its own; the snapshot shows its flags as they are.
struct FakeMeeting : MeetingEvents::Meeting {
    KRCurrentRoom room;
    bool wantsLevel = true;
    std::shared_ptr<KRMeetingUser> local =
        std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "1", .userId = "local"});

    KRMeeting snapshot() const override {
        KRMeeting meeting("m", "p", "t", {}, local, false, "owner", room.isMeetingLocked);
        meeting.setIsRecordingOn(room.isRecordingOn);
        meeting.setIsWhiteboardShared(room.isWhiteboardShared);
        return meeting;
    }
    std::shared_ptr<KRMeetingUser> localUser() const override { return local; }
    std::shared_ptr<KRMeetingUser> userById(const std::optional<std::string>& id) const override {
        return id && *id == "1" ? local : nullptr;
    }
    std::string whiteboardUrl() const override { return "https://wb"; }
    bool wantsLocalSpeakerLevel() const override { return wantsLevel; }
    void postReport(std::function<void(MeetingEvents&)> report) override {
        posted.push_back(std::move(report));
    }

    /// Reports waiting for their own task, in the order posted.
    std::vector<std::function<void(MeetingEvents&)>> posted;
};

/// Writes "tag: what" for the reports the tests send, with the snapshot's state where a report
/// is about it.
struct Recorder : KRClientDelegate {
    Recorder(std::string name, std::shared_ptr<Lines> lines)
        : tag(std::move(name)), log(std::move(lines)) {}
    void add(const std::string& what) { log->push_back(tag + ": " + what); }

    void didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool) override { add("hand"); }
    void didLocalUserMicStatusUpdated(const KRMeeting& m, bool muted) override {
        add(std::string("mic ") + (muted ? "off" : "on") + (m.isMeetingLocked() ? " locked" : ""));
    }
    void didLocalUserVideoStatusUpdated(const KRMeeting&, bool muted) override {
        add(std::string("camera ") + (muted ? "off" : "on"));
    }
    void didLocalSpeakerVolumeChanges(const KRMeeting&, int level, bool) override {
        add("level " + std::to_string(level));
    }
    void didLocalAudioStateChangeFailed(const KRMeeting&, KRAudioVideoErrorType,
                                        const std::string&) override {
        add("audio failed");
    }
    void didLocalUserFallBackToAudioOnlyMode(const KRMeeting&, bool) override { add("fallback"); }
    void didMeetingNetworkStatsUpdated(const KRMeeting&, const KRMeetingNetworkStats&) override {
        add("stats");
    }
    void didRecieveReaction(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&,
                            const std::string& type) override {
        add("reaction " + type);
    }
    void didRemoteUserMicStatusUpdated(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&,
                                       bool) override {
        add("remote mic");
    }
    void didNetworkQualityUpdated(const KRMeeting&, KRNetworkQuality) override { add("quality"); }
    void didCoHostRightsChanged(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&,
                                bool) override {
        add("co-host");
    }
    void didMeetingLocked(const KRMeeting& m, const std::shared_ptr<KRMeetingUser>& by) override {
        add(std::string("locked ") + (m.isMeetingLocked() ? "1" : "0") +
            (by ? " by " + by->id() : ""));
    }
    void didMeetingUnLocked(const KRMeeting& m, const std::shared_ptr<KRMeetingUser>&) override {
        add(std::string("unlocked ") + (m.isMeetingLocked() ? "1" : "0"));
    }
    void didRecordingStarted(const KRMeeting& m, const std::shared_ptr<KRMeetingUser>&) override {
        add(std::string("recording ") + (m.isRecordingOn() ? "1" : "0"));
    }
    void didRecordingStopped(const KRMeeting& m, const std::shared_ptr<KRMeetingUser>&) override {
        add(std::string("recording stopped ") + (m.isRecordingOn() ? "1" : "0"));
    }
    void didWhiteboardStopped(const KRMeeting& m,
                              const std::shared_ptr<KRMeetingUser>& by) override {
        add(std::string("whiteboard stopped ") + (m.isWhiteboardShared() ? "1" : "0") +
            (by ? " by " + by->id() : ""));
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& e) override {
        add("failed " + std::to_string(static_cast<int>(e.kind)));
    }

    std::string tag;
    std::shared_ptr<Lines> log;
};

class MeetingEventsTest : public ::testing::Test {
protected:
    MeetingEventsTest() {
        auto owned = std::make_unique<FakeMeeting>();
        meeting = owned.get();
        events = std::make_unique<MeetingEvents>(owned->room, std::move(owned));
        events->setMainDelegate(main);
        events->addDelegate("extra", extra);
    }
    Lines take() { return std::exchange(*log, {}); }

    std::shared_ptr<Lines> log = std::make_shared<Lines>();
    std::shared_ptr<Recorder> main = std::make_shared<Recorder>("main", log);
    std::shared_ptr<Recorder> extra = std::make_shared<Recorder>("extra", log);
    FakeMeeting* meeting = nullptr;
    std::unique_ptr<MeetingEvents> events;
};

TEST_F(MeetingEventsTest, TheMainDelegateHearsFirstThenExtrasInTheOrderAddedWhileTheyLive) {
    auto a = std::make_shared<Recorder>("a", log);
    auto b = std::make_shared<Recorder>("b", log);
    auto gone = std::make_shared<Recorder>("gone", log);
    events->addDelegate("b", b);
    events->addDelegate("gone", gone);
    events->addDelegate("a", a);
    events->addDelegate("extra", extra);  // again: keeps its place
    gone.reset();
    events->sendNetworkQualityUpdateEvent(KRNetworkQuality::good);
    EXPECT_EQ(take(), (Lines{"main: quality", "extra: quality", "b: quality", "a: quality"}));

    events->removeDelegate("extra");
    events->addDelegate("a", b);  // replaced under its identifier, in its place
    auto other = std::make_shared<Recorder>("other", log);
    events->setMainDelegate(other);
    events->sendNetworkQualityUpdateEvent(KRNetworkQuality::good);
    EXPECT_EQ(take(), (Lines{"other: quality", "b: quality", "b: quality"}));

    // The targets are taken before the first is called: a delegate removed by an earlier one
    // still hears this report, not the next.
    struct Remover : Recorder {
        using Recorder::Recorder;
        MeetingEvents* events = nullptr;
        void didNetworkQualityUpdated(const KRMeeting& m, KRNetworkQuality q) override {
            Recorder::didNetworkQualityUpdated(m, q);
            events->removeDelegate("a");
        }
    };
    auto remover = std::make_shared<Remover>("remover", log);
    remover->events = events.get();
    events->setMainDelegate(remover);
    events->sendNetworkQualityUpdateEvent(KRNetworkQuality::good);
    events->sendNetworkQualityUpdateEvent(KRNetworkQuality::good);
    EXPECT_EQ(take(), (Lines{"remover: quality", "b: quality", "b: quality", "remover: quality",
                             "b: quality"}));
}

TEST_F(MeetingEventsTest, MainOnlyReportsSkipTheExtraDelegatesAndGatedOnesMayReachNobody) {
    struct Row {
        const char* name;
        std::function<void(MeetingEvents&)> send;
        Lines expected;
    };
    const auto user = std::make_shared<KRMeetingUser>();
    const Row table[] = {
        {"hand", [](MeetingEvents& e) { e.sendLocalHandRaiseEvent(); }, {"main: hand"}},
        {"media failure",
         [](MeetingEvents& e) { e.sendLocalMediaFailedEvent(true, KRAudioVideoErrorType{}, "x"); },
         {"main: audio failed"}},
        {"fallback",
         [](MeetingEvents& e) { e.sendLocalAudioOnlyFallbackEvent(true); },
         {"main: fallback"}},
        {"stats",
         [](MeetingEvents& e) {
             e.sendNetworkStatsEvent(KRMeetingNetworkStats(1, 2, 3, 4, 5, 6, 7));
         },
         {"main: stats"}},
        {"level",
         [](MeetingEvents& e) { e.sendLocalSpeakerVolumeEvent(7, true); },
         {"main: level 7"}},
        {"reaction",
         [&](MeetingEvents& e) {
             e.sendReactionReceivedEvent(user, "clap");
         },
         {"main: reaction clap"}},
        {"limit",
         [](MeetingEvents& e) {
             e.sendJoinFailedEvent(KRMeetingJoinError::maxParticipantsLimit());
         },
         {"main: failed 1"}},
        {"other failure",
         [](MeetingEvents& e) { e.sendJoinFailedEvent(KRMeetingJoinError::meetingLocked()); },
         {"main: failed 5", "extra: failed 5"}},
        {"co-host of the local user",
         [&](MeetingEvents& e) { e.sendCoHostRightsChangedEvent(user, true, "local"); },
         {"main: co-host", "extra: co-host"}},
        {"co-host of another",
         [&](MeetingEvents& e) { e.sendCoHostRightsChangedEvent(user, true, "x"); },
         {}},
        {"remote mic of nobody",
         [](MeetingEvents& e) { e.sendRemoteUserMicStatusUpdateEvent(nullptr); },
         {}},
    };
    for (const Row& row : table) {
        row.send(*events);
        EXPECT_EQ(take(), row.expected) << row.name;
    }
    meeting->wantsLevel = false;
    events->sendLocalSpeakerVolumeEvent(7, true);
    EXPECT_EQ(take(), Lines{});
}

TEST_F(MeetingEventsTest, TheLockRecordingAndWhiteboardAreReportedAfterTheStoreChangedAndOnlyThen) {
    events->changeMeetingLock(true, "1");
    events->changeMeetingLock(true, "1");
    events->changeMeetingLock(false, std::nullopt);
    events->changeMeetingLock(false, std::nullopt);
    EXPECT_EQ(take(), (Lines{"main: locked 1 by 1", "extra: locked 1 by 1", "main: unlocked 0",
                             "extra: unlocked 0"}));

    events->changeRecording(false, std::nullopt);
    events->changeRecording(true, std::nullopt);
    events->changeRecording(true, std::nullopt);
    events->changeRecording(false, std::nullopt);
    EXPECT_EQ(take(), (Lines{"main: recording 1", "extra: recording 1", "main: recording stopped 0",
                             "extra: recording stopped 0"}));

    events->closeWhiteboard("1");
    meeting->room.isWhiteboardShared = true;
    events->closeWhiteboard("1");
    events->closeWhiteboard("1");
    EXPECT_EQ(take(), (Lines{"main: whiteboard stopped 0 by 1"}));
}

struct Panel : KRParticipantsListUpdateDelegate {
    void didParticipantUpserted(const KRMeetingParticipant& p) override {
        heard.push_back("upserted " + p.participantId);
    }
    void didParticipantRemoved(const KRMeetingParticipant& p) override {
        heard.push_back("removed " + p.participantId);
    }
    void didParticipantDataRefreshed(const std::vector<KRMeetingParticipant>& all) override {
        heard.push_back("refreshed " + std::to_string(all.size()));
    }
    Lines heard;
};

TEST_F(MeetingEventsTest, TheParticipantListDelegateIsHeldWeakly) {
    EXPECT_EQ(events->participantsListDelegate(), nullptr);
    auto panel = std::make_shared<Panel>();
    events->setParticipantsListDelegate(panel);
    EXPECT_EQ(events->participantsListDelegate(), panel);
    panel.reset();
    EXPECT_EQ(events->participantsListDelegate(), nullptr);
}

TEST_F(MeetingEventsTest, TheRoomStoresParticipantChangesReachThePanelOnlyWhileTheEventsLive) {
    KRCurrentRoom& room = meeting->room;
    KRMeetingParticipant one;
    one.participantId = "1";
    room.onMeetingParticipantUpdate(one);  // no panel yet: nothing, and no crash
    auto panel = std::make_shared<Panel>();
    events->setParticipantsListDelegate(panel);
    room.allParticipants = {one};
    room.onMeetingParticipantUpdate(one);
    room.onMeetingParticipantRemoved(one);
    room.removeMediaTrack("1");  // the store refreshes the list itself
    EXPECT_EQ(panel->heard, (Lines{"upserted 1", "removed 1", "refreshed 0"}));
    panel.reset();
    room.removeMediaTrack("2");  // the panel is gone: held weakly, nothing happens

    // A store that outlives its events must not call into them.
    KRCurrentRoom outliving;
    { MeetingEvents shortLived(outliving, std::make_unique<FakeMeeting>()); }
    EXPECT_FALSE(outliving.onMeetingParticipantUpdate);
    EXPECT_FALSE(outliving.onMeetingParticipantRemoved);
    EXPECT_FALSE(outliving.onMeetingParticipantsRefreshed);
}

TEST_F(MeetingEventsTest, ALocalMediaChangeInsideAHostCallIsToldLaterAsItWasAtTheChange) {
    struct Row {
        const char* name;
        std::function<void(MeetingEvents&, FakeMeeting&)> change;
        Lines told;
    };
    const Row rows[] = {
        {"microphone",
         [](MeetingEvents& e, FakeMeeting& m) {
             m.local->audioTrack()->setIsMuted(true);
             e.sendLocalUserMicUpdateEvent();
         },
         {"main: mic off", "extra: mic off"}},
        {"camera",
         [](MeetingEvents& e, FakeMeeting& m) {
             m.local->videoTrack()->setIsMuted(true);
             e.sendLocalUserVideoUpdateEvent();
         },
         {"main: camera off", "extra: camera off"}},
        {"both, in the order changed",
         [](MeetingEvents& e, FakeMeeting& m) {
             m.local->audioTrack()->setIsMuted(true);
             e.sendLocalUserMicUpdateEvent();
             m.local->videoTrack()->setIsMuted(true);
             e.sendLocalUserVideoUpdateEvent();
         },
         {"main: mic off", "extra: mic off", "main: camera off", "extra: camera off"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        meeting->local->audioTrack()->setIsMuted(false);
        meeting->local->videoTrack()->setIsMuted(false);
        meeting->room.isMeetingLocked = false;
        {
            const MeetingEvents::HostCall call(*events);
            row.change(*events, *meeting);
            // The state moves on before the report's task runs.
            meeting->local->audioTrack()->setIsMuted(false);
            meeting->local->videoTrack()->setIsMuted(false);
            meeting->room.isMeetingLocked = true;
        }
        EXPECT_EQ(take(), Lines{});
        for (auto& report : std::exchange(meeting->posted, {})) report(*events);
        EXPECT_EQ(take(), row.told);

        // Outside a host call (an engine report, a message) it is told where it happens.
        meeting->room.isMeetingLocked = false;
        row.change(*events, *meeting);
        EXPECT_EQ(take(), row.told);
        EXPECT_TRUE(meeting->posted.empty());
    }
}

}  // namespace
}  // namespace kr
