#include "KivRaneCoreSDK/Model/Response/KRWebRtcAppId.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRWebRtcAppId, JsonDecodingError> KRWebRtcAppId::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRWebRtcAppId appId;
    appId.name = r.required<std::string>("name");
    appId.id = r.required<std::string>("id");
    return r.finish(std::move(appId));
}

}  // namespace kr
