#pragma once

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// Where a control message goes: the whole room channel or one peer. The raw texts travel on
/// the wire between participants' clients; compare and hash by case.
enum class KRRtmMessageType {
    publicChat,  // "PublicChat": every other member of the room channel
    peerToPeer,  // "PrivateChat": the one peer named by the message's target participant id
};

/// The case whose raw text equals `raw` byte for byte; nullopt for anything else (no trimming,
/// no case folding).
std::optional<KRRtmMessageType> krRtmMessageTypeFromRaw(std::string_view raw);
std::string_view rawValue(KRRtmMessageType value) noexcept;

/// Strict: a JSON string holding one of the two raw texts; anything else is an error.
template <>
struct JsonValueDecoder<KRRtmMessageType> {
    static Result<KRRtmMessageType, JsonDecodingError> decode(const boost::json::value& v);
};

}  // namespace kr
