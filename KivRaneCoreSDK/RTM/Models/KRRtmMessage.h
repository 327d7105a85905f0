#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "KivRaneCoreSDK/Common/Extensions/JsonSerializationError.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "KivRaneCoreSDK/RTM/Enums/KRRtmMessageEvent.h"
#include "KivRaneCoreSDK/RTM/Enums/KRRtmMessageType.h"
#include "platform/Common/Result.h"

namespace kr {

/// One in-meeting control message, sent as compact JSON text to the room channel or to one peer.
/// A plain value; copies are independent.
///
/// Text form, keys written in this order:
///   {"sender":{"name":…,"participantId":…,"userId":…},"reactionsType":…,"type":…,"message":…,
///    "targetParticipantId":…,"targetParticipantName":…,"agoraShareUid":…}
/// "reactionsType" only when not empty, "agoraShareUid" only when present; `targetHostUserId`
/// is never written (older clients do not write it either), so it is lost in transit.
///
/// Reading is lenient except for three things, any of which rejects the whole text: it must be
/// a JSON object, "sender" must be an object, and "type" must be exactly "PublicChat" or
/// "PrivateChat". Every other key falls back on its own: texts to "", an unrecognised or
/// missing "message" to `unknown`, "agoraShareUid" to absent unless it is a whole number in the
/// unsigned 64-bit range, and "reactionsType" to the decimal text of a whole number, the text
/// itself, or "". Unknown keys are ignored.
struct KRRtmMessage {
    KRRtmMessageType messageType = KRRtmMessageType::publicChat;
    KRRtmMessageEvent message = KRRtmMessageEvent::unknown;
    std::string senderParticipantId;  // the sender's id in the room's media and messaging channels
    std::string senderName;
    std::string senderUserId;
    std::string targetParticipantId;  // for a peer message also the peer it is sent to
    std::string targetParticipantName;
    std::string targetHostUserId;  // local only: never on the wire
    std::string reactionsType;     // the reaction of a reaction message, else empty
    std::optional<std::uint64_t> agoraShareUid;  // only in the screen-share start message

    /// Reads a message from a parsed JSON value with the rules above.
    static Result<KRRtmMessage, JsonDecodingError> fromJson(const boost::json::value& v);
    /// Parses and reads a received text. Never throws.
    static Result<KRRtmMessage, JsonDecodingError> decode(std::string_view text);

    /// The compact text to send. Fails, rather than sending altered data, when a text field is
    /// not valid UTF-8.
    Result<std::string, JsonSerializationError> encode() const;

    friend bool operator==(const KRRtmMessage&, const KRRtmMessage&) = default;
};

}  // namespace kr
