#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// The server's view of the room at one moment (room connection status reply): participants,
/// room mute flags, whiteboard and recording flags, and who shares what. The sharing fields
/// are derived while decoding. Plain value.
struct KRRoomConnectionStatus {
    bool isRoomAudioHardMuted = false;
    bool isRoomAudioSoftMuted = false;
    bool isWhiteBoardShared = false;
    /// A participant's screen is shared (never while a whiteboard is shared).
    bool isScreenShared = false;
    bool isScreenOrWhiteboardShared = false;
    /// The "isSharing" text when something is shared, else empty.
    std::string screenOrWhiteBoardSharingUserId;
    /// The sharer's display name; empty when nothing is shared or nobody matches.
    std::string screenOrWhiteBoardSharingUserName;
    /// The sharer's account id (its record's `userId`), by which the host's contacts know it;
    /// empty when nothing is shared or nobody matches.
    std::string sharingUserAccountId;
    /// The media-engine uid of the screen-share stream exactly as sent; empty when absent.
    std::string screenSharedObjectId;
    std::vector<KRMeetingParticipant> participants;
    bool isRecording = false;
    /// True when participant records were left out because they failed to decode (or the list
    /// was not an array). `participants` then holds only part of the room: a reader must not
    /// take a missing participant for one who left.
    bool hasDroppedParticipants = false;

    /// Fails when the value is not an object, "isHardMute", "isSoftMute" or "whiteboardshared"
    /// is not a boolean, or something is shared and "isSharing" is not a string. Participant
    /// records are decoded one by one; a bad one is dropped, not the whole list.
    static Result<KRRoomConnectionStatus, JsonDecodingError> fromJson(const boost::json::value& v);

    /// `screenSharedObjectId` as a media-engine uid; nullopt when it is empty or not a plain
    /// decimal number (such an id names no stream, it is not uid 0).
    std::optional<std::uint64_t> screenSharedObjectUid() const;
};

}  // namespace kr
