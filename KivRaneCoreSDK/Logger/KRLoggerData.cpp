#include "KivRaneCoreSDK/Logger/KRLoggerData.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

KRLoggerData::KRLoggerData(std::string timestamp, std::string message, std::string level,
                           std::string meetingId, std::string userId, std::string firstName,
                           std::string lastName, std::string identity)
    : timestamp_(std::move(timestamp)),
      message_(std::move(message)),
      level_(std::move(level)),
      meetingId_(std::move(meetingId)),
      userId_(std::move(userId)),
      firstName_(std::move(firstName)),
      lastName_(std::move(lastName)),
      identity_(std::move(identity)) {}

boost::json::object KRLoggerData::toJsonObject() const {
    // Insertion order is the order on the wire.
    boost::json::object o;
    o.reserve(8);
    o["timestamp"] = timestamp_;
    o["message"] = message_;
    o["level"] = level_;
    o["meetingId"] = meetingId_;
    o["userId"] = userId_;
    o["name"] = firstName_;
    o["lname"] = lastName_;
    o["identity"] = identity_;
    return o;
}

std::string KRLoggerData::encode() const {
    return serializeJson(toJsonObject());
}

}  // namespace kr
