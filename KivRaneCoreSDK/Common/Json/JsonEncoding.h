#pragma once

#include <boost/json/value.hpp>
#include <string>
#include <string_view>

namespace kr {

/// Writing JSON without ever throwing. Objects keep their insertion order, so building a
/// boost::json::object member by member fixes the order of the keys on the wire.
/// Numbers are written as a typical JSON writer does: integers in plain decimal, doubles in
/// their shortest round-trip form ("2.5", "1", "0.1", "1e+300").
/// Pure functions; safe from any thread.
struct JsonEncoding {
    /// Compact JSON text of `v`. Text that is not valid UTF-8 (in strings and keys) is written
    /// with U+FFFD in place of the bad bytes and numbers that JSON cannot express (NaN,
    /// infinities) as null, so the output always parses (two keys that differ only in bad bytes
    /// are both written). Returns "" only when memory runs out.
    static std::string serialize(const boost::json::value& v) noexcept;

    /// The same text pretty-printed: one member or element per line, two spaces of indent per
    /// level, ": " after keys, empty containers as "{}" and "[]".
    static std::string serializePretty(const boost::json::value& v) noexcept;

    /// False when `v` holds a NaN or an infinity anywhere (numbers JSON cannot spell).
    static bool allNumbersFinite(const boost::json::value& v) noexcept;

    /// The body of a JSON string literal for `text` (no surrounding quotes): quotes, backslashes
    /// and control characters escaped, invalid UTF-8 replaced with U+FFFD.
    static std::string escape(std::string_view text);

    /// `text` with every ill-formed UTF-8 sequence replaced by U+FFFD (one per maximal
    /// ill-formed subpart); valid text is returned unchanged.
    static std::string toValidUtf8(std::string_view text);

    static bool isValidUtf8(std::string_view text) noexcept;
};

/// Shorthand for `JsonEncoding::serialize`.
inline std::string serializeJson(const boost::json::value& v) noexcept {
    return JsonEncoding::serialize(v);
}

/// Shorthand for `JsonEncoding::escape`.
inline std::string jsonEscape(std::string_view text) {
    return JsonEncoding::escape(text);
}

}  // namespace kr
