#include "KivRaneCoreSDK/Chat/Models/KRChatParticipant.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

std::string joinChatDisplayName(std::string_view first, std::string_view last) {
    std::string out(first);
    if (!last.empty()) {
        out.push_back(' ');
        out.append(last);
    }
    return out;
}

std::string KRChatParticipant::getFullName() const {
    return joinChatDisplayName(name.value_or(""), lname.value_or(""));
}

Result<KRChatParticipant, JsonDecodingError> KRChatParticipant::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRChatParticipant member;
    member.id = r.required<std::string>("_id");
    member.name = r.lenientOptional<std::string>("name");
    member.lname = r.lenientOptional<std::string>("lname");
    return r.finish(std::move(member));
}

}  // namespace kr
