// Input: a date as it comes on the wire, the JSON number of seconds since the reference date.
// Reading never overflows, whatever the year; a date read, written back as seconds and read
// again lands where the first reading did, within the rounding of a double.
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonDate.h"
#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kr;
using TimePoint = JsonDate::TimePoint;

// What converting `seconds` to clock ticks and back may cost: a few units in the last place of
// the distance from the Unix epoch (the clock's origin), plus the rounding to whole ticks.
double tolerance(double seconds) {
    const double sinceEpoch =
        std::fabs(seconds) + std::fabs(JsonDate::toReferenceSeconds(TimePoint{}));
    const double ulp = std::nextafter(sinceEpoch, std::numeric_limits<double>::infinity()) -
                       sinceEpoch;
    return 4 * ulp + 2e-9;
}

double secondsBetween(TimePoint a, TimePoint b) {
    const auto ticks = a > b ? a - b : b - a;  // both lie well inside the clock's range
    return std::chrono::duration<double>(ticks).count();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = json_detail::parseJson(text);
    if (!parsed || !parsed.value().is_number()) {
        return 0;
    }
    const auto seconds = JsonValueDecoder<double>::decode(parsed.value());
    const auto date = JsonValueDecoder<TimePoint>::decode(parsed.value());
    KR_FUZZ_CHECK(seconds.ok());
    if (!date) {
        return 0;
    }
    const double back = JsonDate::toReferenceSeconds(date.value());
    KR_FUZZ_CHECK(std::isfinite(back));
    KR_FUZZ_CHECK(std::fabs(back - seconds.value()) <= tolerance(seconds.value()));

    const auto written = json_detail::parseJson(serializeJson(boost::json::value(back)));
    KR_FUZZ_CHECK(written.ok());
    const auto again = JsonValueDecoder<TimePoint>::decode(written.value());
    KR_FUZZ_CHECK(again.ok());
    KR_FUZZ_CHECK(secondsBetween(again.value(), date.value()) <= 2 * tolerance(seconds.value()));
    return 0;
}
