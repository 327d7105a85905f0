#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

namespace kr {

std::string_view rawValue(KRApiServerScheme scheme) {
    return scheme == KRApiServerScheme::https ? "https" : "http";
}

std::optional<KRApiServerScheme> krApiServerSchemeFromRaw(std::string_view raw) {
    if (raw == "https") {
        return KRApiServerScheme::https;
    }
    if (raw == "http") {
        return KRApiServerScheme::http;
    }
    return std::nullopt;
}

std::string getUrlValue(KRApiServerScheme scheme) {
    return std::string(rawValue(scheme)) + "://";
}

}  // namespace kr
