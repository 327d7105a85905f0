#pragma once

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// A server participant's role in the room.
enum class KRMeetingParticipantType {
    speaker,
    audience,
};

/// "speaker" or "audience" (exact case); nullopt for any other text.
std::optional<KRMeetingParticipantType> krMeetingParticipantTypeFromRaw(std::string_view raw);
std::string_view rawValue(KRMeetingParticipantType value) noexcept;

/// Decodes from a JSON string holding a raw value; anything else is an error.
template <>
struct JsonValueDecoder<KRMeetingParticipantType> {
    static Result<KRMeetingParticipantType, JsonDecodingError> decode(const boost::json::value& v);
};

}  // namespace kr
