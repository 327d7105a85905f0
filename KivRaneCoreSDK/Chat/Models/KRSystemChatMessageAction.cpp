#include "KivRaneCoreSDK/Chat/Models/KRSystemChatMessageAction.h"

namespace kr {

std::string_view rawValue(KRSystemChatMessageAction) {
    return "usermod";
}

std::optional<KRSystemChatMessageAction> krSystemChatMessageActionFromRaw(std::string_view raw) {
    if (raw == "usermod") {
        return KRSystemChatMessageAction::usermod;
    }
    return std::nullopt;
}

}  // namespace kr
