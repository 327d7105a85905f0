#include "KivRaneCoreSDK/Network/Requests/MuteAllParticipantsAudioRequest.h"

namespace kr {

MuteAllParticipantsAudioRequest::MuteAllParticipantsAudioRequest(std::string_view meetingId,
                                                                 std::string_view roomID,
                                                                 bool isHardMute, bool isMuted)
    : KRAPIRequest(KRAPIPath::muteAllParticipants(), KRHTTPMethod::post) {
    requestParameters["kivraneId"] = meetingId;
    requestParameters["roomID"] = roomID;
    requestParameters["hard"] = isHardMute;
    requestParameters["audio"] = !isMuted;
}

}  // namespace kr
