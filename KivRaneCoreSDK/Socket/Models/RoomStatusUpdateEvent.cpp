#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateEvent.h"

#include <array>
#include <utility>

namespace kr {

namespace {

constexpr std::array<std::pair<RoomStatusUpdateEvent, std::string_view>, 2> kEvents{{
    {RoomStatusUpdateEvent::update, "update"},
    {RoomStatusUpdateEvent::refresh, "refresh"},
}};

constexpr std::array<std::pair<RoomStatusUpdateActionType, std::string_view>, 5> kActions{{
    {RoomStatusUpdateActionType::leave, "leave"},
    {RoomStatusUpdateActionType::softMuteEnabled, "SoftMuteAllEnabled"},
    {RoomStatusUpdateActionType::hardMuteDisabled, "HardMuteAllDisabled"},
    {RoomStatusUpdateActionType::hardMuteEnabled, "HardMuteAllEnabled"},
    {RoomStatusUpdateActionType::unknown, "unknown"},
}};

template <class E, std::size_t N>
std::optional<E> fromTable(const std::array<std::pair<E, std::string_view>, N>& table,
                           std::string_view raw) noexcept {
    for (const auto& [value, text] : table) {
        if (text == raw) {
            return value;
        }
    }
    return std::nullopt;
}

template <class E, std::size_t N>
std::string_view toRaw(const std::array<std::pair<E, std::string_view>, N>& table,
                       E value) noexcept {
    for (const auto& [candidate, text] : table) {
        if (candidate == value) {
            return text;
        }
    }
    return {};
}

}  // namespace

std::optional<RoomStatusUpdateEvent> roomStatusUpdateEventFromRaw(std::string_view raw) noexcept {
    return fromTable(kEvents, raw);
}

std::string_view rawValue(RoomStatusUpdateEvent value) noexcept {
    return toRaw(kEvents, value);
}

std::optional<RoomStatusUpdateActionType> roomStatusUpdateActionTypeFromRaw(
    std::string_view raw) noexcept {
    return fromTable(kActions, raw);
}

std::string_view rawValue(RoomStatusUpdateActionType value) noexcept {
    return toRaw(kActions, value);
}

Result<RoomStatusUpdateEvent, JsonDecodingError> JsonValueDecoder<RoomStatusUpdateEvent>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, roomStatusUpdateEventFromRaw,
                                           "RoomStatusUpdateEvent");
}

Result<RoomStatusUpdateActionType, JsonDecodingError>
JsonValueDecoder<RoomStatusUpdateActionType>::decode(const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, roomStatusUpdateActionTypeFromRaw,
                                           "RoomStatusUpdateActionType");
}

}  // namespace kr
