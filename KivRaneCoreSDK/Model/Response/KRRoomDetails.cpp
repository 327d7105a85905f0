#include "KivRaneCoreSDK/Model/Response/KRRoomDetails.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRRoomDetails, JsonDecodingError> KRRoomDetails::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRRoomDetails d;
    d.rtcToken_ = r.lenient<std::string>("agoraToken", {});
    d.rtcUID_ = r.lenientIdText("agoraUid").value_or("");
    d.rtcRTMToken_ = r.lenient<std::string>("agoraRtmToken", {});
    d.speakerCount_ = r.lenient<std::int64_t>("speakerCount", 0);
    d.maxParticipants_ = r.lenientOptional<std::int64_t>("agoraMaxParticipants");
    d.ownerDetails_ = r.lenientOptional<KRUser>("ownerDetails");

    JsonObjectReader details = r.object("roomDetails");
    d.roomID_ = details.required<std::string>("roomID");
    d.topic_ = details.lenient<std::string>("topic", {});
    d.userId_ = details.lenient<std::string>("userId", {});
    d.mediaEngine_ = details.lenient<KRRoomMediaEngine>("mediaEngine", KRRoomMediaEngine::agora);
    d.isWatermarkEnabled_ = details.lenientOptional<bool>("isWatermarkEnabled");

    const JsonObjectReader options = details.lenientObject("advancedOptions");
    d.isHardAudioMute_ = options.lenient<bool>("participantHardAudioMute", false);
    d.isParticipantAudioEnabledoOnJoin_ = options.lenient<bool>("participantAudio", false);
    d.isParticipantVideoEnabledoOnJoin_ = options.lenient<bool>("participantVideo", false);
    return r.finish(std::move(d));
}

}  // namespace kr
