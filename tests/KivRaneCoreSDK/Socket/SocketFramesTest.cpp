#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <chrono>
#include <string>

#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateSocketResponse.h"
#include "KivRaneCoreSDK/Socket/Models/SocketEvent.h"
#include "KivRaneCoreSDK/Socket/Models/SocketRequest.h"
#include "KivRaneCoreSDK/Socket/Models/SocketResponse.h"

namespace kr {
namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;

TEST(SocketEventTest, RawValuesMatchExactlyAndRoundTrip) {
    const struct {
        SocketEvent event;
        const char* raw;
    } table[] = {
        {SocketEvent::login, "login"},
        {SocketEvent::chatThread, "chatThreadAddOrEdit"},
        {SocketEvent::chatMessage, "chatMessage"},
        {SocketEvent::chatMessageUpdate, "chatMessageUpdate"},
        {SocketEvent::roomStatusUpdate, "roomconnectionstatusupdate"},
        {SocketEvent::recordingStarted, "recordingStarted"},
        {SocketEvent::recordingStopped, "recordingStopped"},
        {SocketEvent::undefined, ""},
    };
    for (const auto& row : table) {
        EXPECT_EQ(rawValue(row.event), row.raw);
        EXPECT_EQ(socketEventFromRaw(row.raw), row.event) << row.raw;
        auto decoded = decodeJsonValue<SocketEvent>(boost::json::value(row.raw));
        ASSERT_TRUE(decoded.ok()) << row.raw;
        EXPECT_EQ(decoded.value(), row.event);
    }
    for (const char* unknown :
         {"RoomConnectionStatusUpdate", "amAlive", "ack", "Login", " login"}) {
        EXPECT_FALSE(socketEventFromRaw(unknown).has_value()) << unknown;
        EXPECT_FALSE(decodeJsonValue<SocketEvent>(boost::json::value(unknown)).ok()) << unknown;
    }
    EXPECT_FALSE(decodeJsonValue<SocketEvent>(boost::json::value(3)).ok());
    EXPECT_FALSE(decodeJsonValue<SocketEvent>(boost::json::value(nullptr)).ok());
}

TEST(SocketRequestTest, OutgoingFramesAreByteExact) {
    const auto at = system_clock::time_point(std::chrono::seconds(1700000000));
    const struct {
        const char* name;
        std::optional<std::string> encoded;
        const char* expected;
    } table[] = {
        {"login", LoginSocketRequest("jwt.abc").encode(),
         R"({"event":"login","data":{"token":"jwt.abc"}})"},
        {"login, empty token", LoginSocketRequest("").encode(),
         R"({"event":"login","data":{"token":""}})"},
        {"keep-alive", AmAliveSocketRequest("jwt.abc").encode(),
         R"({"event":"amAlive","data":{"token":"jwt.abc"}})"},
        {"keep-alive, empty token", AmAliveSocketRequest("").encode(),
         "{\"event\":\"amAlive\",\"data\":{\"token\":\"(null)\"}}"},
        {"ack", AckSocketRequest("chatMessage", at + milliseconds(999)).encode(),
         R"({"event":"ack","data":{"originalEvent":"chatMessage","timestamp":"1700000000"}})"},
        {"ack, no event", AckSocketRequest("", at).encode(),
         R"({"event":"ack","data":{"originalEvent":"","timestamp":"1700000000"}})"},
        {"escaped token", LoginSocketRequest("a\"b\\c").encode(),
         R"({"event":"login","data":{"token":"a\"b\\c"}})"},
        {"ack, event to escape", AckSocketRequest("r\xC3\xA9s\"\n\xFF", at).encode(),
         "{\"event\":\"ack\",\"data\":{\"originalEvent\":\"r\xC3\xA9s\\\"\\n\xEF\xBF\xBD\","
         "\"timestamp\":\"1700000000\"}}"},
    };
    for (const auto& row : table) {
        ASSERT_TRUE(row.encoded.has_value()) << row.name;
        EXPECT_EQ(*row.encoded, row.expected) << row.name;
    }
}

TEST(SocketRequestTest, AckTimestampTruncatesTowardZero) {
    const struct {
        milliseconds sinceEpoch;
        const char* expected;
    } table[] = {
        {milliseconds(0), "0"},      {milliseconds(999), "0"},
        {milliseconds(1000), "1"},   {milliseconds(-500), "0"},
        {milliseconds(-1500), "-1"}, {milliseconds(4102444800999), "4102444800"},
    };
    for (const auto& row : table) {
        EXPECT_EQ(AckSocketRequest::unixSecondsText(system_clock::time_point(row.sinceEpoch)),
                  row.expected)
            << row.sinceEpoch.count();
    }
    const auto before = system_clock::now();
    const AckSocketRequest ack("x");
    const auto after = system_clock::now();
    const long long stamp = std::stoll(ack.data().at("timestamp"));
    EXPECT_GE(stamp,
              std::chrono::duration_cast<std::chrono::seconds>(before.time_since_epoch()).count());
    EXPECT_LE(stamp,
              std::chrono::duration_cast<std::chrono::seconds>(after.time_since_epoch()).count());
    EXPECT_EQ(ack.originalEvent(), "x");
}

const char* kParticipant =
    R"({"userId":"u1","participantId":"p1","micStatus":true,"cameraStatus":false,"isHandRaise":false})";
const char* kParticipantWithoutMic =
    R"({"userId":"u2","participantId":"p2","cameraStatus":false,"isHandRaise":false})";

std::string statusFrame(const std::string& data) {
    return R"({"event":"roomconnectionstatusupdate","data":)" + data + "}";
}

TEST(RoomStatusUpdateSocketResponseTest, PayloadRulesAndDefaults) {
    using Action = RoomStatusUpdateActionType;
    using Event = RoomStatusUpdateEvent;
    const std::string two = std::string("[") + kParticipant + "," + kParticipant + "]";
    const std::string withBad =
        std::string("[") + kParticipant + "," + kParticipant + "," + kParticipantWithoutMic + "]";
    const struct {
        const char* name;
        std::string data;
        bool ok;
        Event event;
        Action action;
        std::size_t participants;
        const char* sourceId;
    } table[] = {
        {"update with two", R"({"kivraneId":"m","eventType":"update","data":)" + two + "}", true,
         Event::update, Action::unknown, 2, ""},
        {"one bad element empties the list",
         R"({"kivraneId":"m","eventType":"update","data":)" + withBad + "}", true, Event::update,
         Action::unknown, 0, ""},
        {"data null", R"({"kivraneId":"m","eventType":"update","data":null})", true, Event::update,
         Action::unknown, 0, ""},
        {"data missing", R"({"kivraneId":"m","eventType":"update"})", true, Event::update,
         Action::unknown, 0, ""},
        {"leave", R"({"kivraneId":"m","eventType":"refresh","actionType":"leave","sourceId":"u7"})",
         true, Event::refresh, Action::leave, 0, "u7"},
        {"leave without source", R"({"kivraneId":"m","eventType":"refresh","actionType":"leave"})",
         true, Event::refresh, Action::leave, 0, ""},
        {"source not a string",
         R"({"kivraneId":"m","eventType":"refresh","actionType":"leave","sourceId":5})", true,
         Event::refresh, Action::leave, 0, ""},
        {"leave in other case is unknown",
         R"({"kivraneId":"m","eventType":"refresh","actionType":"Leave"})", true, Event::refresh,
         Action::unknown, 0, ""},
        {"soft mute",
         R"({"kivraneId":"m","eventType":"refresh","actionType":"SoftMuteAllEnabled"})", true,
         Event::refresh, Action::softMuteEnabled, 0, ""},
        {"hard mute off",
         R"({"kivraneId":"m","eventType":"refresh","actionType":"HardMuteAllDisabled"})", true,
         Event::refresh, Action::hardMuteDisabled, 0, ""},
        {"hard mute on",
         R"({"kivraneId":"m","eventType":"update","actionType":"HardMuteAllEnabled"})", true,
         Event::update, Action::hardMuteEnabled, 0, ""},
        {"capitalised event type", R"({"kivraneId":"m","eventType":"Refresh"})", false,
         Event::update, Action::unknown, 0, ""},
        {"no meeting id", R"({"eventType":"refresh"})", false, Event::update, Action::unknown, 0,
         ""},
        {"numeric meeting id", R"({"kivraneId":5,"eventType":"refresh"})", false, Event::update,
         Action::unknown, 0, ""},
        {"data not an object", R"("text")", false, Event::update, Action::unknown, 0, ""},
    };
    for (const auto& row : table) {
        auto decoded =
            SocketResponse<RoomStatusUpdateSocketResponse>::decode(statusFrame(row.data));
        ASSERT_EQ(decoded.ok(), row.ok) << row.name;
        if (!row.ok) {
            continue;
        }
        const auto& payload = decoded.value().data;
        EXPECT_EQ(decoded.value().event, SocketEvent::roomStatusUpdate) << row.name;
        EXPECT_EQ(payload.kivRaneId, "m") << row.name;
        EXPECT_EQ(payload.eventType, row.event) << row.name;
        EXPECT_EQ(payload.actionType, row.action) << row.name;
        EXPECT_EQ(payload.participants.size(), row.participants) << row.name;
        EXPECT_EQ(payload.sourceId, row.sourceId) << row.name;
        EXPECT_EQ(payload.removedUserId, "") << row.name;
    }
}

TEST(SocketResponseTest, EnvelopeNeedsObjectKnownEventAndData) {
    const struct {
        const char* frame;
        bool ok;
    } table[] = {
        {R"({"event":"chatMessage","data":{"id":"1"},"extra":1})", true},
        {R"({"event":"chatMessage"})", false},
        {R"({"event":"chatMessage","data":null})", false},
        {R"({"event":"chatMessage","data":[1]})", false},
        {R"({"event":"ChatMessage","data":{}})", false},
        {R"({"event":7,"data":{}})", false},
        {R"({"data":{}})", false},
        {R"([{"event":"chatMessage","data":{}}])", false},
        {R"("chatMessage")", false},
        {R"(not json)", false},
    };
    for (const auto& row : table) {
        EXPECT_EQ(SocketResponse<boost::json::object>::decode(row.frame).ok(), row.ok) << row.frame;
    }
}

}  // namespace
}  // namespace kr
