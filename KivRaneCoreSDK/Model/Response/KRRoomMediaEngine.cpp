#include "KivRaneCoreSDK/Model/Response/KRRoomMediaEngine.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
constexpr auto kTable = makeEnumTable<KRRoomMediaEngine, std::string_view>({
    {KRRoomMediaEngine::agora, "agora"},
    {KRRoomMediaEngine::krmedia, "kr-media"},
});
}  // namespace

std::optional<KRRoomMediaEngine> krRoomMediaEngineFromRaw(std::string_view raw) {
    return kTable.fromRaw(raw);
}

std::string_view rawValue(KRRoomMediaEngine value) noexcept {
    return kTable.toRaw(value);
}

boost::json::value toJsonValue(KRRoomMediaEngine value) {
    return boost::json::value(rawValue(value));
}

Result<KRRoomMediaEngine, JsonDecodingError> JsonValueDecoder<KRRoomMediaEngine>::decode(
    const boost::json::value& v) {
    return decodeRawValueEnum<std::string>(v, krRoomMediaEngineFromRaw, "KRRoomMediaEngine");
}

}  // namespace kr
