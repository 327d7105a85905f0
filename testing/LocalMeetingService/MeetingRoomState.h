#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "testing/LocalMeetingService/MeetingParticipantState.h"
#include "testing/LocalMeetingService/MeetingRoomSetup.h"

namespace kr::test {

/// The live state of one room of the local meeting service: its setup, every participant it has
/// seen (in order of first report), and the room-wide flags. A plain value; the service hands
/// out copies.
struct MeetingRoomState {
    MeetingRoomSetup setup;
    std::vector<MeetingParticipantState> participants;
    bool isLocked = false;
    bool isEnded = false;
    bool isHardMuted = false;
    bool isSoftMuted = false;
    bool isRecording = false;
    std::string recordingId;
    std::string screenSharerUri;  ///< empty while no screen is shared
    std::uint64_t screenShareUid = 0;
    std::string screenShareToken;
    std::string whiteboardSharerUri;  ///< empty while no whiteboard is shared
    std::string whiteboardId;
    /// Ids (participant uri and user id) of removed participants; they cannot come back.
    std::set<std::string> removedIds;
    /// User ids that left the room's chat thread.
    std::set<std::string> chatThreadLeavers;

    /// The participant whose uri, participant id or user id (tried in this order over the whole
    /// list) is `id`; nullptr when none is, or `id` is empty.
    MeetingParticipantState* find(std::string_view id);
    const MeetingParticipantState* find(std::string_view id) const;

    /// Connected participants whose role is "speaker".
    std::int64_t connectedSpeakerCount() const;

    /// The room connection status reply: connected participants, mute, whiteboard, recording and
    /// share state ("isSharing" and "agoraScreenShareInfo" only while something is shared).
    boost::json::object statusJson() const;
};

}  // namespace kr::test
