#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"

namespace kr {

namespace {

std::shared_ptr<KRMeetingUser> asUser(const std::shared_ptr<KRMediaTrack>& track) {
    if (!track || track->sourceType() != KRMediaTrackSourceType::user) {
        return nullptr;
    }
    return std::static_pointer_cast<KRMeetingUser>(track);
}

void applyRecord(KRMeetingUser& user, const KRMeetingParticipant& record) {
    if (!record.participantName.empty()) {
        user.setDisplayName(record.participantName);
    }
    if (!record.userId.empty()) {
        user.setUserId(record.userId);
    }
    user.setIsHost(record.isHost);
    user.setIsCoHost(record.isCoHost);
    user.setIsSharingScreen(record.isSharingScreen);
}

}  // namespace

void KRCurrentRoom::removeAllData() { allMediaTracks.clear(); }

void KRCurrentRoom::resetMeetingState() {
    historyId.clear();
    meetingOwnerUserId.clear();
    meetingOwnerName.clear();
    meetingTitle.clear();
    mediaEngine = KRRoomMediaEngine::agora;
    isGuestHost = false;
    isHardMuteEnabled = false;
    isSoftMuteEnabled = false;
    isAudioOnJoinAllowed = true;
    isVideoOnJoinAllowed = true;
    isMeetingLocked = false;
    isRecordingOn = false;
    ++recordingWords_;
    isWhiteboardShared = false;
    ++whiteboardStops_;
    isLocalUserSharingWhiteboard = false;
    whiteboardSharingId.clear();
    whiteboardShareBy.clear();
    whiteboardId.clear();
    whiteboardToken.clear();
    isCurrentUserAudioMuted = false;
    isCurrentUserVideoMuted = false;
    isCurrentUserInAudienceMode = false;
    isCurrentUserHandRaised = false;
    screenShareMetaData.clear();
    allMediaTracks.clear();
    allParticipants.clear();
    offlineParticipantsIds.clear();
    offlineParticipants.clear();
}

void KRCurrentRoom::setStartingMedia(bool audience, bool audioOn, bool videoOn) {
    isCurrentUserInAudienceMode = audience;
    isCurrentUserAudioMuted = !audioOn;
    isCurrentUserVideoMuted = !videoOn;
}

void KRCurrentRoom::removeTracksOnly(const std::string& id) {
    std::erase_if(allMediaTracks, [&](const auto& track) { return track && track->id() == id; });
}

void KRCurrentRoom::removeMediaTrack(const std::string& id) {
    removeTracksOnly(id);
    offlineParticipantsIds.push_back(id);
    const auto it = std::find_if(allParticipants.begin(), allParticipants.end(),
                                 [&](const auto& record) { return record.participantId == id; });
    if (it != allParticipants.end()) {
        offlineParticipants.push_back(*it);
        allParticipants.erase(it);
    }
    if (onMeetingParticipantsRefreshed) {
        onMeetingParticipantsRefreshed(allParticipants);
    }
}

std::shared_ptr<KRMeetingUser> KRCurrentRoom::upsertNewParticipantFromRtcDB(
    const KRRtcParticipantState& participant) {
    const std::string id = std::to_string(participant.uid);
    std::erase(offlineParticipantsIds, id);
    if (auto user = trackUser(id)) {
        user->audioTrack()->setIsMuted(participant.isAudioMuted);
        user->audioTrack()->setIsLoudest(participant.isLoudest);
        user->videoTrack()->setIsMuted(participant.isVideoMuted);
        user->videoTrack()->setStreamView(participant.view);
        changeRole(user, !participant.isAudience);
        return user;
    }
    // A participant who just joined usually has a current record from the last status poll;
    // one who came back has an offline record. Either gives the name and the role.
    KRMeetingParticipant record;
    bool found = false;
    const auto byId = [&](const KRMeetingParticipant& r) { return r.participantId == id; };
    if (auto it = std::find_if(offlineParticipants.begin(), offlineParticipants.end(), byId);
        it != offlineParticipants.end()) {
        record = *it;
        found = true;
        offlineParticipants.erase(it);
    } else if (auto current = std::find_if(allParticipants.begin(), allParticipants.end(), byId);
               current != allParticipants.end()) {
        record = *current;
        found = true;
    }
    auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = id,
        .userId = found ? record.userId : std::string(),
        .audioTrack = std::make_shared<KRAudioTrack>(id, participant.isAudioMuted),
        .videoTrack = std::make_shared<KRVideoTrack>(id, participant.isVideoMuted, participant.view),
        .displayName = found ? record.participantName : std::string(),
        .isSpeaker = !participant.isAudience,
        .isCoHost = found && record.isCoHost,
        .isHandRaised = found && record.isHandRaise,
        .isSharingScreen = found && record.isSharingScreen,
        .isHost = found && record.isHost});
    user->audioTrack()->setIsLoudest(participant.isLoudest);
    allMediaTracks.push_back(user);
    return user;
}

std::shared_ptr<KRMeetingUser> KRCurrentRoom::upsertNewParticipantFromKivDB(
    const KRMeetingParticipant& participant) {
    const std::string& id = participant.participantId;
    if (std::find(offlineParticipantsIds.begin(), offlineParticipantsIds.end(), id) !=
        offlineParticipantsIds.end()) {
        return nullptr;
    }
    if (auto user = matchingUser(id)) {
        applyRecord(*user, participant);
        changeHand(user, participant.isHandRaise);
        changeRole(user, participant.participantType == KRMeetingParticipantType::speaker);
        return user;
    }
    auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = id,
        .userId = participant.userId,
        .audioTrack = std::make_shared<KRAudioTrack>(id, !participant.isMicOn),
        .videoTrack = std::make_shared<KRVideoTrack>(id, !participant.isVideoOn, nullptr),
        .displayName = participant.participantName,
        .isSpeaker = participant.participantType == KRMeetingParticipantType::speaker,
        .isCoHost = participant.isCoHost,
        .isHandRaised = participant.isHandRaise,
        .isSharingScreen = participant.isSharingScreen,
        .isHost = participant.isHost});
    allMediaTracks.push_back(user);
    return user;
}

void KRCurrentRoom::changeHand(const std::shared_ptr<KRMeetingUser>& user, bool raised) {
    if (!user || user->isHandRaised() == raised) return;
    user->setIsHandRaised(raised);
    if (onHandChanged) onHandChanged(user);
}

void KRCurrentRoom::changeRole(const std::shared_ptr<KRMeetingUser>& user, bool isSpeaker) {
    if (!user || user->isSpeaker() == isSpeaker) return;
    user->setIsSpeaker(isSpeaker);
    if (onRoleChanged) onRoleChanged(user);
}

void KRCurrentRoom::updateParticipantsList(const KRMeetingParticipant& participant,
                                           PanelNotice notice) {
    bool replaced = false;
    for (auto& record : allParticipants) {
        if (record.participantId == participant.participantId) {
            record = participant;
            replaced = true;
        }
    }
    if (!replaced) {
        allParticipants.push_back(participant);
    }
    if (notice == PanelNotice::tell && onMeetingParticipantUpdate) {
        onMeetingParticipantUpdate(participant);
    }
}

std::optional<KRMeetingParticipant> KRCurrentRoom::reportUserLeft(const std::string& userId) {
    const auto found = std::find_if(allParticipants.begin(), allParticipants.end(),
                                    [&](const KRMeetingParticipant& p) { return p.userId == userId; });
    if (found == allParticipants.end()) return std::nullopt;
    // A copy: the hook may change the list.
    KRMeetingParticipant participant = *found;
    if (onMeetingParticipantRemoved) {
        onMeetingParticipantRemoved(participant);
    }
    return participant;
}

bool KRCurrentRoom::applyMeetingLocked(bool locked) {
    return std::exchange(isMeetingLocked, locked) != locked;
}

bool KRCurrentRoom::applyRecordingOn(bool on, std::optional<std::uint64_t> replyAskedAtWords) {
    if (!replyAskedAtWords) {
        ++recordingWords_;
    } else if (*replyAskedAtWords != recordingWords_) {
        return false;
    }
    return std::exchange(isRecordingOn, on) != on;
}

bool KRCurrentRoom::takeWhiteboardAccess(std::uint64_t asked, bool alreadyOpen) {
    if (alreadyOpen && asked < whiteboardAccessTaken_) return false;
    whiteboardAccessTaken_ = asked;
    return true;
}

bool KRCurrentRoom::applyWhiteboardStopped() {
    // However the board closed (its sharer's stop, a board or share of someone else), the local
    // user no longer owns one: a later stop of the local user must not end another's board.
    isLocalUserSharingWhiteboard = false;
    ++whiteboardStops_;
    whiteboardId.clear();
    whiteboardToken.clear();
    if (!std::exchange(isWhiteboardShared, false)) return false;
    whiteboardSharingId.clear();
    whiteboardShareBy.clear();
    return true;
}

bool KRCurrentRoom::isLocalUserSharingScreen() const {
    return std::any_of(allMediaTracks.begin(), allMediaTracks.end(), [&](const auto& track) {
        if (!track || track->sourceType() != KRMediaTrackSourceType::screenShare) {
            return false;
        }
        const auto share = std::static_pointer_cast<KRScreenShareTrack>(track);
        return !userWebRtcId.empty() && share->sharingUserId() == userWebRtcId;
    });
}

std::shared_ptr<KRMeetingUser> KRCurrentRoom::getLocalUser() const {
    if (auto user = matchingUser(userWebRtcId)) {
        return user;
    }
    return std::make_shared<KRMeetingUser>();
}

std::shared_ptr<KRMeetingUser> KRCurrentRoom::trackUser(const std::string& id) const {
    for (const auto& track : allMediaTracks) {
        if (track && track->id() == id) {
            return asUser(track);
        }
    }
    return nullptr;
}

std::shared_ptr<KRMeetingUser> KRCurrentRoom::matchingUser(const std::string& id) const {
    for (const auto& track : allMediaTracks) {
        if (auto user = asUser(track); user && user->id() == id) {
            return user;
        }
    }
    return nullptr;
}

std::vector<std::shared_ptr<KRMeetingUser>> KRCurrentRoom::meetingUsers() const {
    std::vector<std::shared_ptr<KRMeetingUser>> users;
    for (const auto& track : allMediaTracks) {
        if (auto user = asUser(track)) {
            users.push_back(std::move(user));
        }
    }
    return users;
}

}  // namespace kr
