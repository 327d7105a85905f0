#include "KivRaneCoreSDK/Network/Requests/StopRecordingRequest.h"

namespace kr {

StopRecordingRequest::StopRecordingRequest(std::string_view historyId)
    : KRAPIRequest(KRAPIPath::stopRecording(), KRHTTPMethod::post) {
    requestParameters["historyId"] = historyId;
}

}  // namespace kr
