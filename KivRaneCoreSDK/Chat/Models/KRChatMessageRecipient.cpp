#include "KivRaneCoreSDK/Chat/Models/KRChatMessageRecipient.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRChatMessageRecipient, JsonDecodingError> KRChatMessageRecipient::fromJson(
    const boost::json::value& v) {
    const JsonObjectReader r(v);
    KRChatMessageRecipient recipient;
    recipient.userId = r.lenient<std::string>("userId", "");
    recipient.isDeleted = r.lenient<bool>("isDeleted", false);
    recipient.isUnread = r.lenient<bool>("isUnread", false);
    return r.finish(std::move(recipient));
}

}  // namespace kr
