#pragma once

#include <cstdint>

namespace kr {

/// Network statistics of the call, filled one to one from the media engine's channel
/// statistics. Immutable value.
class KRMeetingNetworkStats {
public:
    KRMeetingNetworkStats(std::int64_t latency, std::int64_t uplinkPacketLoss,
                          std::int64_t downlinkPacketLoss, std::int64_t uplinkRate,
                          std::int64_t downlinkRate, std::int64_t totalDataSent,
                          std::int64_t totalDataRecieved)
        : latency_(latency),
          uplinkPacketLoss_(uplinkPacketLoss),
          downlinkPacketLoss_(downlinkPacketLoss),
          uplinkRate_(uplinkRate),
          downlinkRate_(downlinkRate),
          totalDataSent_(totalDataSent),
          totalDataReceived_(totalDataRecieved) {}

    /// Last-mile delay.
    std::int64_t latency() const noexcept { return latency_; }
    std::int64_t uplinkPacketLoss() const noexcept { return uplinkPacketLoss_; }
    std::int64_t downlinkPacketLoss() const noexcept { return downlinkPacketLoss_; }
    /// Send bitrate, kilobits per second.
    std::int64_t uplinkRate() const noexcept { return uplinkRate_; }
    /// Receive bitrate, kilobits per second.
    std::int64_t downlinkRate() const noexcept { return downlinkRate_; }
    /// Bytes sent.
    std::int64_t totalDataSent() const noexcept { return totalDataSent_; }
    /// Bytes received.
    std::int64_t totalDataRecieved() const noexcept { return totalDataReceived_; }

private:
    std::int64_t latency_;
    std::int64_t uplinkPacketLoss_;
    std::int64_t downlinkPacketLoss_;
    std::int64_t uplinkRate_;
    std::int64_t downlinkRate_;
    std::int64_t totalDataSent_;
    std::int64_t totalDataReceived_;
};

}  // namespace kr
