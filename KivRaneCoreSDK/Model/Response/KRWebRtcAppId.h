#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One named media-engine application id of the configuration reply. Plain value.
struct KRWebRtcAppId {
    std::string name;
    std::string id;

    /// Fails when the value is not an object or "name" / "id" are not strings.
    static Result<KRWebRtcAppId, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
