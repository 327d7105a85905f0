#include "KivRaneCoreSDK/Model/Response/KRLeaveChatThread.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRLeaveChatThread, JsonDecodingError> KRLeaveChatThread::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRLeaveChatThread reply;
    reply.id_ = r.required<std::string>("_id");
    return r.finish(std::move(reply));
}

}  // namespace kr
