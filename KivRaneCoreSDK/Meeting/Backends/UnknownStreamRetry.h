#pragma once

#include <memory>
#include <set>
#include <string>

#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr {

/// The remote streams a media backend shows as stand-in participants because the service could
/// not say what they were when they came (its status ask failed), and the asks about them that
/// follow: one waiting at a time, each after a `RetryBackOff` wait that grows while the service
/// keeps failing, until a reply is applied. The backend turns a stand-in the applied reply names
/// as a screen share into that share (`MediaBackend::roomStatusApplied`); the others the reply
/// was asked about are participants after all, and a stand-in added while it was on its way is
/// asked about again.
///
/// Threading: the client's queue only. Owned by a backend of the core behind the port it asks
/// through: while that port lives, so does this.
class UnknownStreamRetry {
public:
    explicit UnknownStreamRetry(std::shared_ptr<platform::DispatchQueue> queue)
        : queue_(std::move(queue)) {}
    ~UnknownStreamRetry() { clear(); }
    UnknownStreamRetry(const UnknownStreamRetry&) = delete;
    UnknownStreamRetry& operator=(const UnknownStreamRetry&) = delete;

    void add(const std::string& streamId) { streams_.insert(streamId); }
    /// True when `streamId` was a stand-in. With the last one go the waiting ask and the count
    /// of failed ones.
    bool remove(const std::string& streamId);
    const std::set<std::string>& streams() const { return streams_; }

    /// Asks the service now, while stand-ins are left.
    void ask(MeetingPort& port);
    /// The question about a stand-in failed: the service is asked after the next wait (nothing
    /// when an ask already waits).
    void askLater(MeetingPort& port);
    /// Forgets the stand-ins and the waiting ask (the meeting ended).
    void clear();

private:
    std::shared_ptr<platform::DispatchQueue> queue_;
    std::set<std::string> streams_;
    RetryBackOff backOff_;
    int failures_ = 0;
    platform::TaskHandle waitingAsk_;
    bool askWaits_ = false;
};

}  // namespace kr
