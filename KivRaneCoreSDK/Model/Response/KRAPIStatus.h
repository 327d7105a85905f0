#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Acknowledgement reply {"status": text} of some meeting actions. Plain value.
struct KRAPIStatus {
    std::optional<std::string> status;
    /// A boolean "success" when the reply carries one: false is the server's refusal.
    std::optional<bool> success;

    /// Never fails: a non-object body or a non-string "status" gives no status.
    static Result<KRAPIStatus, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
