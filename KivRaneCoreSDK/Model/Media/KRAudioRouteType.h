#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace kr {

/// Where the meeting's audio is played. Compares and hashes by raw value.
enum class KRAudioRouteType : int {
    speaker = 0,
    blueTooth = 1,
    audioHandset = 2,
    headPhone = 3,
    audioOff = 4,
    other = 5,
};

/// The case with this raw value, or nullopt for any other integer.
std::optional<KRAudioRouteType> krAudioRouteTypeFromRaw(std::int64_t raw);

constexpr int rawValue(KRAudioRouteType value) noexcept {
    return static_cast<int>(value);
}

/// The text the host app shows for a route (spelling as the host app knows it).
const std::string& description(KRAudioRouteType route);

}  // namespace kr
