#include "KivRaneCoreSDK/RTC/MediaEngines/FrozenVideoTracker.h"

#include <algorithm>
#include <utility>

#include "platform/Media/MediaCodes.h"

namespace kr {

bool FrozenVideoTracker::isTransientReason(int reason) {
    return reason == platform::MediaCodes::kRemoteReasonNetworkCongestion ||
           reason == platform::MediaCodes::kRemoteReasonAudioFallbackRecovery;
}

bool FrozenVideoTracker::freeze(platform::DispatchQueue& queue, std::uint64_t uid,
                                std::function<void()> check) {
    if (std::any_of(records_.begin(), records_.end(),
                    [uid](const Record& r) { return r.data.uid == uid; })) {
        return false;
    }
    records_.push_back(Record{{uid, queue.clock()->now()}});
    std::erase_if(checks_, [](const platform::TaskHandle& h) { return h.isCancelled(); });
    checks_.push_back(queue.postAfter(kCheckDelay, std::move(check)));
    return true;
}

void FrozenVideoTracker::remove(std::uint64_t uid) {
    std::erase_if(records_, [uid](const Record& r) { return r.data.uid == uid; });
}

void FrozenVideoTracker::clear() {
    for (auto& check : checks_) {
        check.cancel();
    }
    checks_.clear();
    records_.clear();
}

std::vector<std::uint64_t> FrozenVideoTracker::due(platform::Clock::time_point now) const {
    std::vector<std::uint64_t> out;
    for (const auto& record : records_) {
        if (!record.reportedMuted && now - record.data.frozenAt >= kMinimumAge) {
            out.push_back(record.data.uid);
        }
    }
    return out;
}

void FrozenVideoTracker::markReported(std::uint64_t uid) {
    for (auto& record : records_) {
        if (record.data.uid == uid) {
            record.reportedMuted = true;
        }
    }
}

std::vector<KRRtcVideoFrozenData> FrozenVideoTracker::records() const {
    std::vector<KRRtcVideoFrozenData> out;
    out.reserve(records_.size());
    for (const auto& record : records_) {
        out.push_back(record.data);
    }
    return out;
}

}  // namespace kr
