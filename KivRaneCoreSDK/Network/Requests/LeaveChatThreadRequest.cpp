#include "KivRaneCoreSDK/Network/Requests/LeaveChatThreadRequest.h"

#include <string>

namespace kr {

LeaveChatThreadRequest::LeaveChatThreadRequest(std::string_view threadID)
    : KRAPIRequest(KRAPIPath::leaveChatThread(std::string(threadID)), KRHTTPMethod::delete_) {}

}  // namespace kr
