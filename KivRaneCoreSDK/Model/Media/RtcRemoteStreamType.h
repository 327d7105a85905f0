#pragma once

#include <string>
#include <utility>

namespace kr {

/// The answer to an engine that met a stream id it does not know: the stream is a participant's
/// own camera and microphone (`user`), or a screen-share track owned by a participant
/// (`screenShare`). Either way it names that participant. Plain value without equality.
class RtcRemoteStreamType {
public:
    enum class Kind {
        user,
        screenShare,
    };

    static RtcRemoteStreamType user(std::string participantId) {
        return RtcRemoteStreamType(Kind::user, std::move(participantId));
    }
    static RtcRemoteStreamType screenShare(std::string participantId) {
        return RtcRemoteStreamType(Kind::screenShare, std::move(participantId));
    }

    Kind kind() const noexcept { return kind_; }
    /// For `user` the participant itself; for `screenShare` the owner of the track.
    const std::string& participantId() const noexcept { return participantId_; }

private:
    RtcRemoteStreamType(Kind kind, std::string participantId)
        : kind_(kind), participantId_(std::move(participantId)) {}

    Kind kind_;
    std::string participantId_;
};

}  // namespace kr
