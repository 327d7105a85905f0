#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

#include <cstdint>
#include <exception>
#include <utility>

#include "platform/Common/JsonNumbers.h"

namespace kr {

namespace {
const boost::json::value& nullValue() {
    static const boost::json::value null;
    return null;
}
}  // namespace

JsonObjectReader::JsonObjectReader(const boost::json::value& v, std::string path)
    : object_(v.if_object()), path_(std::move(path)) {
    if (object_ == nullptr) {
        error_ = json_detail::typeMismatch("an object", v);
        error_->key = path_;
    }
}

JsonObjectReader::JsonObjectReader(const boost::json::object* object, JsonObjectReader* parent,
                                   std::string path)
    : object_(object), parent_(parent), path_(std::move(path)) {}

JsonObjectReader JsonObjectReader::object(std::string_view key) {
    const boost::json::value* v = raw(key);
    if (v == nullptr || !v->is_object()) {
        JsonDecodingError error = v == nullptr || v->is_null()
                                      ? JsonDecodingError{{}, missingMessage(key)}
                                      : json_detail::typeMismatch("an object", *v);
        fail(key, error);
        JsonObjectReader empty(nullptr, nullptr, std::string(key));
        empty.error_ = std::move(error);
        return empty;
    }
    return JsonObjectReader(&v->get_object(), this, std::string(key));
}

JsonObjectReader JsonObjectReader::lenientObject(std::string_view key) const {
    const boost::json::value* v = raw(key);
    return JsonObjectReader(v != nullptr ? *v : nullValue(),
                            JsonDecodingError::joinPath(path_, key));
}

std::optional<std::string> JsonObjectReader::lenientIdText(std::string_view key) const {
    if (auto text = lenientOptional<std::string>(key)) {
        return text;
    }
    if (auto number = lenientOptional<std::uint64_t>(key)) {
        return std::to_string(*number);
    }
    return std::nullopt;
}

const boost::json::value* JsonObjectReader::raw(std::string_view key) const {
    if (object_ == nullptr) {
        return nullptr;
    }
    // Models read their keys mostly in the order they are sent, so the search starts just past
    // the last key found and wraps around: in that order each read compares one key. Keys are
    // unique in a parsed object, so where the search starts does not change what it finds. Large
    // objects are hashed by Boost and looked up directly.
    const std::size_t count = object_->size();
    if (count > kOrderedSearchLimit) {
        auto it = object_->find(key);
        return it == object_->end() ? nullptr : &it->value();
    }
    const boost::json::key_value_pair* members = object_->begin();
    std::size_t i = cursor_ < count ? cursor_ : 0;
    for (std::size_t step = 0; step < count; ++step) {
        if (members[i].key() == key) {
            cursor_ = i + 1;
            return &members[i].value();
        }
        if (++i == count) {
            i = 0;
        }
    }
    return nullptr;
}

const boost::json::value* JsonObjectReader::find(std::string_view key) const {
    const boost::json::value* v = raw(key);
    return v != nullptr && !v->is_null() ? v : nullptr;
}

std::string JsonObjectReader::missingMessage(std::string_view key) const {
    const boost::json::value* v = raw(key);
    return v == nullptr ? "is missing" : "is null";
}

void JsonObjectReader::fail(std::string_view key, std::string message) {
    record(JsonDecodingError{std::string(key), std::move(message)});
}

void JsonObjectReader::fail(std::string_view key, JsonDecodingError nested) {
    record(std::move(nested).under(key));
}

void JsonObjectReader::record(JsonDecodingError error) {
    // Paths are relative to this reader until they reach the root, which adds its own prefix.
    if (parent_ != nullptr) {
        if (!error_) {
            error_ = error;
        }
        parent_->record(std::move(error).under(path_));
        return;
    }
    if (!error_) {
        error_ = std::move(error).under(path_);
    }
}

namespace json_detail {

Result<boost::json::value, JsonDecodingError> parseJson(std::string_view text,
                                                        boost::json::storage_ptr storage) {
    try {
        boost::system::error_code ec;
        boost::json::value parsed = platform::parseJson(text, ec, {}, std::move(storage));
        if (ec) {
            return Failure{JsonDecodingError{{}, "invalid JSON: " + ec.message()}};
        }
        return parsed;
    } catch (const std::exception& e) {
        // Only allocation failures can get here.
        return Failure{JsonDecodingError{{}, std::string("invalid JSON: ") + e.what()}};
    }
}

}  // namespace json_detail

}  // namespace kr
