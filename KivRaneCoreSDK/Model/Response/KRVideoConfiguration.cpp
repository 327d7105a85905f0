#include "KivRaneCoreSDK/Model/Response/KRVideoConfiguration.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRVideoConfiguration, JsonDecodingError> KRVideoConfiguration::fromJson(
    const boost::json::value& v) {
    const JsonObjectReader r(v);
    KRVideoConfiguration c;
    c.isEnabled = r.lenientOptional<bool>("isEnabled");
    c.width = r.lenientOptional<std::int64_t>("width");
    c.height = r.lenientOptional<std::int64_t>("height");
    c.fps = r.lenientOptional<std::int64_t>("fps");
    c.bitrate = r.lenientOptional<std::int64_t>("bitrate");
    c.orientation = r.lenientOptional<std::int64_t>("orientation");
    return c;
}

}  // namespace kr
