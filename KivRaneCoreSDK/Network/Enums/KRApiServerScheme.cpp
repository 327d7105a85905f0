#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
constexpr auto kTable = makeEnumTable<KRApiServerScheme, std::string_view>({
    {KRApiServerScheme::https, "https"},
    {KRApiServerScheme::http, "http"},
});
}  // namespace

std::string_view rawValue(KRApiServerScheme scheme) {
    return kTable.toRaw(scheme);
}

std::optional<KRApiServerScheme> krApiServerSchemeFromRaw(std::string_view raw) {
    return kTable.fromRaw(raw);
}

std::string getUrlValue(KRApiServerScheme scheme) {
    return std::string(rawValue(scheme)) + "://";
}

}  // namespace kr
