#include "KivRaneCoreSDK/Chat/Models/Recipient.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<Recipient, JsonDecodingError> Recipient::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    Recipient recipient;
    recipient.userId = r.required<std::string>("userId");
    recipient.unread = r.required<bool>("unread");
    return r.finish(std::move(recipient));
}

boost::json::object Recipient::toJson() const {
    boost::json::object out;
    out["userId"] = userId;
    out["unread"] = unread;
    return out;
}

}  // namespace kr
