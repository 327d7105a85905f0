#include "testing/LocalMeetingService/MeetingRoomState.h"

#include <boost/json/array.hpp>

namespace kr::test {

namespace {

template <class Participants>
auto* findIn(Participants& participants, std::string_view id) {
    using Pointer = decltype(&participants.front());
    if (id.empty()) {
        return Pointer{nullptr};
    }
    for (auto member :
         {&MeetingParticipantState::participantUri, &MeetingParticipantState::participantId,
          &MeetingParticipantState::userId}) {
        for (auto& participant : participants) {
            if (participant.*member == id) {
                return &participant;
            }
        }
    }
    return Pointer{nullptr};
}

}  // namespace

MeetingParticipantState* MeetingRoomState::find(std::string_view id) {
    return findIn(participants, id);
}

const MeetingParticipantState* MeetingRoomState::find(std::string_view id) const {
    return findIn(participants, id);
}

std::int64_t MeetingRoomState::connectedSpeakerCount() const {
    std::int64_t count = 0;
    for (const auto& participant : participants) {
        if (participant.isConnected && participant.participantType == "speaker") {
            ++count;
        }
    }
    return count;
}

boost::json::object MeetingRoomState::statusJson() const {
    boost::json::object o;
    boost::json::array list;
    std::string sharer = !whiteboardSharerUri.empty() ? whiteboardSharerUri : screenSharerUri;
    bool sharing = !sharer.empty();
    for (const auto& participant : participants) {
        if (!participant.isConnected) {
            continue;
        }
        // The share started through the share endpoint counts whatever the sharer's own
        // status reports say.
        MeetingParticipantState shown = participant;
        shown.isSharingScreen =
            participant.isSharingScreen ||
            (!screenSharerUri.empty() && participant.participantUri == screenSharerUri);
        if (shown.isSharingScreen && !sharing) {
            sharing = true;
            sharer = shown.participantUri;
        }
        list.push_back(shown.toJson());
    }
    o["participants"] = std::move(list);
    o["isHardMute"] = isHardMuted;
    o["isSoftMute"] = isSoftMuted;
    o["whiteboardshared"] = !whiteboardSharerUri.empty();
    o["isRecording"] = isRecording;
    // Named whenever a reader would look for it: a whiteboard or any participant sharing.
    if (sharing) {
        o["isSharing"] = sharer;
    }
    if (!screenSharerUri.empty()) {
        o["agoraScreenShareInfo"] = boost::json::object{{"agoraUid", screenShareUid}};
    }
    return o;
}

}  // namespace kr::test
