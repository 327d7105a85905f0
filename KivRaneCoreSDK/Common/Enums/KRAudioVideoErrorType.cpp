#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"

namespace kr {

std::optional<KRAudioVideoErrorType> krAudioVideoErrorTypeFromRaw(std::int64_t raw) {
    switch (raw) {
        case 0:
            return KRAudioVideoErrorType::reconnectError;
        case 1:
            return KRAudioVideoErrorType::deviceBusyError;
        case 2:
            return KRAudioVideoErrorType::permissionError;
        case 3:
            return KRAudioVideoErrorType::multipleAppsOrBackground;
        case 4:
            return KRAudioVideoErrorType::ok;
        case 5:
            return KRAudioVideoErrorType::unknown;
        default:
            return std::nullopt;
    }
}

}  // namespace kr
