// Every server request type: endpoint (guest and signed-in), method, query and exact JSON body.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Network/Requests/ChangeUserRoleRequest.h"
#include "KivRaneCoreSDK/Network/Requests/CoHostRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetConfigurationRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Network/Requests/HostActionsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/JoinCallRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveChatThreadRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LockMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteAllParticipantsAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantVideoRequest.h"
#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/RemoveParticipantRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StartWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopRecordingRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopWhiteboardRequest.h"
#include "KivRaneCoreSDK/Network/Requests/UnLockMeetingRequest.h"

namespace kr {
namespace {

/// What one request value puts on the wire, as seen by the URL request builder.
struct Wire {
    std::string guestUrl;
    std::string signedInUrl;
    std::string method;
    std::optional<std::string> body;
    bool hasResponse = true;
    bool freshResultIsUnknown = false;
};

// `Reply` is the model the request must decode its answer into.
template <class Reply, KRAPIRequestType R>
Wire wire(const R& request) {
    static_assert(std::is_same_v<typename R::ReturnDataType, Reply>);
    Wire w;
    auto guest = request.createUrlRequest(KRApiServer::production, "DEV", "JWT", true);
    auto signedIn = request.createUrlRequest(KRApiServer::production, "DEV", "JWT", false);
    EXPECT_TRUE(guest.ok());
    EXPECT_TRUE(signedIn.ok());
    if (!guest.ok() || !signedIn.ok()) {
        return w;
    }
    w.guestUrl = guest.value().url;
    w.signedInUrl = signedIn.value().url;
    w.method = signedIn.value().method;
    w.body = signedIn.value().body;
    EXPECT_EQ(guest.value().body, signedIn.value().body);  // the body never depends on the user
    w.hasResponse = request.response.has_value();
    const auto result = request.getResult();
    w.freshResultIsUnknown =
        !result.ok() && result.error().kind() == KRApiRequestError::Kind::unKnown;
    return w;
}

struct Row {
    const char* name;
    std::function<Wire()> make;
    std::string signedInPath;  ///< after "/api/", query included
    std::string guestPath;     ///< after "/api/", query included
    std::string method;
    std::optional<std::string> body;  ///< expected JSON, compared as JSON; nullopt: no body
};

// An endpoint no request type uses yet, built bare.
struct BareRequest : KRAPIRequest<KRAPISuccess> {
    using KRAPIRequest::KRAPIRequest;
};

Wire bare(KRAPIPath path) {
    return wire<KRAPISuccess>(BareRequest(std::move(path), KRHTTPMethod::get));
}

// The status post of user "U1" ("Ann") in meeting "M1" on device "DEV-1", with its own flags.
Wire statusPost(PostRoomConnectionRequest::Parameters flags) {
    flags.meetingID = "M1";
    flags.roomID = "R1";
    flags.meetingPIN = "P1";
    flags.historyID = "H1";
    flags.userUid = "U1";
    flags.userName = "Ann";
    flags.deviceId = "DEV-1";
    return wire<KRAPISuccess>(PostRoomConnectionRequest(flags));
}

// One table for every endpoint: request, reply model, paths for both user types, method, body.
TEST(ServerRequestsTest, PathMethodQueryAndBodyOfEveryRequest) {
    const std::string deviceId = "DEV-1";
    const std::string machineIp = "192.0.2.7";
    const std::string statusCommon =
        R"("kivraneId":"M1","roomID":"R1","roomPin":"P1","historyId":"H1",)"
        R"("participantUri":"U1","participantId":"U1","participantName":"Ann",)";

    const std::vector<Row> rows = {
        {"configuration", [] { return wire<KRConfiguration>(GetConfigurationRequest("ios")); },
         "config?os_type=ios", "config?os_type=ios", "GET", std::nullopt},
        {"configuration with empty os type keeps the item",
         [] { return wire<KRConfiguration>(GetConfigurationRequest("")); },
         "config?os_type=", "config?os_type=", "GET", std::nullopt},
        {"room details", [] { return wire<KRRoomDetails>(GetRoomDetailsRequest("M1", "P1", "")); },
         "shorturl/roomdetails", "shorturl/roomdetails", "POST",
         R"({"extension":"M1","pin":"P1","userId":"","transferCall":false,"deviceType":"iOS"})"},
        {"guest login without host token",
         [] { return wire<KRGuestLogin>(GuestLoginRequest("M1", "R1", "P1", "Ann", "")); },
         "roomconnectionstatus/login", "roomconnectionstatus/login", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","name":"Ann"})"},
        {"guest login with a blank host token sends it",
         [] { return wire<KRGuestLogin>(GuestLoginRequest("M1", "", "P1", "Ann", " ")); },
         "roomconnectionstatus/login", "roomconnectionstatus/login", "POST",
         R"({"kivraneId":"M1","roomID":"","roomPin":"P1","name":"Ann","hostToken":" "})"},
        {"join call",
         [] {
             return wire<KRJoinCall>(
                 JoinCallRequest("M1", "R1", "P1", "Ann", "Olga", "O1", "Topic", "T", "192.0.2.7"));
         },
         "joinCall", "joinCall/guest", "POST",
         R"({"data":{"kivraneId":"M1","room_id":"R1","roomPIN":"P1","guest_name":"Ann",)"
         R"("owner_name":"Olga","owner_id":"O1","title":"Topic","group_id":"",)"
         R"("participantEndPointType":"IOS","participantEndPointName":"iPhone",)"
         R"("is_disconnect":"false","token":"T","machineIp":")" +
             machineIp + R"("}})"},
        {"status post, not polling",
         [] {
             return statusPost({.isAudioMuted = true, .isHandRaised = true, .isConnected = true});
         },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"connected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"speaker","micStatus":false,)"
             R"("cameraStatus":true,"isHandRaise":true,"isSharingScreen":false})"},
        {"status post while polling leaves out the four flags",
         [] {
             return statusPost({.isVideoMuted = true,
                                .isSharingScreen = true,
                                .isHandRaised = true,
                                .isPolling = true,
                                .isUserAudience = true});
         },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"disconnected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"audience"})"},
        {"status post, not polling, disconnected audience with every device on",
         [] { return statusPost({.isSharingScreen = true, .isUserAudience = true}); },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"disconnected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"audience","micStatus":true,)"
             R"("cameraStatus":true,"isHandRaise":false,"isSharingScreen":true})"},
        {"status get is a POST",
         [] { return wire<KRRoomConnectionStatus>(GetRoomConnectionRequest("M1", "R1", "P1")); },
         "roomconnectionstatus/get", "roomconnectionstatus/get/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1"})"},
        {"leave", [] { return wire<KRAPIStatus>(LeaveMeetingRequest("R1", "H1")); }, "leaveall",
         "leaveall/guest", "POST", R"({"autoDisconnect":false,"roomID":"R1","historyId":"H1"})"},
        {"mute own audio",
         [] { return wire<KRAPISuccess>(MuteParticipantAudioRequest("M1", "R1", "U1", true)); },
         "roomconnectionstatus/control/audio", "roomconnectionstatus/control/audio/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","participantId":"U1","audio":false})"},
        {"unmute own video",
         [] { return wire<KRAPISuccess>(MuteParticipantVideoRequest("M1", "R1", "", false)); },
         "roomconnectionstatus/control/video", "roomconnectionstatus/control/video/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","participantId":"","video":true})"},
        {"soft mute all",
         [] {
             return wire<KRAPISuccess>(MuteAllParticipantsAudioRequest("M1", "R1", false, true));
         },
         "roomconnectionstatus/control/audioall", "roomconnectionstatus/control/audioall", "POST",
         R"({"kivraneId":"M1","roomID":"R1","hard":false,"audio":false})"},
        {"lift hard mute",
         [] {
             return wire<KRAPISuccess>(MuteAllParticipantsAudioRequest("M1", "R1", true, false));
         },
         "roomconnectionstatus/control/audioall", "roomconnectionstatus/control/audioall", "POST",
         R"({"kivraneId":"M1","roomID":"R1","hard":true,"audio":true})"},
        {"all hands down keeps the three empty lists",
         [] { return wire<KRAPISuccess>(HostActionsRequest("M1", "R1", "P1", true)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","allHandsDown":true,)"
         R"("handsDownParticipantIds":[],"coHostsAdded":[],"coHostsRemoved":[]})"},
        {"host actions with ids",
         [] {
             return wire<KRAPISuccess>(HostActionsRequest("M1", "R1", "P1", false, "A", "B", "C"));
         },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","allHandsDown":false,)"
         R"("handsDownParticipantIds":["A"],"coHostsAdded":["B"],"coHostsRemoved":["C"]})"},
        {"make co-host",
         [] { return wire<KRAPIStatus>(CoHostRequest("M1", "R1", "P1", "X", true)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","coHostsAdded":["X"]})"},
        {"withdraw co-host of an empty id",
         [] { return wire<KRAPIStatus>(CoHostRequest("M1", "R1", "P1", "", false)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","coHostsRemoved":[""]})"},
        {"role to audience",
         [] {
             return wire<KRAPIStatus>(
                 ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::audience()));
         },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"],)"
         R"("participantType":"audience"})"},
        {"role to speaker",
         [] {
             return wire<KRAPIStatus>(
                 ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::speaker()));
         },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"],)"
         R"("participantType":"speaker"})"},
        {"role to host sends no type",
         [] {
             return wire<KRAPIStatus>(
                 ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::host("tok")));
         },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"]})"},
        {"remove participant",
         [] { return wire<KRAPIStatus>(RemoveParticipantRequest("M1", "X")); },
         "portal/removeparticipant", "portal/removeparticipant", "POST",
         R"({"kivraneId":"M1","participantID":"X"})"},
        {"lock", [] { return wire<KRAPIStatus>(LockMeetingRequest("R1", "H1")); }, "lock-room",
         "lock-room", "POST", R"({"roomID":"R1","historyId":"H1"})"},
        {"unlock", [] { return wire<KRAPIStatus>(UnLockMeetingRequest("R1", "H1")); },
         "unlock-room", "unlock-room", "POST", R"({"roomID":"R1","historyId":"H1"})"},
        {"start whiteboard",
         [] { return wire<KRStartWhiteboard>(StartWhiteboardRequest("M1", "U1", "H1", false)); },
         "rooms/M1/whiteboard/startsharing", "rooms/M1/whiteboard/startsharing", "POST",
         R"({"participantUri":"U1","historyId":"H1"})"},
        {"remote whiteboard is a bodiless GET",
         [] { return wire<KRStartWhiteboard>(StartWhiteboardRequest("M1", "U1", "H1", true)); },
         "rooms/M1/whiteboard", "rooms/M1/whiteboard", "GET", std::nullopt},
        {"whiteboard with empty meeting id",
         [] { return wire<KRStartWhiteboard>(StartWhiteboardRequest("", "", "", false)); },
         "rooms//whiteboard/startsharing", "rooms//whiteboard/startsharing", "POST",
         R"({"participantUri":"","historyId":""})"},
        {"stop whiteboard", [] { return wire<KRAPIStatus>(StopWhiteboardRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"action":"stop","participantUri":"U1","kivraneId":"M1"})"},
        {"leave chat thread", [] { return wire<KRLeaveChatThread>(LeaveChatThreadRequest("T1")); },
         "chat/thread/T1/leave", "chat/thread/T1/leave", "DELETE", std::nullopt},
        {"leave chat thread with empty id",
         [] { return wire<KRLeaveChatThread>(LeaveChatThreadRequest("")); }, "chat/thread//leave",
         "chat/thread//leave", "DELETE", std::nullopt},
        {"start screen share",
         [] { return wire<KRStartShareScreen>(StartScreenShareRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"kivraneId":"M1","participantUri":"U1","action":"start"})"},
        {"stop screen share", [] { return wire<KRAPISuccess>(StopScreenShareRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"kivraneId":"M1","participantUri":"U1","action":"stop"})"},
        {"start recording", [] { return wire<KRStartRecording>(StartRecordingRequest("H1")); },
         "recording/start", "recording/start", "POST", R"({"historyId":"H1"})"},
        {"stop recording with empty history id",
         [] { return wire<KRAPIStatus>(StopRecordingRequest("")); }, "recording/stop",
         "recording/stop", "POST", R"({"historyId":""})"},
        // Endpoints without a request type of their own yet.
        {"chat messages", [] { return bare(KRAPIPath::getChatThreadMessages("T1")); },
         "chat/thread/T1/messages", "chat/thread/T1/messages", "GET", std::nullopt},
        {"send chat message", [] { return bare(KRAPIPath::sendChatMessage("T1")); },
         "chat/thread/T1/messages", "chat/thread/T1/messages", "GET", std::nullopt},
        {"sorted members", [] { return bare(KRAPIPath::getInCallParticipantList("T1")); },
         "chat/thread/T1/getsortedmembers/", "chat/thread/T1/getsortedmembers/", "GET",
         std::nullopt},
        {"mark read", [] { return bare(KRAPIPath::markMessageAsRead("T1")); },
         "chat/thread/T1/messages/markread", "chat/thread/T1/messages/markread", "GET",
         std::nullopt},
        {"chat thread", [] { return bare(KRAPIPath::getChatThread()); },
         "chat/getThreadForChat/guest", "chat/getThreadForChat/guest", "GET", std::nullopt},
        {"private chat thread", [] { return bare(KRAPIPath::getPrivateChatThread()); },
         "chat/thread", "chat/thread", "GET", std::nullopt},
    };

    const std::string base = "https://" + std::string(rawValue(KRApiServer::production)) + "/api/";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Wire w = row.make();
        EXPECT_EQ(w.signedInUrl, base + row.signedInPath);
        EXPECT_EQ(w.guestUrl, base + row.guestPath);
        EXPECT_EQ(w.method, row.method);
        EXPECT_FALSE(w.hasResponse);
        EXPECT_TRUE(w.freshResultIsUnknown);
        ASSERT_EQ(w.body.has_value(), row.body.has_value());
        if (row.body) {
            EXPECT_EQ(boost::json::parse(*w.body), boost::json::parse(*row.body)) << *w.body;
        }
    }
}

}  // namespace
}  // namespace kr
