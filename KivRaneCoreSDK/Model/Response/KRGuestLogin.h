#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of the guest login: the guest's token, user id and host flag. Plain value.
class KRGuestLogin {
public:
    /// Fails when the value is not an object or "jwt" / "guestUserId" are not strings.
    static Result<KRGuestLogin, JsonDecodingError> fromJson(const boost::json::value& v);

    const std::string& jwtToken() const noexcept { return jwtToken_; }
    const std::string& guestUserId() const noexcept { return guestUserId_; }
    const std::optional<bool>& isHost() const noexcept { return isHost_; }

private:
    std::string jwtToken_;
    std::string guestUserId_;
    std::optional<bool> isHost_;
};

}  // namespace kr
