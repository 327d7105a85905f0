#include "KivRaneCoreSDK/Chat/Requests/GetChatMessagesRequest.h"

#include <string>

namespace kr {

GetChatMessagesRequest::GetChatMessagesRequest(std::string_view threadID)
    : KRAPIRequest(KRAPIPath::getChatThreadMessages(std::string(threadID)), KRHTTPMethod::get) {
    queryParameters["limit"] = kPageSize;
    queryParameters["offset"] = 0;
}

}  // namespace kr
