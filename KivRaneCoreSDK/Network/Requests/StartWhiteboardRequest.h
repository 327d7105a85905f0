#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRStartWhiteboard.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Opens our own whiteboard (POST "rooms/<id>/whiteboard/startsharing" with "participantUri"
/// and "historyId"); the remote variant instead asks for the keys to a board someone else has
/// open (GET "rooms/<id>/whiteboard", no body).
/// A plain value: build it, send it once through the network client, read its outcome.
struct StartWhiteboardRequest : KRAPIRequest<KRStartWhiteboard> {
    StartWhiteboardRequest(std::string_view kivraneId, std::string_view participantUri,
                           std::string_view historyId, bool remote);
};

}  // namespace kr
