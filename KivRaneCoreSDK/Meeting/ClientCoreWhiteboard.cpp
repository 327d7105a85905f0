#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Requests/StartWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

namespace kr {

std::string ClientCore::whiteboardUrl() const {
    if (currentRoom_.whiteboardId.empty()) return {};
    return getUrlValue(KRApiServerScheme::https) + std::string(rawValue(getServerEnvironment())) +
           "/conference/whiteboard/" + currentRoom_.whiteboardId +
           "?token=" + currentRoom_.whiteboardToken + "&lan=en";
}

void ClientCore::startWhitebboard(bool remote, const std::string& userName,
                                const std::string& userId, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    // The room's first status, read while the join is still under way, may already show
    // someone else's board; the local user's own board waits for the meeting.
    const bool remoteDuringJoin = remote && isJoining();
    if (!remoteDuringJoin && !meetingOperationAllowed("Start Whiteboard", completion)) return;
    if (currentRoom_.isWhiteboardShared) {
        sendControlMessage(ControlMessage::screenShareOverride, nullptr, {});
        closeWhiteboard(currentRoom_.whiteboardSharingId);
    }
    const SessionToken session = sessionToken();
    send(StartWhiteboardRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId,
                                currentRoom_.historyId, remote),
         [session, remote, userName, userId,
          completion = std::move(completion)](ClientCore& client, const auto& result) {
             if (!session.live()) {
                 if (completion) completion(false);
                 return;
             }
             if (!replySucceeded(result)) {
                 client.logger_.error("Start Whiteboard Error ::: " + replyErrorMessage(result));
                 if (completion) completion(false);
                 return;
             }
             client.logger_.info("Start Whiteboard API Successfull");
             KRCurrentRoom& room = client.currentRoom_;
             // The sharer's message and a status reply may both open the same remote board
             // while the other's call is under way: the second one only refreshes the access.
             const bool alreadyOpen = remote && room.isWhiteboardShared &&
                                      !room.isLocalUserSharingWhiteboard &&
                                      room.whiteboardSharingId == userId;
             room.whiteboardId = result.value().whiteboardId().value_or("");
             room.whiteboardToken = result.value().jwt().value_or("");
             room.isWhiteboardShared = true;
             if (alreadyOpen) {
                 if (room.whiteboardShareBy.empty()) room.whiteboardShareBy = userName;
             } else if (remote) {
                 room.whiteboardSharingId = userId;
                 room.whiteboardShareBy = userName;
                 client.sendStartWhiteboardEvent(userId, userName);
             } else {
                 room.isLocalUserSharingWhiteboard = true;
                 room.whiteboardSharingId = room.userWebRtcId;
                 room.whiteboardShareBy = room.userDisplayName;
                 client.sendControlMessage(ControlMessage::startWhiteboard, nullptr, {});
             }
             if (completion) completion(true);
         });
}

void ClientCore::stopWhiteboard(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!meetingOperationAllowed("Stop Whiteboard", completion)) return;
    if (!currentRoom_.isLocalUserSharingWhiteboard) {
        sendControlMessage(ControlMessage::stopSharePrivate, nullptr, {});
        closeWhiteboard(currentRoom_.userWebRtcId);
        completeLater(std::move(completion), true);
        return;
    }
    const SessionToken session = sessionToken();
    send(StopWhiteboardRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId),
         [session, completion = std::move(completion)](ClientCore& client,
                                                          const auto& result) {
             if (!session.live()) {
                 if (completion) completion(replySucceeded(result));
                 return;
             }
             if (!replySucceeded(result)) {
                 client.logger_.error("Stop Whiteboard Error ::: " + replyErrorMessage(result));
                 if (completion) completion(false);
                 return;
             }
             client.logger_.info("Stop Whiteboard API Successfull");
             client.sendControlMessage(ControlMessage::stopWhiteboard, nullptr, {});
             client.closeWhiteboard(client.currentRoom_.userWebRtcId);
             if (completion) completion(true);
         });
}

}  // namespace kr
