#pragma once

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "platform/Dispatch/DispatchQueue.h"

namespace kr::test {

/// Every engine callback the client raises, one readable line each, and whether it ran on the
/// main queue.
class EngineTestDelegate : public KRClientDelegate {
public:
    explicit EngineTestDelegate(std::shared_ptr<platform::DispatchQueue> queue)
        : queue_(std::move(queue)) {}

    std::vector<std::string> lines;
    int offQueueCalls = 0;

    std::size_t count(const std::string& line) const {
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
    }
    bool has(const std::string& line) const { return count(line) > 0; }

    void didLocalUserJoinedMeeting(const KRMeeting&,
                                   const std::shared_ptr<KRMeetingUser>& user) override {
        add("joined " + user->id());
    }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason&) override {
        add("left");
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override {
        add("failed " + error.message);
    }
    void didLocalUserMicStatusUpdated(const KRMeeting&, bool muted) override {
        add(std::string("mic ") + (muted ? "off" : "on"));
    }
    void didLocalUserVideoStatusUpdated(const KRMeeting&, bool muted) override {
        add(std::string("camera ") + (muted ? "off" : "on"));
    }
    void didRemoteUserJoinedMeeting(const KRMeeting&,
                                    const std::shared_ptr<KRMeetingUser>& user) override {
        add("remote joined " + user->id());
    }
    void didRemoteUserLeftMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user,
                                  const KRUserLeftReason&) override {
        add("remote left " + user->id());
    }
    void didRemoteUserMicStatusUpdated(const KRMeeting&,
                                       const std::shared_ptr<KRMeetingUser>& user,
                                       bool muted) override {
        add("remote mic " + user->id() + (muted ? " off" : " on"));
    }
    void didUserMovedToAudience(const KRMeeting&,
                                const std::shared_ptr<KRMeetingUser>& user) override {
        add("remote to audience " + user->id());
    }
    void didLocalUserMovedToAudience(const KRMeeting&,
                                     const std::shared_ptr<KRMeetingUser>&) override {
        add("to audience");
    }
    void didLocalScreenShareStateChanged(const KRMeeting&, const KRScreenShareState& s) override {
        add(std::string("local share ") + (s.isStarted() ? "started" : "stopped"));
    }
    void didUserMovedToParticipants(const KRMeeting&,
                                    const std::shared_ptr<KRMeetingUser>& user) override {
        add("remote to participants " + user->id());
    }
    void didLocalUserMovedToParticipant(const KRMeeting&,
                                        const std::shared_ptr<KRMeetingUser>&) override {
        add("to participants");
    }
    void didLoudestSpeakerUpdated(const KRMeeting&,
                                  const std::shared_ptr<KRMeetingUser>& user) override {
        add("loudest " + (user ? user->id() : std::string("-")));
    }
    void didDetectActiveSpeakers(const KRMeeting&,
                                 const std::vector<std::shared_ptr<KRMeetingUser>>& users) override {
        std::string line = "speakers";
        for (const auto& user : users) line += " " + user->id();
        add(line);
    }
    void didRemoteScreenShareStateChanged(const KRMeeting& meeting,
                                          const KRScreenShareState& s) override {
        add(std::string("remote share ") + (s.isStarted() ? "started" : "stopped"));
        if (s.isStarted()) {
            tracksAtShareStart = meeting.allMediaTracks().size();
        }
    }
    std::size_t tracksAtShareStart = 0;

private:
    void add(std::string line) {
        if (!queue_->isCurrent()) ++offQueueCalls;
        lines.push_back(std::move(line));
    }
    std::shared_ptr<platform::DispatchQueue> queue_;
};

}  // namespace kr::test
