#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRStartWhiteboard.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Starts a whiteboard share by the local user (POST "rooms/<id>/whiteboard/startsharing" with
/// "participantUri" and "historyId"), or in its remote form fetches the credentials of a
/// whiteboard another participant opened (GET "rooms/<id>/whiteboard", no body).
/// A plain value: build it, send it once through the network client, read its outcome.
struct StartWhiteboardRequest : KRAPIRequest<KRStartWhiteboard> {
    StartWhiteboardRequest(std::string_view kivraneId, std::string_view participantUri,
                           std::string_view historyId, bool remote);
};

}  // namespace kr
