#include "KivRaneCoreSDK/Chat/Requests/MessageMarkReadRequest.h"

#include <boost/json/array.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

MessageMarkReadRequest::MessageMarkReadRequest(std::string_view lastMessageId,
                                               std::string_view threadID)
    : KRAPIRequest(KRAPIPath::markMessageAsRead(std::string(threadID)), KRHTTPMethod::post) {
    queryParameters["previous"] = "read";
    requestParameters["messageIds"] =
        boost::json::array{boost::json::string(JsonEncoding::toValidUtf8(lastMessageId))};
}

}  // namespace kr
