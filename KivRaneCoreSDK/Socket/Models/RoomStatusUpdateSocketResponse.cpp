#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateSocketResponse.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<RoomStatusUpdateSocketResponse, JsonDecodingError> RoomStatusUpdateSocketResponse::fromJson(
    const boost::json::value& v) {
    JsonObjectReader reader(v);
    RoomStatusUpdateSocketResponse out;
    out.kivRaneId = reader.required<std::string>("kivraneId");
    out.eventType = reader.required<RoomStatusUpdateEvent>("eventType");
    out.actionType = reader.lenient("actionType", RoomStatusUpdateActionType::unknown);
    out.participants = reader.lenient("data", std::vector<KRMeetingParticipant>{});
    out.sourceId = reader.lenient("sourceId", std::string{});
    return reader.finish(std::move(out));
}

}  // namespace kr
