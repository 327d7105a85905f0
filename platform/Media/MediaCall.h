#pragma once

#include <string>

#include "platform/Media/MediaOperation.h"

namespace kr::platform {

/// One call received by a media engine: the operation and its arguments as text, comma separated
/// (booleans as true/false, absent values as "none").
struct MediaCall {
    MediaOperation operation;
    std::string arguments;

    /// "name(arguments)", e.g. "setAudioProfile(1, 7)".
    std::string text() const {
        return std::string(mediaOperationName(operation)) + "(" + arguments + ")";
    }
};

}  // namespace kr::platform
