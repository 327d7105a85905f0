#pragma once

#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRMeetingParticipant2.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Lists the members of a thread: GET "chat/thread/<id>/getsortedmembers/?kivraneId=<meeting>".
/// The reply is an array of entries; one bad entry fails the whole reply.
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetParticipantsRequest : KRAPIRequest<std::vector<KRMeetingParticipant2>> {
    GetParticipantsRequest(std::string_view meetingID, std::string_view threadID);
};

}  // namespace kr
