#include <algorithm>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopScreenShareRequest.h"

// The core's side of the local screen share (`LocalScreenShare`): the host's calls forward to
// it, and the share reaches the meeting through what follows.

namespace kr {

void ClientCore::shareScreenAPICall(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    localScreenShare_.start(std::move(completion));
}

void ClientCore::stopLocalScreenShare() {
    KR_DCHECK_RUN_ON(checker_);
    localScreenShare_.stop();
}

void ClientCore::postForceStopScreenShareDarwinNotification(const std::string& reason) {
    localScreenShare_.forceStop(reason);
}

void ClientCore::addNotificationsObservers() {
    localScreenShare_.beginMeeting();
    addApplicationObservers();
}

void ClientCore::removeNotificationsObservers() {
    localScreenShare_.endMeeting();
    removeApplicationObservers();
}

// ---- LocalScreenShare::Owner ----

bool ClientCore::localShareMayStart() const {
    return meetingState() == MeetingState::inMeeting;
}

void ClientCore::requestShareStream(
    std::function<void(const LocalScreenShare::StreamReply&)> done) {
    send(StartScreenShareRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId),
         [done = std::move(done)](ClientCore&, const auto& result) {
             LocalScreenShare::StreamReply reply;
             reply.granted = result.ok() && result.value().success();
             if (reply.granted) {
                 reply.uid = result.value().agoraUid();
                 reply.token = result.value().agoraToken().value_or("");
             } else {
                 reply.error = replyErrorMessage(result);
             }
             done(reply);
         });
}

void ClientCore::requestShareStop() {
    send(StopScreenShareRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId),
         [](ClientCore&, const auto&) {});
}

void ClientCore::sendShareMessage(KRControlMessage message, Completion completion) {
    sendControlMessage(message, nullptr, std::move(completion));
}

bool ClientCore::meetingShowsAShare() const {
    // The meeting's tracks as its backend holds them: the room store's on the default road, the
    // participant merge's share tracks on the multimedia-engine road.
    const auto tracks = mediaBackend().mediaTracks();
    return std::any_of(tracks.begin(), tracks.end(), [](const auto& track) {
        return track && track->sourceType() == KRMediaTrackSourceType::screenShare;
    });
}

bool ClientCore::backendShowsLocalShare() const {
    return mediaBackend().knowsLocalShareWithoutTrack();
}

void ClientCore::reportLocalShare(const KRScreenShareState& state) {
    events_.sendLocalScreenShareEvent(state);
}

}  // namespace kr
