#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"

#include <array>

namespace kr {

std::optional<KRAudioRouteType> krAudioRouteTypeFromRaw(std::int64_t raw) {
    if (raw < 0 || raw > rawValue(KRAudioRouteType::other)) {
        return std::nullopt;
    }
    return static_cast<KRAudioRouteType>(raw);
}

const std::string& description(KRAudioRouteType route) {
    // Indexed by raw value; the host app matches these texts byte for byte.
    static const std::array<std::string, 6> kTexts = {
        "Built in Speaker",
        "Externel Device: BlueTooth",
        "Built in Reciever",
        "External Device: Wired Headset",
        "Output Audio Disconnected",
        "Any Other Device",
    };
    return kTexts.at(static_cast<std::size_t>(rawValue(route)));
}

}  // namespace kr
