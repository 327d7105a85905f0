#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
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
    if (!remoteDuringJoin && !allowedOnceJoinedUntilLeave("Start Whiteboard", completion)) return;
    // A remote board is opened both by its sharer's message and by a status reply, in either
    // order: the board already open from one of them is the same board, which is neither taken
    // over nor closed; only its access is asked for again.
    const bool sameRemoteBoard = remote && currentRoom_.isWhiteboardShared &&
                                 !currentRoom_.isLocalUserSharingWhiteboard &&
                                 currentRoom_.whiteboardSharingId == userId;
    if (currentRoom_.isWhiteboardShared && !sameRemoteBoard) {
        sendControlMessage(ControlMessage::screenShareOverride, nullptr, {});
        events_.closeWhiteboardReportingLater(currentRoom_.whiteboardSharingId);
    }
    sendHostRequest(
        StartWhiteboardRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId,
                               currentRoom_.historyId, remote),
        "Start Whiteboard", std::move(completion),
        [remote, userName, userId, stopsWhenAsked = currentRoom_.whiteboardStops(),
         asked = currentRoom_.askWhiteboardAccess()](
            ClientCore& client, const KRStartWhiteboard& reply) {
            KRCurrentRoom& room = client.currentRoom_;
            // Someone else's board that stopped while its access was on the way stays closed:
            // the access may even be to a newer board, which its own news opens.
            if (remote && room.whiteboardStops() != stopsWhenAsked) return;
            // The sharer's message and a status reply may both open the same remote board
            // while the other's call is under way: the second one only refreshes the access, and
            // one asked before the access shown tells nothing newer.
            bool alreadyOpen = remote && room.isWhiteboardShared &&
                               !room.isLocalUserSharingWhiteboard &&
                               room.whiteboardSharingId == userId;
            if (!room.takeWhiteboardAccess(asked, alreadyOpen)) return;
            // Her next board, its start heard though her stop of the one shown was not: the
            // app is told the shown board stopped before it is told of the new one.
            const std::string board = reply.whiteboardId().value_or("");
            if (alreadyOpen && !board.empty() && !room.whiteboardId.empty() &&
                board != room.whiteboardId) {
                client.events().closeWhiteboard(userId);
                alreadyOpen = false;
            }
            room.whiteboardId = board;
            room.whiteboardToken = reply.jwt().value_or("");
            room.isWhiteboardShared = true;
            if (alreadyOpen) {
                if (room.whiteboardShareBy.empty()) room.whiteboardShareBy = userName;
            } else if (remote) {
                room.whiteboardSharingId = userId;
                room.whiteboardShareBy = userName;
                client.events().sendStartWhiteboardEvent(userId, userName);
            } else {
                room.isLocalUserSharingWhiteboard = true;
                room.whiteboardSharingId = room.userWebRtcId;
                room.whiteboardShareBy = room.userDisplayName;
                client.sendControlMessage(ControlMessage::startWhiteboard, nullptr, {});
            }
        });
}

void ClientCore::stopWhiteboard(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (!allowedOnceJoinedUntilLeave("Stop Whiteboard", completion)) return;
    if (!currentRoom_.isLocalUserSharingWhiteboard) {
        sendControlMessage(ControlMessage::stopSharePrivate, nullptr, {});
        // The event is posted before the completion, so the host hears them in that order.
        events_.closeWhiteboardReportingLater(currentRoom_.userWebRtcId);
        completeLater(std::move(completion), true);
        return;
    }
    sendHostRequest(StopWhiteboardRequest(currentRoom_.meetingId, currentRoom_.userWebRtcId),
                    "Stop Whiteboard", std::move(completion), [](ClientCore& client) {
                        client.sendControlMessage(ControlMessage::stopWhiteboard, nullptr, {});
                        client.events().closeWhiteboard(client.currentRoom_.userWebRtcId);
                    });
}

}  // namespace kr
