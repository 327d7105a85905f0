#include "KivRaneCoreSDK/Network/Requests/HostActionsRequest.h"

#include <boost/json/array.hpp>

namespace kr {

HostActionsRequest::HostActionsRequest(std::string_view meetingId, std::string_view roomID,
                                       std::string_view meetingPin, bool isAllHandsDown,
                                       std::string_view handsDownParticipantId,
                                       std::string_view addedCoHostId,
                                       std::string_view removedCoHostId)
    : KRAPIRequest(KRAPIPath::hostActions(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomID;
    requestParameters["roomPin"] = meetingPin;
    requestParameters["allHandsDown"] = isAllHandsDown;
    const auto idList = [](std::string_view id) {
        boost::json::array list;
        if (!id.empty()) {
            list.emplace_back(id);
        }
        return list;
    };
    requestParameters["handsDownParticipantIds"] = idList(handsDownParticipantId);
    requestParameters["coHostsAdded"] = idList(addedCoHostId);
    requestParameters["coHostsRemoved"] = idList(removedCoHostId);
}

}  // namespace kr
