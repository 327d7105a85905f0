#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of leaving the meeting's chat thread: the thread's id. Plain value.
class KRLeaveChatThread {
public:
    /// Needs an object with a string "_id".
    static Result<KRLeaveChatThread, JsonDecodingError> fromJson(const boost::json::value& v);

    const std::string& id() const noexcept { return id_; }

private:
    std::string id_;
};

}  // namespace kr
