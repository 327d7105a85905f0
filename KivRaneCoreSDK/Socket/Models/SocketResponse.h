#pragma once

#include <boost/json/value.hpp>
#include <string_view>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "KivRaneCoreSDK/Socket/Models/SocketEvent.h"

namespace kr {

/// One received room socket frame whose payload decodes as T. Only decoded, never built by
/// hand: the frame must be an object with a known "event" and a "data" member that reads as T;
/// other members are ignored. Plain value.
template <class T>
struct SocketResponse {
    SocketEvent event = SocketEvent::undefined;
    T data;

    static Result<SocketResponse, JsonDecodingError> fromJson(const boost::json::value& v) {
        JsonObjectReader reader(v);
        SocketResponse out;
        out.event = reader.required<SocketEvent>("event");
        out.data = reader.required<T>("data");
        return reader.finish(std::move(out));
    }

    static Result<SocketResponse, JsonDecodingError> decode(std::string_view bytes) {
        return decodeJson<SocketResponse>(bytes);
    }
};

}  // namespace kr
