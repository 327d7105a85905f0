#include "KivRaneCoreSDK/Network/Requests/StartRecordingRequest.h"

namespace kr {

StartRecordingRequest::StartRecordingRequest(std::string_view historyId)
    : KRAPIRequest(KRAPIPath::startRecording(), KRHTTPMethod::post) {
    requestParameters["historyId"] = historyId;
}

}  // namespace kr
