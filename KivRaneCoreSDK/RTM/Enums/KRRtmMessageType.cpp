#include "KivRaneCoreSDK/RTM/Enums/KRRtmMessageType.h"

namespace kr {

namespace {
constexpr std::string_view kPublicChat = "PublicChat";
constexpr std::string_view kPrivateChat = "PrivateChat";
}  // namespace

std::optional<KRRtmMessageType> krRtmMessageTypeFromRaw(std::string_view raw) {
    if (raw == kPublicChat) {
        return KRRtmMessageType::publicChat;
    }
    if (raw == kPrivateChat) {
        return KRRtmMessageType::peerToPeer;
    }
    return std::nullopt;
}

std::string_view rawValue(KRRtmMessageType value) noexcept {
    return value == KRRtmMessageType::peerToPeer ? kPrivateChat : kPublicChat;
}

Result<KRRtmMessageType, JsonDecodingError> JsonValueDecoder<KRRtmMessageType>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krRtmMessageTypeFromRaw, "KRRtmMessageType");
}

}  // namespace kr
