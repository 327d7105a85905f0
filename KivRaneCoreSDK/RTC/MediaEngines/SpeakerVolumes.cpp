#include "KivRaneCoreSDK/RTC/MediaEngines/SpeakerVolumes.h"

#include <algorithm>

namespace kr {

SpeakerVolumes::Update SpeakerVolumes::update(
    const std::vector<platform::AudioVolumeInfo>& speakers, std::uint64_t localUid,
    bool isLocalAudioMuted) {
    Update out;
    out.listsRemoteSpeakers = std::none_of(speakers.begin(), speakers.end(),
                                           [](const auto& s) { return s.uid == 0; });
    const auto local = std::find_if(speakers.begin(), speakers.end(), [localUid](const auto& s) {
        return s.uid == 0 || s.uid == localUid;
    });
    if (local != speakers.end()) {
        localLevel_ = local->volume;
        out.local = *local;
    } else {
        levels_.clear();
        for (const auto& s : speakers) {
            levels_[s.uid] = s.volume;
        }
    }
    // Refreshed after either kind of report, so the local level competes with the latest
    // remote levels.
    if (localLevel_ > kSpeakingThreshold && !isLocalAudioMuted) {
        levels_[localUid] = localLevel_;
    }
    const auto loudest = std::max_element(levels_.begin(), levels_.end(), [](const auto& a,
                                                                            const auto& b) {
        return a.second < b.second;
    });
    if (loudest != levels_.end() && loudest->second > kSpeakingThreshold) {
        out.loudest = loudest->first;
    }
    return out;
}

void SpeakerVolumes::localMuted(std::uint64_t localUid) {
    localLevel_ = 0;
    if (const auto it = levels_.find(localUid); it != levels_.end()) {
        it->second = 0;
    }
}

void SpeakerVolumes::clear() {
    levels_.clear();
    localLevel_ = 0;
}

}  // namespace kr
