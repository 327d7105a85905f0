// The service injecting malformed JSON, a 500 and a dropped connection into each server call of
// the join: every call ends in its error, and the client and service keep working afterwards.

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Network/Requests/GetConfigurationRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Network/Requests/JoinCallRequest.h"
#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "support/MeetingServiceTestClient.h"
#include "support/NetworkTestDependencies.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::test {
namespace {

using R = MeetingServiceRoute;
using Kind = KRApiRequestError::Kind;

class JoinFaultsIntegrationTest : public ::testing::Test {
protected:
    JoinFaultsIntegrationTest() {
        // A session for the calls that need one.
        const auto login =
            sendAndWait(*client, GuestLoginRequest(setup.meetingId, "", setup.pin, "Ann", ""));
        EXPECT_TRUE(login.getResult().ok());
        if (login.getResult().ok()) {
            client->setJwtToken(login.getResult().value().jwtToken());
        }
    }

    /// Sends the route's request; nullopt when it succeeded, else its error.
    std::optional<KRApiRequestError> call(R route) {
        switch (route) {
            case R::configuration:
                return errorOf(GetConfigurationRequest("ios"));
            case R::roomDetails:
                return errorOf(GetRoomDetailsRequest(setup.meetingId, setup.pin, ""));
            case R::guestLogin:
                return errorOf(GuestLoginRequest(setup.meetingId, "", setup.pin, "Bob", ""));
            case R::joinCall:
                return errorOf(JoinCallRequest(setup.meetingId, setup.roomId, setup.pin, "Ann", "",
                                               "", "", client->getJwtToken(), ""));
            case R::postRoomConnectionStatus:
                return errorOf(PostRoomConnectionRequest({.meetingID = setup.meetingId,
                                                          .roomID = setup.roomId,
                                                          .meetingPIN = setup.pin,
                                                          .userUid = "10001",
                                                          .userName = "Ann",
                                                          .isConnected = true,
                                                          .deviceId = "DEVICE-1"}));
            case R::getRoomConnectionStatus:
                return errorOf(GetRoomConnectionRequest(setup.meetingId, setup.roomId, setup.pin));
            default:
                ADD_FAILURE() << "not a route of the join";
                return std::nullopt;
        }
    }

    template <KRAPIRequestType Q>
    std::optional<KRApiRequestError> errorOf(const Q& request) {
        const auto result = sendAndWait(*client, request).getResult();
        if (result.ok()) {
            return std::nullopt;
        }
        return result.error();
    }

    std::shared_ptr<platform::MainQueue> main_ = platform::MainQueue::create();
    MeetingRoomSetup setup;
    LocalMeetingService service;
    std::shared_ptr<KRNetworkClient> client =
        KRNetworkClient::create(networkDependencies(main_, service.routing()));
};

TEST_F(JoinFaultsIntegrationTest, EachServerCallOfTheJoinEndsInItsError) {
    struct FaultCase {
        const char* name;
        MeetingServiceFault fault;
        Kind expected;
    };
    const std::vector<FaultCase> faults = {
        {"malformed JSON", MeetingServiceFault::malformedJson(), Kind::unKnown},
        {"500", MeetingServiceFault::withStatus(500), Kind::serverError},
        {"dropped connection", MeetingServiceFault::dropConnection(), Kind::networkFailure},
    };
    const std::vector<R> routes = {R::configuration,
                                   R::roomDetails,
                                   R::guestLogin,
                                   R::joinCall,
                                   R::postRoomConnectionStatus,
                                   R::getRoomConnectionStatus};

    for (const R route : routes) {
        for (const FaultCase& c : faults) {
            SCOPED_TRACE(std::string(routeName(route)) + ", " + c.name);
            const std::size_t before = service.requestCount(route);
            // Every request of the route is faulted, so a transport retry meets the fault too.
            service.injectFault(route, c.fault);
            const auto error = call(route);
            service.clearFaults();
            ASSERT_TRUE(error.has_value());
            EXPECT_EQ(error->kind(), c.expected);
            EXPECT_GT(service.requestCount(route), before);
        }
        // The client and the service are still fine afterwards.
        const auto error = call(route);
        EXPECT_FALSE(error.has_value()) << routeName(route) << ": " << error->getMessageString();
    }

    // Faulted calls changed nothing: only the one good status post put the participant in.
    const auto room = service.room(setup.meetingId);
    ASSERT_TRUE(room.has_value());
    EXPECT_EQ(room->participants.size(), 1u);
}

TEST_F(JoinFaultsIntegrationTest, FaultsCanBeLimitedAndDelayed) {
    service.injectFault(R::roomDetails, MeetingServiceFault::withStatus(
                                            404, R"({"message":"NOTFOUNDERROR","errors":"gone"})")
                                            .times(1));
    service.injectFault(R::roomDetails,
                        MeetingServiceFault::delayed(std::chrono::milliseconds(200)).times(1));
    const auto refused = call(R::roomDetails);
    ASSERT_TRUE(refused.has_value());
    EXPECT_EQ(refused->kind(), Kind::failedApi);
    EXPECT_EQ(refused->getErrorCode(), "NOTFOUNDERROR");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(call(R::roomDetails).has_value());  // delayed, then answered normally
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(200));
    EXPECT_FALSE(call(R::roomDetails).has_value());
}

}  // namespace
}  // namespace kr::test
