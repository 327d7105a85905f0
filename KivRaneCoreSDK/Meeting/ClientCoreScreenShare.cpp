#include <algorithm>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Notifications/DarwinNotifyCenter.h"

namespace kr {

namespace {
constexpr const char* kShareStartFailedReason = "Screen share could not be started";
}  // namespace

void ClientCore::addNotificationsObservers() {
    removeNotificationsObservers();
    auto& center = *deps_.extensionNotifications;
    // The extension posts from wherever it runs; the client acts on its own queue.
    const auto observe = [&](const char* name, void (*action)(ClientCore&)) {
        darwinObservers_.push_back(center.addObserver(
            name, [run = actionOnQueue(action)](const std::string&) { run(); }));
    };
    observe(kCaptureStartedNotification, [](ClientCore& c) { c.shareScreenAPICall({}); });
    observe(kStreamStartedNotification, [](ClientCore& c) { c.handleScreenShareStreamStarted(); });
    observe(kCaptureStoppedNotification, [](ClientCore& c) { c.handleScreenShareCaptureStopped(); });
    addApplicationObservers();
}

void ClientCore::removeNotificationsObservers() {
    auto& center = *deps_.extensionNotifications;
    for (const auto token : darwinObservers_) {
        center.removeObserver(token);
    }
    darwinObservers_.clear();
    removeApplicationObservers();
}

bool ClientCore::localShareMayStart() const {
    // From the start of a leave on, the leave has told the server and the extension that the
    // local share is over: no share stream is asked for or handed over any more.
    return meetingState() == MeetingState::inMeeting;
}

void ClientCore::shareScreenAPICall(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!localShareMayStart()) {
        completeLater(std::move(completion), false);
        return;
    }
    const SessionToken session = sessionToken();
    send(StartScreenShareRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId),
         [session, completion = std::move(completion)](ClientCore& client,
                                                          const auto& result) {
             if (!session.live() || !client.localShareMayStart()) {
                 if (completion) completion(false);
                 return;
             }
             const bool ok = result.ok() && result.value().success();
             const std::string token = ok ? result.value().agoraToken().value_or("") : "";
             const std::uint64_t uid = ok ? result.value().agoraUid() : 0;
             if (!ok || token.empty() || uid == 0) {
                 // Sharing as uid 0 or without a token would fail inside the engine, unseen.
                 client.logger_.error("Start Screen Share Error ::: " +
                                      (ok ? std::string("no usable share stream")
                                          : replyErrorMessage(result)));
                 client.postForceStopScreenShareDarwinNotification(kShareStartFailedReason);
                 if (completion) completion(false);
                 return;
             }
             client.logger_.info("Start Screen Share API Successfull");
             client.currentRoom_.localScreenShareTrackUid = uid;
             client.currentRoom_.localScreenShareTrackRtcToken = token;
             if (!client.currentAppGroupName_.empty()) {
                 if (auto suite = platform::UserDefaults::suite(client.currentAppGroupName_, client.deps_.storageDirectory)) {
                     suite->set(kShareUidKey, boost::json::value(uid));
                     suite->set(kShareTokenKey, token);
                 }
             }
             client.deps_.extensionNotifications->post(kCredentialsReadyNotification);
             if (completion) completion(true);
         });
}

void ClientCore::handleScreenShareStreamStarted() {
    if (!localShareMayStart() || shouldByPassAPICalls_) {
        return;  // without the server road the share messages are not sent
    }
    // The meeting's tracks as its backend holds them: the room store's on the default road, the
    // participant merge's share tracks on the multimedia-engine road.
    const auto tracks = mediaBackend().mediaTracks();
    const bool someoneShares = std::any_of(tracks.begin(), tracks.end(), [](const auto& track) {
        return track && track->sourceType() == KRMediaTrackSourceType::screenShare;
    });
    if (!someoneShares) {
        sendControlMessage(ControlMessage::participantStartScreenShare, nullptr, {});
        return;
    }
    std::weak_ptr<ClientCore> weak = weak_from_this();
    sendControlMessage(ControlMessage::screenShareOverride, nullptr, [weak](bool) {
        if (auto self = weak.lock()) {
            self->sendControlMessage(ControlMessage::participantStartScreenShare, nullptr, {});
        }
    });
}

void ClientCore::handleScreenShareCaptureStopped() {
    if (currentRoom_.localScreenShareTrackUid == 0) {
        return;
    }
    if (!shouldByPassAPICalls_) {
        sendControlMessage(ControlMessage::participantStopScreenShare, nullptr, {});
    }
    endLocalShare(KRUserLeftReason::leaveMeeting());
}

void ClientCore::stopLocalScreenShare() {
    KR_DCHECK_RUN_ON(checker_);
    if (currentRoom_.localScreenShareTrackUid == 0 && !currentRoom_.isLocalUserSharingScreen()) {
        return;
    }
    if (!shouldByPassAPICalls_) {
        sendControlMessage(ControlMessage::participantStopScreenShare, nullptr, {});
    }
    postForceStopScreenShareDarwinNotification("");
}

void ClientCore::endLocalShare(const KRUserLeftReason& reason) {
    // Every end of the local share comes through here, whoever ended it (the local user, the
    // extension, the host, another share, a leave), and the first one clears the uid: the server
    // hears of the end once and the host app is told once.
    const std::uint64_t uid = currentRoom_.localScreenShareTrackUid;
    if (uid == 0) return;
    currentRoom_.localScreenShareTrackUid = 0;
    currentRoom_.localScreenShareTrackRtcToken.clear();
    if (!shouldByPassAPICalls_) {
        stopScreenShareAPI();
    }
    sendLocalScreenShareEvent(KRScreenShareState::stopped(reason, uid));
}

}  // namespace kr
