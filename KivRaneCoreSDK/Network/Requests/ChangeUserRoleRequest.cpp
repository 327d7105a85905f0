#include "KivRaneCoreSDK/Network/Requests/ChangeUserRoleRequest.h"

#include <boost/json/array.hpp>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {

ChangeUserRoleRequest::ChangeUserRoleRequest(std::string_view meetingID, std::string_view roomId,
                                             std::string_view roomPin,
                                             std::string_view participantId,
                                             const KRUserRole& newRole)
    : KRAPIRequest(KRAPIPath::changeUserRole(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingID;
    requestParameters["roomID"] = roomId;
    requestParameters["roomPin"] = roomPin;
    requestParameters["participantIds"] = boost::json::array{boost::json::string(participantId)};
    if (newRole.kind() == KRUserRole::Kind::audience) {
        requestParameters["participantType"] = rawValue(KRMeetingParticipantType::audience);
    } else if (newRole.kind() == KRUserRole::Kind::speaker) {
        requestParameters["participantType"] = rawValue(KRMeetingParticipantType::speaker);
    }
}

}  // namespace kr
