#pragma once

#include <optional>
#include <string_view>

namespace kr {

/// Keys the facade shares with the messaging managers and the host app (notification names).
enum class KRClientConstants {
    rtmMessageRecieved,
    sendRtmFromExternalSource,
};

/// The key's text on the wire.
std::string_view rawValue(KRClientConstants value);
/// The case with this text, or nullopt.
std::optional<KRClientConstants> krClientConstantsFromRaw(std::string_view raw);

}  // namespace kr
