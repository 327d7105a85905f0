#include "KivRaneCoreSDK/Chat/Models/KRThreadChatMessages.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRThreadChatMessages, JsonDecodingError> KRThreadChatMessages::fromJson(
    const boost::json::value& v) {
    // A non-object simply reads as a page with nothing in it.
    const JsonObjectReader r(v);
    KRThreadChatMessages page;
    page.messages = r.lenientOptional<std::vector<KRChatMessage>>("messages");
    page.moreAvailable = r.lenientOptional<bool>("moreAvailable");
    page.totalCount = r.lenientOptional<std::int64_t>("totalCount");
    page.unreadCount = r.lenientOptional<std::int64_t>("unreadCount");
    return page;
}

}  // namespace kr
