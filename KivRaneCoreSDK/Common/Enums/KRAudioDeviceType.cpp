#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>(
    {KRAudioDeviceType::speaker, KRAudioDeviceType::device, KRAudioDeviceType::audioOff});
}  // namespace

std::optional<KRAudioDeviceType> krAudioDeviceTypeFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
