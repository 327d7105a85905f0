#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace kr {

/// Reads the creation timestamps of chat messages: "2024-05-01T10:15:30.250+0200". The zone may
/// be "Z", "+hh:mm" or "+hhmm" (or "-"), the fraction of a second may be left out or carry any
/// number of digits (milliseconds are kept). No locale, calendar or device time zone takes part:
/// the same text always gives the same instant. Pure; safe from any thread.
struct ApiDateFormatter {
    using TimePoint = std::chrono::system_clock::time_point;

    /// The instant, or nullopt when the text is not such a timestamp (including impossible dates
    /// such as 2023-02-29, zones beyond 23:59 and instants the system clock cannot hold).
    static std::optional<TimePoint> parse(std::string_view text);
};

}  // namespace kr
