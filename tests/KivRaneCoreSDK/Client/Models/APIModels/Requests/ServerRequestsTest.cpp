// Every server request type: endpoint (guest and signed-in), method, query and exact JSON body.

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/ChangeUserRoleRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/CoHostRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/GetConfigurationRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/GetRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/HostActionsRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/JoinCallRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/LeaveChatThreadRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/LeaveMeetingRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/LockMeetingRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/MuteAllParticipantsAudioRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/MuteParticipantAudioRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/MuteParticipantVideoRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/PostRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/RemoveParticipantRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StartRecordingRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StartWhiteboardRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StopRecordingRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StopScreenShareRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/StopWhiteboardRequest.h"
#include "KivRaneCoreSDK/Client/Models/APIModels/Requests/UnLockMeetingRequest.h"
#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"
#include "KivRaneCoreSDK/Network/Utils/LocalIPAddress.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Device/DeviceIdentity.h"
#include "support/ScopedTempDirectory.h"

namespace kr {
namespace {

// The reply model each request decodes its answer into.
template <class Request, class Reply>
constexpr bool kRepliesWith =
    KRAPIRequestType<Request>&& std::is_same_v<typename Request::ReturnDataType, Reply>;
static_assert(kRepliesWith<GetConfigurationRequest, KRConfiguration>);
static_assert(kRepliesWith<GetRoomDetailsRequest, KRRoomDetails>);
static_assert(kRepliesWith<GuestLoginRequest, KRGuestLogin>);
static_assert(kRepliesWith<JoinCallRequest, KRJoinCall>);
static_assert(kRepliesWith<PostRoomConnectionRequest, KRAPISuccess>);
static_assert(kRepliesWith<GetRoomConnectionRequest, KRRoomConnectionStatus>);
static_assert(kRepliesWith<LeaveMeetingRequest, KRAPIStatus>);
static_assert(kRepliesWith<MuteParticipantAudioRequest, KRAPISuccess>);
static_assert(kRepliesWith<MuteParticipantVideoRequest, KRAPISuccess>);
static_assert(kRepliesWith<MuteAllParticipantsAudioRequest, KRAPISuccess>);
static_assert(kRepliesWith<HostActionsRequest, KRAPISuccess>);
static_assert(kRepliesWith<CoHostRequest, KRAPIStatus>);
static_assert(kRepliesWith<ChangeUserRoleRequest, KRAPIStatus>);
static_assert(kRepliesWith<RemoveParticipantRequest, KRAPIStatus>);
static_assert(kRepliesWith<LockMeetingRequest, KRAPIStatus>);
static_assert(kRepliesWith<UnLockMeetingRequest, KRAPIStatus>);
static_assert(kRepliesWith<StartWhiteboardRequest, KRStartWhiteboard>);
static_assert(kRepliesWith<StopWhiteboardRequest, KRAPIStatus>);
static_assert(kRepliesWith<LeaveChatThreadRequest, KRLeaveChatThread>);
static_assert(kRepliesWith<StartScreenShareRequest, KRStartShareScreen>);
static_assert(kRepliesWith<StopScreenShareRequest, KRAPISuccess>);
static_assert(kRepliesWith<StartRecordingRequest, KRStartRecording>);
static_assert(kRepliesWith<StopRecordingRequest, KRAPIStatus>);

/// What one request value puts on the wire, as seen by the URL request builder.
struct Wire {
    std::string guestUrl;
    std::string signedInUrl;
    std::string method;
    std::optional<std::string> body;
    bool hasResponse = true;
    bool freshResultIsUnknown = false;
};

template <KRAPIRequestType R>
Wire wire(const R& request) {
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

class ServerRequestsTest : public ::testing::Test {
protected:
    ServerRequestsTest() { platform::UserDefaults::setDirectory(defaultsDir_.path()); }
    ~ServerRequestsTest() override { platform::UserDefaults::setDirectory({}); }

    test::ScopedTempDirectory defaultsDir_;
};

TEST_F(ServerRequestsTest, PathMethodQueryAndBodyOfEveryRequest) {
    const std::string deviceId = getDeviceId();
    const std::string machineIp = LocalIPAddress::getIPAddress();
    const std::string statusCommon =
        R"("kivraneId":"M1","roomID":"R1","roomPin":"P1","historyId":"H1",)"
        R"("participantUri":"U1","participantId":"U1","participantName":"Ann",)";

    const std::vector<Row> rows = {
        {"configuration", [] { return wire(GetConfigurationRequest("ios")); }, "config?os_type=ios",
         "config?os_type=ios", "GET", std::nullopt},
        {"configuration with empty os type keeps the item",
         [] { return wire(GetConfigurationRequest("")); },
         "config?os_type=", "config?os_type=", "GET", std::nullopt},
        {"room details", [] { return wire(GetRoomDetailsRequest("M1", "P1", "")); },
         "shorturl/roomdetails", "shorturl/roomdetails", "POST",
         R"({"extension":"M1","pin":"P1","userId":"","transferCall":false,"deviceType":"iOS"})"},
        {"guest login without host token",
         [] { return wire(GuestLoginRequest("M1", "R1", "P1", "Ann", "")); },
         "roomconnectionstatus/login", "roomconnectionstatus/login", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","name":"Ann"})"},
        {"guest login with a blank host token sends it",
         [] { return wire(GuestLoginRequest("M1", "", "P1", "Ann", " ")); },
         "roomconnectionstatus/login", "roomconnectionstatus/login", "POST",
         R"({"kivraneId":"M1","roomID":"","roomPin":"P1","name":"Ann","hostToken":" "})"},
        {"join call",
         [] { return wire(JoinCallRequest("M1", "R1", "P1", "Ann", "Olga", "O1", "Topic", "T")); },
         "joinCall", "joinCall/guest", "POST",
         R"({"data":{"kivraneId":"M1","room_id":"R1","roomPIN":"P1","guest_name":"Ann",)"
         R"("owner_name":"Olga","owner_id":"O1","title":"Topic","group_id":"",)"
         R"("participantEndPointType":"IOS","participantEndPointName":"iPhone",)"
         R"("is_disconnect":"false","token":"T","machineIp":")" +
             machineIp + R"("}})"},
        {"status post, not polling",
         [] {
             return wire(PostRoomConnectionRequest("M1", "R1", "P1", "H1", "U1", "Ann", true, false,
                                                   false, true, true, false, false));
         },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"connected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"speaker","micStatus":false,)"
             R"("cameraStatus":true,"isHandRaise":true,"isSharingScreen":false})"},
        {"status post while polling leaves out the four flags",
         [] {
             return wire(PostRoomConnectionRequest("M1", "R1", "P1", "H1", "U1", "Ann", false, true,
                                                   true, true, false, true, true));
         },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"disconnected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"audience"})"},
        {"status post, not polling, disconnected audience with every device on",
         [] {
             return wire(PostRoomConnectionRequest("M1", "R1", "P1", "H1", "U1", "Ann", false,
                                                   false, true, false, false, false, true));
         },
         "roomconnectionstatus", "roomconnectionstatus/guest", "POST",
         "{" + statusCommon + R"("status":"disconnected","deviceId":")" + deviceId +
             R"(","deviceType":"ios","participantType":"audience","micStatus":true,)"
             R"("cameraStatus":true,"isHandRaise":false,"isSharingScreen":true})"},
        {"status get is a POST", [] { return wire(GetRoomConnectionRequest("M1", "R1", "P1")); },
         "roomconnectionstatus/get", "roomconnectionstatus/get/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1"})"},
        {"leave", [] { return wire(LeaveMeetingRequest("R1", "H1")); }, "leaveall",
         "leaveall/guest", "POST", R"({"autoDisconnect":false,"roomID":"R1","historyId":"H1"})"},
        {"mute own audio", [] { return wire(MuteParticipantAudioRequest("M1", "R1", "U1", true)); },
         "roomconnectionstatus/control/audio", "roomconnectionstatus/control/audio/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","participantId":"U1","audio":false})"},
        {"unmute own video",
         [] { return wire(MuteParticipantVideoRequest("M1", "R1", "", false)); },
         "roomconnectionstatus/control/video", "roomconnectionstatus/control/video/guest", "POST",
         R"({"kivraneId":"M1","roomID":"R1","participantId":"","video":true})"},
        {"soft mute all",
         [] { return wire(MuteAllParticipantsAudioRequest("M1", "R1", false, true)); },
         "roomconnectionstatus/control/audioall", "roomconnectionstatus/control/audioall", "POST",
         R"({"kivraneId":"M1","roomID":"R1","hard":false,"audio":false})"},
        {"lift hard mute",
         [] { return wire(MuteAllParticipantsAudioRequest("M1", "R1", true, false)); },
         "roomconnectionstatus/control/audioall", "roomconnectionstatus/control/audioall", "POST",
         R"({"kivraneId":"M1","roomID":"R1","hard":true,"audio":true})"},
        {"all hands down keeps the three empty lists",
         [] { return wire(HostActionsRequest("M1", "R1", "P1", true)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","allHandsDown":true,)"
         R"("handsDownParticipantIds":[],"coHostsAdded":[],"coHostsRemoved":[]})"},
        {"host actions with ids",
         [] { return wire(HostActionsRequest("M1", "R1", "P1", false, "A", "B", "C")); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","allHandsDown":false,)"
         R"("handsDownParticipantIds":["A"],"coHostsAdded":["B"],"coHostsRemoved":["C"]})"},
        {"make co-host", [] { return wire(CoHostRequest("M1", "R1", "P1", "X", true)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","coHostsAdded":["X"]})"},
        {"withdraw co-host of an empty id",
         [] { return wire(CoHostRequest("M1", "R1", "P1", "", false)); },
         "roomconnectionstatus/hosts", "roomconnectionstatus/hosts", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","coHostsRemoved":[""]})"},
        {"role to audience",
         [] { return wire(ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::audience())); },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"],)"
         R"("participantType":"audience"})"},
        {"role to speaker",
         [] { return wire(ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::speaker())); },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"],)"
         R"("participantType":"speaker"})"},
        {"role to host sends no type",
         [] { return wire(ChangeUserRoleRequest("M1", "R1", "P1", "X", KRUserRole::host("tok"))); },
         "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType", "POST",
         R"({"kivraneId":"M1","roomID":"R1","roomPin":"P1","participantIds":["X"]})"},
        {"remove participant", [] { return wire(RemoveParticipantRequest("M1", "X")); },
         "portal/removeparticipant", "portal/removeparticipant", "POST",
         R"({"kivraneId":"M1","participantID":"X"})"},
        {"lock", [] { return wire(LockMeetingRequest("R1", "H1")); }, "lock-room", "lock-room",
         "POST", R"({"roomID":"R1","historyId":"H1"})"},
        {"unlock", [] { return wire(UnLockMeetingRequest("R1", "H1")); }, "unlock-room",
         "unlock-room", "POST", R"({"roomID":"R1","historyId":"H1"})"},
        {"start whiteboard", [] { return wire(StartWhiteboardRequest("M1", "U1", "H1", false)); },
         "rooms/M1/whiteboard/startsharing", "rooms/M1/whiteboard/startsharing", "POST",
         R"({"participantUri":"U1","historyId":"H1"})"},
        {"remote whiteboard is a bodiless GET",
         [] { return wire(StartWhiteboardRequest("M1", "U1", "H1", true)); }, "rooms/M1/whiteboard",
         "rooms/M1/whiteboard", "GET", std::nullopt},
        {"whiteboard with empty meeting id",
         [] { return wire(StartWhiteboardRequest("", "", "", false)); },
         "rooms//whiteboard/startsharing", "rooms//whiteboard/startsharing", "POST",
         R"({"participantUri":"","historyId":""})"},
        {"stop whiteboard", [] { return wire(StopWhiteboardRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"action":"stop","participantUri":"U1","kivraneId":"M1"})"},
        {"leave chat thread", [] { return wire(LeaveChatThreadRequest("T1")); },
         "chat/thread/T1/leave", "chat/thread/T1/leave", "DELETE", std::nullopt},
        {"leave chat thread with empty id", [] { return wire(LeaveChatThreadRequest("")); },
         "chat/thread//leave", "chat/thread//leave", "DELETE", std::nullopt},
        {"start screen share", [] { return wire(StartScreenShareRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"kivraneId":"M1","participantUri":"U1","action":"start"})"},
        {"stop screen share", [] { return wire(StopScreenShareRequest("M1", "U1")); },
         "roomconnectionstatus/sharescreen", "roomconnectionstatus/sharescreen", "POST",
         R"({"kivraneId":"M1","participantUri":"U1","action":"stop"})"},
        {"start recording", [] { return wire(StartRecordingRequest("H1")); }, "recording/start",
         "recording/start", "POST", R"({"historyId":"H1"})"},
        {"stop recording with empty history id", [] { return wire(StopRecordingRequest("")); },
         "recording/stop", "recording/stop", "POST", R"({"historyId":""})"},
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

TEST_F(ServerRequestsTest, StatusReportCarriesThisInstallationsPersistedId) {
    const auto deviceIdOf = [] {
        PostRoomConnectionRequest request("M", "R", "P", "H", "U", "N", false, false, false, false,
                                          true, true, false);
        return std::string(request.requestParameters.at("deviceId").as_string());
    };
    const std::string first = deviceIdOf();
    EXPECT_TRUE(platform::DeviceIdentity::isUpperCaseUuid(first)) << first;
    EXPECT_NE(first, platform::DeviceIdentity::kFallbackIdentifier);
    EXPECT_EQ(deviceIdOf(), first);  // kept, not made anew per request

    // Another installation (another defaults store) sends another id.
    test::ScopedTempDirectory otherInstall;
    platform::UserDefaults::setDirectory(otherInstall.path());
    const std::string second = deviceIdOf();
    EXPECT_TRUE(platform::DeviceIdentity::isUpperCaseUuid(second)) << second;
    EXPECT_NE(second, first);
}

}  // namespace
}  // namespace kr
