#include <algorithm>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"

namespace kr {

PostRoomConnectionRequest ClientCore::makeStatusPost(bool isConnected, bool isPolling,
                                                   bool isHandRaised) const {
    const KRCurrentRoom& room = currentRoom_;
    return PostRoomConnectionRequest({.meetingID = room.meetingId,
                                      .roomID = room.roomID,
                                      .meetingPIN = room.meetingPin,
                                      .historyID = room.historyId,
                                      .userUid = room.userWebRtcId,
                                      .userName = room.userDisplayName,
                                      .isAudioMuted = room.isCurrentUserAudioMuted,
                                      .isVideoMuted = room.isCurrentUserVideoMuted,
                                      .isSharingScreen = false,
                                      .isHandRaised = isHandRaised,
                                      .isConnected = isConnected,
                                      .isPolling = isPolling,
                                      .isUserAudience = isLocalUserInAudienceMode_,
                                      .deviceId = networkClient_->getDeviceId()});
}

void ClientCore::completeLater(Completion completion, bool value) {
    if (!completion) return;
    std::weak_ptr<ClientCore> weak = weak_from_this();
    queue_->post([weak, completion = std::move(completion), value] {
        if (weak.lock()) completion(value);
    });
}

void ClientCore::postUserRoomConnectionStatus(bool isConnected, bool isPolling,
                                            Completion completion) {
    if (!meetingCallAllowed("Post Room Connection Status", completion)) return;
    send(makeStatusPost(isConnected, isPolling, currentRoom_.isCurrentUserHandRaised),
         [completion = std::move(completion)](ClientCore& client, const auto& result) {
             const bool ok = replySucceeded(result);
             if (ok) {
                 client.logger_.info("Post Room Connection Status API Successfull");
             } else {
                 client.logger_.error("Post Room Connection Status Error ::: " +
                                      replyErrorMessage(result));
             }
             if (completion) completion(ok);
         });
}

void ClientCore::updateLocalParticipantDataToDB(bool isHandRaised) {
    sendLocalStateChange(makeStatusPost(true, false, isHandRaised), {});
}

void ClientCore::resyncLocalState() {
    if (!localStateUnsynced_ || localStateResyncInFlight_ ||
        meetingState() != MeetingState::inMeeting ||
        shouldByPassAPICalls_) {
        return;
    }
    localStateResyncInFlight_ = true;
    const SessionToken session = sessionToken();
    const std::uint64_t failures = localStateFailures_;
    // The full state, not the lost change alone: later changes may have been lost as well.
    send(makeStatusPost(true, false, currentRoom_.isCurrentUserHandRaised),
         [session, failures](ClientCore& client, const auto& result) {
             client.localStateResyncInFlight_ = false;
             if (!session.live() || !replySucceeded(result)) return;
             client.logger_.info("Local state posted again");
             if (client.localStateFailures_ == failures) client.localStateUnsynced_ = false;
         });
}

void ClientCore::getRoomConnectionStatus(Completion completion) {
    if (!meetingCallAllowed("Get Room Connection Status", completion)) return;
    const SessionToken session = sessionToken();
    const KRCurrentRoom& room = currentRoom_;
    send(GetRoomConnectionRequest(room.meetingId, room.roomID, room.meetingPin),
         [session, completion = std::move(completion)](ClientCore& client,
                                                          const auto& result) {
             if (!result.ok()) {
                 client.logger_.error("Get Room Connection Status Error ::: " +
                                      result.error().getMessageString());
                 if (completion) completion(false);
                 return;
             }
             client.logger_.info("Get Room Connection Status API Successfull");
             // A reply to a question asked before a leave or another join describes a meeting
             // the client is no longer in.
             if (client.takesRoomNews(session)) {
                 client.applyRoomConnectionStatus(result.value());
             }
             if (completion) completion(true);
         });
}

bool ClientCore::isStaleLocalRecord(const KRMeetingParticipant& participant) const {
    // Until the lost change is posted again the server's record of the local user is older than
    // what the app was told.
    const std::string& id = participant.participantId;
    return localStateUnsynced_ && !id.empty() &&
           (id == currentRoom_.userWebRtcId ||
            id == meetingUsersManager_.getCurrentParticipantId());
}

void ClientCore::applyRoomConnectionStatus(const KRRoomConnectionStatus& status) {
    KRCurrentRoom& room = currentRoom_;
    changeRecording(status.isRecording, std::nullopt);
    room.isHardMuteEnabled = status.isRoomAudioHardMuted;

    // The merge tells the host of the changes only where it holds the meeting's participants.
    const bool fromMerge = mediaBackend().participantsFromMerge();
    for (KRMeetingParticipant participant : status.participants) {
        deps_.contacts->applyContactName(participant);
        if (isStaleLocalRecord(participant)) continue;
        room.updateParticipantsList(participant);
        // On the default road the engine creates the users; the server only names them.
        if (room.matchingUser(participant.participantId)) {
            room.upsertNewParticipantFromKivDB(participant);
        }
        meetingUsersManager_.upsertParticipantMetaData(participant, fromMerge, true);
    }

    // The sharer goes by the name the participant list shows for it.
    const std::string sharerName = deps_.contacts->nameToShow(
        status.sharingUserAccountId, status.screenOrWhiteBoardSharingUserName);
    if (status.isScreenShared) {
        if (const auto uid = status.screenSharedObjectUid()) {
            const bool known = std::any_of(
                room.screenShareMetaData.begin(), room.screenShareMetaData.end(),
                [&](const KRScreenShareInfo& info) { return info.trackID() == *uid; });
            if (!known) {
                room.screenShareMetaData.insert(
                    room.screenShareMetaData.begin(),
                    KRScreenShareInfo(*uid, status.screenOrWhiteBoardSharingUserId, sharerName));
            }
        }
    }
    meetingUsersManager_.setScreenShareTrackInfos(room.screenShareMetaData);

    if (status.isWhiteBoardShared && !room.isWhiteboardShared) {
        startWhitebboard(true, sharerName, status.screenOrWhiteBoardSharingUserId);
    }
}

}  // namespace kr
