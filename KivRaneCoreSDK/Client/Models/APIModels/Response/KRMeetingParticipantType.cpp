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
    const boost::json::string* text = v.if_string();
    if (text == nullptr) {
        return Failure{json_detail::typeMismatch("a participant type", v)};
    }
    if (auto type = krMeetingParticipantTypeFromRaw(*text)) {
        return *type;
    }
    return Failure{JsonDecodingError{{}, "unknown participant type"}};
}

}  // namespace kr
