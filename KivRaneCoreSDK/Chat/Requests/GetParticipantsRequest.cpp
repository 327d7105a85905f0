#include "KivRaneCoreSDK/Chat/Requests/GetParticipantsRequest.h"

#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

GetParticipantsRequest::GetParticipantsRequest(std::string_view meetingID,
                                               std::string_view threadID)
    : KRAPIRequest(KRAPIPath::getInCallParticipantList(std::string(threadID)),
                   KRHTTPMethod::get) {
    queryParameters["kivraneId"] = JsonEncoding::toValidUtf8(meetingID);
}

}  // namespace kr
