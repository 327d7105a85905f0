#include <utility>

#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/DefaultEngine/DefaultEngineBackend.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Media/MediaCodes.h"

// The default engine's remote streams: each one placed as a participant or a screen share from
// the room store, after asking the server when the room does not know it yet, and taken away again.

namespace kr {

namespace {

using platform::MediaCodes;

/// The first track of the room holding this id, whatever its kind.
std::shared_ptr<KRMediaTrack> firstTrack(const KRCurrentRoom& room, const std::string& id) {
    for (const auto& track : room.allMediaTracks) {
        if (track && track->id() == id) return track;
    }
    return nullptr;
}

/// The user the host app is told has left: who it was and its rights, with what it was doing
/// (speaking, a raised hand, a share) cleared. Its own record stays as it is.
std::shared_ptr<KRMeetingUser> departingCopy(const KRMeetingUser& user) {
    return std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = user.id(),
        .userId = user.userId(),
        .displayName = user.displayName(),
        .isSpeaker = false,
        .isCoHost = user.isCoHost(),
        .isHandRaised = false,
        .isSharingScreen = false,
        .isHost = user.isHost()});
}

}  // namespace

std::optional<KRScreenShareInfo> DefaultEngineBackend::screenShareFor(std::uint64_t uid) const {
    for (const auto& info : port_.room().screenShareMetaData) {
        if (info.trackID() == uid) return info;
    }
    // Polling may have dropped the entry while the share track still stands.
    const auto track = firstTrack(port_.room(), std::to_string(uid));
    if (track && track->sourceType() == KRMediaTrackSourceType::screenShare) {
        const auto share = std::dynamic_pointer_cast<KRScreenShareTrack>(track);
        return KRScreenShareInfo(uid, share ? share->sharingUserId() : "",
                                 share ? share->sharingUserName() : "");
    }
    return std::nullopt;
}

// ---- A stream arrives ----

KRScreenShareInfo DefaultEngineBackend::localShareInfo(std::uint64_t uid) const {
    if (const auto known = screenShareFor(uid)) return *known;
    const auto local = port_.getMeetingLocalUser();
    return KRScreenShareInfo(uid, port_.room().userWebRtcId, local ? local->displayName() : "");
}

void DefaultEngineBackend::onEngineStreamAdded(std::uint64_t uid) {
    // The local share's own stream comes back to this engine like anyone's, often before the
    // room store names it: while the service cannot say what it is, asking about it would show
    // the local user's share as a participant of its own.
    if (port_.localShare().isOwnStream(uid)) {
        // A share that already ended (stopped before its stream came) is not shown again; its
        // stream's departure lets it go.
        if (uid == port_.localShare().streamUid()) addScreenShareStream(localShareInfo(uid));
        return;
    }
    const auto track = firstTrack(port_.room(), std::to_string(uid));
    if (track && track->sourceType() == KRMediaTrackSourceType::user) {
        addParticipantStream(uid, true);
        return;
    }
    if (const auto share = screenShareFor(uid)) {
        addScreenShareStream(*share);
        return;
    }
    askServerForStream(uid);
}

void DefaultEngineBackend::askServerForStream(std::uint64_t uid) {
    // One question per stream: a second report of the same uid waits for the first answer.
    if (!pendingStreamUids_.insert(uid).second) return;
    unaskedStreamUids_.push_back(uid);
    // Streams reported while a question is out are asked about together once it is answered:
    // in a room that fills up, one question per stream would fetch the whole room per stream.
    if (streamQuestion_.live()) return;
    askServerForUnaskedStreams();
}

void DefaultEngineBackend::askServerForUnaskedStreams() {
    const MeetingSession::Token session = port_.sessionToken();
    streamQuestion_ = session;
    // The core behind the port owns this backend: while the port lives, so does `this`.
    port_.getRoomConnectionStatus(
        [this, weak = port_.weakPort(), session,
         asked = std::exchange(unaskedStreamUids_, {})](bool answered) {
            // Held for the whole answer: a host callback below may drop the core's last owner.
            const auto port = weak.lock();
            if (!port) return;
            if (streamQuestion_.sameSession(session)) streamQuestion_ = {};
            for (const std::uint64_t uid : asked) {
                // An answer after a leave, a new join or the stream's own departure changes
                // nothing (a live session is the core's current one, not yet ended).
                if (!session.live() || pendingStreamUids_.erase(uid) == 0) continue;
                if (const auto share = screenShareFor(uid)) {
                    addScreenShareStream(*share);
                    continue;
                }
                addParticipantStream(uid, false);
                // Shown so that a newcomer is not hidden while the service cannot answer; it may
                // still turn out to be a share.
                if (!answered) standIns_.add(std::to_string(uid));
            }
            if (session.live() && !streamQuestion_.live() && !unaskedStreamUids_.empty()) {
                askServerForUnaskedStreams();
            }
            if (session.live() && !answered) standIns_.askLater(*port);
        });
}

// ---- Streams shown while the service could not say what they are ----

void DefaultEngineBackend::roomStatusApplied() {
    const auto standIns = standIns_.streams();
    for (const std::string& id : standIns) {
        const std::uint64_t uid = std::stoull(id);
        const auto share = screenShareFor(uid);
        if (share && standIns_.remove(id)) turnStandInIntoShare(uid, *share);
    }
}

void DefaultEngineBackend::remoteShareAnnounced() { standIns_.ask(port_); }

void DefaultEngineBackend::turnStandInIntoShare(std::uint64_t uid, const KRScreenShareInfo& info) {
    const std::string id = std::to_string(uid);
    const auto user = port_.room().trackUser(id);
    // Only the stand-in's track goes: no participant left, so nothing is marked offline and the
    // participant list, which never held it, is not refreshed.
    port_.room().removeTracksOnly(id);
    if (user) {
        // It leaves as the participant it was shown as.
        port_.events().sendRemoteUserLeftMeetingEvent(departingCopy(*user),
                                                      KRUserLeftReason::leaveMeeting());
    }
    addScreenShareStream(info);
}

void DefaultEngineBackend::addParticipantStream(std::uint64_t uid, bool knownTrack) {
    KRCurrentRoom& room = port_.room();
    // Participants fill their view.
    const auto participant = rtcManager_->setUpRemoteVideo(uid, MediaCodes::kRenderHidden);
    if (!participant) return;
    // Read before the update, which makes the user a speaker again.
    const auto previous = knownTrack ? room.trackUser(std::to_string(uid)) : nullptr;
    const bool movedByEngine = remoteAudienceUids_.erase(uid) != 0;
    const bool wasInAudience = previous && (movedByEngine || !previous->isSpeaker());
    // The update moves her back, and the room store tells of it.
    const auto user = room.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (!user || wasInAudience) return;
    user->setIsSpeaker(true);
    port_.events().sendRemoteUserJoinMeetingEvent(user);
    if (port_.getMeetingLocalUser()->isCoHost()) {
        rtcManager_->playChimeOnUserJoin();
    }
}

void DefaultEngineBackend::addScreenShareStream(const KRScreenShareInfo& info) {
    KRCurrentRoom& room = port_.room();
    const std::string id = std::to_string(info.trackID());
    rtcManager_->muteUnmuteUserVideoStream(false, id);
    // A shared screen is shown whole.
    const auto participant = rtcManager_->setUpRemoteVideo(info.trackID(), MediaCodes::kRenderFit);
    auto track = std::make_shared<KRScreenShareTrack>(
        id, std::make_shared<KRAudioTrack>(id, true),
        std::make_shared<KRVideoTrack>(id, false,
                                       participant ? participant->getRtcCanvasView() : nullptr),
        info.sharingUserID(), info.sharingUserName());
    auto& tracks = room.allMediaTracks;
    std::erase_if(tracks, [](const auto& t) {
        return t && t->sourceType() == KRMediaTrackSourceType::screenShare;
    });
    std::vector<std::shared_ptr<KRMediaTrack>> ordered;
    ordered.reserve(tracks.size() + 1);
    ordered.push_back(track);
    ordered.insert(ordered.end(), tracks.begin(), tracks.end());
    tracks = std::move(ordered);
    const std::uint64_t localShare = port_.localShare().streamUid();
    if (localShare != 0 && info.trackID() == localShare) {
        port_.localShare().trackShown(track, reach());
        return;
    }
    if (localShare != 0) {
        const std::string localId = room.userWebRtcId;
        std::erase_if(room.screenShareMetaData,
                      [&](const KRScreenShareInfo& e) { return e.sharingUserID() == localId; });
        port_.localShare().forceStop(LocalScreenShare::kRemoteOverrideReason);
    }
    port_.events().sendRemoteScreenShareEvent(KRScreenShareState::started(track), reach());
}

// ---- A stream goes ----

void DefaultEngineBackend::onEngineStreamRemoved(std::uint64_t uid,
                                                 const KRUserLeftReason& reason) {
    standIns_.remove(std::to_string(uid));
    // The local share's stream, whether its share still runs or already ended and was told: its
    // tracks go and it ends the share, never reported as anyone leaving.
    if (port_.localShare().isOwnStream(uid)) {
        pendingStreamUids_.erase(uid);
        removeScreenShareStream(localShareInfo(uid), reason);
        return;
    }
    if (pendingStreamUids_.erase(uid) != 0) {
        // Gone before anyone was told it came: nothing to report either way.
        return;
    }
    if (const auto share = screenShareFor(uid)) {
        removeScreenShareStream(*share, reason);
        return;
    }
    const std::string id = std::to_string(uid);
    auto user = port_.room().trackUser(id);
    if (!user) user = std::make_shared<KRMeetingUser>();
    const auto departing = departingCopy(*user);
    if (reason.kind() != KRUserLeftReason::Kind::becomeAudience) {
        remoteAudienceUids_.erase(uid);
        port_.room().removeMediaTrack(id);
    } else if (!user->id().empty()) {  // a known participant, now listening only
        remoteAudienceUids_.insert(uid);
    }
    port_.events().sendRemoteUserLeftMeetingEvent(departing, reason);
    if (port_.getMeetingLocalUser()->isCoHost()) {
        rtcManager_->playChimeOnUserLeave();
    }
}

void DefaultEngineBackend::removeScreenShareStream(const KRScreenShareInfo& info,
                                                   const KRUserLeftReason& reason) {
    KRCurrentRoom& room = port_.room();
    const std::string id = std::to_string(info.trackID());
    room.removeTracksOnly(id);
    std::erase_if(room.screenShareMetaData,
                  [&](const KRScreenShareInfo& e) { return e.trackID() == info.trackID(); });
    if (port_.localShare().streamLeft(info.trackID(), reason)) return;
    // The stream of an own share that already ended (the capture stops before the stream
    // goes): that end was told, and the share was never a remote one.
    if (!room.userWebRtcId.empty() && info.sharingUserID() == room.userWebRtcId) {
        return;
    }
    port_.events().sendRemoteScreenShareEvent(KRScreenShareState::stopped(reason, info.trackID()),
                                              reach());
}

}  // namespace kr
