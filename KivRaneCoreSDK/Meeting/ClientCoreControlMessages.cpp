#include <algorithm>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"

// What a control message from the others does: the table (ControlMessageTable.cpp) says which
// road honours an event and who may send it; this file checks that once and holds the handlers,
// which change the meeting's state and then tell the delegates.

namespace kr {

namespace {

using E = KRRtmMessageEvent;

constexpr const char* kHostStoppedShareReason = "Host has stopped your screen share";
constexpr const char* kWhiteboardOverrideReason = "Screen share is overriden with Whiteboard.";

}  // namespace

void ClientCore::didRecievePublicMessage(const KRRtmMessage& message) {
    handleControlMessage(ControlMessageRoad::messaging, ControlMessageRoute::channel, message);
}

void ClientCore::didRecievePrivateMessage(const KRRtmMessage& message) {
    handleControlMessage(ControlMessageRoad::messaging, ControlMessageRoute::peer, message);
}

void ClientCore::handleControlMessage(ControlMessageRoad road, ControlMessageRoute route,
                                    const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    if (route == ControlMessageRoute::peer) {
        // Before the local id is known, an empty target would match it and act on someone
        // else's message.
        const std::string& localId = road == ControlMessageRoad::multiMedia
                                         ? meetingUsersManager_.getCurrentParticipantId()
                                         : currentRoom_.userWebRtcId;
        if (localId.empty() || message.targetParticipantId != localId)
            return;
    }
    const ControlMessageRow* row = ControlMessageTable::find(route, message.message);
    if (!row)
        return;  // a channel event from one peer, a peer event on the channel, or reserved
    const ControlMessageRule& rule = row->on(road);
    bool hostOnly = false;
    switch (rule.authority) {
        case ControlMessageAuthority::ignored:
            return;
        case ControlMessageAuthority::anyone:
            break;
        case ControlMessageAuthority::hostOrCoHost:
            hostOnly = true;
            break;
        case ControlMessageAuthority::hostOrCoHostWhileSharingScreen:
            hostOnly = currentRoom_.isLocalUserSharingScreen();
            break;
    }
    if (hostOnly && isFromKnownNonHost(road, message))
        return;
    (this->*rule.handler)(message);
}

bool ClientCore::isFromKnownNonHost(ControlMessageRoad road, const KRRtmMessage& message) {
    // Only the server's record says who hosts: a participant the client knows from the media
    // channel alone (a join without server calls, or before the next status reply) carries no
    // rights, and may well be the host.
    const std::string& senderId = message.senderParticipantId;
    const auto& records = road == ControlMessageRoad::multiMedia ? meetingUsersManager_.metaData()
                                                                 : currentRoom_.allParticipants;
    const auto record = std::find_if(records.begin(), records.end(), [&](const auto& r) {
        return !senderId.empty() && r.participantId == senderId;
    });
    if (record == records.end() || record->isHost || record->isCoHost) {
        return false;
    }
    // Rights granted by a message since that record was read.
    const auto sender = userById(senderId);
    if (sender && (sender->isHost() || sender->isCoHost())) {
        return false;
    }
    logger_.warn("Ignored host control \"" + std::string(rawValue(message.message)) +
                 "\" from participant " + message.senderParticipantId +
                 ", who is neither host nor co-host");
    return true;
}

// ---- State a message or a reply changes, told once ----

void ClientCore::changeMeetingLock(bool locked, const std::optional<std::string>& by) {
    if (!currentRoom_.applyMeetingLocked(locked))
        return;
    if (locked) {
        sendMeetingLockedEvent(by);
    } else {
        sendMeetingUnLockedEvent(by);
    }
}

void ClientCore::changeRecording(bool on, const std::optional<std::string>& by) {
    if (!currentRoom_.applyRecordingOn(on))
        return;
    if (on) {
        sendRecordingStartedEvent(by);
    } else {
        sendRecordingStoppedEvent(by);
    }
}

void ClientCore::closeWhiteboard(const std::optional<std::string>& by) {
    if (currentRoom_.applyWhiteboardStopped())
        sendStopWhiteboardEvent(by);
}

// ---- Handlers both roads share ----

void ClientCore::onRecordingMessage(const KRRtmMessage& message) {
    changeRecording(message.message == E::recordingStarted, message.senderParticipantId);
}

void ClientCore::onMeetingLockMessage(const KRRtmMessage& message) {
    changeMeetingLock(message.message == E::lockMeeting, message.senderParticipantId);
}

void ClientCore::onWhiteboardStopMessage(const KRRtmMessage& message) {
    closeWhiteboard(message.senderParticipantId);
}

void ClientCore::onAudioVideoRequestMessage(const KRRtmMessage& message) {
    const auto host = userById(message.senderParticipantId);
    switch (message.message) {
        case E::stopParticipantAudio:
        case E::stopParticipantVideo:
            sendHostRequestToStopAudioVideoEvent(host, message.message == E::stopParticipantAudio);
            return;
        default:
            sendHostRequestToStartAudioVideoEvent(host, message.message == E::requestToStartAudio);
            return;
    }
}

void ClientCore::onAudioVideoDeclineMessage(const KRRtmMessage& message) {
    sendStartAudioVideoDeclineEvent(userById(message.senderParticipantId),
                                    message.message == E::micDecline);
}

void ClientCore::onRemovalMessage(const KRRtmMessage& message) {
    leaveMeeting(KRUserLeftReason::removedFromMeeting(message.senderName));
}

// ---- Default road ----

void ClientCore::onHardMuteInRoomStore(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    currentRoom_.isHardMuteEnabled = !getMeetingLocalUser()->isCoHost();
    muteLocalAudio(true);
    for (const auto& user : currentRoom_.meetingUsers()) {
        user->audioTrack()->setIsHardAudioMuted(!user->isCoHost());
    }
    sendHardMuteEnabledEvent(performer);
}

void ClientCore::onHardUnmuteInRoomStore(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    currentRoom_.isHardMuteEnabled = false;
    for (const auto& user : currentRoom_.meetingUsers()) {
        user->audioTrack()->setIsHardAudioMuted(false);
    }
    sendHardMuteDisabledEvent(performer);
}

void ClientCore::onSoftMuteToEveryDelegate(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    currentRoom_.isSoftMuteEnabled = true;
    muteLocalAudio(true);
    sendSoftAudioMuteEnabledEvent(performer);
}

void ClientCore::onLowerAllHandsInRoomStore(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    for (const auto& user : currentRoom_.meetingUsers()) {
        user->setIsHandRaised(false);
    }
    // The room's own flag too, or the next status post would raise the hand again.
    currentRoom_.isCurrentUserHandRaised = false;
    sendHostLoweredAllHandsEvent(performer);
}

void ClientCore::onHandInRoomStore(const KRRtmMessage& message) {
    const auto sender = getUser(message.senderParticipantId);
    if (!sender)
        return;
    sender->setIsHandRaised(message.message == E::participantRaiseHand);
    sendRemoteUserHandRaisedEvent(sender);
}

void ClientCore::onRemoteShareStopsLocalWhiteboard(const KRRtmMessage& message) {
    if (currentRoom_.isLocalUserSharingWhiteboard) {
        closeWhiteboard(message.senderParticipantId);
    }
}

void ClientCore::onCoHostRightToEveryDelegate(const KRRtmMessage& message) {
    const auto sender = getUser(message.senderParticipantId);
    if (!sender)
        return;
    sendCoHostRightsChangedEvent(sender, message.message == E::makeCoHost,
                                 message.targetParticipantId);
}

void ClientCore::onWhiteboardStartStopsLocalShare(const KRRtmMessage& message) {
    if (currentRoom_.isLocalUserSharingScreen()) {
        postForceStopScreenShareDarwinNotification("");
    }
    startWhitebboard(true, message.senderName, message.senderParticipantId);
}

void ClientCore::onReaction(const KRRtmMessage& message) {
    const auto sender = getUser(message.senderParticipantId);
    if (!sender)
        return;
    sendReactionReceivedEvent(getCurrentMeetingData(), sender, message.reactionsType);
}

void ClientCore::onStopShareOrWhiteboard(const KRRtmMessage&) {
    // Only a host may end someone's screen share (the table checks that while the local user
    // shares); otherwise it is the request of whoever stops the whiteboard the local user shares.
    if (currentRoom_.isLocalUserSharingScreen()) {
        postForceStopScreenShareDarwinNotification(kHostStoppedShareReason);
        return;
    }
    if (currentRoom_.isWhiteboardShared) {
        stopWhiteboard([](bool) {});
    }
}

void ClientCore::onRoleInDefaultEngine(const KRRtmMessage& message) {
    mediaBackend().switchClientRole(message.message == E::participantDowngradeToAudience);
}

// ---- Multimedia-engine road ----

void ClientCore::onHardMuteInMerge(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    const auto local = getMeetingLocalUser();
    currentRoom_.isHardMuteEnabled = !(local && (local->isCoHost() || local->isHost()));
    muteLocalAudio(true);
    meetingUsersManager_.updateParticipantsHardMuteStatus(true);
    sendHardMuteEnabledEvent(performer);
}

void ClientCore::onHardUnmuteInMerge(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    currentRoom_.isHardMuteEnabled = false;
    meetingUsersManager_.updateParticipantsHardMuteStatus(false);
    sendHardMuteDisabledEvent(performer);
}

void ClientCore::onSoftMuteToMainDelegate(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    currentRoom_.isSoftMuteEnabled = true;
    muteLocalAudio(true);
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) { d.didHostEnableSoftAudioMute(meeting, performer); });
}

void ClientCore::onLowerAllHandsInMerge(const KRRtmMessage& message) {
    const auto performer = userById(message.senderParticipantId);
    // The local hand goes down too, or the next status post would raise it again at the server,
    // and every poll after it everywhere.
    currentRoom_.isCurrentUserHandRaised = false;
    meetingUsersManager_.lowerAllParticipantsHands();
    sendHostLoweredAllHandsEvent(performer);
}

void ClientCore::onHandInMerge(const KRRtmMessage& message) {
    // The merge tells the host through its own closures.
    meetingUsersManager_.updateParticipantHandRaiseStatus(
        message.senderParticipantId, message.message == E::participantRaiseHand);
}

void ClientCore::onCoHostRightInMerge(const KRRtmMessage& message) {
    const bool isCoHost = message.message == E::makeCoHost;
    // The target is named by its user id; the merge keys participants by their stream id.
    std::shared_ptr<KRMeetingUser> target;
    for (const auto& user : meetingUsersManager_.getAllMeetingUser()) {
        if (!message.targetParticipantId.empty() &&
            (user->userId() == message.targetParticipantId ||
             user->id() == message.targetParticipantId)) {
            target = user;
            break;
        }
    }
    if (target) {
        meetingUsersManager_.updateParticipantCoHostRight(target->id(), isCoHost);
    }
    const auto sender = meetingUsersManager_.getMeetingUser(message.senderParticipantId);
    if (!sender)
        return;
    const auto local = getMeetingLocalUser();
    if (!local || !target || target != local)
        return;
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate(
        [&](KRClientDelegate& d) { d.didCoHostRightsChanged(meeting, sender, isCoHost); });
}

void ClientCore::onWhiteboardStartOverridesShare(const KRRtmMessage& message) {
    postForceStopScreenShareDarwinNotification(kWhiteboardOverrideReason);
    startWhitebboard(true, message.senderName, message.senderParticipantId);
}

void ClientCore::onForceStopShare(const KRRtmMessage&) {
    postForceStopScreenShareDarwinNotification(kHostStoppedShareReason);
}

void ClientCore::onRoleInRoomEngine(const KRRtmMessage& message) {
    if (const auto& engine = rtcEngineManager()) {
        engine->switchClientRole(message.message == E::participantDowngradeToAudience);
    }
}

}  // namespace kr
