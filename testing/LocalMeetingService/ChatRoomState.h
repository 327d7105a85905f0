#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "testing/LocalMeetingService/ServerReply.h"

namespace kr::test {

/// Who calls a chat endpoint, as the service's session knows them.
struct ChatCaller {
    std::string userId;
    std::string meetingId;  ///< the guest's meeting; empty for a signed-in user
    std::string name;
    std::string lname;
};

/// One new chat message, as the service hands it to whoever pushes it to the other participants
/// (the room socket). For the main thread `recipientUserIds` holds the thread's members other than
/// the sender; a pusher may as well send it to every participant of the room.
struct ChatMessagePosted {
    std::string meetingId;
    std::string roomId;
    std::string threadId;
    bool isMainThread = false;
    std::string senderUserId;
    std::vector<std::string> recipientUserIds;
    std::string messageJson;  ///< the message object exactly as the send reply carries it
};

/// One chat thread of the local service.
struct ChatThreadState {
    std::string id;
    std::string meetingId;  ///< the meeting of a main thread, or where a private one was opened
    std::string roomId;
    bool isPrivate = false;
    std::string createdBy;
    std::vector<std::string> members;  ///< user ids, in order of joining
    std::vector<boost::json::object> messages;  ///< oldest first
    double modifiedAt = 0;  ///< seconds since 2001-01-01, as the thread model reads it
};

/// The chat side of the local meeting service: main threads per meeting, private threads between
/// two users, messages, read marks and member lists. Each operation validates its request and
/// answers with the JSON the chat models read, or an error body {"message", "errors"}.
/// Not thread-safe: the service calls it with its own lock held.
class ChatRoomState {
public:
    /// Messages per page when the request names no limit.
    static constexpr std::int64_t kDefaultPageSize = 150;

    /// Called with the id of each private thread when it is opened (to route its endpoints).
    std::function<void(const std::string& threadId)> onThreadOpened;

    /// Remembers a user's display name for member lists and messages.
    void rememberUser(const ChatCaller& caller);

    /// The main thread of a meeting (made on first use); the caller becomes a member.
    ServerReply mainThread(const ChatCaller& caller, const std::string& meetingId,
                           const std::string& roomId, const std::string& threadId);
    /// The private thread of the two users named in "members" (made on first use).
    ServerReply privateThread(const ChatCaller& caller, const boost::json::object& body);
    /// A page of the thread, newest first ("limit", "offset" from the query).
    ServerReply page(const ChatCaller& caller, const std::string& threadId, std::string_view query);
    ServerReply send(const ChatCaller& caller, const std::string& threadId,
                     const boost::json::object& body);
    ServerReply markRead(const ChatCaller& caller, const std::string& threadId,
                         std::string_view query, const boost::json::object& body);
    /// The members of a main thread except those in `leavers`, each with the last message of
    /// their private thread with the caller; most recent conversation first, then by name.
    ServerReply members(const ChatCaller& caller, const std::string& threadId,
                        std::string_view query, const std::set<std::string>& leavers);

    /// The messages posted since the last call, oldest first.
    std::vector<ChatMessagePosted> takePosted();

    const ChatThreadState* thread(std::string_view threadId) const;

private:
    ChatThreadState& existingThread(const ChatCaller& caller, std::string_view threadId);
    boost::json::object threadJson(const ChatThreadState& thread) const;
    std::string nameOf(const std::string& userId) const;
    std::string lastNameOf(const std::string& userId) const;

    std::map<std::string, ChatThreadState, std::less<>> threads_;
    std::map<std::string, ChatCaller, std::less<>> users_;
    std::vector<ChatMessagePosted> posted_;
    std::uint64_t nextThread_ = 1;
    std::uint64_t nextMessage_ = 1;
};

}  // namespace kr::test
