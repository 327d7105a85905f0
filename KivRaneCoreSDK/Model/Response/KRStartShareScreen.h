#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of starting a screen share: the media-engine uid and token of the share stream.
/// Plain value.
class KRStartShareScreen {
public:
    /// Fails when the value is not an object, "success" is not a boolean, or "message" holds a
    /// non-string. "agoraScreenShareInfo" and its members are lenient.
    static Result<KRStartShareScreen, JsonDecodingError> fromJson(const boost::json::value& v);

    /// 0 when absent or not a non-negative whole number.
    std::uint64_t agoraUid() const noexcept { return agoraUid_; }
    /// Always set after decoding; the empty string when absent.
    const std::optional<std::string>& agoraToken() const noexcept { return agoraToken_; }
    bool success() const noexcept { return success_; }
    const std::optional<std::string>& message() const noexcept { return message_; }

private:
    std::uint64_t agoraUid_ = 0;
    std::optional<std::string> agoraToken_;
    bool success_ = false;
    std::optional<std::string> message_;
};

}  // namespace kr
