#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"

namespace kr {

std::optional<KRNetworkQuality> krNetworkQualityFromRaw(std::int64_t raw) {
    if (raw < 0 || raw > rawValue(KRNetworkQuality::detecting)) {
        return std::nullopt;
    }
    return static_cast<KRNetworkQuality>(raw);
}

}  // namespace kr
