#include "support/EngineParticipantState.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {
namespace {

using test::peer;

KRMeetingParticipant record(std::string id, std::string name, std::string userId = "user") {
    KRMeetingParticipant p;
    p.participantId = std::move(id);
    p.participantUri = p.participantId;
    p.participantName = std::move(name);
    p.userId = std::move(userId);
    return p;
}

std::shared_ptr<KRScreenShareTrack> share(std::string id, std::string sharer) {
    return std::make_shared<KRScreenShareTrack>(std::move(id), nullptr, nullptr,
                                                std::move(sharer), "Sharer");
}

TEST(KRCurrentRoomTest, EngineParticipantTakesNameAndRoleFromOfflineRecordThenCurrentRecord) {
    KRCurrentRoom room;
    KRMeetingParticipant returning = record("11", "Back Again", "u-11");
    returning.isCoHost = true;
    room.offlineParticipants.push_back(returning);
    room.offlineParticipantsIds = {"11"};
    room.allParticipants.push_back(record("12", "Fresh", "u-12"));

    const auto back = room.upsertNewParticipantFromRtcDB(peer(11, true));
    const auto fresh = room.upsertNewParticipantFromRtcDB(peer(12, false, false, false, true));
    const auto unknown = room.upsertNewParticipantFromRtcDB(peer(13));

    EXPECT_EQ(back->displayName(), "Back Again");
    EXPECT_TRUE(back->isCoHost());
    EXPECT_TRUE(back->audioTrack()->isMuted());
    EXPECT_TRUE(room.offlineParticipantsIds.empty());
    EXPECT_TRUE(room.offlineParticipants.empty());
    // A record from the last poll names a newcomer too (not only offline records).
    EXPECT_EQ(fresh->displayName(), "Fresh");
    EXPECT_EQ(fresh->userId(), "u-12");
    EXPECT_FALSE(fresh->isSpeaker());
    EXPECT_EQ(unknown->displayName(), "");
    EXPECT_EQ(room.allMediaTracks.size(), 3u);
}

TEST(KRCurrentRoomTest, EngineReportUpdatesTheSameUserObjectInPlace) {
    KRCurrentRoom room;
    const auto first = room.upsertNewParticipantFromRtcDB(peer(5));
    auto view = platform::View::create();
    const auto second = room.upsertNewParticipantFromRtcDB(
        peer(5, true, true, true, false, view));
    EXPECT_EQ(first, second);
    EXPECT_EQ(room.allMediaTracks.size(), 1u);
    EXPECT_TRUE(first->audioTrack()->isMuted());
    EXPECT_TRUE(first->audioTrack()->isLoudest());
    EXPECT_TRUE(first->videoTrack()->isMuted());
    EXPECT_EQ(first->videoTrack()->streamView(), view);
}

TEST(KRCurrentRoomTest, RemovedTrackGoesOfflineWithItsRecordAndRefreshesTheList) {
    KRCurrentRoom room;
    room.allParticipants = {record("1", "A"), record("2", "B")};
    room.upsertNewParticipantFromRtcDB(peer(1));
    room.upsertNewParticipantFromRtcDB(peer(2));
    std::vector<std::vector<KRMeetingParticipant>> refreshed;
    room.onMeetingParticipantsRefreshed = [&](const auto& list) { refreshed.push_back(list); };

    room.removeMediaTrack("1");

    ASSERT_EQ(room.allMediaTracks.size(), 1u);
    EXPECT_EQ(room.allMediaTracks[0]->id(), "2");
    EXPECT_EQ(room.offlineParticipantsIds, std::vector<std::string>{"1"});
    ASSERT_EQ(room.offlineParticipants.size(), 1u);
    EXPECT_EQ(room.offlineParticipants[0].participantName, "A");
    ASSERT_EQ(refreshed.size(), 1u);
    ASSERT_EQ(refreshed[0].size(), 1u);
    EXPECT_EQ(refreshed[0][0].participantId, "2");
    // An offline id is not brought back by a server record, only by the engine.
    EXPECT_EQ(room.upsertNewParticipantFromKivDB(record("1", "A")), nullptr);
}

TEST(KRCurrentRoomTest, ServerRecordKeepsTheOldNameWhenItsNameIsEmpty) {
    KRCurrentRoom room;
    const auto user = room.upsertNewParticipantFromKivDB(record("7", "Named"));
    KRMeetingParticipant update = record("7", "");
    update.isHandRaise = true;
    EXPECT_EQ(room.upsertNewParticipantFromKivDB(update), user);
    EXPECT_EQ(user->displayName(), "Named");
    EXPECT_TRUE(user->isHandRaised());
}

TEST(KRCurrentRoomTest, ParticipantListReplacesEveryRecordOfAnIdOrAppends) {
    KRCurrentRoom room;
    room.allParticipants = {record("1", "old"), record("2", "B"), record("1", "old too")};
    room.updateParticipantsList(record("1", "new"));
    room.updateParticipantsList(record("3", "C"));
    ASSERT_EQ(room.allParticipants.size(), 4u);
    EXPECT_EQ(room.allParticipants[0].participantName, "new");
    EXPECT_EQ(room.allParticipants[2].participantName, "new");
    EXPECT_EQ(room.allParticipants[3].participantName, "C");
}

TEST(KRCurrentRoomTest, TheStoreAnnouncesItsOwnRecordChangesAndALeaveByLogin) {
    KRCurrentRoom room;
    std::vector<std::string> heard;
    room.updateParticipantsList(record("1", "A"));  // no hooks set: nothing to tell
    room.onMeetingParticipantUpdate = [&](const KRMeetingParticipant& p) {
        heard.push_back("upserted " + p.participantId + " " + p.participantName);
    };
    room.onMeetingParticipantRemoved = [&](const KRMeetingParticipant& p) {
        heard.push_back("removed " + p.participantId);
    };
    room.updateParticipantsList(record("1", "A2", "u1"));
    room.updateParticipantsList(record("2", "B", "u2"));
    room.allParticipants.push_back(record("3", "C", "u2"));
    const auto left = room.reportUserLeft("u2");
    ASSERT_TRUE(left.has_value());
    EXPECT_EQ(left->participantId, "2");  // the first with that login
    EXPECT_FALSE(room.reportUserLeft("nobody").has_value());
    EXPECT_EQ(heard, (std::vector<std::string>{"upserted 1 A2", "upserted 2 B", "removed 2"}));
    EXPECT_EQ(room.allParticipants.size(), 3u);  // a leave leaves the records to the service
}

TEST(KRCurrentRoomTest, LocalUserSkipsAScreenShareCarryingTheLocalId) {
    KRCurrentRoom room;
    room.userWebRtcId = "9";
    room.allMediaTracks.push_back(share("9", "9"));
    EXPECT_EQ(room.getLocalUser()->id(), "");  // nothing yet: a fresh empty user
    EXPECT_EQ(room.trackUser("9"), nullptr);    // the first match is a share
    EXPECT_TRUE(room.isLocalUserSharingScreen());
    const auto local = room.upsertNewParticipantFromKivDB(record("9", "Me"));
    EXPECT_EQ(room.getLocalUser(), local);
    EXPECT_EQ(room.matchingUser("9"), local);
}

TEST(KRCurrentRoomTest, MeetingResetKeepsIdsAndCredentialsButNothingOfTheLastMeeting) {
    KRCurrentRoom room;
    room.userWebRtcToken = "tok";
    room.userWebRtcId = "4";
    room.roomID = "r";
    room.webRtcAppId = "app";
    room.guestUserId = "g";
    room.isMeetingLocked = room.isRecordingOn = room.isHardMuteEnabled = true;
    room.isSoftMuteEnabled = room.isWhiteboardShared = room.isLocalUserSharingWhiteboard = true;
    room.screenShareMetaData.emplace_back(77, "x", "X");
    room.offlineParticipantsIds = {"1"};
    room.historyId = "h";
    room.meetingOwnerUserId = "owner";
    room.meetingTitle = "Weekly";
    room.upsertNewParticipantFromRtcDB(peer(4));

    room.resetMeetingState();

    EXPECT_TRUE(room.meetingOwnerUserId.empty() && room.meetingTitle.empty());

    EXPECT_FALSE(room.isMeetingLocked || room.isRecordingOn || room.isHardMuteEnabled ||
                 room.isSoftMuteEnabled || room.isWhiteboardShared ||
                 room.isLocalUserSharingWhiteboard);
    EXPECT_TRUE(room.screenShareMetaData.empty() && room.offlineParticipantsIds.empty() &&
                room.allMediaTracks.empty() && room.historyId.empty());
    EXPECT_EQ(room.userWebRtcToken, "tok");
    EXPECT_EQ(room.userWebRtcId, "4");
    EXPECT_EQ(room.roomID, "r");
    EXPECT_EQ(room.webRtcAppId, "app");
    EXPECT_EQ(room.guestUserId, "g");
}

TEST(KRCurrentRoomTest, RemoveAllDataEmptiesOnlyTheTracks) {
    KRCurrentRoom room;
    room.isMeetingLocked = true;
    room.allParticipants = {record("1", "A")};
    room.upsertNewParticipantFromRtcDB(peer(1));
    room.removeAllData();
    EXPECT_TRUE(room.allMediaTracks.empty());
    EXPECT_TRUE(room.isMeetingLocked);
    EXPECT_EQ(room.allParticipants.size(), 1u);
}

TEST(KRCurrentRoomTest, AClosedWhiteboardLeavesNoSharerBehindTheLocalUserIncluded) {
    KRCurrentRoom room;
    room.isWhiteboardShared = true;
    room.isLocalUserSharingWhiteboard = true;
    room.whiteboardSharingId = "4";
    room.whiteboardShareBy = "Me";
    EXPECT_TRUE(room.applyWhiteboardStopped());
    EXPECT_FALSE(room.isWhiteboardShared);
    EXPECT_FALSE(room.isLocalUserSharingWhiteboard);
    EXPECT_EQ(room.whiteboardSharingId, "");
    EXPECT_EQ(room.whiteboardShareBy, "");
    EXPECT_FALSE(room.applyWhiteboardStopped());
}

TEST(KRCurrentRoomTest, EachHandOrRoleTheListShowsAnewIsToldOnceWhateverBroughtIt) {
    KRCurrentRoom room;
    std::vector<std::string> told;
    room.onHandChanged = [&](const auto& user) {
        told.push_back("hand " + user->id() + (user->isHandRaised() ? " up" : " down"));
    };
    room.onRoleChanged = [&](const auto& user) {
        told.push_back("role " + user->id() + (user->isSpeaker() ? " speaker" : " audience"));
    };
    KRMeetingParticipant raised = record("5", "Bea");
    raised.isHandRaise = true;
    KRMeetingParticipant lowered = raised;
    lowered.isHandRaise = false;
    KRMeetingParticipant inAudience = lowered;
    inAudience.participantType = KRMeetingParticipantType::audience;
    std::shared_ptr<KRMeetingUser> bea;
    struct Step {
        const char* what;
        std::function<void()> run;
        std::vector<std::string> told;
    };
    const Step steps[] = {
        // A newcomer is no change of the list: its join tells of it.
        {"a record makes her", [&] { bea = room.upsertNewParticipantFromKivDB(raised); }, {}},
        {"the same record again", [&] { room.upsertNewParticipantFromKivDB(raised); }, {}},
        {"a record lowers it", [&] { room.upsertNewParticipantFromKivDB(lowered); },
         {"hand 5 down"}},
        {"a message of the hand shown", [&] { room.changeHand(bea, false); }, {}},
        {"a message raises it", [&] { room.changeHand(bea, true); }, {"hand 5 up"}},
        {"a record moves her and lowers it",
         [&] { room.upsertNewParticipantFromKivDB(inAudience); },
         {"hand 5 down", "role 5 audience"}},
        {"the engine's move after it", [&] { room.changeRole(bea, false); }, {}},
        {"the engine has her speak again",
         [&] { room.upsertNewParticipantFromRtcDB(peer(5)); }, {"role 5 speaker"}},
        {"a media report of the same role",
         [&] { room.upsertNewParticipantFromRtcDB(peer(5, true)); }, {}},
    };
    for (const Step& step : steps) {
        told.clear();
        step.run();
        EXPECT_EQ(told, step.told) << step.what;
    }
}

}  // namespace
}  // namespace kr
