#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Model/Response/KRVideoConfiguration.h"

namespace kr {

/// What the host app set with `setParameters` and what the configuration and the room details
/// said, as the client keeps it between joins.
struct ClientSettings {
    /// The room status polling interval when the configuration gives no usable one.
    static constexpr double kDefaultPollingSeconds = 25.0;

    // From the host app
    /// Media credentials were given: the join makes no server calls.
    bool shouldByPassAPICalls = false;
    bool shouldLeaveChatThreadOnLeave = false;
    /// No user token was given: the join logs in as a guest.
    bool isGuestUserFlow = true;
    std::string userJwtToken;
    std::string currentAppGroupName;
    std::string osType = "ios";
    std::optional<std::int64_t> participantsLimit;
    bool isParticipantsLimitSetByHost = false;
    /// The background the host chose for the local video; the next engine set-up applies it.
    std::optional<KRVirtualBackgroundType> virtualBackgroundType;
    /// Ids and media credentials the host gave ("kr_user_existing_id", "kr_room_id", "kr_uid",
    /// "kr_agora_token", "kr_rtm_token"): every join starts from these, never from what the
    /// previous meeting left in the room store.
    struct GivenIds {
        std::string guestUserId;
        std::string roomID;
        std::string userWebRtcId;
        std::string userWebRtcToken;
        std::string userWebRtmToken;
    } given;

    // From the configuration and the room details
    double pollingAPITimeInterval = kDefaultPollingSeconds;
    bool isWatermarkEnabled = false;
    std::string termsConditionUrl;
    bool userActiveSpeakerCallback = true;
    bool useLocalSpeakerSpeakingOnMuteCallback = true;
    std::int64_t activeSpeakerCallbackInterval = 0;
    std::optional<KRVideoConfiguration> highQualityVideoConfig;
    std::optional<KRVideoConfiguration> lowQualityVideoConfig;
};

}  // namespace kr
