#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "platform/UI/View.h"

namespace kr {
namespace {

std::shared_ptr<KRMeetingUser> makeUser(std::shared_ptr<KRAudioTrack> audio,
                                        std::shared_ptr<KRVideoTrack> video) {
    return std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "id-1",
                                                                     .userId = "user-1",
                                                                     .audioTrack = std::move(audio),
                                                                     .videoTrack = std::move(video),
                                                                     .displayName = "Ann",
                                                                     .isSpeaker = true,
                                                                     .isCoHost = true,
                                                                     .isHandRaised = true,
                                                                     .isSharingScreen = true,
                                                                     .isHost = true});
}

TEST(KRMeetingUserTest, ConstructorsFillTheFieldsAndNeverShareFreshTracks) {
    KRMeetingUser empty;
    KRMeetingUser other;
    EXPECT_NE(empty.audioTrack(), other.audioTrack());
    EXPECT_NE(empty.videoTrack(), other.videoTrack());

    auto user = makeUser(std::make_shared<KRAudioTrack>("id-1", true), nullptr);
    EXPECT_EQ(user->id(), "id-1");
    EXPECT_EQ(user->getUserGuestID(), "user-1");
    EXPECT_FALSE(user->isLoudest());
    EXPECT_FALSE(user->isHardAudioMuted());
    EXPECT_FALSE(user->audioTrack()->isHardAudioMuted());
    user->setUserId("changed");
    EXPECT_EQ(user->getUserGuestID(), "changed");
}

TEST(KRMeetingUserTest, TracksAreSharedByReferenceAndNeverNull) {
    auto audio = std::make_shared<KRAudioTrack>("id-1", false);
    auto video = std::make_shared<KRVideoTrack>("id-1", false, nullptr);
    auto first = makeUser(audio, video);
    auto second = makeUser(audio, video);

    first->audioTrack()->setIsMuted(true);
    first->videoTrack()->setIsMuted(true);
    EXPECT_TRUE(second->audioTrack()->isMuted());
    EXPECT_TRUE(second->videoTrack()->isMuted());

    // Null tracks: replaced at construction, ignored by the setters.
    auto nulls = makeUser(nullptr, nullptr);
    ASSERT_TRUE(nulls->audioTrack());
    ASSERT_TRUE(nulls->videoTrack());
    first->setAudioTrack(nullptr);
    first->setVideoTrack(nullptr);
    EXPECT_EQ(first->audioTrack(), audio);
    EXPECT_EQ(first->videoTrack(), video);
    auto share = std::make_shared<KRScreenShareTrack>("9", nullptr, nullptr, "u", "n");
    ASSERT_TRUE(share->audioTrack());
    ASSERT_TRUE(share->videoTrack());
    share->setVideoTrack(nullptr);
    EXPECT_TRUE(share->videoTrack());
}

TEST(KRMeetingUserTest, ResetVideoTrackDetachesOnlyTheTrackView) {
    auto superview = platform::View::create();
    auto trackView = platform::View::create();
    auto slotView = platform::View::create();
    superview->addSubview(trackView);
    auto video = std::make_shared<KRVideoTrack>("id-1", true, trackView);
    auto user = makeUser(std::make_shared<KRAudioTrack>("id-1", false), video);
    user->setVideoStreamView(slotView);

    user->resetVideoTrack();
    EXPECT_FALSE(trackView->superview());
    EXPECT_TRUE(superview->subviews().empty());
    EXPECT_FALSE(video->streamView());
    EXPECT_EQ(user->videoTrack(), video);
    EXPECT_TRUE(video->isMuted());
    EXPECT_EQ(user->videoStreamView(), slotView);

    user->resetVideoTrack();  // no view: only stays cleared
    EXPECT_FALSE(video->streamView());
}

TEST(KRMeetingUserTest, MediaTrackListsHoldUsersAndShares) {
    std::vector<std::shared_ptr<KRMediaTrack>> tracks = {
        std::make_shared<KRMeetingUser>(),
        std::make_shared<KRScreenShareTrack>("9", std::make_shared<KRAudioTrack>("9", true),
                                             std::make_shared<KRVideoTrack>("9", false, nullptr),
                                             "u1", "Ann")};
    int users = 0;
    for (const auto& track : tracks) {
        users += std::dynamic_pointer_cast<KRMeetingUser>(track) ? 1 : 0;
    }
    EXPECT_EQ(users, 1);
    EXPECT_EQ(tracks[0]->sourceType(), KRMediaTrackSourceType::user);
    EXPECT_EQ(tracks[1]->sourceType(), KRMediaTrackSourceType::screenShare);
    EXPECT_EQ(tracks[1]->id(), "9");
    EXPECT_EQ(tracks[1]->audioTrack()->sourceId(), "9");
    EXPECT_NE(std::hash<KRMediaTrackSourceType>{}(KRMediaTrackSourceType::user),
              std::hash<KRMediaTrackSourceType>{}(KRMediaTrackSourceType::screenShare));
}

}  // namespace
}  // namespace kr
