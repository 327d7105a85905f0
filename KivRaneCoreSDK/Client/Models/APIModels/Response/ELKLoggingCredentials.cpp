#include "KivRaneCoreSDK/Client/Models/APIModels/Response/ELKLoggingCredentials.h"

#include <charconv>
#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

namespace {

/// An optional sign followed by one or more ASCII digits and nothing else, in int64 range.
std::optional<std::int64_t> decimalInteger(std::string_view text) {
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
        if (!text.empty() && text.front() == '-') {
            return std::nullopt;
        }
    }
    std::int64_t value = 0;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

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
    return decimalInteger(batchSizeString_).value_or(25);
}

std::int64_t ELKLoggingCredentials::timeOut() const {
    return decimalInteger(timeOutIntervalString_).value_or(30000);
}

}  // namespace kr
