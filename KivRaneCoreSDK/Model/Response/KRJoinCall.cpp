#include "KivRaneCoreSDK/Model/Response/KRJoinCall.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRJoinCall, JsonDecodingError> KRJoinCall::fromJson(const boost::json::value& v) {
    const JsonObjectReader r(v);
    return KRJoinCall{r.lenient<std::string>("historyId", {})};
}

}  // namespace kr
