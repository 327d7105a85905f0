#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"

#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

namespace kr {

std::string_view rawValue(KRApiServer server) {
    switch (server) {
        case KRApiServer::staging:
            return "staging.kivrane.com";
        case KRApiServer::preStage:
            return "prestage.kivrane.com";
        case KRApiServer::rc:
            return "rc.kivrane.com";
        case KRApiServer::production:
            return "meet.kivrane.com";
        case KRApiServer::pelvarGroups:
            return "pelvargroups.kivrane.com";
    }
    return "meet.kivrane.com";
}

std::optional<KRApiServer> krApiServerFromRaw(std::string_view raw) {
    for (auto server : kAllApiServers) {
        if (rawValue(server) == raw) {
            return server;
        }
    }
    return std::nullopt;
}

std::string getApiUrl(KRApiServer server) {
    return getUrlValue(KRApiServerScheme::https) + std::string(rawValue(server)) + "/api";
}

}  // namespace kr
