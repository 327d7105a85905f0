#include "KivRaneCoreSDK/Common/Enums/KRVirtaulBackgroundBlurIntensity.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
using I = KRVirtaulBackgroundBlurIntensity;
constexpr auto kTable = makeIntegerEnumTable<std::uint64_t>({I::low, I::medium, I::high});
}  // namespace

std::optional<KRVirtaulBackgroundBlurIntensity> krVirtualBackgroundBlurIntensityFromRaw(
    std::uint64_t raw) {
    return kTable.fromRaw(raw);
}

boost::json::value toJson(KRVirtaulBackgroundBlurIntensity value) {
    return boost::json::value(rawValue(value));
}

Result<KRVirtaulBackgroundBlurIntensity, JsonDecodingError>
JsonValueDecoder<KRVirtaulBackgroundBlurIntensity>::decode(const boost::json::value& v) {
    return decodeRawValueEnum<std::uint64_t>(v, krVirtualBackgroundBlurIntensityFromRaw,
                                             "KRVirtaulBackgroundBlurIntensity");
}

}  // namespace kr
