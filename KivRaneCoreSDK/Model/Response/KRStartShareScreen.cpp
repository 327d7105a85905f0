#include "KivRaneCoreSDK/Model/Response/KRStartShareScreen.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRStartShareScreen, JsonDecodingError> KRStartShareScreen::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRStartShareScreen reply;
    reply.success_ = r.required<bool>("success");
    reply.message_ = r.optional<std::string>("message");
    const JsonObjectReader info = r.lenientObject("agoraScreenShareInfo");
    reply.agoraUid_ = info.lenient<std::uint64_t>("agoraUid", 0);
    reply.agoraToken_ = info.lenient<std::string>("agoraToken", {});
    return r.finish(std::move(reply));
}

}  // namespace kr
