#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/ChangeUserRoleRequest.h"
#include "KivRaneCoreSDK/Network/Requests/CoHostRequest.h"
#include "KivRaneCoreSDK/Network/Requests/HostActionsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LockMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteAllParticipantsAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantVideoRequest.h"
#include "KivRaneCoreSDK/Network/Requests/RemoveParticipantRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/UnLockMeetingRequest.h"

// Host controls: the server is asked first; only after it agreed are the others told (control
// message) and the local state and events changed. A refusal sends nothing and completes false.
// A command aimed at one participant (mute, role, removal) completes true only once that
// participant was told: a refused message is sent again while the meeting goes on.
// Outside a meeting none of them reaches the server or the others: the ids and the token still
// held after a leave would otherwise act on the room just left. An answer that arrives after the
// meeting ended only completes (`sendHostRequest`).

namespace kr {

namespace {
std::string refusalText(std::string_view action) {
    return std::string(action) + " Error ::: not in a meeting";
}
}  // namespace

bool ClientCore::allowedOnceJoinedUntilLeave(std::string_view action, const Completion& completion) {
    const auto state = meetingState();
    if (state == MeetingState::inMeeting || state == MeetingState::awaitingMedia) return true;
    logger_.error(refusalText(action));
    completeLater(completion, false);
    return false;
}

bool ClientCore::allowedFromJoinThroughLeave(std::string_view action, const Completion& completion) {
    if (session_ && session_->isActive()) return true;
    logger_.error(refusalText(action));
    completeLater(completion, false);
    return false;
}

void ClientCore::lockMeeting(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Lock Meeting", completion)) return;
    sendHostRequest(LockMeetingRequest(currentRoom_.roomID, currentRoom_.historyId), "Lock Meeting",
                    std::move(completion), [](ClientCore& client) {
                        client.sendControlMessage(ControlMessage::lockMeeting, nullptr, {});
                        client.events().changeMeetingLock(true, client.currentRoom_.userWebRtcId);
                    });
}

void ClientCore::unLockMeeting(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("UnLock Meeting", completion)) return;
    sendHostRequest(UnLockMeetingRequest(currentRoom_.roomID, currentRoom_.historyId),
                    "UnLock Meeting", std::move(completion), [](ClientCore& client) {
                        client.sendControlMessage(ControlMessage::unLockMeeting, nullptr, {});
                        client.events().changeMeetingLock(false, client.currentRoom_.userWebRtcId);
                    });
}

void ClientCore::startRecording(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Start Recording", completion)) return;
    sendRecordingRequest(StartRecordingRequest(currentRoom_.historyId), true,
                         std::move(completion));
}

void ClientCore::stopRecording(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Stop Recording", completion)) return;
    sendRecordingRequest(StopRecordingRequest(currentRoom_.historyId), false,
                         std::move(completion));
}

template <class Request>
void ClientCore::sendRecordingRequest(const Request& request, bool start, Completion completion) {
    sendHostRequest(
        request, start ? "Start Recording" : "Stop Recording", std::move(completion),
        [start](ClientCore& client) {
            client.sendControlMessage(
                start ? ControlMessage::recordingStarted : ControlMessage::recordingStopped,
                nullptr, {});
            client.events().changeRecording(start, client.currentRoom_.userWebRtcId);
        },
        [start](ClientCore& client, const std::string& message) {
            client.events().sendErrorEvent(start ? KRMeetingError::recordingStartFailed(message)
                                        : KRMeetingError::recordingStopFailed(message));
        });
}

void ClientCore::hardMuteUnmuteUsersAudio(bool isMute, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Hard Mute", completion)) return;
    sendHostRequest(
        MuteAllParticipantsAudioRequest(currentRoom_.meetingId, currentRoom_.roomID, true, isMute),
        "Hard Mute", std::move(completion), [isMute](ClientCore& client) {
            client.sendControlMessage(
                isMute ? ControlMessage::hardMuteEnabled : ControlMessage::hardMuteDisabled,
                nullptr, {});
        });
}

void ClientCore::softMuteUsersAudio(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Soft Mute", completion)) return;
    sendHostRequest(
        MuteAllParticipantsAudioRequest(currentRoom_.meetingId, currentRoom_.roomID, false, true),
        "Soft Mute", std::move(completion), [](ClientCore& client) {
            client.sendControlMessage(ControlMessage::softMuteEnabled, nullptr, {});
        });
}

void ClientCore::lowerAllUsersHands(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Lower All Hands", completion)) return;
    sendHostRequest(
        HostActionsRequest(currentRoom_.meetingId, currentRoom_.roomID, currentRoom_.meetingPin,
                           true),
        "Lower All Hands", std::move(completion), [](ClientCore& client) {
            client.sendControlMessage(ControlMessage::lowerAllHands, nullptr, {});
            // The newest word on those hands here too, and no older record takes it back.
            client.incomingMessages_.applyOwnCommand(client.mediaBackend().kind(),
                                                     KRRtmMessageEvent::hostLowerAllHands);
        });
}

void ClientCore::withTarget(const std::string& userId, Completion completion,
                          const std::function<void(const std::shared_ptr<KRMeetingUser>&)>& action) {
    const auto user = getUser(userId);
    if (!user) {
        logger_.warn("No participant with id \"" + userId + "\"");
        completeLater(std::move(completion), false);
        return;
    }
    action(user);
}

void ClientCore::changeUserAudioState(const std::string& userId, bool isOn, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Change User Audio", completion)) return;
    withTarget(userId, completion, [&](const std::shared_ptr<KRMeetingUser>& user) {
        if (isOn) {
            // Turning someone's microphone on is only ever a request to them: done once the
            // messaging took it.
            sendControlMessage(ControlMessage::requestToStartAudio, user, completion);
            return;
        }
        sendHostRequest(MuteParticipantAudioRequest(currentRoom_.meetingId, currentRoom_.roomID,
                                                    user->id(), true),
                        "Mute Participant Audio", completion,
                        [user](ClientCore& client, Completion done) {
                            client.tellTargetOfCommand(ControlMessage::stopParticipantAudio, user,
                                                       "Mute Participant Audio", std::move(done));
                        });
    });
}

void ClientCore::changeUserVideoState(const std::string& userId, bool isOn, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Change User Video", completion)) return;
    withTarget(userId, completion, [&](const std::shared_ptr<KRMeetingUser>& user) {
        if (isOn) {
            sendControlMessage(ControlMessage::requestToStartVideo, user, completion);
            return;
        }
        sendHostRequest(MuteParticipantVideoRequest(currentRoom_.meetingId, currentRoom_.roomID,
                                                    user->id(), true),
                        "Mute Participant Video", completion,
                        [user](ClientCore& client, Completion done) {
                            client.tellTargetOfCommand(ControlMessage::stopParticipantVideo, user,
                                                       "Mute Participant Video", std::move(done));
                        });
    });
}

void ClientCore::removeUserFromMeeting(const std::string& userId, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Remove Participant", completion)) return;
    withTarget(userId, completion, [&](const std::shared_ptr<KRMeetingUser>& user) {
        removeUserFromMeeting(user, completion);
    });
}

void ClientCore::removeUserFromMeeting(const std::shared_ptr<KRMeetingUser>& user,
                                     Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Remove Participant", completion)) return;
    if (!user) {
        completeLater(std::move(completion), false);
        return;
    }
    sendHostRequest(RemoveParticipantRequest(currentRoom_.meetingId, user->id()),
                    "Remove Participant", std::move(completion),
                    [user](ClientCore& client, Completion done) {
                        client.tellTargetOfCommand(ControlMessage::removeParticipant, user,
                                                   "Remove Participant", std::move(done));
                    });
}

void ClientCore::changeUserRole(const std::string& userId, const KRUserRole& newRole,
                              Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Change User Role", completion)) return;
    withTarget(userId, completion, [&](const std::shared_ptr<KRMeetingUser>& user) {
        changeUserRole(user, newRole, completion);
    });
}

void ClientCore::changeUserRole(const std::shared_ptr<KRMeetingUser>& user,
                              const KRUserRole& newRole, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Change User Role", completion)) return;
    if (!user) {
        completeLater(std::move(completion), false);
        return;
    }
    const bool toAudience = newRole.kind() == KRUserRole::Kind::audience;
    sendHostRequest(ChangeUserRoleRequest(currentRoom_.meetingId, currentRoom_.roomID,
                                          currentRoom_.meetingPin, user->id(), newRole),
                    "Change User Role", std::move(completion),
                    [user, toAudience](ClientCore& client, Completion done) {
                        client.tellTargetOfCommand(toAudience
                                                       ? ControlMessage::downgradeToAudience
                                                       : ControlMessage::upgradeToParticipant,
                                                   user, "Change User Role", std::move(done));
                    });
}

void ClientCore::tellTargetOfCommand(ControlMessage message, std::shared_ptr<KRMeetingUser> target,
                                     std::string action, Completion completion, int attempt) {
    const SessionToken session = sessionToken();
    auto sent = [weak = weak_from_this(), session, message, target, action = std::move(action),
                 completion = std::move(completion), attempt](bool told) mutable {
        auto self = weak.lock();
        if (!self) return;  // due after the client is gone: dropped
        if (told) {
            if (completion) completion(true);
            return;
        }
        // The server already did it: a target that was never told must not be reported done.
        if (!session.live() || attempt >= kTargetMessageTries) {
            self->logger_.error(action + " Error ::: the participant was not told" +
                                (session.live() ? " after " + std::to_string(attempt) + " tries"
                                                : ": the meeting ended"));
            if (completion) completion(false);
            return;
        }
        self->logger_.warn(action + " ::: control message refused, trying again");
        self->queue_->postAfter(
            self->targetMessageBackOff_.delay(attempt),
            [weak, session, message, target, action = std::move(action),
             completion = std::move(completion), attempt]() mutable {
                auto client = weak.lock();
                if (!client) return;
                if (session.live()) {
                    client->tellTargetOfCommand(message, target, std::move(action),
                                                std::move(completion), attempt + 1);
                    return;
                }
                client->logger_.error(action +
                                      " Error ::: the participant was not told: the meeting ended");
                if (completion) completion(false);
            });
    };
    sendControlMessage(message, target, std::move(sent));
}

void ClientCore::updateUserCoHostRights(const std::shared_ptr<KRMeetingUser>& user, bool makeCoHost,
                                      Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Co-Host Rights", completion)) return;
    if (!user) {
        completeLater(std::move(completion), false);
        return;
    }
    // The server knows co-hosts by account id, not by meeting participant id.
    sendHostRequest(CoHostRequest(currentRoom_.meetingId, currentRoom_.roomID,
                                  currentRoom_.meetingPin, user->userId(), makeCoHost),
                    "Co-Host Rights", std::move(completion),
                    [user, makeCoHost](ClientCore& client) {
                        client.sendControlMessage(makeCoHost ? ControlMessage::makeCoHost
                                                             : ControlMessage::removeCoHost,
                                                  user, {});
                    });
}

void ClientCore::stopUserScreenShare(const std::shared_ptr<KRMeetingUser>& user,
                                   Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Stop User Screen Share", completion)) return;
    if (!user) {
        completeLater(std::move(completion), false);
        return;
    }
    sendControlMessage(ControlMessage::forceStopScreenShare, user, std::move(completion));
}

}  // namespace kr
