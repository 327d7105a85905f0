#pragma once

namespace kr {

/// Darwin notifications the broadcast extension posts, and the one the client posts back once
/// the share stream's credentials are in the app group under the two keys below. The host app's
/// extension uses the same names, so they are part of the client's public face.
struct ScreenShareExtensionNames {
    static constexpr const char* kCaptureStartedNotification = "kr.darwin.screenshare.capture.started";
    static constexpr const char* kStreamStartedNotification = "kr.darwin.screenshare.stream.started";
    static constexpr const char* kCaptureStoppedNotification = "kr.darwin.screenshare.capture.stopped";
    static constexpr const char* kCredentialsReadyNotification =
        "kr.darwin.screenshare.credentials.ready";
    static constexpr const char* kShareUidKey = "kr_screen_share_uid";
    static constexpr const char* kShareTokenKey = "kr_screen_share_token";
};

}  // namespace kr
