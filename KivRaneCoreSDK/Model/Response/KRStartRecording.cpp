#include "KivRaneCoreSDK/Model/Response/KRStartRecording.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRStartRecording, JsonDecodingError> KRStartRecording::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRStartRecording reply;
    reply.id_ = r.required<std::string>("_id");
    return r.finish(std::move(reply));
}

}  // namespace kr
