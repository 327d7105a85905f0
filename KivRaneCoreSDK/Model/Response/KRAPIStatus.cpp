#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRAPIStatus, JsonDecodingError> KRAPIStatus::fromJson(const boost::json::value& v) {
    const JsonObjectReader r(v);
    return KRAPIStatus{r.lenientOptional<std::string>("status"), r.lenientOptional<bool>("success")};
}

}  // namespace kr
