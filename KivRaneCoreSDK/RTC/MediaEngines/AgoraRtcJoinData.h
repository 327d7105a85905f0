#pragma once

#include <optional>
#include <string>

#include <boost/json/object.hpp>
#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"

namespace kr {

/// The keys of the dictionaries the facade hands to AgoraRtcManager, and their typed form. The
/// facade builds the dictionaries with `toObject()` (or by hand with the same keys and value
/// forms); the wrapper reads them with `read`, where a missing or mistyped value takes its
/// default.
///
/// Value forms: texts and booleans as JSON strings and booleans; the role as "host", "speaker"
/// or "audience" (`roleValue`); the virtual background as an object (`backgroundValue`):
/// {"type":"blur","intensity":1...3}, {"type":"image","path":…}, {"type":"color","rgb":0xRRGGBB}
/// or {"type":"none"}.
struct AgoraRtcJoinData {
    static constexpr const char* kAppId = "web_rtc_app_id";
    static constexpr const char* kChannelId = "rtc_room_channel_id";
    static constexpr const char* kUserUid = "rtc_room_user_uid";
    static constexpr const char* kRtcToken = "rtc_room_user_token";
    static constexpr const char* kRtmToken = "rtm_room_user_token";
    static constexpr const char* kUserRole = "rtc_room_user_role";
    static constexpr const char* kVirtualBackground = "rtc_room_virtual_background";
    static constexpr const char* kInitialAudioOn = "rtc_room_initial_audio_on";
    static constexpr const char* kInitialVideoOn = "rtc_room_initial_video_on";

    std::string channelId;
    /// The engine uid as decimal text; also the messaging user id, exactly as given.
    std::string userUid = "0";
    std::string rtcToken;
    std::string rtmToken;
    std::optional<KRUserRole> role;
    std::optional<KRVirtualBackgroundType> virtualBackground;
    bool initialAudioOn = false;
    bool initialVideoOn = false;

    static AgoraRtcJoinData read(const boost::json::object& data);
    boost::json::object toObject() const;

    /// The app id of a set-up dictionary ("" when absent or not a text).
    static std::string readAppId(const boost::json::object& data);

    /// Whether the local microphone may go out from the start: under the room's hard mute only a
    /// host may start with audio on, whatever the join options asked for.
    static bool audioOnAtJoin(bool requested, bool isHardMuteEnabled, const KRUserRole& role);

    static boost::json::value roleValue(const KRUserRole& role);
    static std::optional<KRUserRole> roleFrom(const boost::json::value& value);
    static boost::json::value backgroundValue(const KRVirtualBackgroundType& background);
    static std::optional<KRVirtualBackgroundType> backgroundFrom(const boost::json::value& value);
};

}  // namespace kr
