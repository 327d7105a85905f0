#include "KivRaneCoreSDK/Socket/Models/SocketEvent.h"

#include <array>
#include <utility>

namespace kr {

namespace {

constexpr std::array<std::pair<SocketEvent, std::string_view>, 8> kRawValues{{
    {SocketEvent::login, "login"},
    {SocketEvent::chatThread, "chatThreadAddOrEdit"},
    {SocketEvent::chatMessage, "chatMessage"},
    {SocketEvent::chatMessageUpdate, "chatMessageUpdate"},
    {SocketEvent::roomStatusUpdate, "roomconnectionstatusupdate"},
    {SocketEvent::recordingStarted, "recordingStarted"},
    {SocketEvent::recordingStopped, "recordingStopped"},
    {SocketEvent::undefined, ""},
}};

}  // namespace

std::optional<SocketEvent> socketEventFromRaw(std::string_view raw) noexcept {
    for (const auto& [event, text] : kRawValues) {
        if (text == raw) {
            return event;
        }
    }
    return std::nullopt;
}

std::string_view rawValue(SocketEvent event) noexcept {
    for (const auto& [candidate, text] : kRawValues) {
        if (candidate == event) {
            return text;
        }
    }
    return "";
}

Result<SocketEvent, JsonDecodingError> JsonValueDecoder<SocketEvent>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, socketEventFromRaw, "SocketEvent");
}

}  // namespace kr
