#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "platform/Dispatch/DispatchQueue.h"

namespace kr::test {

/// Records the callbacks that control messages cause, one readable line each ("hard mute by 7",
/// "hand 7 up"), and counts calls made off the expected queue.
class ControlMessageRecorder : public KRClientDelegate {
public:
    explicit ControlMessageRecorder(std::shared_ptr<platform::DispatchQueue> queue = nullptr)
        : queue_(std::move(queue)) {}

    std::vector<std::string> lines;
    int offQueueCalls = 0;

    std::vector<std::string> take() { return std::exchange(lines, {}); }

    void didLocalUserJoinedMeeting(const KRMeeting&,
                                   const std::shared_ptr<KRMeetingUser>&) override {
        add("joined");
    }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason& reason) override {
        add("left " + std::to_string(static_cast<int>(reason.kind())) + " " + reason.byHost());
    }
    void didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool raised) override {
        add(std::string("local hand ") + (raised ? "up" : "down"));
    }
    void didLocalUserMicStatusUpdated(const KRMeeting&, bool muted) override {
        add(std::string("local mic ") + (muted ? "off" : "on"));
    }
    void didLocalScreenShareStateChanged(const KRMeeting&, const KRScreenShareState& s) override {
        add(std::string("local share ") + (s.isStarted() ? "started" : "stopped"));
    }
    void didRemoteUserHandRaiseStatusUpdated(const KRMeeting&,
                                             const std::shared_ptr<KRMeetingUser>& user,
                                             bool raised) override {
        add("hand " + user->id() + (raised ? " up" : " down"));
    }
    void didCoHostRightsChanged(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user,
                                bool isCoHost) override {
        add("cohost " + std::string(isCoHost ? "granted" : "revoked") + " by " + user->id());
    }
    void didRecieveReaction(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user,
                            const std::string& type) override {
        add("reaction " + type + " from " + user->id());
    }
    void didRecordingStarted(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("recording started by " + who(by));
    }
    void didRecordingStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("recording stopped by " + who(by));
    }
    void didMeetingLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("locked by " + who(by));
    }
    void didMeetingUnLocked(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("unlocked by " + who(by));
    }
    void didWhiteboardStarted(const KRMeeting&, const std::string& by, const std::string&,
                              const std::string& name) override {
        add("whiteboard started by " + by + " " + name);
    }
    void didWhiteboardStopped(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("whiteboard stopped by " + who(by));
    }
    void didHostRequestToChangeAudioVideoState(const KRMeeting&,
                                               const std::shared_ptr<KRMeetingUser>& host,
                                               AudioVideoState state) override {
        add("request " + std::to_string(static_cast<int>(state)) + " by " + who(host));
    }
    void didUserDeclineToChangeAudioVideoState(const KRMeeting&,
                                               const std::shared_ptr<KRMeetingUser>& user,
                                               AudioVideoState state) override {
        add("decline " + std::to_string(static_cast<int>(state)) + " by " + who(user));
    }
    void didHostEnableHardAudioMute(const KRMeeting&,
                                    const std::shared_ptr<KRMeetingUser>& by) override {
        add("hard mute by " + who(by));
    }
    void didHostDisableHardAudioMute(const KRMeeting&,
                                     const std::shared_ptr<KRMeetingUser>& by) override {
        add("hard unmute by " + who(by));
    }
    void didHostEnableSoftAudioMute(const KRMeeting&,
                                    const std::shared_ptr<KRMeetingUser>& by) override {
        add("soft mute by " + who(by));
    }
    void didHostLowerAllHands(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& by) override {
        add("all hands down by " + who(by));
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override {
        add("join failed " + std::to_string(static_cast<int>(error.kind)));
    }

private:
    static std::string who(const std::shared_ptr<KRMeetingUser>& user) {
        return user ? user->id() : std::string("-");
    }
    void add(std::string line) {
        if (queue_ && !queue_->isCurrent())
            ++offQueueCalls;
        lines.push_back(std::move(line));
    }
    std::shared_ptr<platform::DispatchQueue> queue_;
};

}  // namespace kr::test
