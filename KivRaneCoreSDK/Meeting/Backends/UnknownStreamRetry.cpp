#include "KivRaneCoreSDK/Meeting/Backends/UnknownStreamRetry.h"

#include <utility>

namespace kr {

bool UnknownStreamRetry::remove(const std::string& streamId) {
    const bool removed = streams_.erase(streamId) != 0;
    if (streams_.empty()) {
        // A later outage in the same meeting starts again from the first wait.
        waitingAsk_.cancel();
        askWaits_ = false;
        failures_ = 0;
    }
    return removed;
}

void UnknownStreamRetry::ask(MeetingPort& port) {
    if (streams_.empty()) return;
    waitingAsk_.cancel();
    askWaits_ = false;
    const MeetingSession::Token session = port.sessionToken();
    port.getRoomConnectionStatus(
        [this, weak = port.weakPort(), session, asked = streams_](bool answered) {
            const auto meeting = weak.lock();
            if (!meeting || !session.live()) return;
            if (!answered) {
                askLater(*meeting);
                return;
            }
            // The reply was applied first: what it did not name as a share among the streams it
            // was asked about is a participant. A stand-in added while it was on its way (its own
            // question failed meanwhile) is asked about again, now that the service answers.
            for (const std::string& id : asked) remove(id);
            failures_ = 0;
            if (!streams_.empty()) ask(*meeting);
        });
}

void UnknownStreamRetry::askLater(MeetingPort& port) {
    if (streams_.empty() || askWaits_) return;
    askWaits_ = true;
    waitingAsk_ = queue_->postAfter(
        backOff_.delay(++failures_),
        [this, weak = port.weakPort(), session = port.sessionToken()] {
            const auto meeting = weak.lock();
            if (!meeting) return;
            askWaits_ = false;
            if (session.live()) ask(*meeting);
        });
}

void UnknownStreamRetry::clear() {
    streams_.clear();
    failures_ = 0;
    waitingAsk_.cancel();
    askWaits_ = false;
}

}  // namespace kr
