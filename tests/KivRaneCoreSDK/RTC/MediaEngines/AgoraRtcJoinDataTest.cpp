#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "platform/UI/Color.h"

namespace kr {
namespace {

using Data = AgoraRtcJoinData;

TEST(AgoraRtcJoinDataTest, RoundTripsAndDefaults) {
    Data data;
    data.channelId = "room";
    data.userUid = "42";
    data.rtcToken = "t1";
    data.rtmToken = "t2";
    data.role = KRUserRole::audience();
    data.virtualBackground = KRVirtualBackgroundType::image("/bg.png");
    data.initialAudioOn = true;
    const auto object = data.toObject();
    EXPECT_EQ(object.at("rtc_room_user_role"), "audience");
    EXPECT_EQ(object.at("rtc_room_initial_audio_on"), true);
    const auto back = Data::read(object);
    EXPECT_EQ(back.channelId, "room");
    EXPECT_EQ(back.userUid, "42");
    EXPECT_EQ(back.rtcToken, "t1");
    EXPECT_EQ(back.rtmToken, "t2");
    EXPECT_EQ(back.role, KRUserRole::audience());
    ASSERT_TRUE(back.virtualBackground && back.virtualBackground->ifImage());
    EXPECT_EQ(back.virtualBackground->ifImage()->path, "/bg.png");
    EXPECT_TRUE(back.initialAudioOn);
    EXPECT_FALSE(back.initialVideoOn);

    // Missing or mistyped values take their defaults.
    const auto empty = Data::read(boost::json::parse(R"({"rtc_room_user_uid":7,
        "rtc_room_user_role":"moderator","rtc_room_initial_video_on":"true",
        "rtc_room_virtual_background":{"type":"blur","intensity":9}})")
                                      .as_object());
    EXPECT_EQ(empty.userUid, "0");
    EXPECT_FALSE(empty.role);
    EXPECT_FALSE(empty.initialVideoOn);
    EXPECT_FALSE(empty.virtualBackground);
    EXPECT_EQ(Data::readAppId(boost::json::parse(R"({"web_rtc_app_id":5})").as_object()), "");
}

TEST(AgoraRtcJoinDataTest, BackgroundsKeepTheirCase) {
    const std::vector<KRVirtualBackgroundType> backgrounds = {
        KRVirtualBackgroundType::none(),
        KRVirtualBackgroundType::blur(KRVirtaulBackgroundBlurIntensity::high),
        KRVirtualBackgroundType::image("p"),
        KRVirtualBackgroundType::color(std::make_shared<platform::Color>(0.5, 0.25, 1.0)),
    };
    for (const auto& background : backgrounds) {
        const auto back = Data::backgroundFrom(Data::backgroundValue(background));
        ASSERT_TRUE(back);
        EXPECT_EQ(back->value().index(), background.value().index());
        const auto* color = background.ifColor();
        const auto* backColor = back->ifColor();
        if (color && backColor) {
            EXPECT_EQ(hexa(*backColor->color), hexa(*color->color));
        }
        const auto* blur = background.ifBlur();
        const auto* backBlur = back->ifBlur();
        if (blur && backBlur) {
            EXPECT_EQ(rawValue(backBlur->intensity), rawValue(blur->intensity));
        }
    }
    EXPECT_FALSE(Data::backgroundFrom(boost::json::parse(R"({"type":"color","rgb":-1})")));
    EXPECT_FALSE(Data::backgroundFrom(boost::json::parse(R"("blur")")));
}

TEST(AgoraRtcJoinDataTest, HardMuteKeepsEveryoneButTheHostSilentAtTheJoin) {
    const struct {
        bool requested;
        bool hardMute;
        KRUserRole role;
        bool on;
    } rows[] = {
        {true, false, KRUserRole::speaker(), true},
        {true, true, KRUserRole::speaker(), false},
        {true, true, KRUserRole::audience(), false},
        {true, true, KRUserRole::host("token"), true},
        {false, true, KRUserRole::host("token"), false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(Data::audioOnAtJoin(row.requested, row.hardMute, row.role), row.on);
    }
}

}  // namespace
}  // namespace kr
