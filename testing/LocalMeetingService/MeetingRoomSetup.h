#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

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

    /// A room from a command-line argument "MEETING_ID:PIN[:ROOM_ID]", with a host token of its
    /// own (random), so that hosting one room gives no power over another. Nullopt when the
    /// argument has no meeting id or no colon.
    static std::optional<MeetingRoomSetup> fromArgument(std::string_view argument);
};

}  // namespace kr::test
