#pragma once

#include <optional>

#include "platform/Media/MediaCodes.h"

namespace kr {

/// The microphone and camera states the engine reports for a remote stream before the wrapper
/// made its peer or participant (while the stream is being identified). The engine reports a
/// state only when it changes, so what is not kept here is lost for good: the record made for
/// the stream starts from these states. Shared by both engine wrappers.
struct EarlyRemoteMedia {
    std::optional<bool> isAudioMuted;
    std::optional<bool> isVideoMuted;

    /// What a remote audio or video state of the engine says of the stream being muted;
    /// nothing for passing states.
    static std::optional<bool> mutedByRemoteState(int state) {
        using platform::MediaCodes;
        if (state == MediaCodes::kRemoteStateDecoding) return false;
        if (state == MediaCodes::kRemoteStateStopped || state == MediaCodes::kRemoteStateFailed) {
            return true;
        }
        return std::nullopt;
    }

    /// Keeps what one remote state report says.
    void keep(bool audio, int state) {
        if (const auto muted = mutedByRemoteState(state)) {
            (audio ? isAudioMuted : isVideoMuted) = muted;
        }
    }

    /// Gives the kept states to the record made for the stream.
    template <class Record>
    void applyTo(Record& record) const {
        if (isAudioMuted) record.setIsAudioMuted(*isAudioMuted);
        if (isVideoMuted) record.setIsVideoMuted(*isVideoMuted);
    }
};

}  // namespace kr
