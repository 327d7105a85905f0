#include "KivRaneCoreSDK/Model/Response/ELKLoggingCredentials.h"

#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<ELKLoggingCredentials, JsonDecodingError> ELKLoggingCredentials::fromJson(
    const boost::json::value& v) {
    // Every key is lenient: only a value that is not an object at all fails.
    const JsonObjectReader r(v);
    ELKLoggingCredentials c;
    c.timeOutIntervalString_ = r.lenient<std::string>("timeout", "30000");
    c.batchSizeString_ = r.lenient<std::string>("batchSize", "25");
    c.isEnabled_ = r.lenient<bool>("enable", false);
    c.level_ = r.lenient<std::int64_t>("level", 4);
    c.url_ = r.lenient<std::string>("url", {});
    c.apiKey_ = r.lenient<std::string>("apiKey", {});
    c.index_ = r.lenient<std::string>("index", {});
    return r.finish(std::move(c));
}

std::int64_t ELKLoggingCredentials::batchSize() const {
    return parseInt(batchSizeString_).value_or(25);
}

std::int64_t ELKLoggingCredentials::timeOut() const {
    return parseInt(timeOutIntervalString_).value_or(30000);
}

}  // namespace kr
