#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRJoinCall.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Tells the server we are entering a meeting's call; the reply holds the history id that
/// later calls refer to. The body is one object under "data" with thirteen string members, the fixed
/// device description and the device's local IP address ("machineIp", as the caller found it,
/// e.g. with `LocalIPAddress::getIPAddress()`; "" when none) included.
/// A plain value: build it, send it once through the network client, read its outcome.
struct JoinCallRequest : KRAPIRequest<KRJoinCall> {
    JoinCallRequest(std::string_view meetingID, std::string_view roomID,
                    std::string_view meetingPIN, std::string_view guestName,
                    std::string_view ownerName, std::string_view ownerID,
                    std::string_view meetingTitle, std::string_view authToken,
                    std::string_view machineIp);
};

}  // namespace kr
