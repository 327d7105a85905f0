#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <optional>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

namespace {

std::uint64_t component255(double c) {
    if (!(c > 0.0)) {  // also NaN
        return 0;
    }
    if (c >= 1.0) {
        return 255;
    }
    return static_cast<std::uint64_t>(c * 255.0);
}

struct ParsedInteger {
    bool negative;
    std::uint64_t magnitude;
};

// An optional sign, then one or more ASCII digits, nothing else; nullopt when the text is not
// that or its magnitude exceeds 64 bits.
std::optional<ParsedInteger> parseDecimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    std::uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        magnitude = magnitude * 10 + digit;
    }
    return ParsedInteger{negative, magnitude};
}

const char* const kNonFiniteMessage = "Invalid number value (NaN or infinity) in JSON write";

}  // namespace

std::uint64_t hexa(const platform::Color& color) {
    return (component255(color.red()) << 16) + (component255(color.green()) << 8) +
           component255(color.blue());
}

std::optional<std::int64_t> parseInt(std::string_view text) {
    const auto parsed = parseDecimal(text);
    if (!parsed) {
        return std::nullopt;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!parsed->negative) {
        if (parsed->magnitude > kMax) {
            return std::nullopt;
        }
        return static_cast<std::int64_t>(parsed->magnitude);
    }
    if (parsed->magnitude <= kMax) {
        return -static_cast<std::int64_t>(parsed->magnitude);
    }
    if (parsed->magnitude == kMax + 1) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return std::nullopt;
}

std::optional<std::uint64_t> parseUInt(std::string_view text) {
    const auto parsed = parseDecimal(text);
    if (!parsed || (parsed->negative && parsed->magnitude != 0)) {
        return std::nullopt;
    }
    return parsed->magnitude;
}

std::optional<std::uint64_t> mediaUidOf(std::string_view text) {
    // parseUInt takes a sign, which no uid the room gives carries.
    if (!std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const auto uid = parseUInt(text);
    return uid && *uid != 0 ? uid : std::nullopt;
}

std::int64_t intValue(std::string_view text) {
    return parseInt(text).value_or(0);
}

std::uint64_t uintValue(std::string_view text) {
    return parseUInt(text).value_or(0);
}

namespace conversions_detail {

std::string decimalText(std::int64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string decimalText(std::uint64_t value) {
    char buffer[24];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace conversions_detail

std::string asString(const boost::json::object& dictionary) {
    try {
        const boost::json::value v(dictionary);
        return JsonEncoding::allNumbersFinite(v) ? JsonEncoding::serialize(v) : std::string();
    } catch (...) {
        return std::string();  // out of memory while copying
    }
}

Result<std::string, JsonSerializationError> toData(const boost::json::object& dictionary) {
    try {
        const boost::json::value v(dictionary);
        if (!JsonEncoding::allNumbersFinite(v)) {
            return Failure{JsonSerializationError{kNonFiniteMessage}};
        }
        std::string out = JsonEncoding::serializePretty(v);
        if (out.empty()) {
            return Failure{JsonSerializationError{"out of memory while writing JSON"}};
        }
        return out;
    } catch (const std::exception& e) {
        return Failure{JsonSerializationError{e.what()}};
    }
}

}  // namespace kr
