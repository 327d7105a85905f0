#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kr::test {

/// The operations of the local meeting service. A route covers an operation's guest path too.
enum class MeetingServiceRoute {
    configuration,
    roomDetails,
    guestLogin,
    joinCall,
    postRoomConnectionStatus,
    getRoomConnectionStatus,
    leaveMeeting,
    muteAudio,
    muteVideo,
    muteAll,
    hostActions,
    changeUserRole,
    removeParticipant,
    lockMeeting,
    unLockMeeting,
    shareScreen,
    startRecording,
    stopRecording,
    startWhiteboard,
    remoteWhiteboard,
    leaveChatThread,
    chatMainThread,
    chatPrivateThread,
    chatThreadMessages,
    chatSendMessage,
    chatMarkRead,
    chatMembers,
};

/// A readable name of the route, for test output.
std::string_view routeName(MeetingServiceRoute route);

/// One (method, path) the service answers for a route that has fixed paths.
struct MeetingServiceEndpoint {
    MeetingServiceRoute route;
    std::string method;
    std::string path;  ///< full URL path, "/api/..." included
};

/// Every fixed endpoint (the whiteboard and chat-thread endpoints carry ids and are added per
/// room).
std::vector<MeetingServiceEndpoint> fixedMeetingServiceEndpoints();

}  // namespace kr::test
