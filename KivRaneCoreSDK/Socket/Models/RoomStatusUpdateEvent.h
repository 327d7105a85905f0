#pragma once

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// What a room status push asks for: merge the listed participants, or reload the room.
enum class RoomStatusUpdateEvent { update, refresh };

/// The detail of a room status push. The mute texts start with a capital letter and carry "All".
enum class RoomStatusUpdateActionType {
    leave,
    softMuteEnabled,
    hardMuteDisabled,
    hardMuteEnabled,
    unknown,
};

/// Exact, case-sensitive matches of the raw values; nullopt for any other text.
std::optional<RoomStatusUpdateEvent> roomStatusUpdateEventFromRaw(std::string_view raw) noexcept;
std::string_view rawValue(RoomStatusUpdateEvent value) noexcept;
std::optional<RoomStatusUpdateActionType> roomStatusUpdateActionTypeFromRaw(
    std::string_view raw) noexcept;
std::string_view rawValue(RoomStatusUpdateActionType value) noexcept;

template <>
struct JsonValueDecoder<RoomStatusUpdateEvent> {
    static Result<RoomStatusUpdateEvent, JsonDecodingError> decode(const boost::json::value& v);
};

template <>
struct JsonValueDecoder<RoomStatusUpdateActionType> {
    static Result<RoomStatusUpdateActionType, JsonDecodingError> decode(
        const boost::json::value& v);
};

}  // namespace kr
