#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

#include <boost/json/serialize.hpp>
#include <cmath>
#include <cstdint>
#include <exception>

namespace kr {

namespace {

/// Length of the well-formed UTF-8 sequence at the start of `s`, or 0 with `subpart` set to the
/// length of its maximal ill-formed subpart (at least 1).
std::size_t wellFormedLength(std::string_view s, std::size_t& subpart) noexcept {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char b0 = byte(0);
    subpart = 1;
    if (b0 < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        if (b0 == 0xE0) {
            lo = 0xA0;
        } else if (b0 == 0xED) {
            hi = 0x9F;  // no surrogates
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        if (b0 == 0xF0) {
            lo = 0x90;
        } else if (b0 == 0xF4) {
            hi = 0x8F;
        }
    } else {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (i >= s.size()) {
            return 0;
        }
        const unsigned char b = byte(i);
        const unsigned char min = i == 1 ? lo : 0x80;
        const unsigned char max = i == 1 ? hi : 0xBF;
        if (b < min || b > max) {
            return 0;
        }
        subpart = i + 1;
    }
    return length;
}

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

/// True when `v` holds something the serializer would write as invalid JSON.
bool needsRepair(const boost::json::value& v) noexcept {
    switch (v.kind()) {
        case boost::json::kind::string:
            return !JsonEncoding::isValidUtf8(v.get_string());
        case boost::json::kind::double_:
            return !std::isfinite(v.get_double());
        case boost::json::kind::array:
            for (const auto& element : v.get_array()) {
                if (needsRepair(element)) {
                    return true;
                }
            }
            return false;
        case boost::json::kind::object:
            for (const auto& member : v.get_object()) {
                if (!JsonEncoding::isValidUtf8(member.key()) || needsRepair(member.value())) {
                    return true;
                }
            }
            return false;
        default:
            return false;
    }
}

boost::json::value repaired(const boost::json::value& v) {
    switch (v.kind()) {
        case boost::json::kind::string:
            return boost::json::string(JsonEncoding::toValidUtf8(v.get_string()));
        case boost::json::kind::double_:
            return std::isfinite(v.get_double()) ? v : boost::json::value(nullptr);
        case boost::json::kind::array: {
            boost::json::array out;
            out.reserve(v.get_array().size());
            for (const auto& element : v.get_array()) {
                out.push_back(repaired(element));
            }
            return out;
        }
        case boost::json::kind::object: {
            boost::json::object out;
            out.reserve(v.get_object().size());
            for (const auto& member : v.get_object()) {
                // Two keys may collapse into one after repair; the first one is kept.
                out.emplace(JsonEncoding::toValidUtf8(member.key()), repaired(member.value()));
            }
            return out;
        }
        default:
            return v;
    }
}

}  // namespace

bool JsonEncoding::isValidUtf8(std::string_view text) noexcept {
    std::size_t subpart = 0;
    while (!text.empty()) {
        const std::size_t n = wellFormedLength(text, subpart);
        if (n == 0) {
            return false;
        }
        text.remove_prefix(n);
    }
    return true;
}

std::string JsonEncoding::toValidUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t subpart = 0;
    while (!text.empty()) {
        const std::size_t n = wellFormedLength(text, subpart);
        if (n == 0) {
            out.append(kReplacement);
            text.remove_prefix(subpart);
        } else {
            out.append(text.substr(0, n));
            text.remove_prefix(n);
        }
    }
    return out;
}

std::string JsonEncoding::escape(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    const std::string valid = toValidUtf8(text);
    std::string out;
    out.reserve(valid.size() + 8);
    for (const char c : valid) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\b':
                out += "\\b";
                break;
            case '\f':
                out += "\\f";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (u < 0x20) {
                    out += "\\u00";
                    out.push_back(kHex[u >> 4]);
                    out.push_back(kHex[u & 0xF]);
                } else {
                    out.push_back(c);
                }
        }
    }
    return out;
}

std::string JsonEncoding::serialize(const boost::json::value& v) noexcept {
    try {
        if (needsRepair(v)) {
            return boost::json::serialize(repaired(v));
        }
        return boost::json::serialize(v);
    } catch (const std::exception&) {
        return {};
    }
}

}  // namespace kr
