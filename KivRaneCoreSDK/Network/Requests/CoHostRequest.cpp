#include "KivRaneCoreSDK/Network/Requests/CoHostRequest.h"

#include <boost/json/array.hpp>

namespace kr {

CoHostRequest::CoHostRequest(std::string_view meetingId, std::string_view roomId,
                             std::string_view roomPin, std::string_view participantId,
                             bool makeCoHost)
    : KRAPIRequest(KRAPIPath::hostActions(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomId;
    requestParameters["roomPin"] = roomPin;
    requestParameters[makeCoHost ? "coHostsAdded" : "coHostsRemoved"] =
        boost::json::array{boost::json::string(participantId)};
}

}  // namespace kr
