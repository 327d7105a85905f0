#pragma once

#include <string>
#include <vector>

namespace kr::platform {

/// The kind of one audio port of the device's current audio route.
enum class AudioSessionPortType {
    builtInSpeaker,
    builtInReceiver,
    builtInMic,
    headphones,
    headsetMic,
    bluetoothA2DP,
    bluetoothHFP,
    bluetoothLE,
    lineOut,
    hdmi,
    other,
};

/// One port of an audio route.
struct AudioSessionPortDescription {
    AudioSessionPortType portType = AudioSessionPortType::other;
    std::string portName;
};

/// The inputs and outputs the device's audio currently goes through. Plain value.
struct AudioSessionRouteDescription {
    std::vector<AudioSessionPortDescription> inputs;
    std::vector<AudioSessionPortDescription> outputs;
};

}  // namespace kr::platform
