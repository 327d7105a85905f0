#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace kr {
namespace {

using E = KRAudioVideoErrorType;
using Q = KRNetworkQuality;

TEST(RtcCodeMappingTest, EveryTable) {
    // Network quality, one side and the worse of two.
    const struct {
        int tx, rx;
        Q one, both;
    } qualities[] = {
        {0, 0, Q::detecting, Q::detecting}, {1, 0, Q::good, Q::good},
        {2, 0, Q::good, Q::good},           {3, 0, Q::low, Q::low},
        {4, 0, Q::bad, Q::bad},             {5, 2, Q::bad, Q::bad},
        {6, 8, Q::detecting, Q::detecting}, {-1, 3, Q::detecting, Q::low},
        {1, 4, Q::good, Q::bad},            {3, 1, Q::low, Q::low},
    };
    for (const auto& q : qualities) {
        EXPECT_EQ(networkQualityFromEngine(q.tx), q.one) << q.tx;
        EXPECT_EQ(networkQualityFromEngine(q.tx, q.rx), q.both) << q.tx << "/" << q.rx;
    }

    // Audio routes; values outside the table keep the previous route.
    const struct {
        int routing;
        std::optional<KRAudioRouteType> route;
    } routes[] = {
        {0, KRAudioRouteType::headPhone}, {1, KRAudioRouteType::audioHandset},
        {2, KRAudioRouteType::headPhone}, {3, KRAudioRouteType::speaker},
        {4, KRAudioRouteType::speaker},   {5, KRAudioRouteType::blueTooth},
        {-1, std::nullopt},               {6, std::nullopt},
    };
    for (const auto& r : routes) {
        EXPECT_EQ(audioRouteFromEngine(r.routing), r.route) << r.routing;
    }

    // Connection states; unknown ones count as connected.
    const struct {
        int state;
        KRConnectionState mapped;
    } states[] = {
        {1, KRConnectionState::disconnected}, {2, KRConnectionState::connecting},
        {3, KRConnectionState::connected},    {4, KRConnectionState::reconnecting},
        {5, KRConnectionState::failed},       {0, KRConnectionState::connected},
        {6, KRConnectionState::connected},
    };
    for (const auto& s : states) {
        EXPECT_EQ(connectionStateFromEngine(s.state), s.mapped) << s.state;
        // The strict form knows only the engine's own states.
        const bool known = s.state >= 1 && s.state <= 5;
        EXPECT_EQ(knownConnectionStateFromEngine(s.state),
                  known ? std::optional(s.mapped) : std::nullopt)
            << s.state;
    }

    // Why a remote user went offline.
    const struct {
        int reason;
        KRUserLeftReason mapped;
    } offline[] = {
        {0, KRUserLeftReason::leaveMeeting()},   {1, KRUserLeftReason::networkDropped()},
        {2, KRUserLeftReason::becomeAudience()}, {3, KRUserLeftReason::none()},
        {-1, KRUserLeftReason::none()},
    };
    for (const auto& o : offline) {
        EXPECT_EQ(userLeftReasonFromEngine(o.reason), o.mapped) << o.reason;
    }

    // Local microphone errors.
    const struct {
        int error;
        E type;
        std::string text;
    } audio[] = {
        {0, E::ok, "OK"},
        {1, E::reconnectError, "AudioLocalErrorFailure"},
        {2, E::permissionError, "AudioLocalErrorDeviceNoPermission"},
        {3, E::deviceBusyError, "AudioLocalErrorDeviceBusy"},
        {4, E::reconnectError, "AudioLocalErrorRecordFailure"},
        {5, E::reconnectError, "AudioLocalErrorEncodeFailure"},
        {6, E::unknown, "6"},
        {7, E::unknown, "7"},
        {8, E::deviceBusyError, "AudioLocalErrorInterrupted"},
        {9, E::unknown, "9"},
    };
    for (const auto& row : audio) {
        EXPECT_EQ(audioErrorType(row.error), row.type) << row.error;
        EXPECT_EQ(audioErrorDescription(row.error), row.text);
    }

    // Local camera errors.
    const struct {
        int error;
        E type;
        std::string text;
    } video[] = {
        {0, E::ok, "OK"},
        {1, E::reconnectError, "LocalVideoStreamErrorFailure"},
        {2, E::permissionError, "LocalVideoStreamErrorDeviceNoPermission"},
        {3, E::deviceBusyError, "LocalVideoStreamErrorDeviceBusy"},
        {4, E::reconnectError, "LocalVideoStreamErrorCaptureFailure"},
        {5, E::reconnectError, "LocalVideoStreamErrorEncodeFailure"},
        {6, E::multipleAppsOrBackground, "LocalVideoStreamErrorCaptureInBackGround"},
        {7, E::multipleAppsOrBackground, "LocalVideoStreamErrorCaptureMultipleForegroundApps"},
        {8, E::reconnectError, "LocalVideoStreamErrorCaptureNoDeviceFound"},
        {9, E::reconnectError, "LocalVideoStreamErrorCaptureDeviceDisconnected"},
        {10, E::reconnectError, "LocalVideoStreamErrorCaptureDeviceInvalidId"},
        {11, E::ok, "LocalVideoStreamErrorScreenCaptureWindowMinimized"},
        {12, E::ok, "LocalVideoStreamErrorScreenCaptureWindowClosed"},
        {13, E::ok, "LocalVideoStreamErrorExtensionCaptureStarted"},
        {14, E::ok, "LocalVideoStreamErrorExtensionCaptureStoped"},
        {15, E::ok, "LocalVideoStreamErrorExtensionCaptureDisconnected"},
        {16, E::unknown, "16"},
        {-3, E::unknown, "-3"},
    };
    for (const auto& row : video) {
        EXPECT_EQ(videoErrorType(row.error), row.type) << row.error;
        EXPECT_EQ(videoErrorDescription(row.error), row.text);
    }
}

}  // namespace
}  // namespace kr
