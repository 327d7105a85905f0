#include "testing/LocalMeetingService/LocalMeetingService.h"

#include <boost/json/array.hpp>
#include <boost/json/parse.hpp>
#include <chrono>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"
#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"
#include "testing/LocalMeetingService/BoundedRecord.h"
#include "testing/LocalMeetingService/ChatRoutes.h"
#include "testing/LocalMeetingService/MeetingTokenIssuer.h"
#include "testing/LocalMeetingService/RoomSocketFrames.h"

namespace kr::test {

namespace json = boost::json;

namespace {

/// Why a request is refused; thrown inside a handler and turned into its error reply.
struct Refusal {
    int status;
    std::string code;
    std::string text;
};

[[noreturn]] void refuse(int status, std::string code, std::string text) {
    throw Refusal{status, std::move(code), std::move(text)};
}

[[noreturn]] void badRequest(std::string text) {
    refuse(400, "BAD_REQUEST", std::move(text));
}

[[noreturn]] void notFound(std::string text) {
    refuse(404, "NOTFOUNDERROR", std::move(text));
}

ServerReply jsonReply(int status, const json::object& body) {
    return ServerReply::json(status, serializeJson(body));
}

ServerReply errorReply(int status, std::string_view code, std::string_view text) {
    return jsonReply(status, json::object{{"message", code}, {"errors", text}});
}

/// The member `key` of a request body; nullopt when it is missing. A value of the wrong type
/// is refused with 400, under the library's own JSON type rules.
template <class T>
std::optional<T> optionalField(const json::object& body, std::string_view key) {
    const auto* v = body.if_contains(key);
    if (v == nullptr) {
        return std::nullopt;
    }
    auto decoded = JsonValueDecoder<T>::decode(*v);
    if (!decoded) {
        badRequest(std::move(decoded).error().under(key).describe());
    }
    return std::move(decoded).value();
}

template <class T>
T requiredField(const json::object& body, std::string_view key) {
    auto value = optionalField<T>(body, key);
    if (!value) {
        badRequest(JsonDecodingError{std::string(key), "is missing"}.describe());
    }
    return std::move(*value);
}

/// A list of strings; missing gives an empty list.
std::vector<std::string> stringList(const json::object& body, std::string_view key) {
    return optionalField<std::vector<std::string>>(body, key).value_or(std::vector<std::string>{});
}

bool hasQueryItem(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        if (item.substr(0, item.find('=')) == name) {
            return true;
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return false;
}

std::string nowIso8601() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

/// The configuration reply.
json::object defaultConfiguration() {
    return json::object{
        {"agoraAppID", "local-app-id"},
        {"roomConnectionPollingTimeInSecs", 25},
        {"agoraBandwidthConfig",
         json::object{{"video", json::object{{"width", 640},
                                             {"height", 360},
                                             {"fps", 15},
                                             {"bitrate", 640},
                                             {"orientation", 0}}},
                      {"lowQualityVideo", json::object{{"isEnabled", true},
                                                       {"width", 160},
                                                       {"height", 90},
                                                       {"fps", 7},
                                                       {"bitrate", 64},
                                                       {"orientation", 0}}}}},
        {"agoraAppIdList", json::array{json::object{{"name", "default"}, {"id", "local-app-id"}}}},
        {"isGIFEnabled", false},
        {"guestPartyJoiningLimit", 4},
        {"mixPanelEventsEnabled", false},
        {"showNoInternetView", true},
        {"showSpeakingOnMuteView", true},
        {"termsConditionUrl", "https://meet.kivrane.com/terms"},
    };
}

/// Who made a request, from its "authorization" token.
struct Session {
    std::string userId;
    std::string meetingId;  ///< the guest's meeting; empty for a signed-in user
    bool isGuestHost = false;
    std::string name;  ///< shown in chat messages and member lists
};

}  // namespace

struct LocalMeetingService::State : std::enable_shared_from_this<LocalMeetingService::State> {
    std::mutex mutex;
    MeetingTokenIssuer issuer;
    const json::object configuration = defaultConfiguration();
    std::map<std::string, MeetingRoomState, std::less<>> rooms;       // by meeting id
    std::map<std::string, Session, std::less<>> sessions;             // by token
    std::map<std::string, std::string, std::less<>> historyMeetings;  // history id -> meeting id
    std::map<MeetingServiceRoute, std::deque<MeetingServiceFault>> faults;
    std::shared_ptr<RoomSocketHub> roomSocket;  // pushed to when a request changes a room
    std::map<MeetingServiceRoute, BoundedRecord<RecordedRequest>> handled;  // by route
    /// Requests handled, by route and by the "authorization" header they carried ("" for none).
    std::map<std::pair<MeetingServiceRoute, std::string>, std::size_t> handledByCaller;
    std::uint64_t nextUid = 10001;
    std::uint64_t nextShareUid = 90001;
    std::uint64_t nextGuest = 1;
    std::uint64_t nextHistory = 1;
    std::uint64_t nextRecording = 1;
    std::uint64_t nextWhiteboard = 1;
    ChatRoomState chat;
    std::function<void(const ChatMessagePosted&)> onChatMessagePosted;

    // ---- lookups (mutex held) ----

    MeetingRoomState& roomByMeetingId(std::string_view meetingId) {
        const auto it = rooms.find(meetingId);
        if (it == rooms.end()) {
            notFound("No meeting with this id");
        }
        return it->second;
    }

    MeetingRoomState& roomByRoomId(std::string_view roomId) {
        for (auto& [id, room] : rooms) {
            if (room.setup.roomId == roomId) {
                return room;
            }
        }
        notFound("No room with this id");
    }

    /// The room of a call naming meeting id, room id and (optionally) PIN; all must agree.
    MeetingRoomState& roomOf(std::string_view meetingId, std::string_view roomId,
                             const std::optional<std::string>& pin = std::nullopt) {
        MeetingRoomState& room = roomByMeetingId(meetingId);
        if (room.setup.roomId != roomId || (pin && room.setup.pin != *pin)) {
            notFound("No room with these ids");
        }
        return room;
    }

    Session requireSession(const RecordedRequest& request) {
        const auto token = request.header("authorization");
        if (!token || token->empty() || !issuer.verify(*token)) {
            refuse(401, "UNAUTHORIZED", "Missing or invalid token");
        }
        const auto it = sessions.find(*token);
        if (it == sessions.end()) {
            refuse(401, "UNAUTHORIZED", "Missing or invalid token");
        }
        return it->second;
    }

    static void requireAccess(const Session& session, const MeetingRoomState& room) {
        if (!session.meetingId.empty() && session.meetingId != room.setup.meetingId) {
            refuse(403, "FORBIDDEN", "The token is for another meeting");
        }
    }

    /// The room's host: the guest who logged in with the host token, or the signed-in owner.
    static bool isHost(const Session& session, const MeetingRoomState& room) {
        if (session.meetingId.empty()) {
            return session.userId == room.setup.ownerId;
        }
        return session.meetingId == room.setup.meetingId && session.isGuestHost;
    }

    static bool isHostOrCoHost(const Session& session, const MeetingRoomState& room) {
        if (isHost(session, room)) {
            return true;
        }
        for (const auto& participant : room.participants) {
            if (participant.userId == session.userId && participant.isCoHost) {
                return true;
            }
        }
        return false;
    }

    static void requireHost(const Session& session, const MeetingRoomState& room) {
        requireAccess(session, room);
        if (!isHostOrCoHost(session, room)) {
            refuse(403, "FORBIDDEN", "Only the host can do this");
        }
    }

    bool userIsHostOf(std::string_view userId, const MeetingRoomState& room) const {
        if (userId.empty()) {
            return false;
        }
        for (const auto& [token, session] : sessions) {
            if (session.userId == userId && isHost(session, room)) {
                return true;
            }
        }
        return false;
    }

    static void requireOpen(const MeetingRoomState& room) {
        if (room.isEnded) {
            refuse(410, "MEETING_ENDED", "The meeting has ended");
        }
    }

    static void stopSharesOf(MeetingRoomState& room, std::string_view uri) {
        if (!uri.empty() && room.screenSharerUri == uri) {
            room.screenSharerUri.clear();
            room.screenShareUid = 0;
            room.screenShareToken.clear();
        }
        if (!uri.empty() && room.whiteboardSharerUri == uri) {
            room.whiteboardSharerUri.clear();
            room.whiteboardId.clear();
        }
        for (auto& participant : room.participants) {
            if (participant.participantUri == uri) {
                participant.isSharingScreen = false;
            }
        }
    }

    static void disconnect(MeetingRoomState& room, MeetingParticipantState& participant) {
        participant.isConnected = false;
        participant.isHandRaised = false;
        stopSharesOf(room, participant.participantUri);
    }

    static MeetingParticipantState* byUri(MeetingRoomState& room, std::string_view uri) {
        for (auto& participant : room.participants) {
            if (participant.participantUri == uri) {
                return &participant;
            }
        }
        return nullptr;
    }

    static std::string participantIdOf(const RecordedRequest& request) {
        boost::system::error_code ec;
        const json::value body = json::parse(request.body, ec);
        if (ec || !body.is_object()) return {};
        const json::value* id = body.as_object().if_contains("participantId");
        return id && id->is_string() ? std::string(id->as_string()) : std::string();
    }

    std::optional<MeetingServiceFault> takeFault(MeetingServiceRoute route, const RecordedRequest& request) {
        auto it = faults.find(route);
        if (it == faults.end()) return std::nullopt;
        auto& queued = it->second;
        for (auto fault = queued.begin(); fault != queued.end();) {
            if (fault->remaining == 0) {
                fault = queued.erase(fault);
                continue;
            }
            if (!fault->participantId.empty() && fault->participantId != participantIdOf(request)) {
                ++fault;
                continue;
            }
            const MeetingServiceFault taken = *fault;
            if (fault->remaining > 0 && --fault->remaining == 0) queued.erase(fault);
            return taken;
        }
        return std::nullopt;
    }

    // ---- operations (mutex held) ----

    ServerReply configurationReply(const RecordedRequest& request) {
        if (!hasQueryItem(request.query, "os_type")) {
            badRequest("\"os_type\" is required");
        }
        return jsonReply(200, configuration);
    }

    ServerReply roomDetails(const json::object& body) {
        const std::string meetingId = requiredField<std::string>(body, "extension");
        const std::string pin = requiredField<std::string>(body, "pin");
        const std::string userId = requiredField<std::string>(body, "userId");
        requiredField<bool>(body, "transferCall");
        requiredField<std::string>(body, "deviceType");
        MeetingRoomState& room = roomByMeetingId(meetingId);
        if (room.setup.pin != pin) {
            notFound("No meeting with this id and PIN");
        }
        requireOpen(room);
        if (room.isLocked && !userIsHostOf(userId, room)) {
            refuse(403, "ROOMLOCKED", "The meeting is locked");
        }
        const std::uint64_t uid = nextUid++;
        const MeetingRoomSetup& s = room.setup;
        json::object details{
            {"roomID", s.roomId},
            {"userId", userId},
            {"topic", s.topic},
            {"mediaEngine", s.mediaEngine},
            {"isWatermarkEnabled", s.isWatermarkEnabled},
            {"advancedOptions", json::object{{"participantHardAudioMute", room.isHardMuted},
                                             {"participantAudio", s.participantAudioOnJoin},
                                             {"participantVideo", s.participantVideoOnJoin}}}};
        json::object reply{{"agoraToken", s.rtcToken + "-" + std::to_string(uid)},
                           {"agoraUid", uid},
                           {"agoraRtmToken", s.rtmToken},
                           {"agoraMaxParticipants", s.maxParticipants},
                           {"speakerCount", room.connectedSpeakerCount()},
                           {"roomDetails", std::move(details)},
                           {"ownerDetails", json::object{{"_id", s.ownerId},
                                                         {"name", s.ownerName},
                                                         {"lname", s.ownerLastName},
                                                         {"userId", s.ownerId}}}};
        return jsonReply(200, reply);
    }

    ServerReply guestLogin(const json::object& body) {
        const std::string meetingId = requiredField<std::string>(body, "kivraneId");
        const std::string roomId = requiredField<std::string>(body, "roomID");
        const std::string pin = requiredField<std::string>(body, "roomPin");
        const std::string name = requiredField<std::string>(body, "name");
        const auto hostToken = optionalField<std::string>(body, "hostToken");
        MeetingRoomState& room = roomByMeetingId(meetingId);
        if (room.setup.pin != pin || (!roomId.empty() && roomId != room.setup.roomId)) {
            notFound("No meeting with these ids and PIN");
        }
        requireOpen(room);
        const bool host =
            hostToken && !room.setup.hostToken.empty() && *hostToken == room.setup.hostToken;
        Session session{"guest-" + std::to_string(nextGuest++), meetingId, host, name};
        const std::string token = issuer.issue(json::object{{"sub", session.userId},
                                                            {"name", name},
                                                            {"kivraneId", meetingId},
                                                            {"isHost", host},
                                                            {"type", "guest"}});
        sessions[token] = session;
        return jsonReply(
            200, json::object{{"jwt", token}, {"guestUserId", session.userId}, {"isHost", host}});
    }

    ServerReply joinCall(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        const auto* dataValue = body.if_contains("data");
        if (dataValue == nullptr || !dataValue->is_object()) {
            badRequest("\"data\" must be an object");
        }
        const json::object& data = dataValue->get_object();
        for (std::string_view key :
             {"group_id", "participantEndPointType", "participantEndPointName", "is_disconnect",
              "token", "machineIp", "guest_name", "owner_name", "owner_id", "title"}) {
            requiredField<std::string>(data, key);
        }
        MeetingRoomState& room = roomOf(requiredField<std::string>(data, "kivraneId"),
                                        requiredField<std::string>(data, "room_id"),
                                        requiredField<std::string>(data, "roomPIN"));
        requireAccess(session, room);
        requireOpen(room);
        if (room.removedIds.count(session.userId) != 0) {
            refuse(403, "REMOVED", "You were removed from this meeting");
        }
        if (room.isLocked && !isHost(session, room)) {
            refuse(403, "ROOMLOCKED", "The meeting is locked");
        }
        const std::string historyId = "history-" + std::to_string(nextHistory++);
        historyMeetings[historyId] = room.setup.meetingId;
        return jsonReply(200, json::object{{"historyId", historyId}});
    }

    ServerReply postStatus(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                        requiredField<std::string>(body, "roomID"),
                                        requiredField<std::string>(body, "roomPin"));
        requireAccess(session, room);
        const std::string historyId = requiredField<std::string>(body, "historyId");
        const std::string uri = requiredField<std::string>(body, "participantUri");
        const std::string participantId = requiredField<std::string>(body, "participantId");
        const std::string name = requiredField<std::string>(body, "participantName");
        const std::string status = requiredField<std::string>(body, "status");
        const std::string deviceId = requiredField<std::string>(body, "deviceId");
        requiredField<std::string>(body, "deviceType");
        const std::string type = requiredField<std::string>(body, "participantType");
        const auto mic = optionalField<bool>(body, "micStatus");
        const auto camera = optionalField<bool>(body, "cameraStatus");
        const auto hand = optionalField<bool>(body, "isHandRaise");
        const auto sharing = optionalField<bool>(body, "isSharingScreen");
        if (status != "connected" && status != "disconnected") {
            badRequest("\"status\" must be \"connected\" or \"disconnected\"");
        }
        if (type != "speaker" && type != "audience") {
            badRequest("\"participantType\" must be \"speaker\" or \"audience\"");
        }
        if (room.removedIds.count(uri) != 0 || room.removedIds.count(session.userId) != 0) {
            refuse(403, "REMOVED", "You were removed from this meeting");
        }
        const bool connected = status == "connected";
        MeetingParticipantState* participant = byUri(room, uri);
        if (participant == nullptr) {
            if (connected) {
                requireOpen(room);
                if (room.isLocked && !isHost(session, room)) {
                    refuse(403, "ROOMLOCKED", "The meeting is locked");
                }
            }
            room.participants.emplace_back();
            participant = &room.participants.back();
            participant->participantUri = uri;
        } else if (!participant->userId.empty() && participant->userId != session.userId) {
            // An engine may keep its media uid across logins: a participant that left is taken
            // by the next login connecting with its uid, as a newcomer; a connected one is not.
            if (participant->isConnected || !connected) {
                refuse(403, "FORBIDDEN", "The participant belongs to another user");
            }
            requireOpen(room);
            if (room.isLocked && !isHost(session, room)) {
                refuse(403, "ROOMLOCKED", "The meeting is locked");
            }
        }
        participant->userId = session.userId;
        participant->participantId = participantId;
        participant->participantName = name;
        participant->participantType = type;
        participant->deviceId = deviceId;
        participant->historyId = historyId;
        participant->isHost = isHost(session, room);
        if (mic) {
            participant->isMicOn = *mic;
        }
        if (camera) {
            participant->isCameraOn = *camera;
        }
        if (hand) {
            participant->isHandRaised = *hand;
        }
        if (sharing) {
            participant->isSharingScreen = *sharing;
        }
        if (connected) {
            if (!participant->isConnected || participant->participantJoinTime.empty()) {
                participant->participantJoinTime = nowIso8601();
            }
            participant->isConnected = true;
        } else {
            disconnect(room, *participant);
        }
        return jsonReply(200, json::object{{"success", true}});
    }

    ServerReply getStatus(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        const MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                              requiredField<std::string>(body, "roomID"),
                                              requiredField<std::string>(body, "roomPin"));
        requireAccess(session, room);
        return jsonReply(200, room.statusJson());
    }

    ServerReply leave(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        requiredField<bool>(body, "autoDisconnect");
        MeetingRoomState& room = roomByRoomId(requiredField<std::string>(body, "roomID"));
        requiredField<std::string>(body, "historyId");
        requireAccess(session, room);
        for (auto& participant : room.participants) {
            if (participant.userId == session.userId) {
                disconnect(room, participant);
            }
        }
        return jsonReply(200, json::object{{"status", "success"}});
    }

    ServerReply muteOne(const RecordedRequest& request, const json::object& body, bool audio) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                        requiredField<std::string>(body, "roomID"));
        requireAccess(session, room);
        const std::string participantId = requiredField<std::string>(body, "participantId");
        const bool on = requiredField<bool>(body, audio ? "audio" : "video");
        MeetingParticipantState* target = room.find(participantId);
        if (target == nullptr) {
            notFound("No such participant");
        }
        if (target->userId != session.userId && !isHostOrCoHost(session, room)) {
            refuse(403, "FORBIDDEN", "Only the host can do this");
        }
        (audio ? target->isMicOn : target->isCameraOn) = on;
        return jsonReply(200, json::object{{"success", true}});
    }

    ServerReply muteAll(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                        requiredField<std::string>(body, "roomID"));
        const bool hard = requiredField<bool>(body, "hard");
        const bool audioOn = requiredField<bool>(body, "audio");
        requireHost(session, room);
        (hard ? room.isHardMuted : room.isSoftMuted) = !audioOn;
        if (!audioOn) {
            for (auto& participant : room.participants) {
                if (participant.userId != session.userId && !participant.isHost) {
                    participant.isMicOn = false;
                }
            }
        }
        return jsonReply(200, json::object{{"success", true}});
    }

    ServerReply hostActions(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                        requiredField<std::string>(body, "roomID"),
                                        requiredField<std::string>(body, "roomPin"));
        const bool allHandsDown = optionalField<bool>(body, "allHandsDown").value_or(false);
        const auto handsDown = stringList(body, "handsDownParticipantIds");
        const auto added = stringList(body, "coHostsAdded");
        const auto removed = stringList(body, "coHostsRemoved");
        requireHost(session, room);
        for (auto& participant : room.participants) {
            if (allHandsDown) {
                participant.isHandRaised = false;
            }
        }
        for (const auto& id : handsDown) {
            if (auto* participant = room.find(id)) {
                participant->isHandRaised = false;
            }
        }
        for (const auto& id : added) {
            if (auto* participant = room.find(id)) {
                participant->isCoHost = true;
            }
        }
        for (const auto& id : removed) {
            if (auto* participant = room.find(id)) {
                participant->isCoHost = false;
            }
        }
        return jsonReply(200, json::object{{"success", true}, {"status", "success"}});
    }

    ServerReply changeRole(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOf(requiredField<std::string>(body, "kivraneId"),
                                        requiredField<std::string>(body, "roomID"),
                                        requiredField<std::string>(body, "roomPin"));
        const auto ids = stringList(body, "participantIds");
        const auto type = optionalField<std::string>(body, "participantType");
        if (type && *type != "speaker" && *type != "audience") {
            badRequest("\"participantType\" must be \"speaker\" or \"audience\"");
        }
        requireHost(session, room);
        for (const auto& id : ids) {
            if (room.find(id) == nullptr) {
                notFound("No such participant");
            }
        }
        if (type) {
            for (const auto& id : ids) {
                room.find(id)->participantType = *type;
            }
        }
        return jsonReply(200, json::object{{"status", "success"}});
    }

    ServerReply removeParticipant(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomByMeetingId(requiredField<std::string>(body, "kivraneId"));
        const std::string id = requiredField<std::string>(body, "participantID");
        requireHost(session, room);
        MeetingParticipantState* target = room.find(id);
        if (target == nullptr) {
            notFound("No such participant");
        }
        for (const std::string* removedId : {&target->participantUri, &target->userId}) {
            if (!removedId->empty()) {
                room.removedIds.insert(*removedId);
            }
        }
        stopSharesOf(room, target->participantUri);
        const auto index = target - room.participants.data();
        room.participants.erase(room.participants.begin() + index);
        return jsonReply(200, json::object{{"status", "success"}});
    }

    ServerReply setLock(const RecordedRequest& request, const json::object& body, bool locked) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomByRoomId(requiredField<std::string>(body, "roomID"));
        requiredField<std::string>(body, "historyId");
        requireHost(session, room);
        room.isLocked = locked;
        return jsonReply(200, json::object{{"status", "success"}});
    }

    ServerReply shareScreen(const RecordedRequest& request, const json::object& body) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomByMeetingId(requiredField<std::string>(body, "kivraneId"));
        const std::string uri = requiredField<std::string>(body, "participantUri");
        const std::string action = requiredField<std::string>(body, "action");
        requireAccess(session, room);
        if (action != "start" && action != "stop") {
            badRequest("\"action\" must be \"start\" or \"stop\"");
        }
        // Only the participant's own user may start or stop its share.
        const MeetingParticipantState* sharer = byUri(room, uri);
        if (sharer == nullptr) {
            notFound("No such participant");
        }
        if (sharer->userId != session.userId) {
            refuse(403, "FORBIDDEN", "The participant belongs to another user");
        }
        if (action == "start") {
            // One screen at a time: the new share replaces every earlier one, including a flag
            // that only came from a status post. An earlier whiteboard stays.
            for (auto& participant : room.participants) {
                participant.isSharingScreen = false;
            }
            room.screenSharerUri = uri;
            room.screenShareUid = nextShareUid++;
            room.screenShareToken = "share-token-" + std::to_string(room.screenShareUid);
            if (auto* participant = byUri(room, uri)) {
                participant->isSharingScreen = true;
            }
            return jsonReply(200,
                             json::object{{"success", true},
                                          {"message", "Screen share started"},
                                          {"agoraScreenShareInfo",
                                           json::object{{"agoraUid", room.screenShareUid},
                                                        {"agoraToken", room.screenShareToken}}}});
        }
        stopSharesOf(room, uri);
        return jsonReply(200, json::object{{"success", true}, {"status", "success"}});
    }

    MeetingRoomState& roomOfHistory(std::string_view historyId) {
        const auto it = historyMeetings.find(historyId);
        if (it == historyMeetings.end()) {
            notFound("No call with this history id");
        }
        return roomByMeetingId(it->second);
    }

    ServerReply recording(const RecordedRequest& request, const json::object& body, bool start) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomOfHistory(requiredField<std::string>(body, "historyId"));
        requireHost(session, room);
        if (start) {
            if (!room.isRecording) {
                room.recordingId = "recording-" + std::to_string(nextRecording++);
            }
            room.isRecording = true;
            return jsonReply(200, json::object{{"_id", room.recordingId}, {"status", "started"}});
        }
        room.isRecording = false;
        return jsonReply(200, json::object{{"status", "stopped"}});
    }

    ServerReply startWhiteboard(const RecordedRequest& request, const json::object& body,
                                std::string_view meetingId) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomByMeetingId(meetingId);
        const std::string uri = requiredField<std::string>(body, "participantUri");
        requiredField<std::string>(body, "historyId");
        requireAccess(session, room);
        room.whiteboardSharerUri = uri;
        room.whiteboardId = "whiteboard-" + std::to_string(nextWhiteboard++);
        return whiteboardReply(session, room);
    }

    ServerReply remoteWhiteboard(const RecordedRequest& request, std::string_view meetingId) {
        const Session session = requireSession(request);
        MeetingRoomState& room = roomByMeetingId(meetingId);
        requireAccess(session, room);
        if (room.whiteboardSharerUri.empty()) {
            notFound("No whiteboard is open");
        }
        return whiteboardReply(session, room);
    }

    ServerReply whiteboardReply(const Session& session, const MeetingRoomState& room) {
        const std::string token = issuer.issue(
            json::object{{"sub", session.userId}, {"whiteboardId", room.whiteboardId}});
        return jsonReply(200, json::object{{"jwt", token}, {"whiteboardId", room.whiteboardId}});
    }

    ServerReply leaveChatThread(const RecordedRequest& request, std::string_view threadId) {
        const Session session = requireSession(request);
        for (auto& [id, room] : rooms) {
            if (room.setup.chatThreadId == threadId) {
                requireAccess(session, room);
                room.chatThreadLeavers.insert(session.userId);
                return jsonReply(200, json::object{{"_id", threadId}});
            }
        }
        notFound("No such chat thread");
    }

    /// Group messages go to the room's other listeners, private ones to their recipients.
    void pushChatToSockets(const ChatMessagePosted& posted) {
        boost::system::error_code ec;
        json::value message = json::parse(posted.messageJson, ec);
        if (ec || !message.is_object()) {
            return;
        }
        if (posted.isMainThread) {
            roomSocket->pushChatMessage(posted.roomId, message.as_object(), posted.senderUserId);
        } else {
            roomSocket->pushChatMessageTo(posted.recipientUserIds, message.as_object());
        }
    }

    /// Tells the room socket's listeners how each room changed since `before`.
    void pushRoomChanges(const std::map<std::string, MeetingRoomState, std::less<>>& before) {
        for (const auto& [id, room] : rooms) {
            const auto earlier = before.find(id);
            MeetingRoomState empty;
            empty.setup = room.setup;
            for (auto& frame :
                 roomChangeFrames(earlier == before.end() ? empty : earlier->second, room)) {
                roomSocket->pushToRoom(id, std::move(frame));
            }
        }
    }

    /// The login of a room socket connection holding `token`, when this service issued it.
    std::optional<RoomSocketLogin> socketLogin(std::string_view token) {
        std::lock_guard lock(mutex);
        const auto it = sessions.find(token);
        if (it == sessions.end() || !issuer.verify(token)) {
            return std::nullopt;
        }
        RoomSocketLogin login{it->second.userId, it->second.meetingId, {}};
        if (const auto room = rooms.find(login.meetingId); room != rooms.end()) {
            login.roomId = room->second.setup.roomId;
        }
        return login;
    }

    ChatCaller chatCaller(const RecordedRequest& request) {
        const Session session = requireSession(request);
        ChatCaller caller{session.userId, session.meetingId, session.name, {}};
        chat.rememberUser(caller);
        return caller;
    }

    ServerReply chatMainThread(const RecordedRequest& request, const json::object& body) {
        const ChatCaller caller = chatCaller(request);
        MeetingRoomState& room = roomByMeetingId(requiredField<std::string>(body, "kivraneId"));
        requireAccess(requireSession(request), room);
        return chat.mainThread(caller, room.setup.meetingId, room.setup.roomId,
                               room.setup.chatThreadId);
    }

    ServerReply chatMembers(const RecordedRequest& request, const std::string& threadId) {
        const ChatCaller caller = chatCaller(request);
        std::set<std::string> leavers;
        for (const auto& [id, room] : rooms) {
            if (room.setup.chatThreadId == threadId) {
                leavers = room.chatThreadLeavers;
            }
        }
        return chat.members(caller, threadId, request.query, leavers);
    }

    /// Runs one request of `route`: records it, applies an injected fault, else answers it; a
    /// request handled late (`arrived` false) is only answered. New chat messages go to the push
    /// hook after the lock is released.
    ServerReply handle(MeetingServiceRoute route, const RecordedRequest& request,
                       std::string_view pathId, bool arrived = true) {
        std::unique_lock lock(mutex);
        ServerReply reply = handleLocked(route, request, pathId, arrived);
        std::vector<ChatMessagePosted> posted = chat.takePosted();
        const auto hook = onChatMessagePosted;
        lock.unlock();
        for (const ChatMessagePosted& message : posted) {
            pushChatToSockets(message);
            if (hook) {
                hook(message);
            }
        }
        return reply;
    }

    ServerReply handleLocked(MeetingServiceRoute route, const RecordedRequest& request,
                             std::string_view pathId, bool arrived) {
        std::optional<MeetingServiceFault> fault;
        if (arrived) {
            handled.try_emplace(route, kMaxRecordedRequestsPerRoute).first->second.add(request);
            ++handledByCaller[{route, request.header("authorization").value_or("")}];
            fault = takeFault(route, request);
        }
        if (fault) {
            switch (fault->kind) {
                case MeetingServiceFault::Kind::status:
                    if (fault->body.empty()) {
                        return errorReply(fault->status, "INJECTED_FAULT", "Injected failure");
                    }
                    return ServerReply::json(fault->status, fault->body);
                case MeetingServiceFault::Kind::malformedJson:
                    return ServerReply::json(200, R"({"success":true,"historyId":"hist)");
                case MeetingServiceFault::Kind::dropConnection:
                    return ServerReply::dropped();
                case MeetingServiceFault::Kind::delay:
                    break;
                case MeetingServiceFault::Kind::handledLate: {
                    ServerReply later;
                    later.delay = fault->delay;
                    later.handleLate = [self = shared_from_this(), route, request,
                                        id = std::string(pathId)] {
                        return self->handle(route, request, id, /*arrived=*/false);
                    };
                    return later;
                }
            }
        }
        ServerReply reply;
        const auto roomsBefore = rooms;
        try {
            reply = answer(route, request, pathId);
        } catch (const Refusal& refusal) {
            reply = errorReply(refusal.status, refusal.code, refusal.text);
        }
        pushRoomChanges(roomsBefore);
        if (fault) {
            reply.delay = fault->delay;
        }
        return reply;
    }

    ServerReply answer(MeetingServiceRoute route, const RecordedRequest& request,
                       std::string_view pathId) {
        using R = MeetingServiceRoute;
        json::object body;
        if (request.method == "POST") {
            boost::system::error_code ec;
            json::value parsed = json::parse(request.body, ec);
            if (ec || !parsed.is_object()) {
                badRequest("The body must be a JSON object");
            }
            body = std::move(parsed.as_object());
        }
        switch (route) {
            case R::configuration:
                return configurationReply(request);
            case R::roomDetails:
                return roomDetails(body);
            case R::guestLogin:
                return guestLogin(body);
            case R::joinCall:
                return joinCall(request, body);
            case R::postRoomConnectionStatus:
                return postStatus(request, body);
            case R::getRoomConnectionStatus:
                return getStatus(request, body);
            case R::leaveMeeting:
                return leave(request, body);
            case R::muteAudio:
                return muteOne(request, body, true);
            case R::muteVideo:
                return muteOne(request, body, false);
            case R::muteAll:
                return muteAll(request, body);
            case R::hostActions:
                return hostActions(request, body);
            case R::changeUserRole:
                return changeRole(request, body);
            case R::removeParticipant:
                return removeParticipant(request, body);
            case R::lockMeeting:
                return setLock(request, body, true);
            case R::unLockMeeting:
                return setLock(request, body, false);
            case R::shareScreen:
                return shareScreen(request, body);
            case R::startRecording:
                return recording(request, body, true);
            case R::stopRecording:
                return recording(request, body, false);
            case R::startWhiteboard:
                return startWhiteboard(request, body, pathId);
            case R::remoteWhiteboard:
                return remoteWhiteboard(request, pathId);
            case R::leaveChatThread:
                return leaveChatThread(request, pathId);
            case R::chatMainThread:
                return chatMainThread(request, body);
            case R::chatPrivateThread:
                return chat.privateThread(chatCaller(request), body);
            case R::chatThreadMessages:
                return chat.page(chatCaller(request), std::string(pathId), request.query);
            case R::chatSendMessage:
                return chat.send(chatCaller(request), std::string(pathId), body);
            case R::chatMarkRead:
                return chat.markRead(chatCaller(request), std::string(pathId), request.query,
                                     body);
            case R::chatMembers:
                return chatMembers(request, std::string(pathId));
        }
        notFound("No such route");
    }
};

LocalMeetingService::LocalMeetingService(bool withDefaultRoom)
    : state_(std::make_shared<State>()), server_(std::make_unique<LocalHttpsServer>()) {
    state_->roomSocket = std::make_shared<RoomSocketHub>(
        [weak = std::weak_ptr<State>(state_)](std::string_view token) {
            auto state = weak.lock();
            return state ? state->socketLogin(token) : std::nullopt;
        });
    server_->serveWebSocket("/ws", state_->roomSocket);
    auto endpoints = fixedMeetingServiceEndpoints();
    for (auto& endpoint : chatFixedEndpoints()) {
        endpoints.push_back(std::move(endpoint));
    }
    for (const auto& endpoint : endpoints) {
        server_->route(endpoint.method, endpoint.path,
                       [state = state_, route = endpoint.route](const RecordedRequest& request) {
                           return state->handle(route, request, {});
                       });
    }
    // Private threads are opened while a request is handled; their endpoints are routed then.
    // The server outlives every handler, and routing takes only the server's own lock.
    state_->chat.onThreadOpened = [server = server_.get(),
                                   weak = std::weak_ptr<State>(state_)](const std::string& id) {
        if (auto state = weak.lock()) {
            routeChatThread(*server, state, id);
        }
    };
    if (withDefaultRoom) {
        addRoom(MeetingRoomSetup{});
    }
}

LocalMeetingService::~LocalMeetingService() {
    server_.reset();  // stops the I/O thread before the state goes
}

std::uint16_t LocalMeetingService::port() const {
    return server_->port();
}

const std::string& LocalMeetingService::caFile() const {
    return server_->caFile();
}

platform::HttpRouting LocalMeetingService::routing() const {
    return server_->routing();
}

std::map<std::string, LocalHttpsServer::HandshakeCount>
LocalMeetingService::tlsHandshakesByServerName() const {
    return server_->tlsHandshakesByServerName();
}

std::uint64_t LocalMeetingService::tlsHandshakeCount() const {
    return server_->tlsHandshakeCount();
}

std::vector<LocalHttpsServer::ConnectionRecord> LocalMeetingService::connections() const {
    return server_->connections();
}

void LocalMeetingService::routeRoom(const MeetingRoomSetup& setup) {
    const std::string meeting = "/api/rooms/" + percentEncodePathSegment(setup.meetingId);
    const std::string thread =
        "/api/chat/thread/" + percentEncodePathSegment(setup.chatThreadId) + "/leave";
    const auto add = [this](std::string method, std::string path, MeetingServiceRoute route,
                            std::string id) {
        server_->route(std::move(method), std::move(path),
                       [state = state_, route, id = std::move(id)](const RecordedRequest& r) {
                           return state->handle(route, r, id);
                       });
    };
    add("POST", meeting + "/whiteboard/startsharing", MeetingServiceRoute::startWhiteboard,
        setup.meetingId);
    add("GET", meeting + "/whiteboard", MeetingServiceRoute::remoteWhiteboard, setup.meetingId);
    add("DELETE", thread, MeetingServiceRoute::leaveChatThread, setup.chatThreadId);
    routeChatThread(*server_, state_, setup.chatThreadId);
}

void LocalMeetingService::routeChatThread(LocalHttpsServer& server,
                                          const std::shared_ptr<State>& state,
                                          const std::string& threadId) {
    for (const auto& endpoint : chatThreadEndpoints(threadId)) {
        server.route(endpoint.method, endpoint.path,
                     [state, route = endpoint.route, threadId](const RecordedRequest& r) {
                         return state->handle(route, r, threadId);
                     });
    }
}

void LocalMeetingService::setOnChatMessagePosted(
    std::function<void(const ChatMessagePosted&)> hook) {
    std::lock_guard lock(state_->mutex);
    state_->onChatMessagePosted = std::move(hook);
}

void LocalMeetingService::addRoom(MeetingRoomSetup setup) {
    routeRoom(setup);
    std::lock_guard lock(state_->mutex);
    MeetingRoomState room;
    room.isHardMuted = setup.participantHardAudioMute;
    room.setup = std::move(setup);
    const std::string id = room.setup.meetingId;
    state_->rooms[id] = std::move(room);
}

void LocalMeetingService::endMeeting(std::string_view meetingId) {
    std::lock_guard lock(state_->mutex);
    if (const auto it = state_->rooms.find(meetingId); it != state_->rooms.end()) {
        it->second.isEnded = true;
    }
}

std::string LocalMeetingService::issueUserToken(std::string_view userId, std::string_view name) {
    std::lock_guard lock(state_->mutex);
    const std::string token =
        state_->issuer.issue(json::object{{"sub", userId}, {"name", name}, {"type", "user"}});
    state_->sessions[token] = Session{std::string(userId), {}, false, std::string(name)};
    return token;
}

void LocalMeetingService::injectFault(MeetingServiceRoute route, MeetingServiceFault fault) {
    std::lock_guard lock(state_->mutex);
    state_->faults[route].push_back(std::move(fault));
}

void LocalMeetingService::clearFaults() {
    std::lock_guard lock(state_->mutex);
    state_->faults.clear();
}

std::optional<MeetingRoomState> LocalMeetingService::room(std::string_view meetingId) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->rooms.find(meetingId);
    if (it == state_->rooms.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<MeetingParticipantState> LocalMeetingService::participant(std::string_view meetingId,
                                                                        std::string_view id) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->rooms.find(meetingId);
    if (it == state_->rooms.end()) {
        return std::nullopt;
    }
    if (const auto* found = it->second.find(id)) {
        return *found;
    }
    return std::nullopt;
}

std::vector<RecordedRequest> LocalMeetingService::requests(MeetingServiceRoute route) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->handled.find(route);
    return it == state_->handled.end() ? std::vector<RecordedRequest>{} : it->second.copy();
}

RoomSocketHub& LocalMeetingService::roomSocket() const {
    return *state_->roomSocket;
}

void LocalMeetingService::pushChatMessage(std::string_view roomId,
                                          const boost::json::object& message,
                                          std::string_view exceptUserId) {
    state_->roomSocket->pushChatMessage(roomId, message, exceptUserId);
}

std::size_t LocalMeetingService::requestCount(MeetingServiceRoute route) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->handled.find(route);
    return it == state_->handled.end() ? 0 : it->second.total();
}

std::size_t LocalMeetingService::requestCount(MeetingServiceRoute route,
                                              std::string_view authorization) const {
    std::lock_guard lock(state_->mutex);
    const auto it = state_->handledByCaller.find({route, std::string(authorization)});
    return it == state_->handledByCaller.end() ? 0 : it->second;
}

std::vector<RecordedRequest> LocalMeetingService::allRequests() const {
    return server_->requests();
}

}  // namespace kr::test
