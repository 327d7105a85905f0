#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

namespace kr {

namespace {
constexpr auto kTable = makeEnumTable<KRApiServer, std::string_view>({
    {KRApiServer::staging, "staging.kivrane.com"},
    {KRApiServer::preStage, "prestage.kivrane.com"},
    {KRApiServer::rc, "rc.kivrane.com"},
    {KRApiServer::production, "meet.kivrane.com"},
    {KRApiServer::pelvarGroups, "pelvargroups.kivrane.com"},
});
static_assert(kTable.entries().size() == kAllApiServers.size());
}  // namespace

std::string_view rawValue(KRApiServer server) {
    return kTable.toRaw(server);
}

std::optional<KRApiServer> krApiServerFromRaw(std::string_view raw) {
    return kTable.fromRaw(raw);
}

std::string getApiUrl(KRApiServer server) {
    return getUrlValue(KRApiServerScheme::https) + std::string(rawValue(server)) + "/api";
}

}  // namespace kr
