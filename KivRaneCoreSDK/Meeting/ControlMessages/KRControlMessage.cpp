#include "KivRaneCoreSDK/Meeting/ControlMessages/KRControlMessage.h"

namespace kr {

namespace {

using E = KRRtmMessageEvent;

struct Shape {
    E event;
    bool peer;
    bool hostId;  // carries the local user's account id for an engine that reads the value
};

Shape shapeOf(KRControlMessage kind) {
    using K = KRControlMessage;
    switch (kind) {
        case K::handRaised:
            return {E::participantRaiseHand, false, false};
        case K::handLowered:
            return {E::lowerParticipantHand, false, false};
        case K::hardMuteEnabled:
            return {E::hardMuteEnabled, false, true};
        case K::hardMuteDisabled:
            return {E::hardMuteDisabled, false, true};
        case K::softMuteEnabled:
            return {E::softMuteEnabled, false, true};
        case K::lowerAllHands:
            return {E::hostLowerAllHands, false, true};
        case K::requestToStartAudio:
            return {E::requestToStartAudio, true, false};
        case K::stopParticipantAudio:
            return {E::stopParticipantAudio, true, false};
        case K::requestToStartVideo:
            return {E::requestToStartVideo, true, false};
        case K::stopParticipantVideo:
            return {E::stopParticipantVideo, true, false};
        case K::micDecline:
            return {E::micDecline, true, false};
        case K::videoDecline:
            return {E::videoDecline, true, false};
        case K::removeParticipant:
            return {E::hostRemoveParticipant, true, false};
        case K::downgradeToAudience:
            return {E::participantDowngradeToAudience, true, false};
        case K::upgradeToParticipant:
            return {E::audienceUpgradeToParticipant, true, false};
        case K::recordingStarted:
            return {E::recordingStarted, false, false};
        case K::recordingStopped:
            return {E::recordingStopped, false, false};
        case K::lockMeeting:
            return {E::lockMeeting, false, false};
        case K::unLockMeeting:
            return {E::unLockMeeting, false, false};
        case K::makeCoHost:
            return {E::makeCoHost, false, false};
        case K::removeCoHost:
            return {E::removeCoHost, false, false};
        case K::forceStopScreenShare:
            return {E::participantStopScreenShare, true, true};
        case K::screenShareOverride:
            return {E::participantOverrideScreenShare, false, true};
        case K::startWhiteboard:
            return {E::startWhiteboard, false, false};
        case K::stopWhiteboard:
            return {E::stopwhiteboard, false, false};
        case K::stopSharePrivate:
            return {E::participantStopScreenShare, true, false};
        case K::participantStartScreenShare:
            return {E::participantStartScreenShare, false, true};
        case K::participantStopScreenShare:
            return {E::participantStopScreenShare, false, true};
        case K::reaction:
            return {E::reactionShare, false, false};
    }
    return {E::unknown, false, false};
}

}  // namespace

std::optional<KRRtmMessage> makeControlMessage(KRControlMessage kind, const KRCurrentRoom& room,
                                               std::uint64_t localShareUid,
                                               const KRMeetingUser* target,
                                               const std::string& reactionsType) {
    const Shape shape = shapeOf(kind);
    KRRtmMessage message;
    message.messageType = shape.peer ? KRRtmMessageType::peerToPeer : KRRtmMessageType::publicChat;
    message.message = shape.event;
    message.senderParticipantId = room.userWebRtcId;
    message.senderName = room.userDisplayName;
    message.senderUserId = room.guestUserId;
    if (shape.hostId) {
        message.targetHostUserId = room.guestUserId;
    }
    switch (kind) {
        case KRControlMessage::stopSharePrivate:
            // Aimed at whoever shares the whiteboard, as the room knows it at this moment.
            message.targetParticipantId = room.whiteboardSharingId;
            message.targetParticipantName = room.whiteboardShareBy;
            break;
        case KRControlMessage::makeCoHost:
        case KRControlMessage::removeCoHost:
            // Co-host rights belong to the account, so the others match the account id.
            if (target) {
                message.targetParticipantId = target->userId();
                message.targetParticipantName = target->displayName();
            }
            break;
        case KRControlMessage::participantStartScreenShare:
            message.agoraShareUid = localShareUid;
            break;
        case KRControlMessage::reaction:
            message.reactionsType = reactionsType;
            break;
        default:
            if (shape.peer && target) {
                message.targetParticipantId = target->id();
                message.targetParticipantName = target->displayName();
            }
            break;
    }
    if (shape.peer && message.targetParticipantId.empty()) {
        return std::nullopt;
    }
    return message;
}

}  // namespace kr
