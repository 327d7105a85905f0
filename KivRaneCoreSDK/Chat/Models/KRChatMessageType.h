#pragma once

#include <optional>
#include <string_view>

namespace kr {

/// Kind of a chat message: an ordinary text (with optional files) or a notice from the service.
/// Raw values are the wire texts.
enum class KRChatMessageType { normal, system };

/// "message" or "system".
std::string_view rawValue(KRChatMessageType type);

/// Exact, case-sensitive match of a raw value.
std::optional<KRChatMessageType> krChatMessageTypeFromRaw(std::string_view raw);

}  // namespace kr
