#pragma once

namespace kr::platform {

/// Options of a channel join. By default the engine receives every remote stream and publishes
/// the local microphone and camera (subject to the client role and the local mutes).
struct ChannelMediaOptions {
    bool autoSubscribeAudio = true;
    bool autoSubscribeVideo = true;
    bool publishLocalAudio = true;
    bool publishLocalVideo = true;
};

}  // namespace kr::platform
