#include "KivRaneCoreSDK/Chat/Requests/GetChatThreadRequest.h"

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

GetChatThreadRequest::GetChatThreadRequest(std::string_view kivraneID)
    : KRAPIRequest(KRAPIPath::getChatThread(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = JsonEncoding::toValidUtf8(kivraneID);
}

}  // namespace kr
