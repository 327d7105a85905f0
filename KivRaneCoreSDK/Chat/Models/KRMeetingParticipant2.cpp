#include "KivRaneCoreSDK/Chat/Models/KRMeetingParticipant2.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

void KRMeetingParticipant2::setUnreadStatus(std::string_view localUserId) {
    if (!recipients) {
        return;
    }
    for (const Recipient& recipient : *recipients) {
        if (recipient.userId == localUserId) {
            unread = recipient.unread;
            return;
        }
    }
    unread.reset();
}

Result<KRMeetingParticipant2, JsonDecodingError> KRMeetingParticipant2::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRMeetingParticipant2 entry;
    entry.memberId = r.required<std::string>("member");
    {
        JsonObjectReader info = r.object("memberInfo");
        entry.name = info.required<std::string>("name");
        entry.lname = info.required<std::string>("lname");
    }
    const JsonObjectReader thread = r.lenientObject("threadInfo");
    entry.lastMessageId = thread.lenientOptional<std::string>("lastMessageId");
    const JsonObjectReader last = thread.lenientObject("lastMessage");
    entry.threadId = last.lenientOptional<std::string>("threadId");
    entry.recipients = last.lenientOptional<std::vector<Recipient>>("recipients");
    return r.finish(std::move(entry));
}

}  // namespace kr
