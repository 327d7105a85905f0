#include "KivRaneCoreSDK/Model/Response/KRGuestLogin.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRGuestLogin, JsonDecodingError> KRGuestLogin::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRGuestLogin reply;
    reply.jwtToken_ = r.required<std::string>("jwt");
    reply.guestUserId_ = r.required<std::string>("guestUserId");
    reply.isHost_ = r.lenientOptional<bool>("isHost");
    return r.finish(std::move(reply));
}

}  // namespace kr
