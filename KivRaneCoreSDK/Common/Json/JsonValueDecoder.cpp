#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

#include <cmath>

namespace kr {
namespace json_detail {

namespace {
constexpr double kTwoPow63 = 9223372036854775808.0;
constexpr double kTwoPow64 = 18446744073709551616.0;

bool isWhole(double d) noexcept {
    return std::isfinite(d) && std::trunc(d) == d;
}
}  // namespace

const char* kindName(boost::json::kind k) noexcept {
    switch (k) {
        case boost::json::kind::null:
            return "null";
        case boost::json::kind::bool_:
            return "boolean";
        case boost::json::kind::int64:
        case boost::json::kind::uint64:
            return "integer";
        case boost::json::kind::double_:
            return "number";
        case boost::json::kind::string:
            return "string";
        case boost::json::kind::array:
            return "array";
        case boost::json::kind::object:
            return "object";
    }
    return "unknown";
}

JsonDecodingError typeMismatch(const char* expected, const boost::json::value& v) {
    return JsonDecodingError{{},
                             std::string("expected ") + expected + ", found " + kindName(v.kind())};
}

JsonDecodingError outOfRange(const boost::json::value& v) {
    if (v.is_double() && !isWhole(v.get_double())) {
        return JsonDecodingError{{}, "expected an integer, found a fractional number"};
    }
    return JsonDecodingError{{}, "integer out of range"};
}

std::optional<std::int64_t> asInt64(const boost::json::value& v) noexcept {
    switch (v.kind()) {
        case boost::json::kind::int64:
            return v.get_int64();
        case boost::json::kind::uint64:
            if (std::in_range<std::int64_t>(v.get_uint64())) {
                return static_cast<std::int64_t>(v.get_uint64());
            }
            return std::nullopt;
        case boost::json::kind::double_: {
            const double d = v.get_double();
            if (isWhole(d) && d >= -kTwoPow63 && d < kTwoPow63) {
                return static_cast<std::int64_t>(d);
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

std::optional<std::uint64_t> asUInt64(const boost::json::value& v) noexcept {
    switch (v.kind()) {
        case boost::json::kind::int64:
            if (v.get_int64() >= 0) {
                return static_cast<std::uint64_t>(v.get_int64());
            }
            return std::nullopt;
        case boost::json::kind::uint64:
            return v.get_uint64();
        case boost::json::kind::double_: {
            const double d = v.get_double();
            if (isWhole(d) && d >= 0.0 && d < kTwoPow64) {
                return static_cast<std::uint64_t>(d);
            }
            return std::nullopt;
        }
        default:
            return std::nullopt;
    }
}

}  // namespace json_detail

Result<std::chrono::system_clock::time_point, JsonDecodingError>
JsonValueDecoder<std::chrono::system_clock::time_point>::decode(const boost::json::value& v) {
    auto seconds = JsonValueDecoder<double>::decode(v);
    if (!seconds) {
        return Failure{json_detail::typeMismatch("a date (seconds since 2001)", v)};
    }
    if (auto date = JsonDate::fromReferenceSeconds(*seconds)) {
        return *date;
    }
    return Failure{JsonDecodingError{{}, "date out of range"}};
}

}  // namespace kr
