#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// Severity of a diagnostic message. Only the number matters outside the program: the server
/// configures a number and each uploaded record carries one as text. Levels are compared for
/// equality only, never ranked.
enum class KivRaneRMLogLevel : int {
    DEBUG = 1,
    INFO = 2,
    WARN = 3,
    ERROR = 4,
};

/// The level with this raw value; 1 to 4 give a level, every other integer gives none.
std::optional<KivRaneRMLogLevel> kivRaneRMLogLevelFromRaw(std::int64_t raw);

/// The raw value of `level`.
constexpr int rawValue(KivRaneRMLogLevel level) noexcept {
    return static_cast<int>(level);
}

}  // namespace kr
