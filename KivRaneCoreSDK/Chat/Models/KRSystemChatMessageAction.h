#pragma once

#include <optional>
#include <string_view>

namespace kr {

/// What a system chat notice reports. The service only ever sends membership changes.
enum class KRSystemChatMessageAction { usermod };

/// "usermod".
std::string_view rawValue(KRSystemChatMessageAction action);

/// Exact, case-sensitive match of a raw value.
std::optional<KRSystemChatMessageAction> krSystemChatMessageActionFromRaw(std::string_view raw);

}  // namespace kr
