#pragma once

#include <concepts>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <boost/json/object.hpp>

#include "KivRaneCoreSDK/Common/Extensions/JsonSerializationError.h"
#include "platform/Common/Result.h"
#include "platform/UI/Color.h"

namespace kr {

// Small stateless conversions used across the media, messaging and virtual-background code.
// Pure functions; safe from any thread.

/// 0xRRGGBB from the colour's red, green and blue components: each is clamped to 0...1 (NaN
/// counts as 0), multiplied by 255 and truncated toward zero (0.5 gives 0x7F). Alpha is ignored.
std::uint64_t hexa(const platform::Color& color);

/// The whole text read as a base-10 integer: an optional '+' or '-', then one or more ASCII
/// digits, nothing else. nullopt when the text is not such a number or does not fit the type
/// ("-0" fits an unsigned integer).
std::optional<std::int64_t> parseInt(std::string_view text);
std::optional<std::uint64_t> parseUInt(std::string_view text);

/// A media channel uid given as text: plain ASCII digits of a number above 0 that fits. nullopt
/// for anything else (empty, a sign, spaces, overflow) and for 0, with which an engine picks a
/// uid of its own that nobody else knows the user by.
std::optional<std::uint64_t> mediaUidOf(std::string_view text);

/// `parseInt` / `parseUInt`, with 0 for text that is not such a number.
std::int64_t intValue(std::string_view text);
std::uint64_t uintValue(std::string_view text);

namespace conversions_detail {
std::string decimalText(std::int64_t value);
std::string decimalText(std::uint64_t value);
}  // namespace conversions_detail

/// Plain decimal text of an integer ("-7", "18446744073709551615"); no grouping, no '+'.
template <std::integral T>
requires(!std::same_as<T, bool>) std::string sringValue(T value) {
    if constexpr (std::is_signed_v<T>) {
        return conversions_detail::decimalText(static_cast<std::int64_t>(value));
    } else {
        return conversions_detail::decimalText(static_cast<std::uint64_t>(value));
    }
}

/// Compact JSON text of the dictionary, members in their stored order; "" when it cannot be
/// written (a NaN or infinite number). Text that is not valid UTF-8 is written with U+FFFD in
/// place of the bad bytes, so the result is always valid JSON. Never throws.
std::string asString(const boost::json::object& dictionary);

/// Pretty-printed JSON bytes of the dictionary (two-space indent, one member or element per
/// line, empty containers as "{}" and "[]"); fails when it cannot be written (a NaN or infinite
/// number). Text that is not valid UTF-8 is repaired as in `asString`. Never throws.
Result<std::string, JsonSerializationError> toData(const boost::json::object& dictionary);

}  // namespace kr
