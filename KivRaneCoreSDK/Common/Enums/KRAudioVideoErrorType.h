#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// Why our own microphone or camera stopped working, in the terms the host app receives.
/// The raw values are shared with the host app; compare and hash by case.
enum class KRAudioVideoErrorType : int {
    reconnectError = 0,
    deviceBusyError = 1,
    permissionError = 2,
    multipleAppsOrBackground = 3,
    ok = 4,
    unknown = 5,
};

/// The case with this raw value, or nullopt for any other integer.
std::optional<KRAudioVideoErrorType> krAudioVideoErrorTypeFromRaw(std::int64_t raw);

constexpr int rawValue(KRAudioVideoErrorType value) noexcept {
    return static_cast<int>(value);
}

}  // namespace kr
