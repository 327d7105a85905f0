#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

#include <charconv>
#include <cmath>
#include <cstddef>

#include "platform/Common/JsonNumbers.h"

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

/// Walks `text`, handing each well-formed UTF-8 sequence to `valid` and calling `invalid` once
/// for each maximal ill-formed subpart.
template <class Valid, class Invalid>
void walkUtf8(std::string_view text, Valid&& valid, Invalid&& invalid) {
    std::size_t subpart = 0;
    while (!text.empty()) {
        const std::size_t n = wellFormedLength(text, subpart);
        if (n == 0) {
            invalid();
            text.remove_prefix(subpart);
        } else {
            valid(text.substr(0, n));
            text.remove_prefix(n);
        }
    }
}

void appendEscapedAscii(char c, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
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
        default: {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20) {
                out += "\\u00";
                out.push_back(kHex[u >> 4]);
                out.push_back(kHex[u & 0xF]);
            } else {
                out.push_back(c);
            }
        }
    }
}

/// Appends `text` as the body of a JSON string literal: ill-formed UTF-8 replaced, quotes,
/// backslashes and control characters escaped.
void appendEscaped(std::string_view text, std::string& out) {
    const auto plain = [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u >= 0x20 && u < 0x80 && c != '"' && c != '\\';
    };
    while (!text.empty()) {
        // Runs of printable ASCII go through whole; an ASCII byte never belongs to a multi-byte
        // sequence, so the text in between can be walked on its own.
        std::size_t run = 0;
        while (run < text.size() && plain(text[run])) {
            ++run;
        }
        out.append(text.substr(0, run));
        text.remove_prefix(run);
        std::size_t rest = 0;
        while (rest < text.size() && !plain(text[rest])) {
            ++rest;
        }
        walkUtf8(
            text.substr(0, rest),
            [&out](std::string_view sequence) {
                if (sequence.size() == 1) {
                    appendEscapedAscii(sequence.front(), out);
                } else {
                    out.append(sequence);
                }
            },
            [&out] { out.append(kReplacement); });
        text.remove_prefix(rest);
    }
}

template <class Number>
void appendNumber(Number n, std::string& out) {
    // Enough for any 64-bit integer and for the shortest round-trip form of any double.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, n);
    out.append(buffer, result.ptr);
}

/// Writes `v` as JSON. `indent` < 0 writes compact text; otherwise every member and element
/// goes on its own line, indented by `indent` spaces per level, with ": " after keys.
void write(const boost::json::value& v, int indent, std::size_t depth, std::string& out) {
    const auto newline = [&](std::size_t level) {
        if (indent >= 0) {
            out.push_back('\n');
            out.append(level * static_cast<std::size_t>(indent), ' ');
        }
    };
    switch (v.kind()) {
        case boost::json::kind::null:
            out += "null";
            return;
        case boost::json::kind::bool_:
            out += v.get_bool() ? "true" : "false";
            return;
        case boost::json::kind::int64:
            appendNumber(v.get_int64(), out);
            return;
        case boost::json::kind::uint64:
            appendNumber(v.get_uint64(), out);
            return;
        case boost::json::kind::double_:
            // JSON has no spelling for NaN or the infinities.
            if (std::isfinite(v.get_double())) {
                appendNumber(v.get_double(), out);
            } else {
                out += "null";
            }
            return;
        case boost::json::kind::string:
            out.push_back('"');
            appendEscaped(v.get_string(), out);
            out.push_back('"');
            return;
        case boost::json::kind::array: {
            const auto& array = v.get_array();
            out.push_back('[');
            for (std::size_t i = 0; i < array.size(); ++i) {
                if (i > 0) {
                    out.push_back(',');
                }
                newline(depth + 1);
                write(array[i], indent, depth + 1, out);
            }
            if (!array.empty()) {
                newline(depth);
            }
            out.push_back(']');
            return;
        }
        case boost::json::kind::object: {
            const auto& object = v.get_object();
            out.push_back('{');
            bool first = true;
            for (const auto& member : object) {
                if (!first) {
                    out.push_back(',');
                }
                first = false;
                newline(depth + 1);
                out.push_back('"');
                appendEscaped(member.key(), out);
                out += indent >= 0 ? "\": " : "\":";
                write(member.value(), indent, depth + 1, out);
            }
            if (!object.empty()) {
                newline(depth);
            }
            out.push_back('}');
            return;
        }
    }
}

std::string writeNoThrow(const boost::json::value& v, int indent) noexcept {
    try {
        std::string out;
        write(v, indent, 0, out);
        return out;
    } catch (...) {
        return {};  // out of memory
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
    walkUtf8(
        text, [&out](std::string_view sequence) { out.append(sequence); },
        [&out] { out.append(kReplacement); });
    return out;
}

std::string JsonEncoding::escape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    appendEscaped(text, out);
    return out;
}

std::string JsonEncoding::serialize(const boost::json::value& v) noexcept {
    return writeNoThrow(v, -1);
}

std::string JsonEncoding::serializePretty(const boost::json::value& v) noexcept {
    return writeNoThrow(v, 2);
}

bool JsonEncoding::allNumbersFinite(const boost::json::value& v) noexcept {
    return platform::allNumbersFinite(v);
}

}  // namespace kr
