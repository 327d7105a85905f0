#pragma once

#include <string>

#include <boost/json/object.hpp>

namespace kr {

/// One log record as the remote log service stores it: eight texts. Built with named fields,
/// e.g. `KRLoggerData{.timestamp = now, .message = text, .level = "2"}`; only ever encoded.
/// Plain value; safe to copy between threads.
struct KRLoggerData {
    std::string timestamp{};
    std::string message{};
    std::string level{};  ///< decimal text of the level's raw value
    std::string meetingId{};
    std::string userId{};
    std::string firstName{};
    std::string lastName{};
    std::string identity{};

    /// The record as a JSON object with exactly eight string members, in this order:
    /// "timestamp", "message", "level", "meetingId", "userId", "name" (first name),
    /// "lname" (last name), "identity".
    boost::json::object toJsonObject() const;

    /// Compact JSON text of `toJsonObject()`. Never fails: text that is not valid UTF-8 is
    /// written with U+FFFD in place of the bad bytes.
    std::string encode() const;

    friend bool operator==(const KRLoggerData&, const KRLoggerData&) = default;
};

}  // namespace kr
