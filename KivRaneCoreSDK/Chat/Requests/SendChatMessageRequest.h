#pragma once

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Chat/Models/KRSendAttachmentInfo.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Posts a message to a thread: POST "chat/thread/<id>/messages" with
/// {"messageComponent": {"text", "attachments": [] or [one file]}, "kivraneId"}. The file's one
/// address goes under "documentURL", "downloadURL" and "imageTrancodedURL"; its size is text.
/// Texts that are not valid UTF-8 are repaired (U+FFFD) before they enter the body.
/// A plain value: build it, send it once through the network client, read its outcome.
struct SendChatMessageRequest : KRAPIRequest<KRChatMessage> {
    SendChatMessageRequest(std::string_view threadID, std::string_view kivraneId,
                           std::string_view messageText,
                           const std::optional<KRSendAttachmentInfo>& attachment);
};

}  // namespace kr
