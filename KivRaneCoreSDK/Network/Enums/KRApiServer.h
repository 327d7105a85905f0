#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace kr {

/// The meeting service's environments. The raw value of each is its server's host name (no scheme,
/// port or path). Shared by the REST client and the room event socket.
enum class KRApiServer { staging, preStage, rc, production, pelvarGroups };

/// Every environment, in declaration order.
inline constexpr std::array<KRApiServer, 5> kAllApiServers = {
    KRApiServer::staging, KRApiServer::preStage, KRApiServer::rc, KRApiServer::production,
    KRApiServer::pelvarGroups};

/// The environment's host name.
std::string_view rawValue(KRApiServer server);

/// Exact, case-sensitive match of one of the five host names.
std::optional<KRApiServer> krApiServerFromRaw(std::string_view raw);

/// "https://" + host name + "/api" (no trailing slash).
std::string getApiUrl(KRApiServer server);

}  // namespace kr
