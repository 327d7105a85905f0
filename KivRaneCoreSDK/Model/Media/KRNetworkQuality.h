#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// The local user's network quality as the host app sees it. Compares and hashes by raw value.
enum class KRNetworkQuality : int {
    good = 0,
    low = 1,
    bad = 2,
    detecting = 3,
};

/// The case with this raw value, or nullopt for any other integer.
std::optional<KRNetworkQuality> krNetworkQualityFromRaw(std::int64_t raw);

constexpr int rawValue(KRNetworkQuality value) noexcept {
    return static_cast<int>(value);
}

}  // namespace kr
