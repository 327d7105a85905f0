#include "KivRaneCoreSDK/Model/Response/KRStartWhiteboard.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRStartWhiteboard, JsonDecodingError> KRStartWhiteboard::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRStartWhiteboard reply;
    reply.jwt_ = r.optional<std::string>("jwt");
    reply.whiteboardId_ = r.optional<std::string>("whiteboardId");
    return r.finish(std::move(reply));
}

}  // namespace kr
