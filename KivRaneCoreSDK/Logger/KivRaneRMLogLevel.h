#pragma once

#include <cstdint>
#include <optional>

namespace kr {

/// Level of a diagnostic message. The raw value is what travels: the collector keeps its configured
/// level as a plain integer and writes a record's level as the decimal text of the raw value.
/// Levels have no ordering of their own; the collector compares raw values.
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
