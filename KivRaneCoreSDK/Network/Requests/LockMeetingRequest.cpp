#include "KivRaneCoreSDK/Network/Requests/LockMeetingRequest.h"

namespace kr {

LockMeetingRequest::LockMeetingRequest(std::string_view roomID, std::string_view historyId)
    : KRAPIRequest(KRAPIPath::lockMeeting(), KRHTTPMethod::post) {
    requestParameters["roomID"] = roomID;
    requestParameters["historyId"] = historyId;
}

}  // namespace kr
