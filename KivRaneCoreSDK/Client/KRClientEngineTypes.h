#pragma once

#include <optional>
#include <string>
#include <utility>

// Provisional copies of the media wrapper's value types that the facade's public callbacks carry.
// The media wrapper defines them in RTC/; when both meet, this header is replaced by includes of
// those definitions (the shapes below follow them: names, cases and raw values).

namespace kr {

/// The reason a participant is gone: removed by a host, left, lost the network, or moved to the
/// audience; `none` until something happened.
struct KRUserLeftReason {
    enum class Kind { removedFromMeeting, leaveMeeting, networkDropped, becomeAudience, none };
    Kind kind = Kind::none;
    std::string byHost;  ///< only for removedFromMeeting

    static KRUserLeftReason removedFromMeeting(std::string byHost) {
        return {Kind::removedFromMeeting, std::move(byHost)};
    }
    static KRUserLeftReason leaveMeeting() { return {Kind::leaveMeeting, {}}; }
    static KRUserLeftReason networkDropped() { return {Kind::networkDropped, {}}; }
    static KRUserLeftReason becomeAudience() { return {Kind::becomeAudience, {}}; }
    static KRUserLeftReason none() { return {Kind::none, {}}; }
    friend bool operator==(const KRUserLeftReason&, const KRUserLeftReason&) = default;
};

/// The local user's network quality as reported to the host app.
enum class KRNetworkQuality : int { good = 0, low = 1, bad = 2, detecting = 3 };

/// The current audio output route.
enum class KRAudioRouteType : int {
    speaker = 0,
    blueTooth = 1,
    audioHandset = 2,
    headPhone = 3,
    audioOff = 4,
    other = 5,
};

}  // namespace kr
