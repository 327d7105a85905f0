#pragma once

#include <boost/json/value.hpp>
#include <chrono>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/Json/JsonDate.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// A type that decodes itself from one JSON value: the hook every reply model offers.
template <class T>
concept JsonDecodable = requires(const boost::json::value& v) {
    { T::fromJson(v) } -> std::same_as<Result<T, JsonDecodingError>>;
};

/// Strict conversion of one JSON value to T; the single place where the JSON type rules live.
///   bool         only from a JSON boolean;
///   integers     only from an integral JSON number in range of T (6.0 counts, 6.5 does not);
///   floating     from any JSON number;
///   std::string  only from a JSON string;
///   time_point   from a JSON number of seconds since 2001-01-01T00:00:00Z;
///   std::vector  from an array, all or nothing;
///   std::map     (string keys) from an object, all or nothing;
///   models       through `T::fromJson` (the `JsonDecodable` hook).
/// Other types (raw-value enums, for instance) specialise this template next to their
/// declaration. Errors carry a path relative to the value; callers put their key in front.
/// Stateless; safe from any thread.
template <class T>
struct JsonValueDecoder {
    static_assert(JsonDecodable<T>,
                  "T needs `static kr::Result<T, kr::JsonDecodingError> fromJson(const "
                  "boost::json::value&)` or a kr::JsonValueDecoder<T> specialisation");
    static Result<T, JsonDecodingError> decode(const boost::json::value& v) {
        return T::fromJson(v);
    }
};

namespace json_detail {

/// "boolean", "string", ... for error messages.
const char* kindName(boost::json::kind k) noexcept;

/// The failure "expected <expected>, found <kind of v>".
JsonDecodingError typeMismatch(const char* expected, const boost::json::value& v);

/// The failure for a whole number that does not fit the target type.
JsonDecodingError outOfRange(const boost::json::value& v);

/// A JSON number as a signed or unsigned 64-bit integer when it is whole and in range.
std::optional<std::int64_t> asInt64(const boost::json::value& v) noexcept;
std::optional<std::uint64_t> asUInt64(const boost::json::value& v) noexcept;

}  // namespace json_detail

template <>
struct JsonValueDecoder<bool> {
    static Result<bool, JsonDecodingError> decode(const boost::json::value& v) {
        if (const bool* b = v.if_bool()) {
            return *b;
        }
        return Failure{json_detail::typeMismatch("a boolean", v)};
    }
};

template <class T>
requires(std::integral<T> && !std::same_as<T, bool>) struct JsonValueDecoder<T> {
    static Result<T, JsonDecodingError> decode(const boost::json::value& v) {
        if (!v.is_number()) {
            return Failure{json_detail::typeMismatch("an integer", v)};
        }
        if constexpr (std::is_signed_v<T>) {
            if (auto n = json_detail::asInt64(v); n && std::in_range<T>(*n)) {
                return static_cast<T>(*n);
            }
        } else {
            if (auto n = json_detail::asUInt64(v); n && std::in_range<T>(*n)) {
                return static_cast<T>(*n);
            }
        }
        return Failure{json_detail::outOfRange(v)};
    }
};

template <std::floating_point T>
struct JsonValueDecoder<T> {
    static Result<T, JsonDecodingError> decode(const boost::json::value& v) {
        switch (v.kind()) {
            case boost::json::kind::double_: {
                const double d = v.get_double();
                // Narrowing a double beyond the target's range is undefined behaviour.
                if constexpr (std::numeric_limits<T>::max() < std::numeric_limits<double>::max()) {
                    if (std::isfinite(d) &&
                        std::fabs(d) > static_cast<double>(std::numeric_limits<T>::max())) {
                        return Failure{JsonDecodingError{{}, "number out of range"}};
                    }
                }
                return static_cast<T>(d);
            }
            case boost::json::kind::int64:
                return static_cast<T>(v.get_int64());
            case boost::json::kind::uint64:
                return static_cast<T>(v.get_uint64());
            default:
                return Failure{json_detail::typeMismatch("a number", v)};
        }
    }
};

template <>
struct JsonValueDecoder<std::string> {
    static Result<std::string, JsonDecodingError> decode(const boost::json::value& v) {
        if (const boost::json::string* s = v.if_string()) {
            return std::string(s->data(), s->size());
        }
        return Failure{json_detail::typeMismatch("a string", v)};
    }
};

template <>
struct JsonValueDecoder<std::chrono::system_clock::time_point> {
    static Result<std::chrono::system_clock::time_point, JsonDecodingError> decode(
        const boost::json::value& v);
};

/// Any JSON value, kept as it is (dynamic dictionaries such as settings). The copy takes the
/// default memory resource: the document it comes from may live in a short-lived arena.
template <>
struct JsonValueDecoder<boost::json::value> {
    static Result<boost::json::value, JsonDecodingError> decode(const boost::json::value& v) {
        return boost::json::value(v, boost::json::storage_ptr());
    }
};

template <>
struct JsonValueDecoder<boost::json::object> {
    static Result<boost::json::object, JsonDecodingError> decode(const boost::json::value& v) {
        if (const boost::json::object* o = v.if_object()) {
            return boost::json::object(*o, boost::json::storage_ptr());
        }
        return Failure{json_detail::typeMismatch("an object", v)};
    }
};

/// A list: every element must decode, or the list fails with the first bad element's error.
template <class T>
struct JsonValueDecoder<std::vector<T>> {
    static Result<std::vector<T>, JsonDecodingError> decode(const boost::json::value& v) {
        const boost::json::array* array = v.if_array();
        if (array == nullptr) {
            return Failure{json_detail::typeMismatch("an array", v)};
        }
        std::vector<T> out;
        out.reserve(array->size());
        for (std::size_t i = 0; i < array->size(); ++i) {
            auto element = JsonValueDecoder<T>::decode((*array)[i]);
            if (!element) {
                return Failure{std::move(element).error().under("[" + std::to_string(i) + "]")};
            }
            out.push_back(std::move(element).value());
        }
        return out;
    }
};

/// A string-keyed map from an object: every member must decode, or the map fails.
template <class T>
struct JsonValueDecoder<std::map<std::string, T>> {
    static Result<std::map<std::string, T>, JsonDecodingError> decode(const boost::json::value& v) {
        const boost::json::object* object = v.if_object();
        if (object == nullptr) {
            return Failure{json_detail::typeMismatch("an object", v)};
        }
        std::map<std::string, T> out;
        for (const auto& member : *object) {
            auto element = JsonValueDecoder<T>::decode(member.value());
            if (!element) {
                return Failure{std::move(element).error().under(member.key())};
            }
            out.emplace(std::string(member.key()), std::move(element).value());
        }
        return out;
    }
};

/// Decodes one JSON value as T with the rules above.
template <class T>
Result<T, JsonDecodingError> decodeJsonValue(const boost::json::value& v) {
    return JsonValueDecoder<T>::decode(v);
}

/// Decodes an enumeration with raw values: the raw value by its own strict rule, then `fromRaw`
/// (a function from the raw value to an optional case). A raw value with no case fails, naming
/// `typeName` and the value. Use it to write a `JsonValueDecoder` specialisation in one line.
template <class Raw, class FromRaw>
auto decodeRawValueEnum(const boost::json::value& v, FromRaw fromRaw, std::string_view typeName)
    -> Result<typename std::invoke_result_t<FromRaw, const Raw&>::value_type, JsonDecodingError> {
    auto raw = JsonValueDecoder<Raw>::decode(v);
    if (!raw) {
        return Failure{std::move(raw).error()};
    }
    if (auto value = fromRaw(raw.value())) {
        return *value;
    }
    std::string shown;
    if constexpr (std::is_arithmetic_v<Raw>) {
        shown = std::to_string(raw.value());
    } else {
        shown = "\"" + std::string(raw.value()) + "\"";
    }
    return Failure{JsonDecodingError{
        {}, "cannot initialize " + std::string(typeName) + " from invalid raw value " + shown}};
}

}  // namespace kr
