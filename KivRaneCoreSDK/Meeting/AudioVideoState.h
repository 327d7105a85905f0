#pragma once

namespace kr {

/// What a host asked of a participant's microphone or camera, or what a participant declined.
enum class AudioVideoState {
    startAudio,
    stopAudio,
    startVideo,
    stopVideo,
};

}  // namespace kr
