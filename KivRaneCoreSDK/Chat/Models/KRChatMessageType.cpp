#include "KivRaneCoreSDK/Chat/Models/KRChatMessageType.h"

namespace kr {

std::string_view rawValue(KRChatMessageType type) {
    return type == KRChatMessageType::system ? "system" : "message";
}

std::optional<KRChatMessageType> krChatMessageTypeFromRaw(std::string_view raw) {
    if (raw == "message") {
        return KRChatMessageType::normal;
    }
    if (raw == "system") {
        return KRChatMessageType::system;
    }
    return std::nullopt;
}

}  // namespace kr
