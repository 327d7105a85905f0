#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"

#include <array>

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using R = KRAudioRouteType;
constexpr auto kTable = makeIntegerEnumTable<std::int64_t>(
    {R::speaker, R::blueTooth, R::audioHandset, R::headPhone, R::audioOff, R::other});
}  // namespace

std::optional<KRAudioRouteType> krAudioRouteTypeFromRaw(std::int64_t raw) {
    return kTable.fromRaw(raw);
}

const std::string& description(KRAudioRouteType route) {
    // Indexed by raw value; the host app matches these texts byte for byte.
    static const std::array<std::string, 6> kTexts = {
        "Built in Speaker",          "Externel Device: BlueTooth",
        "Built in Reciever",         "External Device: Wired Headset",
        "Output Audio Disconnected", "Any Other Device",
    };
    return kTexts.at(static_cast<std::size_t>(rawValue(route)));
}

}  // namespace kr
