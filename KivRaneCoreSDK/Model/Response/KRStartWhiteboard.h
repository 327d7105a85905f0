#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of starting a whiteboard: its access token and id. Plain value.
class KRStartWhiteboard {
public:
    /// Fails when the value is not an object, or "jwt" / "whiteboardId" hold a non-string.
    static Result<KRStartWhiteboard, JsonDecodingError> fromJson(const boost::json::value& v);

    const std::optional<std::string>& jwt() const noexcept { return jwt_; }
    const std::optional<std::string>& whiteboardId() const noexcept { return whiteboardId_; }

private:
    std::optional<std::string> jwt_;
    std::optional<std::string> whiteboardId_;
};

}  // namespace kr
