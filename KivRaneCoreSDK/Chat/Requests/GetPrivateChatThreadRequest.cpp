#include "KivRaneCoreSDK/Chat/Requests/GetPrivateChatThreadRequest.h"

#include <boost/json/array.hpp>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

GetPrivateChatThreadRequest::GetPrivateChatThreadRequest(std::string_view userID,
                                                         std::string_view currentUserID)
    : KRAPIRequest(KRAPIPath::getPrivateChatThread(), KRHTTPMethod::post) {
    const std::string other = JsonEncoding::toValidUtf8(userID);
    const std::string local = JsonEncoding::toValidUtf8(currentUserID);
    requestParameters["members"] = boost::json::array{other, local};
    requestParameters["context"] = local;
    requestParameters["admins"] = boost::json::array{local};
}

}  // namespace kr
