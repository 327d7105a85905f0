#pragma once

#include <boost/json/value.hpp>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatParticipant.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One chat thread of the service: a meeting's main thread or a private thread of two users.
/// Only "_id" is required; every other key that is missing or of another type is left absent.
/// "createdAt" is never read (the service's text form is not a date the kit reads).
/// Plain value.
struct KRChatThread {
    std::string id;                                             // "_id"
    std::optional<std::string> kivraneId;                       // "kivraneId"
    std::optional<std::string> name;                            // "name"
    std::optional<std::string> status;                          // "status"
    std::optional<bool> isRestrictedChat;                       // "isRestrictedChat"
    std::optional<std::int64_t> numberOfAttachments;            // "numberOfAttachments"
    std::optional<std::string> context;                         // "context"
    std::optional<std::string> createdBy;                       // "createdBy"
    std::optional<std::chrono::system_clock::time_point> createdAt;   // never filled
    std::optional<std::chrono::system_clock::time_point> modifiedAt;  // seconds since 2001
    std::optional<bool> update;                                 // "update"
    std::optional<std::vector<KRChatParticipant>> members;      // all or nothing

    static Result<KRChatThread, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
