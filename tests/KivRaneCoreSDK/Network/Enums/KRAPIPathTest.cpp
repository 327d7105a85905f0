#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"
#include "KivRaneCoreSDK/Network/Enums/KRHTTPMethod.h"

namespace kr {
namespace {

struct PathRow {
    KRAPIPath path;
    const char* loggedIn;
    const char* guest;
};

// Every endpoint, with the identifier "ID" where the endpoint carries one.
const std::vector<PathRow>& pathTable() {
    static const std::vector<PathRow> rows = {
        {KRAPIPath::getChatThreadMessages("ID"), "chat/thread/ID/messages",
         "chat/thread/ID/messages"},
        {KRAPIPath::leaveChatThread("ID"), "chat/thread/ID/leave", "chat/thread/ID/leave"},
        {KRAPIPath::sendChatMessage("ID"), "chat/thread/ID/messages", "chat/thread/ID/messages"},
        {KRAPIPath::startWhiteboard("ID"), "rooms/ID/whiteboard/startsharing",
         "rooms/ID/whiteboard/startsharing"},
        {KRAPIPath::startRemoteWhiteboard("ID"), "rooms/ID/whiteboard", "rooms/ID/whiteboard"},
        {KRAPIPath::getInCallParticipantList("ID"), "chat/thread/ID/getsortedmembers/",
         "chat/thread/ID/getsortedmembers/"},
        {KRAPIPath::markMessageAsRead("ID"), "chat/thread/ID/messages/markread",
         "chat/thread/ID/messages/markread"},
        {KRAPIPath::getConfiguration(), "config", "config"},
        {KRAPIPath::getRoomDetails(), "shorturl/roomdetails", "shorturl/roomdetails"},
        {KRAPIPath::guestLogin(), "roomconnectionstatus/login", "roomconnectionstatus/login"},
        {KRAPIPath::joinCall(), "joinCall", "joinCall/guest"},
        {KRAPIPath::getRoomConnectionStatus(), "roomconnectionstatus/get",
         "roomconnectionstatus/get/guest"},
        {KRAPIPath::postRoomConnectionStatus(), "roomconnectionstatus",
         "roomconnectionstatus/guest"},
        {KRAPIPath::leaveMeeting(), "leaveall", "leaveall/guest"},
        {KRAPIPath::muteUnmuteLocalAudio(), "roomconnectionstatus/control/audio",
         "roomconnectionstatus/control/audio/guest"},
        {KRAPIPath::muteUnmuteLocalVideo(), "roomconnectionstatus/control/video",
         "roomconnectionstatus/control/video/guest"},
        {KRAPIPath::muteAllParticipants(), "roomconnectionstatus/control/audioall",
         "roomconnectionstatus/control/audioall"},
        {KRAPIPath::hostActions(), "roomconnectionstatus/hosts", "roomconnectionstatus/hosts"},
        {KRAPIPath::shareScreen(), "roomconnectionstatus/sharescreen",
         "roomconnectionstatus/sharescreen"},
        {KRAPIPath::getChatThread(), "chat/getThreadForChat/guest", "chat/getThreadForChat/guest"},
        {KRAPIPath::startRecording(), "recording/start", "recording/start"},
        {KRAPIPath::stopRecording(), "recording/stop", "recording/stop"},
        {KRAPIPath::getPrivateChatThread(), "chat/thread", "chat/thread"},
        {KRAPIPath::removeParticipant(), "portal/removeparticipant", "portal/removeparticipant"},
        {KRAPIPath::changeUserRole(), "roomconnectionstatus/control/participantType",
         "roomconnectionstatus/control/participantType"},
        {KRAPIPath::lockMeeting(), "lock-room", "lock-room"},
        {KRAPIPath::unLockMeeting(), "unlock-room", "unlock-room"},
        {KRAPIPath::whiteboardUrl(), "/conference/whiteboard/", "/conference/whiteboard/"},
    };
    return rows;
}

TEST(KRAPIPathTest, EveryEndpointForBothUserTypes) {
    ASSERT_EQ(pathTable().size(), 28u);
    for (const auto& row : pathTable()) {
        SCOPED_TRACE(row.loggedIn);
        EXPECT_EQ(row.path.getPath(false), row.loggedIn);
        EXPECT_EQ(row.path.getPath(true), row.guest);
        // Ordinary identifiers reach the URL unchanged.
        EXPECT_EQ(row.path.getUrlPath(false), row.loggedIn);
        EXPECT_EQ(row.path.getUrlPath(true), row.guest);
    }
}

TEST(KRAPIPathTest, IdentifierIsOneSegmentInUrlsButRawInThePathText) {
    struct Row {
        std::string id;
        std::string encoded;
    };
    const std::vector<Row> rows = {
        {"abc-123_x.y~z", "abc-123_x.y~z"},
        {"room:1@host", "room:1@host"},
        {"../../config", "..%2F..%2Fconfig"},
        {"..", "%2E%2E"},
        {".", "%2E"},
        {"a?b#c", "a%3Fb%23c"},
        {"100%", "100%25"},
        {"with space", "with%20space"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const auto path = KRAPIPath::leaveChatThread(row.id);
        EXPECT_EQ(path.getPath(false), "chat/thread/" + row.id + "/leave");
        EXPECT_EQ(path.getUrlPath(false), "chat/thread/" + row.encoded + "/leave");
    }
}

TEST(KRAPIPathTest, RawValuesRoundTripExactlyAndCaseSensitively) {
    EXPECT_EQ(krHTTPMethodFromRaw("POST"), KRHTTPMethod::post);
    EXPECT_EQ(krHTTPMethodFromRaw("DELETE"), KRHTTPMethod::delete_);
    EXPECT_EQ(krHTTPMethodFromRaw("post"), std::nullopt);
    EXPECT_EQ(krApiServerSchemeFromRaw("https"), KRApiServerScheme::https);
    EXPECT_EQ(krApiServerSchemeFromRaw("HTTPS"), std::nullopt);
    EXPECT_EQ(getUrlValue(KRApiServerScheme::http), "http://");
    for (auto server : kAllApiServers) {
        EXPECT_EQ(krApiServerFromRaw(rawValue(server)), server);
        EXPECT_EQ(getApiUrl(server), "https://" + std::string(rawValue(server)) + "/api");
    }
    // The settings texts are not host names.
    EXPECT_EQ(krApiServerFromRaw("production"), std::nullopt);
}

}  // namespace
}  // namespace kr
