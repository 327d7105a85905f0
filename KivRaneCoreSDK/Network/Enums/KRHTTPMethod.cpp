#include "KivRaneCoreSDK/Network/Enums/KRHTTPMethod.h"

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {
constexpr auto kTable = makeEnumTable<KRHTTPMethod, std::string_view>({
    {KRHTTPMethod::get, "GET"},
    {KRHTTPMethod::post, "POST"},
    {KRHTTPMethod::put, "PUT"},
    {KRHTTPMethod::delete_, "DELETE"},
});
}  // namespace

std::string_view rawValue(KRHTTPMethod method) {
    return kTable.toRaw(method);
}

std::optional<KRHTTPMethod> krHTTPMethodFromRaw(std::string_view raw) {
    return kTable.fromRaw(raw);
}

}  // namespace kr
