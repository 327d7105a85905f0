#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// A room member as the server reports it (status replies and room-socket events).
/// Decoded as sent; the client replaces the display name with its host's contact name
/// (`ContactSyncManager::nameToShow`) before anyone sees it. Plain value.
struct KRMeetingParticipant {
    std::string userId;
    std::string participantUri;
    std::string participantId;
    std::string participantName;
    bool isMicOn = false;
    bool isVideoOn = false;
    std::string participantJoinTime;
    bool isSharingScreen = false;
    bool isHandRaise = false;
    bool isCoHost = false;
    bool isHost = false;
    /// Speaker for a record made by hand; a decoded record defaults to audience.
    KRMeetingParticipantType participantType = KRMeetingParticipantType::speaker;

    /// Everything but the three booleans "micStatus", "cameraStatus" and "isHandRaise" is
    /// optional; those must be present and boolean, inside an object.
    static Result<KRMeetingParticipant, JsonDecodingError> fromJson(const boost::json::value& v);

    /// Takes everything from `other` except the rights and the role (isCoHost, isHost,
    /// participantType), which stay as they are.
    void update(const KRMeetingParticipant& other);
};

}  // namespace kr
