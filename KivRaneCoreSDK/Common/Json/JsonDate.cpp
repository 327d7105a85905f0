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
    const double ticks = (seconds + static_cast<double>(kReferenceUnixSeconds)) * ticksPerSecond;
    // Stay clear of the ends of the tick range: the conversion below must not overflow.
    const double limit = static_cast<double>(std::numeric_limits<Ticks::rep>::max()) * 0.999;
    if (!(ticks > -limit && ticks < limit)) {
        return std::nullopt;
    }
    return TimePoint{Ticks{static_cast<Ticks::rep>(std::llround(ticks))}};
}

double JsonDate::toReferenceSeconds(TimePoint date) {
    const std::chrono::duration<double> sinceReference = date - referenceDate();
    return sinceReference.count();
}

}  // namespace kr
