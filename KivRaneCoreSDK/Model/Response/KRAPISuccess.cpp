#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRAPISuccess, JsonDecodingError> KRAPISuccess::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRAPISuccess reply;
    reply.isSuccess_ = r.required<bool>("success");
    return r.finish(reply);
}

}  // namespace kr
