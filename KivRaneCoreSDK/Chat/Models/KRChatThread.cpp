#include "KivRaneCoreSDK/Chat/Models/KRChatThread.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRChatThread, JsonDecodingError> KRChatThread::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRChatThread t;
    t.id = r.required<std::string>("_id");
    t.kivraneId = r.lenientOptional<std::string>("kivraneId");
    t.name = r.lenientOptional<std::string>("name");
    t.status = r.lenientOptional<std::string>("status");
    t.context = r.lenientOptional<std::string>("context");
    t.createdBy = r.lenientOptional<std::string>("createdBy");
    t.modifiedAt = r.lenientOptional<std::chrono::system_clock::time_point>("modifiedAt");
    t.isRestrictedChat = r.lenientOptional<bool>("isRestrictedChat");
    t.update = r.lenientOptional<bool>("update");
    t.numberOfAttachments = r.lenientOptional<std::int64_t>("numberOfAttachments");
    t.members = r.lenientOptional<std::vector<KRChatParticipant>>("members");
    return r.finish(std::move(t));
}

}  // namespace kr
