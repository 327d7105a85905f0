#include <chrono>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"

namespace kr {

namespace {
constexpr std::chrono::seconds kConnectionCheckInterval{1};

std::chrono::steady_clock::duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

}  // namespace

void ClientCore::setGetPostConnectionTimer() {
    if (!session_) return;
    // The polls keep the meeting in progress going. From the start of a leave they stay quiet:
    // a connected post would undo the leave's disconnected one when it reached the service later,
    // and the room's status no longer changes anything here. A post answered after its meeting
    // ended asks nothing of the next one.
    const auto polling = [weak = weak_from_this(), session = sessionToken()] {
        auto self = weak.lock();
        return self && self->takesRoomNews(session) ? self : nullptr;
    };
    session_->startPolling(
        secondsToDuration(pollingAPITimeInterval_),
        [polling] {
            if (auto self = polling()) self->getRoomConnectionStatus({});
        },
        [polling] {
            auto self = polling();
            if (!self) return;
            self->postUserRoomConnectionStatus(true, true, [polling](bool) {
                if (auto again = polling()) again->getRoomConnectionStatus({});
            });
        });
}

void ClientCore::startConnectionCheckTimer() {
    if (!session_) return;
    ticksWithoutNetwork_ = 0;
    skipNextSocketStart_ = false;
    std::weak_ptr<ClientCore> weak = weak_from_this();
    session_->startWatchdog(kConnectionCheckInterval, [weak] {
        if (auto self = weak.lock()) self->connectionCheckTick();
    });
}

void ClientCore::connectionCheckTick() {
    if (!isNetworkConnected_) {
        ++ticksWithoutNetwork_;
        if (ticksWithoutNetwork_ >= 2) {
            stopSocketService();
        }
        skipNextSocketStart_ = true;
        return;
    }
    ticksWithoutNetwork_ = 0;
    // The service may have come back with the network, or on its own while the network stayed.
    resyncLocalState();
    if (skipNextSocketStart_) {
        // Give the network one tick to settle after it came back.
        skipNextSocketStart_ = false;
        return;
    }
    startSocketService();
}

}  // namespace kr
