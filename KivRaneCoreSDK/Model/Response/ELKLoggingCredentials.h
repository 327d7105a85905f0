#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Remote logging settings of the configuration reply, handed to the log collector.
/// Plain value.
class ELKLoggingCredentials {
public:
    /// Fails only when the value is not an object; every key is lenient.
    static Result<ELKLoggingCredentials, JsonDecodingError> fromJson(const boost::json::value& v);

    bool isEnabled() const noexcept { return isEnabled_; }
    /// Raw value of the log level (4 is the error level).
    std::int64_t level() const noexcept { return level_; }
    const std::string& url() const noexcept { return url_; }
    const std::string& apiKey() const noexcept { return apiKey_; }
    const std::string& index() const noexcept { return index_; }
    /// "batchSize" text as a decimal integer; 25 when it is not one.
    std::int64_t batchSize() const;
    /// "timeout" text as a decimal integer; 30000 when it is not one.
    std::int64_t timeOut() const;

private:
    std::string timeOutIntervalString_ = "30000";
    std::string batchSizeString_ = "25";
    bool isEnabled_ = false;
    std::int64_t level_ = 4;
    std::string url_;
    std::string apiKey_;
    std::string index_;
};

}  // namespace kr
