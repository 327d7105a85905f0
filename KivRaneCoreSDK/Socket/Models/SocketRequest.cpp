#include "KivRaneCoreSDK/Socket/Models/SocketRequest.h"

#include <new>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

SocketRequest::SocketRequest(std::string event, std::map<std::string, std::string> data)
    : event_(std::move(event)), data_(std::move(data)) {}

std::optional<std::string> SocketRequest::encode() const {
    // Written directly rather than through a JSON object: acknowledgements go out for every frame
    // received. The bytes are those of the compact writer with "event" before "data" and the
    // payload keys in the map's order.
    try {
        std::string text;
        text.reserve(32 + event_.size() + data_.size() * 24);
        text += R"({"event":")";
        text += jsonEscape(event_);
        text += R"(","data":{)";
        bool first = true;
        for (const auto& [key, value] : data_) {
            text += first ? "\"" : ",\"";
            first = false;
            text += jsonEscape(key);
            text += R"(":")";
            text += jsonEscape(value);
            text += '"';
        }
        text += "}}";
        return text;
    } catch (const std::bad_alloc&) {
        return std::nullopt;  // out of memory: the frame is dropped
    }
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
