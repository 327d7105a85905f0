#include "KivRaneCoreSDK/RTM/Enums/KRRtmMessageEvent.h"

#include <array>

namespace kr {

namespace {

// Indexed by case, in declaration order.
constexpr std::array<std::string_view, kKRRtmMessageEventCount> kRawTexts = {
    "SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTE",
    "SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_UNMUTE",
    "CVXVFGRGKMWQEWQIEJUIIOIQWEJOIQWJEOIJQWIEJQ@STOP",
    "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@LOWER_ALL_HANDS",
    "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@HAND_RAISE",
    "MOKMJBNJDCBDSNFBSDFMNDSBFNMASDEIWEHDSA@STOP",
    "ZFDSRTTOERJJDFBNDJKSFBNDFMNSDBBGNAERQW@STOP",
    "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@HOST_LOWER_HAND",
    "BODSRTTOERJJDFBNDJKSFBNDFMNSDBBGNBRYERQW@END",
    "QWEJKQKWEBKJCBXFCJDFKJSDSFDSFDSFDSFDS@ENDCALL",
    "ZFDSRTTOERJJDFBNDJKSFBNDFMNSDBBGNAERQW@START",
    "MOKMJBNJDCBDSNFBSDFMNDSBFNMASDEIWEHDSA@START",
    "KJHEGUYGTUYGJHGBMABJIHJKJANMB@START_SHARE",
    "KJHEGUYGTUYGJHGBMABJIHJKJANMB@STOP_SHARE",
    "KJHEGUYGTUYGJHGBMABJIHJKJANMB@OVERRIDE",
    "RECSTAHJDKDMNASBMASHWQEQWOECBEIWURGEWFBDSN@START",
    "RECSTAHJDKDMNASBMASHWQEQWOECBEIWURGEWFBDSN@STOP",
    "ZFDSRTTOERJJDFBNDNDFMNSDBBG@MIC_DECLINE",
    "ZFDSRTTOERJJDFBNDNDFMNSDBBG@VIDEO_DECLINE",
    "HOSTSTASDDAHJDKDMNASBMADASHW@DOWNGRADE_PARTICIPANT",
    "HOSTSTASDDAHJDKDMNASBMADASHWE@UPGRADE_AUDIENCE",
    "ASFSDFASIJOIIKIJINBNMBLESIFJDBHHJRBMBNXXZC@LOCK",
    "POIYGNSGJLEGTBSKDBPEBHFTEKSSALND@UNLOCK",
    "COHEGUYGTUYGJHGBMABJIHJKJANMB@COHOST_GRANT",
    "COHEGUYGTUYGJHGBMABJIHJKJANMB@COHOST_REVOKE",
    "WHHEGUYGTUYGJHGBMABJIHJKJANRD@START_WHITEBOARD",
    "WHHEGUYGTUYGJHGBMABJIHJKJANRD@STOP_WHITEBOARD",
    "PEERVGHSVXHSGVGPQRJHBSOUYSDQ@REACTION_SHARE",
    "unknown",
};

static_assert(static_cast<std::size_t>(KRRtmMessageEvent::unknown) + 1 == kRawTexts.size(),
              "one raw text per case");

}  // namespace

std::optional<KRRtmMessageEvent> krRtmMessageEventFromRaw(std::string_view raw) {
    for (std::size_t i = 0; i < kRawTexts.size(); ++i) {
        if (kRawTexts[i] == raw) {
            return static_cast<KRRtmMessageEvent>(i);
        }
    }
    return std::nullopt;
}

std::string_view rawValue(KRRtmMessageEvent value) noexcept {
    const auto index = static_cast<std::size_t>(value);
    return index < kRawTexts.size() ? kRawTexts[index] : kRawTexts.back();
}

Result<KRRtmMessageEvent, JsonDecodingError> JsonValueDecoder<KRRtmMessageEvent>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krRtmMessageEventFromRaw, "KRRtmMessageEvent");
}

}  // namespace kr
