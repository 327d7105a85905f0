#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// The audio output route the host app asks for: `speaker` plays remote audio on the
/// loudspeaker, `device` with the loudspeaker off, `audioOff` mutes all remote audio.
/// The raw values are shared with the host app; compare and hash by case.
enum class KRAudioDeviceType : int {
    speaker = 0,
    device = 1,
    audioOff = 2,
};

/// The case with this raw value, or nullopt for any other integer.
std::optional<KRAudioDeviceType> krAudioDeviceTypeFromRaw(std::int64_t raw);

constexpr int rawValue(KRAudioDeviceType value) noexcept {
    return static_cast<int>(value);
}

}  // namespace kr
