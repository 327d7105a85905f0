#pragma once

#include <cstdint>
#include <string>

namespace kr::test {

/// How a room of the local meeting service is set up: the ids a client joins with, the media
/// credentials and engine the room details hand out, and the room's advanced options.
/// A plain value.
struct MeetingRoomSetup {
    std::string meetingId = "1234567890";
    std::string pin = "4321";
    std::string roomId = "room-1";
    std::string topic = "Weekly sync";
    /// A guest who logs in with this token is the host; empty: no guest can be the host.
    std::string hostToken = "host-token-1";
    std::string ownerId = "owner-1";  ///< a signed-in user with this id is the host
    std::string ownerName = "Olga";
    std::string ownerLastName = "Berg";
    std::string mediaEngine = "agora";   ///< "agora" or "kr-media"
    std::string rtcToken = "rtc-token";  ///< each user's token is this + "-" + their uid
    std::string rtmToken = "rtm-token";
    std::int64_t maxParticipants = 50;
    bool isWatermarkEnabled = false;
    bool participantHardAudioMute = false;  ///< the room starts hard-muted
    bool participantAudioOnJoin = true;
    bool participantVideoOnJoin = true;
    std::string chatThreadId = "thread-1";  ///< the room's main chat thread
};

}  // namespace kr::test
