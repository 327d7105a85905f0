#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// The local participant's connection to the media service.
/// The raw values are shared with the host app; compare and hash by case.
enum class KRConnectionState : int {
    disconnected = 0,
    connecting = 1,
    connected = 2,
    reconnecting = 3,
    failed = 4,
};

/// The case with this raw value, or nullopt for any other integer.
std::optional<KRConnectionState> krConnectionStateFromRaw(std::int64_t raw);

constexpr int rawValue(KRConnectionState value) noexcept {
    return static_cast<int>(value);
}

}  // namespace kr
