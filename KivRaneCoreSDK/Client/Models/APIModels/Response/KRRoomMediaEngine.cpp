#include "KivRaneCoreSDK/Client/Models/APIModels/Response/KRRoomMediaEngine.h"

namespace kr {

std::optional<KRRoomMediaEngine> krRoomMediaEngineFromRaw(std::string_view raw) {
    if (raw == "agora") {
        return KRRoomMediaEngine::agora;
    }
    if (raw == "kr-media") {
        return KRRoomMediaEngine::krmedia;
    }
    return std::nullopt;
}

std::string_view rawValue(KRRoomMediaEngine value) noexcept {
    return value == KRRoomMediaEngine::agora ? "agora" : "kr-media";
}

boost::json::value toJsonValue(KRRoomMediaEngine value) {
    return boost::json::value(rawValue(value));
}

Result<KRRoomMediaEngine, JsonDecodingError> JsonValueDecoder<KRRoomMediaEngine>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krRoomMediaEngineFromRaw, "KRRoomMediaEngine");
}

}  // namespace kr
