#include "KivRaneCoreSDK/Model/Response/KRUser.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRUser, JsonDecodingError> KRUser::fromJson(const boost::json::value& v) {
    const JsonObjectReader r(v);
    KRUser user;
    user.id = r.lenientOptional<std::string>("_id");
    user.name = r.lenientOptional<std::string>("name");
    user.lname = r.lenientOptional<std::string>("lname");
    user.userId = r.lenientOptional<std::string>("userId");
    user.tenantId = r.lenientOptional<std::string>("tenantId");
    return user;
}

std::optional<std::string> KRUser::getId() const {
    return id ? id : userId;
}

std::string KRUser::getFullName() const {
    std::string first = name.value_or("");
    const std::string last = lname.value_or("");
    if (last.empty()) {
        return first;
    }
    return first + " " + last;
}

}  // namespace kr
