#pragma once

#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Meeting/KRMediaTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"

namespace kr {

/// A snapshot of the meeting handed to the host app with the callbacks. The lists are copied,
/// the users and tracks in them are not: they are the stores' own objects and keep changing
/// with the meeting. Value type; build and read on the main queue.
class KRMeeting {
public:
    /// Derives `allParticipants` (the KRMeetingUser entries of `allMediaTracks`) and
    /// `remoteParticipants` (those whose id differs from the local user's). Null entries are
    /// left out; a null local user is replaced by an empty one. Recording and whiteboard start
    /// false.
    KRMeeting(std::string meetingID, std::string meetingPin, std::string meetingTitle,
              std::vector<std::shared_ptr<KRMediaTrack>> allMediaTracks,
              std::shared_ptr<KRMeetingUser> localParticipant, bool isHardAudioMute,
              std::string meetingOwnerName, bool isMeetingLocked);

    const std::string& meetingID() const noexcept { return meetingID_; }
    const std::string& meetingPin() const noexcept { return meetingPin_; }
    const std::string& meetingTitle() const noexcept { return meetingTitle_; }
    const std::vector<std::shared_ptr<KRMediaTrack>>& allMediaTracks() const noexcept {
        return allMediaTracks_;
    }
    const std::vector<std::shared_ptr<KRMeetingUser>>& allParticipants() const noexcept {
        return allParticipants_;
    }
    const std::vector<std::shared_ptr<KRMeetingUser>>& remoteParticipants() const noexcept {
        return remoteParticipants_;
    }
    const std::shared_ptr<KRMeetingUser>& localParticipant() const noexcept {
        return localParticipant_;
    }
    bool isHardAudioMute() const noexcept { return isHardAudioMute_; }
    const std::string& meetingOwnerName() const noexcept { return meetingOwnerName_; }
    bool isRecordingOn() const noexcept { return isRecordingOn_; }
    void setIsRecordingOn(bool value) noexcept { isRecordingOn_ = value; }
    bool isMeetingLocked() const noexcept { return isMeetingLocked_; }
    void setIsMeetingLocked(bool value) noexcept { isMeetingLocked_ = value; }
    bool isWhiteboardShared() const noexcept { return isWhiteboardShared_; }
    void setIsWhiteboardShared(bool value) noexcept { isWhiteboardShared_ = value; }

private:
    std::string meetingID_;
    std::string meetingPin_;
    std::string meetingTitle_;
    std::vector<std::shared_ptr<KRMediaTrack>> allMediaTracks_;
    std::vector<std::shared_ptr<KRMeetingUser>> allParticipants_;
    std::vector<std::shared_ptr<KRMeetingUser>> remoteParticipants_;
    std::shared_ptr<KRMeetingUser> localParticipant_;
    bool isHardAudioMute_;
    std::string meetingOwnerName_;
    bool isRecordingOn_ = false;
    bool isMeetingLocked_;
    bool isWhiteboardShared_ = false;
};

}  // namespace kr
