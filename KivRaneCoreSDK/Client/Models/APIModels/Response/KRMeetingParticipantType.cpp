#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRMeetingParticipantType.h"

namespace kr {

std::optional<KRMeetingParticipantType> krMeetingParticipantTypeFromRaw(std::string_view raw) {
    if (raw == "speaker") {
        return KRMeetingParticipantType::speaker;
    }
    if (raw == "audience") {
        return KRMeetingParticipantType::audience;
    }
    return std::nullopt;
}

std::string_view rawValue(KRMeetingParticipantType value) noexcept {
    return value == KRMeetingParticipantType::speaker ? "speaker" : "audience";
}

Result<KRMeetingParticipantType, JsonDecodingError>
JsonValueDecoder<KRMeetingParticipantType>::decode(const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krMeetingParticipantTypeFromRaw,
                                           "KRMeetingParticipantType");
}

}  // namespace kr
