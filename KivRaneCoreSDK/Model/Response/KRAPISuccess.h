#pragma once

#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Acknowledgement reply {"success": bool} of most meeting actions. Plain value.
class KRAPISuccess {
public:
    /// Fails when the value is not an object or "success" is not a boolean.
    static Result<KRAPISuccess, JsonDecodingError> fromJson(const boost::json::value& v);

    bool isSuccess() const noexcept { return isSuccess_; }

private:
    bool isSuccess_ = false;
};

}  // namespace kr
