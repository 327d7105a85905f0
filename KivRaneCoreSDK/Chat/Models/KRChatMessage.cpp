#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"

#include "KivRaneCoreSDK/Chat/Models/ApiDateFormatter.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatParticipant.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

std::chrono::system_clock::time_point KRChatMessage::createdAt() const {
    if (auto parsed = ApiDateFormatter::parse(createdAtString)) {
        return *parsed;
    }
    return std::chrono::system_clock::now();
}

bool KRChatMessage::isAttachmentMessage() const {
    return attachments && !attachments->empty();
}

std::optional<KRChatMessageAttachment> KRChatMessage::attachment() const {
    if (!isAttachmentMessage()) {
        return std::nullopt;
    }
    return attachments->front();
}

std::optional<std::string> KRChatMessage::getOwnerFullName() const {
    return joinChatDisplayName(creatorsName, creatorsLName);
}

Result<KRChatMessage, JsonDecodingError> KRChatMessage::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRChatMessage m;
    m.id = r.required<std::string>("_id");
    m.threadId = r.required<std::string>("threadId");
    if (!r.ok()) {
        return r.finish(std::move(m));
    }
    m.kivraneId = r.lenient<std::string>("kivraneId", "");
    m.reciepients = r.lenientOptional<std::vector<KRChatMessageRecipient>>("recipients");
    // Only the exact text "system" makes a notice; anything else is read as a normal message.
    m.messageType = r.lenient<std::string>("type", "") == "system" ? KRChatMessageType::system
                                                                    : KRChatMessageType::normal;
    m.creatorId = r.lenient<std::string>("createdBy", "");
    m.creatorsName = r.lenient<std::string>("creatorsName", "");
    m.creatorsLName = r.lenient<std::string>("creatorsLName", "");
    m.createdAtString = r.lenient<std::string>("cOn", "");

    if (m.messageType == KRChatMessageType::normal) {
        const JsonObjectReader content = r.lenientObject("messageComponent");
        m.isSystemMessage = false;
        m.messageText = content.lenient<std::string>("text", "");
        m.attachments =
            content.lenientOptional<std::vector<KRChatMessageAttachment>>("attachments");
    } else {
        const JsonObjectReader notice = r.lenientObject("systemComponent");
        m.isSystemMessage = true;
        m.messageText = notice.lenient<std::string>("message", "");
        m.addedUsers = notice.lenientOptional<std::vector<KRChatUser>>("usersAdded");
        m.removedUsers = notice.lenientOptional<std::vector<KRChatUser>>("usersRemoved");
        // "action" carries nothing: the only notice the service sends is a membership change.
    }
    m.systemAction = KRSystemChatMessageAction::usermod;
    m.isIncomingMessage = false;
    return r.finish(std::move(m));
}

}  // namespace kr
