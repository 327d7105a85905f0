#pragma once

#include <chrono>
#include <optional>

namespace kr {

/// Dates on the wire are seconds (a JSON number, fraction allowed) since the reference date
/// 2001-01-01T00:00:00Z. Pure functions; safe from any thread.
struct JsonDate {
    using TimePoint = std::chrono::system_clock::time_point;

    /// 2001-01-01T00:00:00Z.
    static TimePoint referenceDate();

    /// The time point `seconds` after the reference date; nullopt when not finite or when the
    /// time point, or its distance from the reference date, does not fit the system clock.
    static std::optional<TimePoint> fromReferenceSeconds(double seconds);

    /// Seconds from the reference date to `date` (negative before it).
    static double toReferenceSeconds(TimePoint date);
};

}  // namespace kr
