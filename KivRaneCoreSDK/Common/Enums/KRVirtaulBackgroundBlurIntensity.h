#pragma once

#include <cstdint>
#include <optional>

#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// Strength of a background blur. The raw value is passed unchanged to the media engine as its
/// blur degree, and is the JSON form of the value (a bare number).
enum class KRVirtaulBackgroundBlurIntensity : std::uint64_t {
    low = 1,
    medium = 2,
    high = 3,
};

/// The case with this raw value, or nullopt for any other number.
std::optional<KRVirtaulBackgroundBlurIntensity> krVirtualBackgroundBlurIntensityFromRaw(
    std::uint64_t raw);

constexpr std::uint64_t rawValue(KRVirtaulBackgroundBlurIntensity value) noexcept {
    return static_cast<std::uint64_t>(value);
}

/// The JSON form: the raw value as a number.
boost::json::value toJson(KRVirtaulBackgroundBlurIntensity value);

/// Decodes from an unsigned integral JSON number 1, 2 or 3; anything else fails.
template <>
struct JsonValueDecoder<KRVirtaulBackgroundBlurIntensity> {
    static Result<KRVirtaulBackgroundBlurIntensity, JsonDecodingError> decode(
        const boost::json::value& v);
};

}  // namespace kr
