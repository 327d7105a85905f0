#pragma once

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// The event names of room socket frames that the library understands. The keep-alive and
/// acknowledgement names it sends are not among them: they only appear in outgoing frames.
enum class SocketEvent {
    login,
    chatThread,
    chatMessage,
    chatMessageUpdate,
    roomStatusUpdate,
    recordingStarted,
    recordingStopped,
    undefined,
};

/// Exact, case-sensitive match of a raw value (the empty text is `undefined`); nullopt otherwise.
std::optional<SocketEvent> socketEventFromRaw(std::string_view raw) noexcept;
std::string_view rawValue(SocketEvent event) noexcept;

/// Decodes only from a JSON string equal to one of the raw values.
template <>
struct JsonValueDecoder<SocketEvent> {
    static Result<SocketEvent, JsonDecodingError> decode(const boost::json::value& v);
};

}  // namespace kr
