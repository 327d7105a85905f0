#include "testing/LocalMeetingService/MeetingRoomSetup.h"

#include <gtest/gtest.h>

namespace kr::test {
namespace {

TEST(MeetingRoomSetupTest, EachRoomArgumentGetsItsOwnHostToken) {
    const auto a = MeetingRoomSetup::fromArgument("111:1234");
    const auto b = MeetingRoomSetup::fromArgument("222:5678:room-b");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->meetingId, "111");
    EXPECT_EQ(a->pin, "1234");
    EXPECT_EQ(a->roomId, "room-111");
    EXPECT_EQ(b->roomId, "room-b");
    EXPECT_FALSE(a->hostToken.empty());
    EXPECT_NE(a->hostToken, b->hostToken);
    EXPECT_NE(a->hostToken, MeetingRoomSetup{}.hostToken);
    EXPECT_NE(MeetingRoomSetup::fromArgument("111:1234")->hostToken, a->hostToken)
        << "the same room named twice still gets a fresh token";
    EXPECT_FALSE(MeetingRoomSetup::fromArgument("111"));
    EXPECT_FALSE(MeetingRoomSetup::fromArgument(":1234"));
}

}  // namespace
}  // namespace kr::test
