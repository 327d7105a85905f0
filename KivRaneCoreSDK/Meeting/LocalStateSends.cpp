#include "KivRaneCoreSDK/Meeting/LocalStateSends.h"

#include <algorithm>
#include <utility>

namespace kr {

namespace {

bool differ(const std::optional<bool>& a, const std::optional<bool>& b) { return a && b && *a != *b; }

}  // namespace

LocalStateSends::Id LocalStateSends::sent(const MeetingSession::Token& meeting,
                                          const Carried& carried) {
    if (!crossedIn_.sameSession(meeting)) {
        crossedIn_ = meeting;
        crossed_ = {};
    }
    const bool alone = !onTheirWay();
    if (alone) {
        crossed_.hand = crossed_.hand && !carried.handRaised;
        crossed_.microphone = crossed_.microphone && !carried.microphoneMuted;
        crossed_.camera = crossed_.camera && !carried.cameraMuted;
        crossed_.role = crossed_.role && !carried.inAudience;
    } else if (meeting.live()) {
        for (const Send& other : sends_) {
            if (!other.meeting.live()) continue;
            crossed_.hand |= differ(other.carried.handRaised, carried.handRaised);
            crossed_.microphone |= differ(other.carried.microphoneMuted, carried.microphoneMuted);
            crossed_.camera |= differ(other.carried.cameraMuted, carried.cameraMuted);
            crossed_.role |= differ(other.carried.inAudience, carried.inAudience);
        }
    }
    sends_.push_back({++lastId_, meeting, carried});
    return lastId_;
}

void LocalStateSends::answered(Id id) {
    std::erase_if(sends_, [id](const Send& send) { return send.id == id; });
}

bool LocalStateSends::onTheirWay() const {
    return std::any_of(sends_.begin(), sends_.end(),
                       [](const Send& send) { return send.meeting.live(); });
}

LocalStateSends::Crossed LocalStateSends::takeCrossed() {
    if (!crossedIn_.live()) return {};
    return std::exchange(crossed_, {});
}

}  // namespace kr
