#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"

#include <charconv>
#include <cmath>
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

// Finds the first number JSON cannot spell.
bool allFinite(const boost::json::value& v) {
    if (const double* d = v.if_double()) {
        return std::isfinite(*d);
    }
    if (const auto* a = v.if_array()) {
        for (const auto& e : *a) {
            if (!allFinite(e)) {
                return false;
            }
        }
    }
    if (const auto* o = v.if_object()) {
        for (const auto& m : *o) {
            if (!allFinite(m.value())) {
                return false;
            }
        }
    }
    return true;
}

void writePretty(const boost::json::value& v, std::size_t depth, std::string& out) {
    auto newline = [&out](std::size_t level) {
        out.push_back('\n');
        out.append(level * 2, ' ');
    };
    if (const auto* o = v.if_object()) {
        if (o->empty()) {
            out += "{}";
            return;
        }
        out.push_back('{');
        bool first = true;
        for (const auto& m : *o) {
            if (!first) {
                out.push_back(',');
            }
            first = false;
            newline(depth + 1);
            out.push_back('"');
            out += jsonEscape(m.key());
            out += "\": ";
            writePretty(m.value(), depth + 1, out);
        }
        newline(depth);
        out.push_back('}');
    } else if (const auto* a = v.if_array()) {
        if (a->empty()) {
            out += "[]";
            return;
        }
        out.push_back('[');
        bool first = true;
        for (const auto& e : *a) {
            if (!first) {
                out.push_back(',');
            }
            first = false;
            newline(depth + 1);
            writePretty(e, depth + 1, out);
        }
        newline(depth);
        out.push_back(']');
    } else {
        out += serializeJson(v);
    }
}

const char* const kNonFiniteMessage = "Invalid number value (NaN or infinity) in JSON write";

}  // namespace

std::uint64_t hexa(const platform::Color& color) {
    return (component255(color.red()) << 16) + (component255(color.green()) << 8) +
           component255(color.blue());
}

std::int64_t intValue(std::string_view text) {
    const auto parsed = parseDecimal(text);
    if (!parsed) {
        return 0;
    }
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    if (!parsed->negative) {
        return parsed->magnitude <= kMax ? static_cast<std::int64_t>(parsed->magnitude) : 0;
    }
    if (parsed->magnitude <= kMax) {
        return -static_cast<std::int64_t>(parsed->magnitude);
    }
    return parsed->magnitude == kMax + 1 ? std::numeric_limits<std::int64_t>::min() : 0;
}

std::uint64_t uintValue(std::string_view text) {
    const auto parsed = parseDecimal(text);
    if (!parsed || (parsed->negative && parsed->magnitude != 0)) {
        return 0;
    }
    return parsed->magnitude;
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
        boost::json::value v(dictionary);
        if (!allFinite(v)) {
            return std::string();
        }
        return serializeJson(v);
    } catch (...) {
        return std::string();
    }
}

Result<std::string, JsonSerializationError> toData(const boost::json::object& dictionary) {
    try {
        boost::json::value v(dictionary);
        if (!allFinite(v)) {
            return Failure{JsonSerializationError{kNonFiniteMessage}};
        }
        std::string out;
        writePretty(v, 0, out);
        return out;
    } catch (const std::exception& e) {
        return Failure{JsonSerializationError{e.what()}};
    } catch (...) {
        return Failure{JsonSerializationError{"JSON write failed"}};
    }
}

}  // namespace kr
