#include "testing/LocalMeetingService/MeetingServiceRoute.h"

namespace kr::test {

std::string_view routeName(MeetingServiceRoute route) {
    using R = MeetingServiceRoute;
    switch (route) {
        case R::configuration:
            return "configuration";
        case R::roomDetails:
            return "roomDetails";
        case R::guestLogin:
            return "guestLogin";
        case R::joinCall:
            return "joinCall";
        case R::postRoomConnectionStatus:
            return "postRoomConnectionStatus";
        case R::getRoomConnectionStatus:
            return "getRoomConnectionStatus";
        case R::leaveMeeting:
            return "leaveMeeting";
        case R::muteAudio:
            return "muteAudio";
        case R::muteVideo:
            return "muteVideo";
        case R::muteAll:
            return "muteAll";
        case R::hostActions:
            return "hostActions";
        case R::changeUserRole:
            return "changeUserRole";
        case R::removeParticipant:
            return "removeParticipant";
        case R::lockMeeting:
            return "lockMeeting";
        case R::unLockMeeting:
            return "unLockMeeting";
        case R::shareScreen:
            return "shareScreen";
        case R::startRecording:
            return "startRecording";
        case R::stopRecording:
            return "stopRecording";
        case R::startWhiteboard:
            return "startWhiteboard";
        case R::remoteWhiteboard:
            return "remoteWhiteboard";
        case R::leaveChatThread:
            return "leaveChatThread";
        case R::chatMainThread:
            return "chatMainThread";
        case R::chatPrivateThread:
            return "chatPrivateThread";
        case R::chatThreadMessages:
            return "chatThreadMessages";
        case R::chatSendMessage:
            return "chatSendMessage";
        case R::chatMarkRead:
            return "chatMarkRead";
        case R::chatMembers:
            return "chatMembers";
    }
    return "unknown";
}

std::vector<MeetingServiceEndpoint> fixedMeetingServiceEndpoints() {
    using R = MeetingServiceRoute;
    std::vector<MeetingServiceEndpoint> endpoints = {
        {R::configuration, "GET", "/api/config"},
        {R::roomDetails, "POST", "/api/shorturl/roomdetails"},
        {R::guestLogin, "POST", "/api/roomconnectionstatus/login"},
        {R::muteAll, "POST", "/api/roomconnectionstatus/control/audioall"},
        {R::hostActions, "POST", "/api/roomconnectionstatus/hosts"},
        {R::changeUserRole, "POST", "/api/roomconnectionstatus/control/participantType"},
        {R::removeParticipant, "POST", "/api/portal/removeparticipant"},
        {R::lockMeeting, "POST", "/api/lock-room"},
        {R::unLockMeeting, "POST", "/api/unlock-room"},
        {R::shareScreen, "POST", "/api/roomconnectionstatus/sharescreen"},
        {R::startRecording, "POST", "/api/recording/start"},
        {R::stopRecording, "POST", "/api/recording/stop"},
    };
    // Operations with a separate path for guests.
    const std::vector<std::pair<R, std::string>> withGuestVariant = {
        {R::joinCall, "/api/joinCall"},
        {R::postRoomConnectionStatus, "/api/roomconnectionstatus"},
        {R::getRoomConnectionStatus, "/api/roomconnectionstatus/get"},
        {R::leaveMeeting, "/api/leaveall"},
        {R::muteAudio, "/api/roomconnectionstatus/control/audio"},
        {R::muteVideo, "/api/roomconnectionstatus/control/video"},
    };
    for (const auto& [route, path] : withGuestVariant) {
        endpoints.push_back({route, "POST", path});
        endpoints.push_back({route, "POST", path + "/guest"});
    }
    return endpoints;
}

}  // namespace kr::test
