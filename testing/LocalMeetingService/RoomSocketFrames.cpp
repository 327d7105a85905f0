#include "testing/LocalMeetingService/RoomSocketFrames.h"

#include <boost/json/array.hpp>
#include <boost/json/object.hpp>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr::test {

namespace json = boost::json;

namespace {

std::string statusFrame(const MeetingRoomState& room, json::object payload) {
    payload["kivraneId"] = room.setup.meetingId;
    return serializeJson(json::object{{"event", "roomconnectionstatusupdate"}, {"data", payload}});
}

const MeetingParticipantState* connectedWithUri(const MeetingRoomState& room,
                                                const std::string& uri) {
    for (const auto& participant : room.participants) {
        if (participant.participantUri == uri && participant.isConnected) {
            return &participant;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<std::string> roomChangeFrames(const MeetingRoomState& before,
                                          const MeetingRoomState& after) {
    std::vector<std::string> frames;
    for (const auto& participant : before.participants) {
        if (participant.isConnected && !connectedWithUri(after, participant.participantUri)) {
            frames.push_back(statusFrame(after, json::object{{"eventType", "refresh"},
                                                             {"actionType", "leave"},
                                                             {"sourceId", participant.userId}}));
        }
    }

    bool participantsChanged = false;
    json::array connected;
    for (const auto& participant : after.participants) {
        if (!participant.isConnected) {
            continue;
        }
        const json::object record = participant.toJson();
        const auto* earlier = connectedWithUri(before, participant.participantUri);
        if (earlier == nullptr || earlier->toJson() != record) {
            participantsChanged = true;
        }
        connected.push_back(record);
    }
    if (participantsChanged) {
        frames.push_back(
            statusFrame(after, json::object{{"eventType", "update"}, {"data", connected}}));
    }

    if (before.isSoftMuted != after.isSoftMuted || before.isHardMuted != after.isHardMuted) {
        json::object payload{{"eventType", "refresh"}};
        if (after.isHardMuted != before.isHardMuted) {
            payload["actionType"] =
                after.isHardMuted ? "HardMuteAllEnabled" : "HardMuteAllDisabled";
        } else if (after.isSoftMuted) {
            payload["actionType"] = "SoftMuteAllEnabled";
        }
        frames.push_back(statusFrame(after, std::move(payload)));
    }

    if (before.isRecording != after.isRecording) {
        frames.push_back(serializeJson(
            json::object{{"event", after.isRecording ? "recordingStarted" : "recordingStopped"},
                         {"data", json::object{{"kivraneId", after.setup.meetingId}}}}));
    }
    return frames;
}

}  // namespace kr::test
