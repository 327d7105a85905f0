#pragma once

#include <boost/json/object.hpp>
#include <string>

namespace kr::test {

/// One participant as the local meeting service keeps it in a room, connected or not.
/// A plain value.
struct MeetingParticipantState {
    std::string userId;  ///< the account or guest id of the session that reported it
    std::string participantUri;
    std::string participantId;
    std::string participantName;
    bool isConnected = false;
    bool isMicOn = false;
    bool isCameraOn = false;
    bool isHandRaised = false;
    bool isSharingScreen = false;
    bool isCoHost = false;
    bool isHost = false;
    std::string participantType = "speaker";  ///< "speaker" or "audience"
    std::string participantJoinTime;
    std::string deviceId;
    std::string historyId;

    /// The participant record of the status reply.
    boost::json::object toJson() const;
};

}  // namespace kr::test
