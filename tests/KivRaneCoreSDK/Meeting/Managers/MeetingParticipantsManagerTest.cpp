#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"

#include <gtest/gtest.h>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {
namespace {

/// A server record kept and merged without raising the merge's hooks.
constexpr MeetingParticipantsManager::RecordMerge kRecordOnly{.reportChanges = false};

using T = ParticipantUpdateType;

KRMeetingParticipant record(std::string id, std::string name) {
    KRMeetingParticipant p;
    p.participantId = std::move(id);
    p.participantName = std::move(name);
    p.userId = "u-" + p.participantId;
    return p;
}

class MeetingParticipantsManagerTest : public ::testing::Test {
protected:
    MeetingParticipantsManagerTest() {
        manager.onNewUserJoined = [this](const auto& user) { log.push_back("new " + user->id()); };
        manager.onUserDataUpdated = [this](const auto& user, T change) {
            log.push_back("changed " + user->id() + " " + std::to_string(static_cast<int>(change)));
        };
        manager.onUserLeft = [this](const auto& user, const auto&) {
            left.push_back(user);
            log.push_back("left " + user->id());
        };
    }
    MeetingParticipantsManager manager;
    std::vector<std::string> log;
    std::vector<std::shared_ptr<KRMeetingUser>> left;
};

TEST_F(MeetingParticipantsManagerTest, EnginePeerAndServerRecordMergeIntoOneUser) {
    manager.upsertParticipantMetaData(record("5", "Ann"), kRecordOnly);
    EXPECT_TRUE(log.empty());  // no events asked for
    auto peer = std::make_shared<RtcPeerMetaData>("5", false, true, false);
    manager.addNewParticipantRtcData(peer);

    ASSERT_EQ(manager.getAllMeetingUser().size(), 1u);
    const auto user = manager.getMeetingUser("5");
    EXPECT_EQ(user->displayName(), "Ann");
    EXPECT_FALSE(user->audioTrack()->isMuted());  // the engine decides the media flags
    EXPECT_TRUE(user->videoTrack()->isMuted());
    // The user already existed from the record: the peer changes it, no second "new".
    EXPECT_EQ(log, (std::vector<std::string>{"changed 5 0"}));
}

TEST_F(MeetingParticipantsManagerTest, ChangesFireOncePerKindInTheFixedOrder) {
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("1", true, true, false));
    log.clear();
    auto changed = std::make_shared<RtcPeerMetaData>("1", false, false, true);
    manager.upsertParticipantRtcMetaData(changed);
    EXPECT_EQ(log, (std::vector<std::string>{"changed 1 0", "changed 1 1", "changed 1 2"}));
    log.clear();
    manager.upsertParticipantRtcMetaData(changed);
    EXPECT_TRUE(log.empty());  // nothing changed, nothing fired
}

TEST_F(MeetingParticipantsManagerTest, LeaveHandsOutACopyAndForgetsEverything) {
    manager.upsertParticipantMetaData(record("3", "Cy"), {});
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("3", false, false, false));
    const auto stored = manager.getMeetingUser("3");

    manager.removeParticipantData("3", false);
    manager.removeParticipantData("3", false);  // unknown now: nothing

    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0], stored);
    EXPECT_EQ(left[0]->displayName(), "Cy");
    EXPECT_EQ(manager.getMeetingUser("3"), nullptr);
    EXPECT_TRUE(manager.rtcParticipants().empty());
    EXPECT_TRUE(manager.metaData().empty());
    EXPECT_TRUE(manager.participants().empty());
}

// Several channels report a leave, and reports sent before it may land after it.
TEST_F(MeetingParticipantsManagerTest, ALeftParticipantStaysOutUntilTheEngineBringsItBack) {
    auto peer = std::make_shared<RtcPeerMetaData>("7", false, false, false);
    manager.upsertParticipantMetaData(record("7", "Bob"), {});
    manager.addNewParticipantRtcData(peer);
    manager.removeParticipantData("7", false);
    log.clear();

    manager.upsertParticipantMetaData(record("7", "Bob"), {});  // a stale status reply
    peer->setIsAudioMuted(true);
    manager.upsertParticipantRtcMetaData(peer);                         // a late mute report
    manager.removeParticipantData("7", false);                          // the engine's leave
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(manager.getMeetingUser("7"));
    // The server's record stays: it still tells what the uid's stream is if it comes back.
    EXPECT_EQ(manager.metaData().size(), 1u);

    // Back in the channel: known again, and its records count again.
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("7", true, true, false));
    manager.upsertParticipantMetaData(record("7", "Bob"), {});
    ASSERT_TRUE(manager.getMeetingUser("7"));
    EXPECT_EQ(manager.getMeetingUser("7")->displayName(), "Bob");
    EXPECT_EQ(log.front(), "new 7");
}

TEST_F(MeetingParticipantsManagerTest, TheLocalParticipantLeavesOnlyWithTheMeeting) {
    manager.setCurrentParticipantId("3");
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("3", false, false, false));
    manager.upsertParticipantMetaData(record("3", "Me"), {});
    log.clear();
    manager.removeParticipantData("3", false);  // the server or the engine says it is gone
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(manager.getLocalUser()->id(), "3");
    manager.upsertParticipantMetaData(record("3", "Me again"), {});
    EXPECT_EQ(manager.getLocalUser()->displayName(), "Me again");

    log.clear();
    manager.clearAllData();
    EXPECT_TRUE(manager.getAllMeetingUser().empty());
    EXPECT_TRUE(log.empty());
}

TEST_F(MeetingParticipantsManagerTest, MoveToAudienceDropsThePeerAndMarksTheRole) {
    manager.upsertParticipantMetaData(record("4", "Di"), {});
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("4", false, false, false));
    log.clear();
    manager.moveParticipantToAudience("4");
    EXPECT_TRUE(manager.rtcParticipants().empty());
    EXPECT_FALSE(manager.getMeetingUser("4")->isSpeaker());
    EXPECT_EQ(manager.metaData()[0].participantType, KRMeetingParticipantType::audience);
    // Without the peer the media read as muted; the role changes last.
    EXPECT_EQ(log.back(), "changed 4 8");
}

TEST_F(MeetingParticipantsManagerTest, LoudestMovesFromOneParticipantToTheNext) {
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("1", false, false, false));
    manager.addNewParticipantRtcData(std::make_shared<RtcPeerMetaData>("2", false, false, false));
    manager.setLoudestParticipant("1");
    manager.setLoudestParticipant("2");
    EXPECT_FALSE(manager.getMeetingUser("1")->isLoudest());
    EXPECT_TRUE(manager.getMeetingUser("2")->isLoudest());
    manager.setLoudestParticipant(std::nullopt);
    EXPECT_FALSE(manager.getMeetingUser("2")->isLoudest());
}

TEST_F(MeetingParticipantsManagerTest, HandCoHostAndHardMuteUpdatesReachTheUsers) {
    manager.upsertParticipantMetaData(record("1", "A"), {});
    manager.upsertParticipantMetaData(record("2", "B"), {});
    manager.updateParticipantHandRaiseStatus("1", true);
    manager.updateParticipantHandRaiseStatus("9", true);  // unknown: nothing
    manager.updateParticipantCoHostRight("2", true);
    EXPECT_TRUE(manager.getMeetingUser("1")->isHandRaised());
    EXPECT_TRUE(manager.getMeetingUser("2")->isCoHost());
    manager.lowerAllParticipantsHands();
    EXPECT_FALSE(manager.getMeetingUser("1")->isHandRaised());
    manager.updateParticipantsHardMuteStatus(true);
    EXPECT_TRUE(manager.getMeetingUser("2")->isHardAudioMuted());
    EXPECT_TRUE(manager.getMeetingUser("2")->audioTrack()->isHardAudioMuted());
}

TEST_F(MeetingParticipantsManagerTest, ScreenShareTracksReplaceByIdAndGoByOwner) {
    auto a = std::make_shared<KRScreenShareTrack>("100", nullptr, nullptr, "1", "A");
    auto a2 = std::make_shared<KRScreenShareTrack>("100", nullptr, nullptr, "1", "A");
    auto b = std::make_shared<KRScreenShareTrack>("200", nullptr, nullptr, "2", "B");
    manager.addScreenShareTrack(a);
    manager.addScreenShareTrack(b);
    manager.addScreenShareTrack(a2);
    ASSERT_EQ(manager.getScreenShareTracks().size(), 2u);
    EXPECT_EQ(manager.getScreenShareTracks()[1], a2);
    manager.removeScreenShareTrack("2");
    ASSERT_EQ(manager.getScreenShareTracks().size(), 1u);
    manager.setCurrentParticipantId("1");
    manager.clearAllData();
    EXPECT_TRUE(manager.getScreenShareTracks().empty());
    EXPECT_EQ(manager.getCurrentParticipantId(), "1");
    EXPECT_EQ(manager.getLocalUser()->id(), "");
}

}  // namespace
}  // namespace kr
