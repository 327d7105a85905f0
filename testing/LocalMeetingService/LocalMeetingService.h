#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/LocalMeetingService/ChatRoomState.h"
#include "platform/Http/HttpTransport.h"
#include "testing/LocalMeetingService/LocalHttpsServer.h"
#include "testing/LocalMeetingService/MeetingParticipantState.h"
#include "testing/LocalMeetingService/MeetingRoomSetup.h"
#include "testing/LocalMeetingService/MeetingRoomState.h"
#include "testing/LocalMeetingService/MeetingServiceFault.h"
#include "testing/LocalMeetingService/MeetingServiceRoute.h"
#include "testing/LocalMeetingService/RecordedRequest.h"
#include "testing/LocalMeetingService/RoomSocketHub.h"

namespace kr::test {

/// A small stateful meeting service over the local HTTPS server, for tests, benchmarks and the
/// example host. It answers every REST operation of the meeting client under "/api/" with the
/// JSON the client's reply models read, and keeps per room: the participants (connected or not,
/// mic, camera, hand, sharing, role, co-host), lock, mute, recording, screen-share and whiteboard
/// state; and the meeting chat: a main thread per meeting, private threads between two users,
/// history pages newest first, sending with files, read marks and member lists.
///
/// Access: configuration, room details and guest login are open; every other call needs an
/// "authorization" header holding a token this service issued (a guest login's "jwt", or
/// `issueUserToken` for a signed-in user). Host controls (mute all, host actions, role change,
/// removal, lock, unlock, recording) need the room's host or a co-host. Refusals carry the error
/// body {"message": code, "errors": text} with the codes "NOTFOUNDERROR" (404), "MEETING_ENDED"
/// (410), "ROOMLOCKED" (403), "UNAUTHORIZED" (401), "FORBIDDEN" (403), "REMOVED" (403) and
/// "BAD_REQUEST" (400).
///
/// Faults can be injected per route (status, malformed JSON, dropped connection, delay).
///
/// Threading: requests are handled on the server's I/O thread one at a time; every public method
/// may be called from any thread.
class LocalMeetingService {
public:
    /// Starts the HTTPS server on 127.0.0.1 (an ephemeral port, a fresh CA) with one room set up
    /// as `MeetingRoomSetup{}`, unless `withDefaultRoom` is false.
    explicit LocalMeetingService(bool withDefaultRoom = true);
    ~LocalMeetingService();
    LocalMeetingService(const LocalMeetingService&) = delete;
    LocalMeetingService& operator=(const LocalMeetingService&) = delete;

    std::uint16_t port() const;
    const std::string& caFile() const;
    /// Routing that points a transport at this service (see `LocalHttpsServer::routing`).
    platform::HttpRouting routing() const;
    /// TLS handshakes the service completed, per server name (REST and room socket alike).
    std::map<std::string, LocalHttpsServer::HandshakeCount> tlsHandshakesByServerName() const;
    std::uint64_t tlsHandshakeCount() const;
    /// The connections accepted so far, with their handshakes (see `LocalHttpsServer`).
    std::vector<LocalHttpsServer::ConnectionRecord> connections() const;

    /// Adds a room (or replaces the one with the same meeting id).
    void addRoom(MeetingRoomSetup setup);
    /// Later room details and joins of the room fail with "MEETING_ENDED".
    void endMeeting(std::string_view meetingId);

    /// A token for a signed-in user; the owner of a room is its host.
    std::string issueUserToken(std::string_view userId, std::string_view name = "User");

    /// Faults for later requests of `route`; several faults of one route are used in order.
    void injectFault(MeetingServiceRoute route, MeetingServiceFault fault);
    void clearFaults();

    /// A copy of the room's state; nullopt when there is no such room.
    std::optional<MeetingRoomState> room(std::string_view meetingId) const;
    /// The participant of the room with this uri, participant id or user id.
    std::optional<MeetingParticipantState> participant(std::string_view meetingId,
                                                       std::string_view id) const;
    /// Requests of one route the record keeps, at most this many; older ones give way to newer.
    static constexpr std::size_t kMaxRecordedRequestsPerRoute = 256;

    /// The most recent requests the service handled for `route`, in arrival order (faulted ones
    /// included).
    std::vector<RecordedRequest> requests(MeetingServiceRoute route) const;
    /// Every request handled for `route` so far, kept in the record or not.
    std::size_t requestCount(MeetingServiceRoute route) const;
    /// Every request handled for `route` so far that carried `authorization` as its
    /// "authorization" header: one caller's count, kept in the record or not.
    std::size_t requestCount(MeetingServiceRoute route, std::string_view authorization) const;
    /// The most recent requests the server received (at most
    /// `LocalHttpsServer::kMaxRecordedRequests`), routed or not (room socket upgrades included),
    /// in arrival order.
    std::vector<RecordedRequest> allRequests() const;

    /// The room event socket at "/ws" on the same port: logins with this service's tokens,
    /// pushes of room changes, and its faults.
    RoomSocketHub& roomSocket() const;
    /// Pushes a "chatMessage" frame with `message` to the room's socket listeners (by room or
    /// meeting id), except those logged in as `exceptUserId`.
    void pushChatMessage(std::string_view roomId, const boost::json::object& message,
                         std::string_view exceptUserId = {});
    /// Called once for every chat message posted, on the server's I/O thread and without the
    /// service's lock, so that the room socket can push it to the other participants.
    void setOnChatMessagePosted(std::function<void(const ChatMessagePosted&)> hook);

    struct State;

private:
    void routeRoom(const MeetingRoomSetup& setup);
    static void routeChatThread(LocalHttpsServer& server, const std::shared_ptr<State>& state,
                                const std::string& threadId);

    std::shared_ptr<State> state_;
    std::unique_ptr<LocalHttpsServer> server_;
};

}  // namespace kr::test
