#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <variant>

#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"

namespace kr {

/// A screen share began (with its track) or ended (why, and the engine uid of its stream).
class KRScreenShareState {
public:
    struct Started {
        std::shared_ptr<KRScreenShareTrack> mediaTrack;
    };
    struct Stopped {
        KRUserLeftReason reason;
        std::uint64_t mediaTrackId = 0;
    };

    static KRScreenShareState started(std::shared_ptr<KRScreenShareTrack> track) {
        return KRScreenShareState(Started{std::move(track)});
    }
    static KRScreenShareState stopped(KRUserLeftReason reason, std::uint64_t mediaTrackId) {
        return KRScreenShareState(Stopped{std::move(reason), mediaTrackId});
    }

    bool isStarted() const noexcept { return std::holds_alternative<Started>(value_); }
    /// Null unless started.
    const Started* asStarted() const noexcept { return std::get_if<Started>(&value_); }
    /// Null unless stopped.
    const Stopped* asStopped() const noexcept { return std::get_if<Stopped>(&value_); }

private:
    explicit KRScreenShareState(std::variant<Started, Stopped> value) : value_(std::move(value)) {}
    std::variant<Started, Stopped> value_;
};

}  // namespace kr
