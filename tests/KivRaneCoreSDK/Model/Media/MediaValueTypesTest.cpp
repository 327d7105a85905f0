#include <gtest/gtest.h>

#include <string>

#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcParticipant.h"
#include "platform/Media/MediaCodes.h"

namespace kr {
namespace {

TEST(MediaValueTypesTest, RawValuesAndRouteTexts) {
    for (int raw = 0; raw <= 3; ++raw) {
        ASSERT_TRUE(krNetworkQualityFromRaw(raw));
        EXPECT_EQ(rawValue(*krNetworkQualityFromRaw(raw)), raw);
    }
    EXPECT_FALSE(krNetworkQualityFromRaw(4));
    EXPECT_FALSE(krNetworkQualityFromRaw(-1));

    const std::string texts[] = {"Built in Speaker",
                                 "Externel Device: BlueTooth",
                                 "Built in Reciever",
                                 "External Device: Wired Headset",
                                 "Output Audio Disconnected",
                                 "Any Other Device"};
    for (int raw = 0; raw <= 5; ++raw) {
        const auto route = krAudioRouteTypeFromRaw(raw);
        ASSERT_TRUE(route);
        EXPECT_EQ(rawValue(*route), raw);
        EXPECT_EQ(description(*route), texts[raw]);
    }
    EXPECT_FALSE(krAudioRouteTypeFromRaw(6));
    EXPECT_FALSE(krAudioRouteTypeFromRaw(-1));
}

TEST(MediaValueTypesTest, UserLeftReasonEquality) {
    EXPECT_EQ(KRUserLeftReason::removedFromMeeting("A"), KRUserLeftReason::removedFromMeeting("A"));
    EXPECT_NE(KRUserLeftReason::removedFromMeeting("A"), KRUserLeftReason::removedFromMeeting("B"));
    EXPECT_NE(KRUserLeftReason::removedFromMeeting(""), KRUserLeftReason::leaveMeeting());
    EXPECT_NE(KRUserLeftReason::removedFromMeeting(""), KRUserLeftReason::none());
    EXPECT_NE(KRUserLeftReason::leaveMeeting(), KRUserLeftReason::networkDropped());
    EXPECT_EQ(KRUserLeftReason::becomeAudience(), KRUserLeftReason::becomeAudience());
    EXPECT_EQ(KRUserLeftReason(), KRUserLeftReason::none());
}

TEST(MediaValueTypesTest, NewParticipantIsMutedAudienceWithItsViewInItsCanvas) {
    KRRtcParticipant participant(42, platform::MediaCodes::kRenderFit);
    EXPECT_TRUE(participant.isAudioMuted());
    EXPECT_TRUE(participant.isVideoMuted());
    EXPECT_FALSE(participant.isLoudest());
    EXPECT_TRUE(participant.isAudience());
    const auto canvas = participant.getRtcCanvas();
    EXPECT_EQ(canvas->uid, 42u);
    EXPECT_EQ(canvas->renderMode, platform::MediaCodes::kRenderFit);
    ASSERT_TRUE(participant.getRtcCanvasView());
    EXPECT_EQ(canvas->view, participant.getRtcCanvasView());

    // The view and the canvas's view are separate references.
    participant.setCanvasVideoView(nullptr);
    EXPECT_EQ(participant.getRtcCanvasView(), nullptr);
    EXPECT_NE(canvas->view, nullptr);
}

}  // namespace
}  // namespace kr
