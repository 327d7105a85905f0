#pragma once

#include <string>

#include <boost/json/object.hpp>

namespace kr {

/// One log record as the remote log service stores it: eight texts, fixed at construction.
/// It is only ever encoded, never decoded. Plain value; safe to copy between threads.
class KRLoggerData {
public:
    KRLoggerData(std::string timestamp, std::string message, std::string level,
                 std::string meetingId, std::string userId, std::string firstName,
                 std::string lastName, std::string identity);

    const std::string& timestamp() const { return timestamp_; }
    const std::string& message() const { return message_; }
    const std::string& level() const { return level_; }
    const std::string& meetingId() const { return meetingId_; }
    const std::string& userId() const { return userId_; }
    const std::string& firstName() const { return firstName_; }
    const std::string& lastName() const { return lastName_; }
    const std::string& identity() const { return identity_; }

    /// The record as a JSON object with exactly eight string members, in this order:
    /// "timestamp", "message", "level", "meetingId", "userId", "name" (first name),
    /// "lname" (last name), "identity".
    boost::json::object toJsonObject() const;

    /// Compact JSON text of `toJsonObject()`. Never fails: text that is not valid UTF-8 is
    /// written with U+FFFD in place of the bad bytes.
    std::string encode() const;

    friend bool operator==(const KRLoggerData&, const KRLoggerData&) = default;

private:
    std::string timestamp_;
    std::string message_;
    std::string level_;
    std::string meetingId_;
    std::string userId_;
    std::string firstName_;
    std::string lastName_;
    std::string identity_;
};

}  // namespace kr
