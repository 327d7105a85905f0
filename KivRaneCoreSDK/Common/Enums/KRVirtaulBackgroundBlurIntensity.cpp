#include "KivRaneCoreSDK/Common/Enums/KRVirtaulBackgroundBlurIntensity.h"

namespace kr {

std::optional<KRVirtaulBackgroundBlurIntensity> krVirtaulBackgroundBlurIntensityFromRaw(
    std::uint64_t raw) {
    switch (raw) {
        case 1:
            return KRVirtaulBackgroundBlurIntensity::low;
        case 2:
            return KRVirtaulBackgroundBlurIntensity::medium;
        case 3:
            return KRVirtaulBackgroundBlurIntensity::high;
        default:
            return std::nullopt;
    }
}

boost::json::value toJson(KRVirtaulBackgroundBlurIntensity value) {
    return boost::json::value(rawValue(value));
}

Result<KRVirtaulBackgroundBlurIntensity, JsonDecodingError>
JsonValueDecoder<KRVirtaulBackgroundBlurIntensity>::decode(const boost::json::value& v) {
    return decodeRawValueEnum<std::uint64_t>(v, krVirtaulBackgroundBlurIntensityFromRaw,
                                             "KRVirtaulBackgroundBlurIntensity");
}

}  // namespace kr
