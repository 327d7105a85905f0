#include "KivRaneCoreSDK/Logger/KRLoggerData.h"

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

boost::json::object KRLoggerData::toJsonObject() const {
    // Insertion order is the order on the wire.
    boost::json::object o;
    o.reserve(8);
    o["timestamp"] = timestamp;
    o["message"] = message;
    o["level"] = level;
    o["meetingId"] = meetingId;
    o["userId"] = userId;
    o["name"] = firstName;
    o["lname"] = lastName;
    o["identity"] = identity;
    return o;
}

std::string KRLoggerData::encode() const {
    return serializeJson(toJsonObject());
}

}  // namespace kr
