#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
constexpr auto kTable = makeEnumTable<KRMeetingParticipantType, std::string_view>({
    {KRMeetingParticipantType::speaker, "speaker"},
    {KRMeetingParticipantType::audience, "audience"},
});
}  // namespace

std::optional<KRMeetingParticipantType> krMeetingParticipantTypeFromRaw(std::string_view raw) {
    return kTable.fromRaw(raw);
}

std::string_view rawValue(KRMeetingParticipantType value) noexcept {
    return kTable.toRaw(value);
}

Result<KRMeetingParticipantType, JsonDecodingError>
JsonValueDecoder<KRMeetingParticipantType>::decode(const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krMeetingParticipantTypeFromRaw,
                                           "KRMeetingParticipantType");
}

}  // namespace kr
