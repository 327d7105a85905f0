#pragma once

#include <boost/json/value.hpp>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateEvent.h"

namespace kr {

/// The payload of a room status push. Only the meeting id and the event type are required;
/// everything else falls back to a default when missing or malformed, and the participant list
/// is all or nothing (one unreadable record empties it rather than leaving a partial room).
/// Plain value.
struct RoomStatusUpdateSocketResponse {
    std::string kivRaneId;
    RoomStatusUpdateEvent eventType = RoomStatusUpdateEvent::update;
    std::vector<KRMeetingParticipant> participants;
    RoomStatusUpdateActionType actionType = RoomStatusUpdateActionType::unknown;
    /// Never sent by the service; kept empty.
    std::string removedUserId;
    /// The user id the push is about (the one who left, for a departure).
    std::string sourceId;

    static Result<RoomStatusUpdateSocketResponse, JsonDecodingError> fromJson(
        const boost::json::value& v);
};

}  // namespace kr
