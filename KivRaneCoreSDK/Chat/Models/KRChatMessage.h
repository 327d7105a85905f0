#pragma once

#include <boost/json/value.hpp>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessageAttachment.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessageRecipient.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessageType.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatUser.h"
#include "KivRaneCoreSDK/Chat/Models/KRSystemChatMessageAction.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One chat message as the service delivers it (history pages, send replies, socket pushes):
/// either a normal text with optional files, or a system notice about members added or removed.
/// Only "_id" and "threadId" are required; everything else falls back to ""/absent when it is
/// missing or of another type, and a list with one unreadable entry is dropped whole.
/// Plain value; no identity of its own beyond `id`.
struct KRChatMessage {
    std::string createdAtString;  // "cOn" as received; read through createdAt()
    std::string id;               // "_id"
    std::string threadId;         // "threadId"
    KRChatMessageType messageType = KRChatMessageType::normal;  // "type"
    std::string kivraneId;                                      // "kivraneId"
    std::string creatorId;                                      // "createdBy"
    std::string creatorsName;                                   // "creatorsName"
    std::string creatorsLName;                                  // "creatorsLName"
    std::string messageText;  // "messageComponent.text" or "systemComponent.message"
    std::optional<std::vector<KRChatMessageAttachment>> attachments;  // normal messages only
    std::optional<std::vector<KRChatUser>> addedUsers;                // system messages only
    std::optional<std::vector<KRChatUser>> removedUsers;              // system messages only
    KRSystemChatMessageAction systemAction = KRSystemChatMessageAction::usermod;
    bool isSystemMessage = false;
    /// Set by the chat manager: true when someone other than the local user wrote it.
    bool isIncomingMessage = false;
    std::optional<std::vector<KRChatMessageRecipient>> reciepients;  // "recipients"

    /// The creation time; the current time when "cOn" was missing or unreadable.
    std::chrono::system_clock::time_point createdAt() const;
    bool isAttachmentMessage() const;
    /// The first attachment, if any.
    std::optional<KRChatMessageAttachment> attachment() const;
    /// The sender's first name, then " " and the last name when there is one. Always present.
    std::optional<std::string> getOwnerFullName() const;

    /// Fails for a non-object or when "_id" or "threadId" is missing, null or not text.
    static Result<KRChatMessage, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
