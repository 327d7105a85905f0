#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace kr {

/// One frame the library sends on the room socket: an event name and a flat text payload.
/// Subclasses only fill the two in; they never change how a frame is written.
/// Immutable once built; safe to build and encode on any thread.
class SocketRequest {
public:
    SocketRequest(std::string event, std::map<std::string, std::string> data);
    virtual ~SocketRequest() = default;

    const std::string& event() const noexcept { return event_; }
    const std::map<std::string, std::string>& data() const noexcept { return data_; }

    /// {"event": ..., "data": {...}} as compact JSON text; nullopt when it cannot be written.
    std::optional<std::string> encode() const;

private:
    std::string event_;
    std::map<std::string, std::string> data_;
};

/// Logs the connection in with the meeting token, sent as given (an empty token too).
class LoginSocketRequest final : public SocketRequest {
public:
    explicit LoginSocketRequest(std::string jwt);
    const std::string& jwt() const noexcept { return jwt_; }

private:
    std::string jwt_;
};

/// Keeps the connection alive; an empty token is written as "(null)", as the service expects.
class AmAliveSocketRequest final : public SocketRequest {
public:
    explicit AmAliveSocketRequest(const std::string& authToken);
};

/// Acknowledges one received frame. The timestamp is the wall-clock time of creation in whole
/// Unix seconds (the fraction dropped), written as decimal text.
class AckSocketRequest final : public SocketRequest {
public:
    explicit AckSocketRequest(std::string event, std::chrono::system_clock::time_point now =
                                                     std::chrono::system_clock::now());
    const std::string& originalEvent() const noexcept { return originalEvent_; }

    /// Whole seconds since 1970 toward zero, as decimal text ("-1" for 1969-12-31T23:59:59).
    static std::string unixSecondsText(std::chrono::system_clock::time_point time);

private:
    std::string originalEvent_;
};

}  // namespace kr
