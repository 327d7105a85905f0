#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

#include "platform/Http/HttpTransport.h"

namespace kr::test {

/// When the bytes of one direction of a proxied connection may go on: each chunk half a round
/// trip after it arrived, never before the chunk ahead of it, and the first chunk one more round
/// trip later, standing for the TCP handshake the loopback connection did not pay.
class LatencySchedule {
public:
    using Clock = std::chrono::steady_clock;

    LatencySchedule(Clock::duration oneWay, Clock::duration firstExtra)
        : oneWay_(oneWay), firstExtra_(firstExtra) {}

    /// The release time of a chunk that arrived at `arrival` (arrivals in order).
    Clock::time_point releaseAt(Clock::time_point arrival) {
        Clock::time_point release = arrival + oneWay_;
        if (first_) {
            release += firstExtra_;
            first_ = false;
        }
        if (release < last_) {
            release = last_;
        }
        last_ = release;
        return release;
    }

private:
    const Clock::duration oneWay_;
    const Clock::duration firstExtra_;
    Clock::time_point last_{};
    bool first_ = true;
};

/// A TCP proxy on 127.0.0.1 (an ephemeral port) in front of a local server, which makes every
/// connection through it behave as over a link with round-trip time `roundTrip`: each direction
/// is delayed by half of it, in order, and a new connection's first bytes wait one round trip
/// more, as a TCP handshake would have held them. TLS passes through untouched.
///
/// Threading: one I/O thread serves every connection; every public method may be called from any
/// thread.
class LatencyProxy {
public:
    LatencyProxy(std::uint16_t upstreamPort, std::chrono::milliseconds roundTrip);
    ~LatencyProxy();
    LatencyProxy(const LatencyProxy&) = delete;
    LatencyProxy& operator=(const LatencyProxy&) = delete;

    /// `direct` (a server's routing) with every connection sent through this proxy instead.
    platform::HttpRouting routing(platform::HttpRouting direct) const;

    class Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace kr::test
