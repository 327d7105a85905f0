#include "KivRaneCoreSDK/Common/Json/JsonDate.h"

#include <cmath>
#include <limits>

namespace kr {

namespace {
// Seconds between the Unix epoch and 2001-01-01T00:00:00Z.
constexpr std::int64_t kReferenceUnixSeconds = 978307200;
}  // namespace

JsonDate::TimePoint JsonDate::referenceDate() {
    return TimePoint{std::chrono::seconds{kReferenceUnixSeconds}};
}

std::optional<JsonDate::TimePoint> JsonDate::fromReferenceSeconds(double seconds) {
    if (!std::isfinite(seconds)) {
        return std::nullopt;
    }
    using Ticks = TimePoint::duration;
    const double ticksPerSecond =
        static_cast<double>(Ticks::period::den) / static_cast<double>(Ticks::period::num);
    // Both the time point and its distance from the reference date must fit in the clock's
    // ticks, or converting the date back to seconds later overflows.
    const double limit = static_cast<double>(std::numeric_limits<Ticks::rep>::max()) * 0.999;
    const auto fits = [&](double s) {
        const double ticks = s * ticksPerSecond;
        return ticks > -limit && ticks < limit;
    };
    const double sinceEpoch = seconds + static_cast<double>(kReferenceUnixSeconds);
    if (!fits(seconds) || !fits(sinceEpoch)) {
        return std::nullopt;
    }
    return TimePoint{Ticks{static_cast<Ticks::rep>(std::llround(sinceEpoch * ticksPerSecond))}};
}

double JsonDate::toReferenceSeconds(TimePoint date) {
    // Whole seconds and the rest apart: the clock's ticks from a date centuries back to the
    // reference date overflow, but whole seconds never do. Truncated towards zero, so the whole
    // seconds still fit in ticks near the clock's ends.
    const auto sinceEpoch = date.time_since_epoch();
    const auto whole = std::chrono::duration_cast<std::chrono::seconds>(sinceEpoch);
    const std::chrono::duration<double> rest = sinceEpoch - whole;
    return static_cast<double>(whole.count() - kReferenceUnixSeconds) + rest.count();
}

}  // namespace kr
