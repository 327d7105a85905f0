#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"

namespace kr {

std::optional<KRAudioDeviceType> krAudioDeviceTypeFromRaw(std::int64_t raw) {
    switch (raw) {
        case 0:
            return KRAudioDeviceType::speaker;
        case 1:
            return KRAudioDeviceType::device;
        case 2:
            return KRAudioDeviceType::audioOff;
        default:
            return std::nullopt;
    }
}

}  // namespace kr
