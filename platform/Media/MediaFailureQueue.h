#pragma once

#include <deque>
#include <map>
#include <optional>

#include "platform/Media/MediaOperation.h"

namespace kr::platform {

/// Failures injected for media calls, queued per operation and used up one per call, oldest
/// first. Both an engine and its bus keep one.
///
/// Threading: none of its own; its owner guards it (the bus mutex).
class MediaFailureQueue {
public:
    void push(MediaOperation operation, int code) { queues_[operation].push_back(code); }

    /// Takes the oldest failure queued for `operation`, if any.
    std::optional<int> take(MediaOperation operation) {
        auto queued = queues_.find(operation);
        if (queued == queues_.end() || queued->second.empty()) {
            return std::nullopt;
        }
        const int code = queued->second.front();
        queued->second.pop_front();
        return code;
    }

private:
    std::map<MediaOperation, std::deque<int>> queues_;
};

}  // namespace kr::platform
