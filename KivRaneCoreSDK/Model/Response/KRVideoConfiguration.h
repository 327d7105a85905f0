#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Video encoder settings of one stream, from the configuration reply. Plain value.
struct KRVideoConfiguration {
    std::optional<bool> isEnabled;  // low-quality stream: apply only when true
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
    std::optional<std::int64_t> fps;
    std::optional<std::int64_t> bitrate;
    std::optional<std::int64_t> orientation;

    /// Every key is lenient; never fails (a non-object gives a record with nothing set).
    static Result<KRVideoConfiguration, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
