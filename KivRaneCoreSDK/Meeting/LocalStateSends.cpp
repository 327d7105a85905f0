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
        crossings_.clear();
    }
    const Id id = ++lastId_;
    if (!onTheirWay()) {
        for (Crossing& crossing : crossings_) {
            Crossed& values = crossing.values;
            values.hand = values.hand && !carried.handRaised;
            values.microphone = values.microphone && !carried.microphoneMuted;
            values.camera = values.camera && !carried.cameraMuted;
            values.role = values.role && !carried.inAudience;
        }
    } else if (meeting.live()) {
        for (const Send& other : sends_) {
            if (!other.meeting.live()) continue;
            const Crossed values{
                .hand = differ(other.carried.handRaised, carried.handRaised),
                .microphone = differ(other.carried.microphoneMuted, carried.microphoneMuted),
                .camera = differ(other.carried.cameraMuted, carried.cameraMuted),
                .role = differ(other.carried.inAudience, carried.inAudience)};
            if (values.any()) crossings_.push_back({other.id, id, values});
        }
    }
    sends_.push_back({id, meeting, carried});
    return id;
}

std::optional<LocalStateSends::Carried> LocalStateSends::answered(Id id, Answer answer) {
    std::optional<Carried> carried;
    const auto send =
        std::find_if(sends_.begin(), sends_.end(), [id](const Send& s) { return s.id == id; });
    if (send != sends_.end()) {
        if (send->meeting.live()) carried = send->carried;
        sends_.erase(send);
    }
    if (answer == Answer::refused) {
        std::erase_if(crossings_, [id](const Crossing& crossing) {
            return crossing.first == id || crossing.second == id;
        });
    }
    return carried;
}

bool LocalStateSends::onTheirWay() const {
    return std::any_of(sends_.begin(), sends_.end(),
                       [](const Send& send) { return send.meeting.live(); });
}

bool LocalStateSends::handOnItsWay() const {
    return std::any_of(sends_.begin(), sends_.end(), [](const Send& send) {
        return send.meeting.live() && send.carried.handRaised.has_value();
    });
}

bool LocalStateSends::handCrossed() const {
    return crossedIn_.live() &&
           std::any_of(crossings_.begin(), crossings_.end(),
                       [](const Crossing& crossing) { return crossing.values.hand; });
}

LocalStateSends::Crossed LocalStateSends::crossed() const {
    if (!crossedIn_.live()) return {};
    Crossed crossed;
    for (const Crossing& crossing : crossings_) {
        crossed.hand |= crossing.values.hand;
        crossed.microphone |= crossing.values.microphone;
        crossed.camera |= crossing.values.camera;
        crossed.role |= crossing.values.role;
    }
    return crossed;
}

LocalStateSends::Crossed LocalStateSends::takeCrossed() {
    const Crossed values = crossed();
    crossings_.clear();
    return values;
}

}  // namespace kr
