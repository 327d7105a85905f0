#include "KivRaneCoreSDK/Client/KRClient.h"

// Control messages on the multimedia-engine road: they travel through the room's engine, and
// what arrives acts on the participant merge of this road rather than on the room store.

namespace kr {

namespace {

constexpr const char* kWhiteboardOverrideReason = "Screen share is overriden with Whiteboard.";
constexpr const char* kHostStoppedShareReason = "Host has stopped your screen share";

}  // namespace

/// Held weakly by the engine; owned by the client. One per join: a message still arriving
/// through the receiver of a meeting that was left or failed must not act on the client.
class KRClient::MultiMediaRtmAdapter final : public RtmManagerDelegate {
public:
    MultiMediaRtmAdapter(std::weak_ptr<KRClient> client, std::uint64_t generation)
        : client_(std::move(client)), generation_(generation) {}
    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto c = current()) c->didReceiveMultiMediaPublicMessage(message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto c = current()) c->didReceiveMultiMediaPrivateMessage(message);
    }
    std::uint64_t generation() const { return generation_; }

private:
    std::shared_ptr<KRClient> current() const {
        auto c = client_.lock();
        return c && c->isCurrent(generation_) ? c : nullptr;
    }
    std::weak_ptr<KRClient> client_;
    std::uint64_t generation_;
};

std::shared_ptr<RtmManagerDelegate> KRClient::multiMediaRtmDelegate() {
    if (!multiMediaRtmAdapter_ || multiMediaRtmAdapter_->generation() != generation_) {
        multiMediaRtmAdapter_ = std::make_shared<MultiMediaRtmAdapter>(weak_from_this(), generation_);
    }
    return multiMediaRtmAdapter_;
}

void KRClient::sendControlMessageThroughEngine(ControlMessage kind,
                                               const std::shared_ptr<KRMeetingUser>& target,
                                               Completion completion,
                                               const std::string& reactionsType) {
    auto message = makeControlMessage(kind, currentRoom_, target.get(), reactionsType);
    if (!message || !rtcEngineManager_) {
        logger_.warn(message ? "Control message not sent: no engine carries it"
                             : "Control message not sent: it names no participant to send it to");
        completeLater(std::move(completion), false);
        return;
    }
    if (message->messageType == KRRtmMessageType::publicChat) {
        rtcEngineManager_->sendPublicMessage(*message);
    } else {
        rtcEngineManager_->sendPrivateMessage(*message);
    }
    // The engine's messaging reports no outcome of its own: handed over is as far as it is known.
    completeLater(std::move(completion), true);
}

void KRClient::handleMultiMediaCoHostRight(const KRRtmMessage& message, bool isCoHost) {
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
    if (!sender) return;
    const auto local = getMeetingLocalUser();
    if (!local || !target || target != local) return;
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) { d.didCoHostRightsChanged(meeting, sender, isCoHost); });
}

void KRClient::didReceiveMultiMediaPublicMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    using E = KRRtmMessageEvent;
    const std::string& senderId = message.senderParticipantId;
    switch (message.message) {
        case E::hardMuteEnabled: {
            if (isFromKnownNonHost(message)) return;
            const auto performer = userById(senderId);
            const auto local = getMeetingLocalUser();
            currentRoom_.isHardMuteEnabled = !(local && (local->isCoHost() || local->isHost()));
            muteLocalAudio(true);
            meetingUsersManager_.updateParticipantsHardMuteStatus(true);
            sendHardMuteEnabledEvent(performer);
            return;
        }
        case E::hardMuteDisabled: {
            if (isFromKnownNonHost(message)) return;
            const auto performer = userById(senderId);
            currentRoom_.isHardMuteEnabled = false;
            meetingUsersManager_.updateParticipantsHardMuteStatus(false);
            sendHardMuteDisabledEvent(performer);
            return;
        }
        case E::softMuteEnabled: {
            if (isFromKnownNonHost(message)) return;
            const auto performer = userById(senderId);
            currentRoom_.isSoftMuteEnabled = true;
            muteLocalAudio(true);
            // Only the main delegate hears a soft mute on this road.
            const KRMeeting meeting = getCurrentMeetingData();
            forMainDelegate(
                [&](KRClientDelegate& d) { d.didHostEnableSoftAudioMute(meeting, performer); });
            return;
        }
        case E::hostLowerAllHands: {
            if (isFromKnownNonHost(message)) return;
            const auto performer = userById(senderId);
            // The local hand goes down too, or the next status post would raise it again at the
            // server, and every poll after it everywhere.
            currentRoom_.isCurrentUserHandRaised = false;
            meetingUsersManager_.lowerAllParticipantsHands();
            sendHostLoweredAllHandsEvent(performer);
            return;
        }
        case E::participantRaiseHand:
        case E::lowerParticipantHand:
            meetingUsersManager_.updateParticipantHandRaiseStatus(
                senderId, message.message == E::participantRaiseHand);
            return;
        case E::recordingStarted:
            if (isFromKnownNonHost(message)) return;
            sendRecordingStartedEvent(senderId);
            return;
        case E::recordingStopped:
            if (isFromKnownNonHost(message)) return;
            sendRecordingStoppedEvent(senderId);
            return;
        case E::lockMeeting:
            if (isFromKnownNonHost(message)) return;
            sendMeetingLockedEvent(senderId);
            return;
        case E::unLockMeeting:
            if (isFromKnownNonHost(message)) return;
            sendMeetingUnLockedEvent(senderId);
            return;
        case E::makeCoHost:
        case E::removeCoHost:
            if (isFromKnownNonHost(message)) return;
            handleMultiMediaCoHostRight(message, message.message == E::makeCoHost);
            return;
        case E::startWhiteboard:
            postForceStopScreenShareDarwinNotification(kWhiteboardOverrideReason);
            startWhitebboard(true, message.senderName, senderId);
            return;
        case E::stopwhiteboard:
            sendStopWhiteboardEvent(senderId);
            return;
        default:
            return;  // peer-directed events and reactions mean nothing on this road's channel
    }
}

void KRClient::didReceiveMultiMediaPrivateMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    using E = KRRtmMessageEvent;
    const std::string& localId = meetingUsersManager_.getCurrentParticipantId();
    if (localId.empty() || message.targetParticipantId != localId) {
        return;  // for someone else, or before the local join
    }
    const std::string& senderId = message.senderParticipantId;
    switch (message.message) {
        case E::stopParticipantAudio:
        case E::stopParticipantVideo:
            if (isFromKnownNonHost(message)) return;
            sendHostRequestToStopAudioVideoEvent(userById(senderId),
                                                 message.message == E::stopParticipantAudio);
            return;
        case E::requestToStartAudio:
        case E::requestToStartVideo:
            if (isFromKnownNonHost(message)) return;
            sendHostRequestToStartAudioVideoEvent(userById(senderId),
                                                  message.message == E::requestToStartAudio);
            return;
        case E::hostRemoveParticipant:
            if (isFromKnownNonHost(message)) return;
            leaveMeeting(KRUserLeftReason::removedFromMeeting(message.senderName));
            return;
        case E::participantStopScreenShare:
            if (isFromKnownNonHost(message)) return;
            postForceStopScreenShareDarwinNotification(kHostStoppedShareReason);
            return;
        case E::micDecline:
        case E::videoDecline:
            sendStartAudioVideoDeclineEvent(userById(senderId), message.message == E::micDecline);
            return;
        case E::participantDowngradeToAudience:
            if (isFromKnownNonHost(message)) return;
            if (rtcEngineManager_) rtcEngineManager_->switchClientRole(true);
            return;
        case E::audienceUpgradeToParticipant:
            if (isFromKnownNonHost(message)) return;
            if (rtcEngineManager_) rtcEngineManager_->switchClientRole(false);
            return;
        default:
            return;  // channel events mean nothing from a single peer
    }
}

}  // namespace kr
