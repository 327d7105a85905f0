#pragma once

#include <boost/json/value.hpp>
#include <cstddef>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// A list decoded element by element: elements that fail to decode are dropped and counted,
/// the good ones are kept in order. Used where one bad record must not cost the whole list
/// (participant lists). Plain value; no threading concerns.
template <class T>
struct JsonLossyList {
    std::vector<T> elements;
    /// Number of elements that failed to decode and were left out.
    std::size_t droppedCount = 0;
    /// True when the source was present but not an array at all (nothing could be kept).
    bool malformed = false;

    /// True when anything the server sent was lost: a dropped element or a malformed list.
    bool droppedElements() const noexcept { return droppedCount > 0 || malformed; }

    /// Decodes `v` element by element. Never fails: a non-array gives an empty, malformed list.
    static JsonLossyList decodeFrom(const boost::json::value& v) {
        JsonLossyList out;
        const boost::json::array* array = v.if_array();
        if (array == nullptr) {
            out.malformed = true;
            return out;
        }
        out.elements.reserve(array->size());
        for (const boost::json::value& element : *array) {
            auto decoded = JsonValueDecoder<T>::decode(element);
            if (decoded) {
                out.elements.push_back(std::move(decoded).value());
            } else {
                ++out.droppedCount;
            }
        }
        return out;
    }
};

/// As a nested value a lossy list needs an array; the elements inside are then lossy.
template <class T>
struct JsonValueDecoder<JsonLossyList<T>> {
    static Result<JsonLossyList<T>, JsonDecodingError> decode(const boost::json::value& v) {
        if (!v.is_array()) {
            return Failure{json_detail::typeMismatch("an array", v)};
        }
        return JsonLossyList<T>::decodeFrom(v);
    }
};

}  // namespace kr
