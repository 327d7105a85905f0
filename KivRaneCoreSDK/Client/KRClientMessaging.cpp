#include <algorithm>

#include "KivRaneCoreSDK/Client/KRClient.h"

// Control messages: the messaging session of a meeting, the messages the client sends to the
// others, and what a message from the room channel or from one peer does to the meeting.

namespace kr {

namespace {

constexpr const char* kHostStoppedShareReason = "Host has stopped your screen share";

/// Hands the manager's reports to the client without keeping it alive: the manager holds its
/// delegate weakly and the client holds this object.
class RtmDelegateAdapter final : public KRRtmManagerDelegate {
public:
    explicit RtmDelegateAdapter(std::weak_ptr<KRClient> client) : client_(std::move(client)) {}

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto client = client_.lock())
            client->didRecievePublicMessage(message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto client = client_.lock())
            client->didRecievePrivateMessage(message);
    }

private:
    std::weak_ptr<KRClient> client_;
};

}  // namespace

void KRClient::wireMessaging() {
    rtmDelegateAdapter_ = std::make_shared<RtmDelegateAdapter>(weak_from_this());
}

void KRClient::configureRtm() {
    rtmManager_->setDelegate(rtmDelegateAdapter_);
    rtmManager_->configureRtmKit(currentRoom_.webRtcAppId, currentRoom_.userWebRtmToken,
                                 currentRoom_.userWebRtcId, currentRoom_.roomID);
}

void KRClient::leaveRtm() {
    rtmManager_->leaveAndLogout();
}

void KRClient::sendControlMessage(ControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                                  Completion completion, const std::string& reactionsType) {
    if (isMultiMediaEngineIntegration_) {
        sendControlMessageThroughEngine(kind, target, std::move(completion), reactionsType);
        return;
    }
    if (shouldByPassAPICalls_ && (kind == ControlMessage::participantStartScreenShare ||
                                  kind == ControlMessage::participantStopScreenShare)) {
        completeLater(std::move(completion), false);
        return;
    }
    auto message = makeControlMessage(kind, currentRoom_, target.get(), reactionsType);
    if (!message) {
        logger_.warn("Control message not sent: it names no participant to send it to");
        completeLater(std::move(completion), false);
        return;
    }
    rtmManager_->sendMessage(*message, std::move(completion));
}

void KRClient::sendReactionType(const std::string& type) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Reaction")) return;
    sendControlMessage(ControlMessage::reaction, nullptr, {}, type);
}

void KRClient::declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Decline Audio Request")) return;
    sendControlMessage(ControlMessage::micDecline, host, {});
}

void KRClient::declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Decline Video Request")) return;
    sendControlMessage(ControlMessage::videoDecline, host, {});
}

bool KRClient::isFromKnownNonHost(const KRRtmMessage& message) {
    // Only the server's record says who hosts: a participant the client knows from the media
    // channel alone (a join without server calls, or before the next status reply) carries no
    // rights, and may well be the host.
    const std::string& senderId = message.senderParticipantId;
    const auto& records = isMultiMediaEngineIntegration_ ? meetingUsersManager_.metaData()
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

void KRClient::didRecievePublicMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    using E = KRRtmMessageEvent;
    KRCurrentRoom& room = currentRoom_;
    const std::string& senderId = message.senderParticipantId;
    switch (message.message) {
        case E::hardMuteEnabled: {
            if (isFromKnownNonHost(message))
                return;
            const auto performer = userById(senderId);
            room.isHardMuteEnabled = !getMeetingLocalUser()->isCoHost();
            muteLocalAudio(true);
            for (const auto& user : room.meetingUsers()) {
                user->audioTrack()->setIsHardAudioMuted(!user->isCoHost());
            }
            sendHardMuteEnabledEvent(performer);
            return;
        }
        case E::hardMuteDisabled: {
            if (isFromKnownNonHost(message))
                return;
            const auto performer = userById(senderId);
            room.isHardMuteEnabled = false;
            for (const auto& user : room.meetingUsers()) {
                user->audioTrack()->setIsHardAudioMuted(false);
            }
            sendHardMuteDisabledEvent(performer);
            return;
        }
        case E::softMuteEnabled: {
            if (isFromKnownNonHost(message))
                return;
            const auto performer = userById(senderId);
            room.isSoftMuteEnabled = true;
            muteLocalAudio(true);
            sendSoftAudioMuteEnabledEvent(performer);
            return;
        }
        case E::hostLowerAllHands: {
            if (isFromKnownNonHost(message))
                return;
            const auto performer = userById(senderId);
            for (const auto& user : room.meetingUsers()) {
                user->setIsHandRaised(false);
            }
            // The room's own flag too, or the next status post would raise the hand again.
            room.isCurrentUserHandRaised = false;
            sendHostLoweredAllHandsEvent(performer);
            return;
        }
        case E::participantRaiseHand:
        case E::lowerParticipantHand: {
            const auto sender = getUser(senderId);
            if (!sender)
                return;
            sender->setIsHandRaised(message.message == E::participantRaiseHand);
            sendRemoteUserHandRaisedEvent(sender);
            return;
        }
        case E::participantStartScreenShare:
            if (room.isLocalUserSharingWhiteboard) {
                sendStopWhiteboardEvent(senderId);
            }
            return;
        case E::recordingStarted:
            if (isFromKnownNonHost(message))
                return;
            sendRecordingStartedEvent(senderId);
            return;
        case E::recordingStopped:
            if (isFromKnownNonHost(message))
                return;
            sendRecordingStoppedEvent(senderId);
            return;
        case E::lockMeeting:
            if (isFromKnownNonHost(message))
                return;
            sendMeetingLockedEvent(senderId);
            return;
        case E::unLockMeeting:
            if (isFromKnownNonHost(message))
                return;
            sendMeetingUnLockedEvent(senderId);
            return;
        case E::makeCoHost:
        case E::removeCoHost: {
            if (isFromKnownNonHost(message))
                return;
            const auto sender = getUser(senderId);
            if (!sender)
                return;
            sendCoHostRightsChangedEvent(sender, message.message == E::makeCoHost,
                                         message.targetParticipantId);
            return;
        }
        case E::startWhiteboard:
            if (room.isLocalUserSharingScreen()) {
                postForceStopScreenShareDarwinNotification("");
            }
            startWhitebboard(true, message.senderName, senderId);
            return;
        case E::stopwhiteboard:
            sendStopWhiteboardEvent(senderId);
            return;
        case E::reactionShare: {
            const auto sender = getUser(senderId);
            if (!sender)
                return;
            sendReactionReceivedEvent(getCurrentMeetingData(), sender, message.reactionsType);
            return;
        }
        default:
            return;  // peer-directed or reserved events mean nothing on the channel
    }
}

void KRClient::didRecievePrivateMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    using E = KRRtmMessageEvent;
    // Before the local id is known, an empty target would match it and act on someone else's
    // message.
    if (currentRoom_.userWebRtcId.empty() ||
        message.targetParticipantId != currentRoom_.userWebRtcId) {
        return;
    }
    const std::string& senderId = message.senderParticipantId;
    switch (message.message) {
        case E::stopParticipantAudio:
        case E::stopParticipantVideo:
            sendHostRequestToStopAudioVideoEvent(userById(senderId),
                                                 message.message == E::stopParticipantAudio);
            return;
        case E::requestToStartAudio:
        case E::requestToStartVideo:
            sendHostRequestToStartAudioVideoEvent(userById(senderId),
                                                  message.message == E::requestToStartAudio);
            return;
        case E::micDecline:
        case E::videoDecline:
            sendStartAudioVideoDeclineEvent(userById(senderId), message.message == E::micDecline);
            return;
        case E::hostRemoveParticipant:
            if (isFromKnownNonHost(message))
                return;
            leaveMeeting(KRUserLeftReason::removedFromMeeting(message.senderName));
            return;
        case E::participantStopScreenShare:
            if (currentRoom_.isLocalUserSharingScreen()) {
                // Only a host may end someone's screen share; the whiteboard stop below is the
                // request of whoever stops the whiteboard the local user shares.
                if (isFromKnownNonHost(message))
                    return;
                postForceStopScreenShareDarwinNotification(kHostStoppedShareReason);
                return;
            }
            if (currentRoom_.isWhiteboardShared) {
                stopWhiteboard([](bool) {});
            }
            return;
        case E::participantDowngradeToAudience:
            if (isFromKnownNonHost(message))
                return;
            switchEngineClientRole(true);
            return;
        case E::audienceUpgradeToParticipant:
            switchEngineClientRole(false);
            return;
        default:
            return;  // channel events mean nothing from a single peer
    }
}

}  // namespace kr
