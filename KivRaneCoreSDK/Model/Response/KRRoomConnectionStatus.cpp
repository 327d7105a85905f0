#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"

#include <algorithm>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRRoomConnectionStatus, JsonDecodingError> KRRoomConnectionStatus::fromJson(
    const boost::json::value& v) {
    JsonObjectReader r(v);
    KRRoomConnectionStatus s;
    auto participants = r.lossyList<KRMeetingParticipant>("participants");
    s.participants = std::move(participants.elements);
    s.hasDroppedParticipants = participants.droppedElements();
    s.isRoomAudioHardMuted = r.required<bool>("isHardMute");
    s.isRoomAudioSoftMuted = r.required<bool>("isSoftMute");
    s.isWhiteBoardShared = r.required<bool>("whiteboardshared");
    s.isRecording = r.lenient<bool>("isRecording", false);
    if (!r.ok()) {
        return Failure{*r.error()};
    }

    if (s.isWhiteBoardShared) {
        s.isScreenOrWhiteboardShared = true;
        s.screenOrWhiteBoardSharingUserId = r.required<std::string>("isSharing");
        const auto owner = std::find_if(
            s.participants.begin(), s.participants.end(),
            [&](const auto& p) { return p.participantUri == s.screenOrWhiteBoardSharingUserId; });
        if (owner != s.participants.end()) {
            s.screenOrWhiteBoardSharingUserName = owner->participantName;
            s.sharingUserAccountId = owner->userId;
        }
    } else if (const auto sharer = std::find_if(s.participants.begin(), s.participants.end(),
                                                [](const auto& p) { return p.isSharingScreen; });
               sharer != s.participants.end()) {
        s.isScreenOrWhiteboardShared = true;
        s.isScreenShared = true;
        s.screenOrWhiteBoardSharingUserId = r.required<std::string>("isSharing");
        s.screenOrWhiteBoardSharingUserName = sharer->participantName;
        s.sharingUserAccountId = sharer->userId;
    }

    if (auto id = r.lenientObject("agoraScreenShareInfo").lenientIdText("agoraUid")) {
        s.screenSharedObjectId = std::move(*id);
    }
    return r.finish(std::move(s));
}

std::optional<std::uint64_t> KRRoomConnectionStatus::screenSharedObjectUid() const {
    return parseUInt(screenSharedObjectId);
}

}  // namespace kr
