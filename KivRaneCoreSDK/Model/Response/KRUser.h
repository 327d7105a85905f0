#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// A user account record as the server sends it (the room owner). Plain value.
struct KRUser {
    std::optional<std::string> id;        // "_id"
    std::optional<std::string> name;      // "name"
    std::optional<std::string> lname;     // "lname"
    std::optional<std::string> userId;    // "userId"
    std::optional<std::string> tenantId;  // "tenantId"

    /// Every key is lenient; never fails (a non-object gives a record with nothing set).
    static Result<KRUser, JsonDecodingError> fromJson(const boost::json::value& v);

    /// `id` when present, else `userId`.
    std::optional<std::string> getId() const;
    /// "name lname", or the name alone when lname is empty or absent.
    std::string getFullName() const;
};

}  // namespace kr
