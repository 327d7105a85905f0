#pragma once

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "testing/QuietReachability.h"

namespace kr::test {

/// Records every callback a client makes as one readable line ("joined 10001", "failed 3 ..."),
/// and whether each ran on the expected queue. Shared `log` lets several delegates write in order.
class ClientTestDelegate : public KRClientDelegate {
public:
    explicit ClientTestDelegate(std::string tag = {},
                                std::shared_ptr<std::vector<std::string>> log = nullptr,
                                std::shared_ptr<platform::DispatchQueue> queue = nullptr)
        : tag_(std::move(tag)),
          log_(log ? std::move(log) : std::make_shared<std::vector<std::string>>()),
          queue_(std::move(queue)) {}

    const std::vector<std::string>& events() const { return *log_; }
    std::vector<KRMeetingJoinError> joinFailures;
    std::vector<KRMeetingError> errors;
    int offQueueCalls = 0;

    void didLocalUserJoinedMeeting(const KRMeeting&,
                                   const std::shared_ptr<KRMeetingUser>& user) override {
        add("joined " + user->id());
    }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason& reason) override {
        add("left " + std::to_string(static_cast<int>(reason.kind())));
    }
    void didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool isRaised) override {
        add(std::string("hand ") + (isRaised ? "up" : "down"));
    }
    void didLocalScreenShareStateChanged(const KRMeeting&, const KRScreenShareState& s) override {
        add(std::string("local share ") + (s.isStarted() ? "started" : "stopped"));
    }
    void didRecordingStarted(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        add("recording started");
    }
    void didRecordingStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        add("recording stopped");
    }
    void didMeetingLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("locked " + (by ? by->id() : std::string("-")));
    }
    void didMeetingUnLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("unlocked " + (by ? by->id() : std::string("-")));
    }
    void didWhiteboardStarted(const KRMeeting&, const std::string& by, const std::string& url,
                              const std::string& name) override {
        add("whiteboard started " + by + " " + name + (url.empty() ? "" : " url"));
    }
    void didWhiteboardStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        add("whiteboard stopped");
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override {
        joinFailures.push_back(error);
        add("failed " + std::to_string(static_cast<int>(error.kind)) + " " + error.message);
    }
    void didErrorOccured(const KRMeetingError& error) override {
        errors.push_back(error);
        add("error " + std::to_string(static_cast<int>(error.kind)));
    }

private:
    void add(std::string line) {
        if (queue_ && !queue_->isCurrent()) ++offQueueCalls;
        log_->push_back(tag_.empty() ? std::move(line) : tag_ + ": " + line);
    }
    std::string tag_;
    std::shared_ptr<std::vector<std::string>> log_;
    std::shared_ptr<platform::DispatchQueue> queue_;
};

}  // namespace kr::test
