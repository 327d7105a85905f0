#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reactions settings of the configuration reply. Plain value.
struct Reactions {
    std::string reactionsbaseurl;
    std::int64_t reactionsCount = 0;

    /// Fails when the value is not an object or either key is missing or mistyped.
    static Result<Reactions, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
