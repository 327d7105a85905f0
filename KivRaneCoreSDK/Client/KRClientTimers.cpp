#include <chrono>

#include "KivRaneCoreSDK/Client/KRClient.h"

namespace kr {

namespace {
constexpr std::chrono::seconds kConnectionCheckInterval{1};

std::chrono::steady_clock::duration secondsToDuration(double seconds) {
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
}

void invalidate(std::shared_ptr<platform::Timer>& timer) {
    if (timer) {
        timer->invalidate();
        timer.reset();
    }
}
}  // namespace

void KRClient::setGetPostConnectionTimer() {
    invalidate(getConnectionTimer_);
    invalidate(postConnectionTimer_);
    std::weak_ptr<KRClient> weak = weak_from_this();
    const auto interval = secondsToDuration(pollingAPITimeInterval_);
    getConnectionTimer_ = platform::Timer::schedule(queue_, interval, true, [weak](auto&) {
        if (auto self = weak.lock()) self->getRoomConnectionStatus({});
    });
    postConnectionTimer_ = platform::Timer::schedule(queue_, interval, true, [weak](auto&) {
        auto self = weak.lock();
        if (!self) return;
        self->postUserRoomConnectionStatus(true, true, [weak](bool) {
            if (auto again = weak.lock()) again->getRoomConnectionStatus({});
        });
    });
}

void KRClient::startConnectionCheckTimer() {
    // A second watchdog would double every socket start and stop.
    invalidate(connectionCheckTimer_);
    ticksWithoutNetwork_ = 0;
    skipNextSocketStart_ = false;
    std::weak_ptr<KRClient> weak = weak_from_this();
    connectionCheckTimer_ =
        platform::Timer::schedule(queue_, kConnectionCheckInterval, true, [weak](auto&) {
            if (auto self = weak.lock()) self->connectionCheckTick();
        });
    connectionCheckTimer_->fire();
}

void KRClient::connectionCheckTick() {
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

void KRClient::stopAllTimers() {
    invalidate(getConnectionTimer_);
    invalidate(postConnectionTimer_);
    invalidate(connectionCheckTimer_);
}

}  // namespace kr
