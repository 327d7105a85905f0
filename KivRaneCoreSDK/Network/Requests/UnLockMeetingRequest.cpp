#include "KivRaneCoreSDK/Network/Requests/UnLockMeetingRequest.h"

namespace kr {

UnLockMeetingRequest::UnLockMeetingRequest(std::string_view roomID, std::string_view historyId)
    : KRAPIRequest(KRAPIPath::unLockMeeting(), KRHTTPMethod::post) {
    requestParameters["roomID"] = roomID;
    requestParameters["historyId"] = historyId;
}

}  // namespace kr
