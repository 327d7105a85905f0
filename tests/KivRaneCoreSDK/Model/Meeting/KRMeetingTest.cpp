#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingConfig.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"

namespace kr {
namespace {

std::shared_ptr<KRMeetingUser> user(const std::string& id) {
    auto u = std::make_shared<KRMeetingUser>();
    u->setId(id);
    return u;
}

KRMeeting snapshot(std::vector<std::shared_ptr<KRMediaTrack>> tracks,
                   std::shared_ptr<KRMeetingUser> local) {
    return KRMeeting("m", "pin", "title", std::move(tracks), std::move(local), true, "owner", true);
}

TEST(KRMeetingTest, DerivesParticipantListsFromTheSameObjects) {
    auto local = user("me");
    auto remote = user("you");
    auto share = std::make_shared<KRScreenShareTrack>("9", nullptr, nullptr, "you", "You");
    std::vector<std::shared_ptr<KRMediaTrack>> tracks = {share, local, nullptr, remote};
    KRMeeting meeting = snapshot(tracks, local);

    ASSERT_EQ(meeting.allMediaTracks().size(), 3u);
    ASSERT_EQ(meeting.allParticipants().size(), 2u);
    EXPECT_EQ(meeting.allParticipants()[0], local);
    EXPECT_EQ(meeting.allParticipants()[1], remote);
    ASSERT_EQ(meeting.remoteParticipants().size(), 1u);
    EXPECT_EQ(meeting.remoteParticipants()[0], remote);
    EXPECT_FALSE(meeting.isRecordingOn());
    EXPECT_FALSE(meeting.isWhiteboardShared());
    EXPECT_TRUE(meeting.isMeetingLocked());

    // A copy of the snapshot holds the same users: changes show through every copy.
    const KRMeeting copy = meeting;
    remote->setDisplayName("Renamed");
    remote->audioTrack()->setIsMuted(true);
    EXPECT_EQ(copy.remoteParticipants()[0]->displayName(), "Renamed");
    EXPECT_TRUE(meeting.allParticipants()[1]->audioTrack()->isMuted());
    // ...while the lists themselves do not change.
    tracks.push_back(user("late"));
    EXPECT_EQ(copy.allMediaTracks().size(), 3u);

    // Every user with the local id is left out of the remote list.
    KRMeeting twins = snapshot({user("me"), local, user("x")}, local);
    EXPECT_EQ(twins.remoteParticipants().size(), 1u);

    KRMeeting empty = snapshot({}, nullptr);
    EXPECT_TRUE(empty.allParticipants().empty());
    EXPECT_TRUE(empty.remoteParticipants().empty());
    EXPECT_TRUE(empty.localParticipant());
}

TEST(KRMeetingTest, UserRoleEqualityAndToken) {
    const KRUserRole roles[] = {KRUserRole::host("A"), KRUserRole::host("B"), KRUserRole::host(""),
                                KRUserRole::speaker(), KRUserRole::audience()};
    const bool equal[5][5] = {
        {true, false, false, false, false}, {false, true, false, false, false},
        {false, false, true, false, false}, {false, false, false, true, false},
        {false, false, false, false, true},
    };
    for (int i = 0; i < 5; ++i) {
        for (int j = 0; j < 5; ++j) {
            EXPECT_EQ(roles[i] == roles[j], equal[i][j]) << i << " vs " << j;
        }
    }
    EXPECT_EQ(KRUserRole::host("A") == KRUserRole::host("A"), true);
    EXPECT_EQ(roles[0].getToken(), "A");
    EXPECT_EQ(roles[2].getToken(), "");
    EXPECT_EQ(roles[3].getToken(), "");
    EXPECT_EQ(roles[4].getToken(), "");

    const KRJoinMeetingConfig config(KRUserRole::host("t"), true, false);
    EXPECT_EQ(config.userRole(), KRUserRole::host("t"));
    EXPECT_TRUE(config.isInitialAudioOn());
    EXPECT_FALSE(config.isInitialVideoOn());
    EXPECT_FALSE(config.canShareScreen());
    EXPECT_FALSE(config.canShareWhiteBoard());
}

}  // namespace
}  // namespace kr
