#include "KivRaneCoreSDK/Meeting/ControlMessages/IncomingControlMessages.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"

// What a control message from the others does: the table (ControlMessageTable.cpp) says which
// backend honours an event and who may send it; this file checks that once and holds the handlers,
// which change the meeting's state and then tell the delegates.

namespace kr {

namespace {

using E = KRRtmMessageEvent;


}  // namespace

IncomingControlMessages::IncomingControlMessages(std::unique_ptr<Meeting> meeting)
    : meeting_(std::move(meeting)) {}

void IncomingControlMessages::handleControlMessage(MediaBackend::Kind backend,
                                                   ControlMessageRoute route,
                                                   const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    Meeting& m = *meeting_;
    if (route == ControlMessageRoute::peer) {
        // Before the local id is known, an empty target would match it and act on someone
        // else's message.
        const std::string& localId = localParticipantId(backend);
        if (localId.empty() || message.targetParticipantId != localId)
            return;
    }
    const ControlMessageRow* row = find(route, message.message);
    if (!row)
        return;  // a channel event from one peer, a peer event on the channel, or reserved
    const ControlMessageRule& rule = row->on(backend);
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
            hostOnly = m.currentRoom().isLocalUserSharingScreen();
            break;
    }
    if (hostOnly && isFromKnownNonHost(backend, message))
        return;
    (this->*rule.handler)(message);
}

void IncomingControlMessages::applyOwnCommand(MediaBackend::Kind backend,
                                              KRRtmMessageEvent event) {
    KR_DCHECK_RUN_ON(checker_);
    const ControlMessageRow* row = find(ControlMessageRoute::channel, event);
    if (!row)
        return;
    const ControlMessageRule& rule = row->on(backend);
    if (rule.authority == ControlMessageAuthority::ignored)
        return;
    KRRtmMessage message;
    message.message = event;
    message.senderParticipantId = localParticipantId(backend);
    (this->*rule.handler)(message);
}

const std::string& IncomingControlMessages::localParticipantId(MediaBackend::Kind backend) {
    return backend == MediaBackend::Kind::roomEngine
               ? meeting_->meetingUsersManager().getCurrentParticipantId()
               : meeting_->currentRoom().userWebRtcId;
}

bool IncomingControlMessages::isFromKnownNonHost(MediaBackend::Kind backend,
                                                 const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    // Only the server's record says who hosts: a participant the client knows from the media
    // channel alone (a join without server calls, or before the next status reply) carries no
    // rights, and may well be the host.
    const std::string& senderId = message.senderParticipantId;
    const auto& records = backend == MediaBackend::Kind::roomEngine
                              ? m.meetingUsersManager().metaData()
                              : m.currentRoom().allParticipants;
    const auto record = std::find_if(records.begin(), records.end(), [&](const auto& r) {
        return !senderId.empty() && r.participantId == senderId;
    });
    if (record == records.end() || record->isHost || record->isCoHost) {
        return false;
    }
    // Rights granted by a message since that record was read.
    const auto sender = m.userById(senderId);
    if (sender && (sender->isHost() || sender->isCoHost())) {
        return false;
    }
    m.warn("Ignored host control \"" + std::string(rawValue(message.message)) +
           "\" from participant " + message.senderParticipantId +
           ", who is neither host nor co-host");
    return true;
}

// ---- Handlers both backends share ----

void IncomingControlMessages::onRecordingMessage(const KRRtmMessage& message) {
    meeting_->changeRecording(message.message == E::recordingStarted,
                              message.senderParticipantId);
}

void IncomingControlMessages::onMeetingLockMessage(const KRRtmMessage& message) {
    meeting_->changeMeetingLock(message.message == E::lockMeeting, message.senderParticipantId);
}

void IncomingControlMessages::onWhiteboardStopMessage(const KRRtmMessage& message) {
    meeting_->closeWhiteboard(message.senderParticipantId);
}

void IncomingControlMessages::onAudioVideoRequestMessage(const KRRtmMessage& message) {
    const auto host = meeting_->userById(message.senderParticipantId);
    switch (message.message) {
        case E::stopParticipantAudio:
        case E::stopParticipantVideo:
            meeting_->sendHostRequestToStopAudioVideoEvent(
                host, message.message == E::stopParticipantAudio);
            return;
        default:
            meeting_->sendHostRequestToStartAudioVideoEvent(
                host, message.message == E::requestToStartAudio);
            return;
    }
}

void IncomingControlMessages::onAudioVideoDeclineMessage(const KRRtmMessage& message) {
    meeting_->sendStartAudioVideoDeclineEvent(meeting_->userById(message.senderParticipantId),
                                              message.message == E::micDecline);
}

void IncomingControlMessages::onRemovalMessage(const KRRtmMessage& message) {
    meeting_->leaveMeeting(KRUserLeftReason::removedFromMeeting(message.senderName));
}

void IncomingControlMessages::onRemoteShareAnnounced(const KRRtmMessage&) {
    meeting_->remoteShareAnnounced();
}

// ---- The default engine's backend ----

void IncomingControlMessages::onHardMuteInRoomStore(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    KRCurrentRoom& room = m.currentRoom();
    room.isHardMuteEnabled = !m.getMeetingLocalUser()->isCoHost();
    m.muteLocalAudio(true);
    for (const auto& user : room.meetingUsers()) {
        user->audioTrack()->setIsHardAudioMuted(!user->isCoHost());
    }
    m.sendHardMuteEnabledEvent(performer);
}

void IncomingControlMessages::onHardUnmuteInRoomStore(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    KRCurrentRoom& room = m.currentRoom();
    room.isHardMuteEnabled = false;
    for (const auto& user : room.meetingUsers()) {
        user->audioTrack()->setIsHardAudioMuted(false);
    }
    m.sendHardMuteDisabledEvent(performer);
}

std::shared_ptr<KRMeetingUser> IncomingControlMessages::applySoftMute(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    m.currentRoom().isSoftMuteEnabled = true;
    m.muteLocalAudio(true);
    return performer;
}

void IncomingControlMessages::onSoftMuteToEveryDelegate(const KRRtmMessage& message) {
    meeting_->sendSoftAudioMuteEnabledEvent(applySoftMute(message), MeetingEvents::Reach::everyDelegate);
}

void IncomingControlMessages::onLowerAllHandsInRoomStore(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    KRCurrentRoom& room = m.currentRoom();
    for (const auto& user : room.meetingUsers()) {
        if (!user->isHandRaised())
            continue;
        m.holdAnnouncedHand(user);
        // Told by the lower-all's own report, below.
        user->setIsHandRaised(false);
    }
    m.lowerLocalHandForHost();
    m.sendHostLoweredAllHandsEvent(performer);
}

void IncomingControlMessages::onHandInRoomStore(const KRRtmMessage& message) {
    const auto sender = meeting_->getUser(message.senderParticipantId);
    if (!sender)
        return;
    const bool raised = message.message == E::participantRaiseHand;
    // The store tells the app, once the list shows another hand.
    meeting_->holdAnnouncedHand(sender);
    meeting_->currentRoom().changeHand(sender, raised);
}

void IncomingControlMessages::onRemoteShareStopsLocalWhiteboard(const KRRtmMessage& message) {
    if (meeting_->currentRoom().isLocalUserSharingWhiteboard) {
        meeting_->closeWhiteboard(message.senderParticipantId);
    }
    onRemoteShareAnnounced(message);
}

void IncomingControlMessages::onCoHostRightToEveryDelegate(const KRRtmMessage& message) {
    const auto sender = meeting_->getUser(message.senderParticipantId);
    if (!sender)
        return;
    meeting_->sendCoHostRightsChangedEvent(sender, message.message == E::makeCoHost,
                                           message.targetParticipantId,
                                           MeetingEvents::Reach::everyDelegate);
}

void IncomingControlMessages::onWhiteboardStartStopsLocalShare(const KRRtmMessage& message) {
    if (meeting_->currentRoom().isLocalUserSharingScreen()) {
        meeting_->postForceStopScreenShareDarwinNotification("");
    }
    meeting_->startWhitebboard(true, message.senderName, message.senderParticipantId);
}

void IncomingControlMessages::onReaction(const KRRtmMessage& message) {
    const auto sender = meeting_->getUser(message.senderParticipantId);
    if (!sender)
        return;
    meeting_->sendReactionReceivedEvent(sender, message.reactionsType);
}

void IncomingControlMessages::onStopShareOrWhiteboard(const KRRtmMessage&) {
    // Only a host may end someone's screen share (the table checks that while the local user
    // shares); otherwise it is the request of whoever stops the whiteboard the local user shares.
    const KRCurrentRoom& room = meeting_->currentRoom();
    if (room.isLocalUserSharingScreen()) {
        meeting_->postForceStopScreenShareDarwinNotification(LocalScreenShare::kHostStoppedReason);
        return;
    }
    if (room.isWhiteboardShared) {
        meeting_->stopWhiteboard();
    }
}

void IncomingControlMessages::onRoleInDefaultEngine(const KRRtmMessage& message) {
    meeting_->switchClientRole(message.message == E::participantDowngradeToAudience);
}

// ---- The room engine's backend ----

void IncomingControlMessages::onHardMuteInMerge(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    const auto local = m.getMeetingLocalUser();
    m.currentRoom().isHardMuteEnabled = !(local && (local->isCoHost() || local->isHost()));
    m.muteLocalAudio(true);
    m.meetingUsersManager().updateParticipantsHardMuteStatus(true);
    m.sendHardMuteEnabledEvent(performer);
}

void IncomingControlMessages::onHardUnmuteInMerge(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    m.currentRoom().isHardMuteEnabled = false;
    m.meetingUsersManager().updateParticipantsHardMuteStatus(false);
    m.sendHardMuteDisabledEvent(performer);
}

void IncomingControlMessages::onSoftMuteToMainDelegate(const KRRtmMessage& message) {
    meeting_->sendSoftAudioMuteEnabledEvent(applySoftMute(message), MeetingEvents::Reach::mainDelegate);
}

void IncomingControlMessages::onLowerAllHandsInMerge(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    const auto performer = m.userById(message.senderParticipantId);
    MeetingParticipantsManager& merge = m.meetingUsersManager();
    // Held before the merge lowers and reports them.
    for (const auto& user : merge.getAllMeetingUser()) {
        if (user->isHandRaised())
            m.holdAnnouncedHand(user);
    }
    merge.lowerAllParticipantsHands();
    // After the merge, which tells the app of the local hand with the others'.
    m.lowerLocalHandForHost();
    m.sendHostLoweredAllHandsEvent(performer);
}

void IncomingControlMessages::onHandInMerge(const KRRtmMessage& message) {
    // The merge tells the host through its own closures.
    MeetingParticipantsManager& merge = meeting_->meetingUsersManager();
    const bool raised = message.message == E::participantRaiseHand;
    // Held before the merge shows it; a hand the merge has no record of shows nowhere.
    const auto sender = merge.getMeetingUser(message.senderParticipantId);
    if (sender && merge.hasRecord(message.senderParticipantId))
        meeting_->holdAnnouncedHand(sender);
    merge.updateParticipantHandRaiseStatus(message.senderParticipantId, raised);
}

void IncomingControlMessages::onCoHostRightInMerge(const KRRtmMessage& message) {
    Meeting& m = *meeting_;
    MeetingParticipantsManager& merge = m.meetingUsersManager();
    const bool isCoHost = message.message == E::makeCoHost;
    // The target is named by its user id; the merge keys participants by their stream id.
    std::shared_ptr<KRMeetingUser> target;
    for (const auto& user : merge.getAllMeetingUser()) {
        if (!message.targetParticipantId.empty() &&
            (user->userId() == message.targetParticipantId ||
             user->id() == message.targetParticipantId)) {
            target = user;
            break;
        }
    }
    if (target) {
        merge.updateParticipantCoHostRight(target->id(), isCoHost);
    }
    const auto sender = merge.getMeetingUser(message.senderParticipantId);
    if (!sender)
        return;
    const auto local = m.getMeetingLocalUser();
    if (!local || !target || target != local)
        return;
    m.sendCoHostRightsChangedEvent(sender, isCoHost, local->userId(), MeetingEvents::Reach::mainDelegate);
}

void IncomingControlMessages::onWhiteboardStartOverridesShare(const KRRtmMessage& message) {
    meeting_->postForceStopScreenShareDarwinNotification(LocalScreenShare::kWhiteboardOverrideReason);
    meeting_->startWhitebboard(true, message.senderName, message.senderParticipantId);
}

void IncomingControlMessages::onForceStopShare(const KRRtmMessage&) {
    meeting_->postForceStopScreenShareDarwinNotification(LocalScreenShare::kHostStoppedReason);
}

void IncomingControlMessages::onRoleInRoomEngine(const KRRtmMessage& message) {
    meeting_->takeHostRoleMove(message.message == E::participantDowngradeToAudience);
}

}  // namespace kr
