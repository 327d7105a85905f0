#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

#include "testing/LocalMeetingService/RoomSocketFrames.h"

namespace kr::test {
namespace {

MeetingParticipantState participant(const std::string& n, bool connected) {
    MeetingParticipantState p;
    p.userId = "user-" + n;
    p.participantUri = "uri-" + n;
    p.participantId = "p-" + n;
    p.isConnected = connected;
    return p;
}

/// "event/eventType/actionType/sourceId/participant count" of each frame.
std::vector<std::string> summary(const std::vector<std::string>& frames) {
    std::vector<std::string> out;
    for (const auto& text : frames) {
        const auto frame = boost::json::parse(text).as_object();
        const auto& data = frame.at("data").as_object();
        std::string line(frame.at("event").as_string());
        EXPECT_EQ(data.at("kivraneId"), "1234567890");
        for (const char* key : {"eventType", "actionType", "sourceId"}) {
            if (const auto* v = data.if_contains(key))
                line += "/" + std::string(v->as_string());
        }
        if (const auto* list = data.if_contains("data")) {
            line += "/" + std::to_string(list->as_array().size());
        }
        out.push_back(line);
    }
    return out;
}

TEST(RoomSocketFramesTest, EachKindOfRoomChangeBecomesItsFrame) {
    MeetingRoomState base;
    base.participants = {participant("1", true), participant("2", true)};
    const struct {
        const char* name;
        std::function<void(MeetingRoomState&)> change;
        std::vector<std::string> expected;
    } table[] = {
        {"nothing", [](MeetingRoomState&) {}, {}},
        {"join",
         [](MeetingRoomState& r) { r.participants.push_back(participant("3", true)); },
         {"roomconnectionstatusupdate/update/3"}},
        {"mic",
         [](MeetingRoomState& r) { r.participants[0].isMicOn = true; },
         {"roomconnectionstatusupdate/update/2"}},
        {"disconnect",
         [](MeetingRoomState& r) { r.participants[1].isConnected = false; },
         {"roomconnectionstatusupdate/refresh/leave/user-2"}},
        {"removal",
         [](MeetingRoomState& r) { r.participants.erase(r.participants.begin()); },
         {"roomconnectionstatusupdate/refresh/leave/user-1"}},
        {"hard mute",
         [](MeetingRoomState& r) { r.isHardMuted = true; },
         {"roomconnectionstatusupdate/refresh/HardMuteAllEnabled"}},
        {"soft mute",
         [](MeetingRoomState& r) { r.isSoftMuted = true; },
         {"roomconnectionstatusupdate/refresh/SoftMuteAllEnabled"}},
        {"recording", [](MeetingRoomState& r) { r.isRecording = true; }, {"recordingStarted"}},
    };
    for (const auto& row : table) {
        MeetingRoomState after = base;
        row.change(after);
        EXPECT_EQ(summary(roomChangeFrames(base, after)), row.expected) << row.name;
    }
    MeetingRoomState recording = base;
    recording.isRecording = true;
    EXPECT_EQ(summary(roomChangeFrames(recording, base)),
              std::vector<std::string>{"recordingStopped"});
}

}  // namespace
}  // namespace kr::test
