#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"

#include <utility>

namespace kr {

KRMeeting::KRMeeting(std::string meetingID, std::string meetingPin, std::string meetingTitle,
                     std::vector<std::shared_ptr<KRMediaTrack>> allMediaTracks,
                     std::shared_ptr<KRMeetingUser> localParticipant, bool isHardAudioMute,
                     std::string meetingOwnerName, bool isMeetingLocked)
    : meetingID_(std::move(meetingID)),
      meetingPin_(std::move(meetingPin)),
      meetingTitle_(std::move(meetingTitle)),
      allMediaTracks_(std::move(allMediaTracks)),
      localParticipant_(localParticipant ? std::move(localParticipant)
                                         : std::make_shared<KRMeetingUser>()),
      isHardAudioMute_(isHardAudioMute),
      meetingOwnerName_(std::move(meetingOwnerName)),
      isMeetingLocked_(isMeetingLocked) {
    std::erase(allMediaTracks_, nullptr);
    const std::string localId = localParticipant_->id();
    for (const auto& track : allMediaTracks_) {
        if (auto user = std::dynamic_pointer_cast<KRMeetingUser>(track)) {
            allParticipants_.push_back(user);
            if (user->id() != localId) {
                remoteParticipants_.push_back(std::move(user));
            }
        }
    }
}

}  // namespace kr
