#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "platform/Media/AudioVolumeInfo.h"

namespace kr {

/// The engine wrappers' volume bookkeeping, from which the loudest speaker is chosen. The engine
/// sends two kinds of volume report: the local microphone's (an entry for uid 0 or the local
/// uid) and the remote speakers' (every other report). A remote report replaces the remote
/// levels; the local user counts as a speaker only while loud (above the threshold) and unmuted.
///
/// Threading: confined to the owner's queue.
class SpeakerVolumes {
public:
    /// A level counts as speaking only above this.
    static constexpr std::uint64_t kSpeakingThreshold = 20;

    struct Update {
        /// No entry of uid 0: the report lists remote speakers (possibly with the local uid).
        bool listsRemoteSpeakers = false;
        /// The local entry of the report, when it has one.
        std::optional<platform::AudioVolumeInfo> local;
        /// The loudest uid above the threshold, or nullopt when nobody is that loud.
        std::optional<std::uint64_t> loudest;
    };

    /// Takes one report. `localUid` is the local user's engine uid (0 before the join).
    Update update(const std::vector<platform::AudioVolumeInfo>& speakers, std::uint64_t localUid,
                  bool isLocalAudioMuted);

    /// Latest volume per uid.
    const std::map<std::uint64_t, std::uint64_t>& levels() const { return levels_; }
    /// The local level of the latest local report.
    std::uint64_t localLevel() const { return localLevel_; }
    /// The local user muted the microphone: its level drops to 0 at once, also in the choice of
    /// the loudest, so a level from before the mute cannot make it the loudest later.
    void localMuted(std::uint64_t localUid);
    /// A remote stream's audio stopped: its level is 0 until the next remote report.
    void remoteMuted(std::uint64_t uid) { levels_[uid] = 0; }
    void clear();

private:
    std::map<std::uint64_t, std::uint64_t> levels_;
    std::uint64_t localLevel_ = 0;
};

}  // namespace kr
