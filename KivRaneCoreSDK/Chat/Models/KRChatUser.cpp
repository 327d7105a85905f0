#include "KivRaneCoreSDK/Chat/Models/KRChatUser.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRChatUser, JsonDecodingError> KRChatUser::fromJson(const boost::json::value& v) {
    const JsonObjectReader r(v);
    KRChatUser user;
    user.name = r.lenientOptional<std::string>("name");
    user.lname = r.lenientOptional<std::string>("lname");
    user.userId = r.lenientOptional<std::string>("userId");
    return r.finish(std::move(user));
}

}  // namespace kr
