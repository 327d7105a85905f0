#pragma once

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/object.hpp>
#include <boost/json/value.hpp>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "KivRaneCoreSDK/Common/Json/JsonLossyList.h"
#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reads the members of one JSON object by key with the four decoding rules, and remembers the
/// first failure so that model code can read every key and check once at the end:
///   required         missing, null or a bad value fails the decode;
///   lenient          missing, null or a bad value (a failing nested model included) gives the
///                    fallback, and the error is discarded;
///   optional         missing or null gives nullopt; a bad value fails the decode;
///   lenientOptional  anything but a good value gives nullopt.
/// Value conversions follow `JsonValueDecoder`. A reader over a non-object starts failed; its
/// lenient reads still give their fallbacks. The reader refers to the JSON value it was built
/// on, which must outlive it; a nested reader also refers to its parent. Not thread-safe; use
/// as a local variable in one decode.
class JsonObjectReader {
public:
    explicit JsonObjectReader(const boost::json::value& v, std::string path = {});

    JsonObjectReader(const JsonObjectReader&) = delete;
    JsonObjectReader& operator=(const JsonObjectReader&) = delete;
    JsonObjectReader(JsonObjectReader&&) = default;
    JsonObjectReader& operator=(JsonObjectReader&&) = delete;

    /// On failure: records the error and returns T{}.
    template <class T>
    T required(std::string_view key) {
        const boost::json::value* v = find(key);
        if (v == nullptr) {
            fail(key, missingMessage(key));
            return T{};
        }
        auto decoded = JsonValueDecoder<T>::decode(*v);
        if (!decoded) {
            fail(key, std::move(decoded).error());
            return T{};
        }
        return std::move(decoded).value();
    }

    template <class T>
    T lenient(std::string_view key, T fallback) const {
        if (const boost::json::value* v = find(key)) {
            auto decoded = JsonValueDecoder<T>::decode(*v);
            if (decoded) {
                return std::move(decoded).value();
            }
        }
        return fallback;
    }

    template <class T>
    std::optional<T> optional(std::string_view key) {
        const boost::json::value* v = find(key);
        if (v == nullptr) {
            return std::nullopt;
        }
        auto decoded = JsonValueDecoder<T>::decode(*v);
        if (!decoded) {
            fail(key, std::move(decoded).error());
            return std::nullopt;
        }
        return std::optional<T>(std::move(decoded).value());
    }

    template <class T>
    std::optional<T> lenientOptional(std::string_view key) const {
        if (const boost::json::value* v = find(key)) {
            auto decoded = JsonValueDecoder<T>::decode(*v);
            if (decoded) {
                return std::optional<T>(std::move(decoded).value());
            }
        }
        return std::nullopt;
    }

    /// An id sent either as a string (kept unchanged) or as a non-negative whole number (written
    /// in decimal); nullopt for anything else. Never fails the decode.
    std::optional<std::string> lenientIdText(std::string_view key) const;

    /// A list read element by element: missing or null gives an empty list; a value that is not
    /// an array gives an empty list marked malformed; bad elements are dropped and counted.
    /// Never fails the decode.
    template <class T>
    JsonLossyList<T> lossyList(std::string_view key) const {
        if (const boost::json::value* v = find(key)) {
            return JsonLossyList<T>::decodeFrom(*v);
        }
        return JsonLossyList<T>{};
    }

    /// A nested object whose failures are this reader's failures (path "key.inner"). When the
    /// key is missing, null or not an object this reader fails, and the nested reader is empty.
    /// The nested reader must not outlive this one.
    JsonObjectReader object(std::string_view key);

    /// A nested object read on its own: nothing that happens inside reaches this reader. When
    /// the key is missing, null or not an object the nested reader is empty (and not ok), so
    /// its lenient reads give their fallbacks.
    JsonObjectReader lenientObject(std::string_view key) const;

    /// Present and not null.
    bool has(std::string_view key) const { return find(key) != nullptr; }
    /// The member, or nullptr when missing (null is returned as a null value).
    const boost::json::value* raw(std::string_view key) const;
    /// True when the reader stands on a JSON object.
    bool isObject() const noexcept { return object_ != nullptr; }

    /// Records a failure of a model-level rule (the first failure wins).
    void fail(std::string_view key, std::string message);
    void fail(std::string_view key, JsonDecodingError nested);

    bool ok() const noexcept { return !error_.has_value(); }
    const std::optional<JsonDecodingError>& error() const noexcept { return error_; }

    /// The value when every required and optional read succeeded, else the first failure.
    template <class T>
    Result<std::decay_t<T>, JsonDecodingError> finish(T&& value) const {
        if (error_) {
            return Failure{*error_};
        }
        return std::forward<T>(value);
    }

private:
    JsonObjectReader(const boost::json::object* object, JsonObjectReader* parent, std::string path);

    /// The member when present and not null.
    const boost::json::value* find(std::string_view key) const;
    std::string missingMessage(std::string_view key) const;
    void record(JsonDecodingError error);

    /// Objects up to this size are searched key by key from `cursor_`; larger ones by hash.
    static constexpr std::size_t kOrderedSearchLimit = 32;

    const boost::json::object* object_ = nullptr;
    mutable std::size_t cursor_ = 0;      // where the next key search starts
    JsonObjectReader* parent_ = nullptr;  // failures are forwarded here, when set
    std::string path_;                    // root: the full path; nested: the key in the parent
    std::optional<JsonDecodingError> error_;
};

namespace json_detail {
/// Parses JSON text without throwing; the error names the parse failure. The document's memory
/// comes from `storage` (the default resource when empty).
Result<boost::json::value, JsonDecodingError> parseJson(std::string_view text,
                                                        boost::json::storage_ptr storage = {});
}  // namespace json_detail

/// Parses `text` and decodes it as T. Never throws: a parse error is a failure at the root.
template <class T>
Result<T, JsonDecodingError> decodeJson(std::string_view text) {
    // The document lives only while it is decoded: its nodes come from one arena that is freed
    // in one go, not node by node. Decoders that keep JSON values copy them out of it.
    boost::json::monotonic_resource arena(text.size());
    auto parsed = json_detail::parseJson(text, &arena);
    if (!parsed) {
        return Failure{std::move(parsed).error()};
    }
    return JsonValueDecoder<T>::decode(parsed.value());
}

}  // namespace kr
