#include "KivRaneCoreSDK/Socket/Models/SocketRequest.h"

#include <boost/json/object.hpp>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

SocketRequest::SocketRequest(std::string event, std::map<std::string, std::string> data)
    : event_(std::move(event)), data_(std::move(data)) {}

std::optional<std::string> SocketRequest::encode() const {
    boost::json::object payload;
    for (const auto& [key, value] : data_) {
        payload[key] = value;
    }
    boost::json::object frame;
    frame["event"] = event_;
    frame["data"] = std::move(payload);
    std::string text = serializeJson(frame);
    if (text.empty()) {
        return std::nullopt;  // out of memory: the frame is dropped
    }
    return text;
}

LoginSocketRequest::LoginSocketRequest(std::string jwt)
    : SocketRequest("login", {{"token", jwt}}), jwt_(std::move(jwt)) {}

AmAliveSocketRequest::AmAliveSocketRequest(const std::string& authToken)
    : SocketRequest("amAlive", {{"token", authToken.empty() ? "(null)" : authToken}}) {}

AckSocketRequest::AckSocketRequest(std::string event, std::chrono::system_clock::time_point now)
    : SocketRequest("ack", {{"originalEvent", event}, {"timestamp", unixSecondsText(now)}}),
      originalEvent_(std::move(event)) {}

std::string AckSocketRequest::unixSecondsText(std::chrono::system_clock::time_point time) {
    // duration_cast truncates toward zero, which is what the service reads.
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(time.time_since_epoch());
    return std::to_string(static_cast<long long>(seconds.count()));
}

}  // namespace kr
