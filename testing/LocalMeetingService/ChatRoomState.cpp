#include "testing/LocalMeetingService/ChatRoomState.h"

#include <algorithm>
#include <boost/json/array.hpp>
#include <chrono>
#include <ctime>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Common/Json/JsonDate.h"
#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr::test {

namespace json = boost::json;

namespace {

/// Why a chat request is refused; thrown inside an operation and turned into its error reply.
struct ChatRefusal {
    int status;
    std::string code;
    std::string text;
};

[[noreturn]] void refuse(int status, std::string code, std::string text) {
    throw ChatRefusal{status, std::move(code), std::move(text)};
}

[[noreturn]] void badRequest(std::string text) {
    refuse(400, "BAD_REQUEST", std::move(text));
}

ServerReply jsonReply(const json::value& body) {
    return ServerReply::json(200, serializeJson(body));
}

template <class Operation>
ServerReply guarded(Operation operation) {
    try {
        return operation();
    } catch (const ChatRefusal& refusal) {
        return ServerReply::json(
            refusal.status,
            serializeJson(json::object{{"message", refusal.code}, {"errors", refusal.text}}));
    }
}

const json::string& requiredText(const json::object& body, std::string_view key) {
    const json::value* v = body.if_contains(key);
    if (v == nullptr || !v->is_string()) {
        badRequest("\"" + std::string(key) + "\" must be a string");
    }
    return v->get_string();
}

/// The value of query item `name`, if present.
std::optional<std::string_view> queryItem(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view item = query.substr(0, amp);
        const auto eq = item.find('=');
        if (item.substr(0, eq) == name) {
            return eq == std::string_view::npos ? std::string_view{} : item.substr(eq + 1);
        }
        if (amp == std::string_view::npos) {
            break;
        }
        query.remove_prefix(amp + 1);
    }
    return std::nullopt;
}

std::int64_t queryNumber(std::string_view query, std::string_view name, std::int64_t fallback) {
    const auto text = queryItem(query, name);
    if (!text) {
        return fallback;
    }
    const auto value = parseInt(*text);
    if (!value || *value < 0) {
        badRequest("\"" + std::string(name) + "\" must be a whole number");
    }
    return *value;
}

/// "2026-12-06T20:26:10.123Z".
std::string nowWithMillis() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char buffer[40];
    const std::size_t n = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(buffer + n, sizeof buffer - n, ".%03dZ", static_cast<int>(millis));
    return buffer;
}

double nowReferenceSeconds() {
    return JsonDate::toReferenceSeconds(std::chrono::system_clock::now());
}

bool contains(const std::vector<std::string>& list, std::string_view value) {
    return std::find(list.begin(), list.end(), value) != list.end();
}

/// Whether `userId` has not read `message`.
bool isUnreadFor(const json::object& message, std::string_view userId) {
    const json::value* recipients = message.if_contains("recipients");
    if (recipients == nullptr || !recipients->is_array()) {
        return false;
    }
    for (const json::value& r : recipients->get_array()) {
        const json::object& o = r.get_object();
        if (o.at("userId").get_string() == userId) {
            return o.at("isUnread").get_bool();
        }
    }
    return false;
}

}  // namespace

void ChatRoomState::rememberUser(const ChatCaller& caller) {
    if (!caller.userId.empty()) {
        users_[caller.userId] = caller;
    }
}

std::string ChatRoomState::nameOf(const std::string& userId) const {
    const auto it = users_.find(userId);
    return it == users_.end() ? userId : it->second.name;
}

std::string ChatRoomState::lastNameOf(const std::string& userId) const {
    const auto it = users_.find(userId);
    return it == users_.end() ? std::string() : it->second.lname;
}

const ChatThreadState* ChatRoomState::thread(std::string_view threadId) const {
    const auto it = threads_.find(threadId);
    return it == threads_.end() ? nullptr : &it->second;
}

ChatThreadState& ChatRoomState::existingThread(const ChatCaller& caller,
                                               std::string_view threadId) {
    const auto it = threads_.find(threadId);
    if (it == threads_.end()) {
        refuse(404, "NOTFOUNDERROR", "No such chat thread");
    }
    ChatThreadState& thread = it->second;
    const bool allowed = thread.isPrivate
                             ? contains(thread.members, caller.userId)
                             : caller.meetingId.empty() || caller.meetingId == thread.meetingId;
    if (!allowed) {
        refuse(403, "FORBIDDEN", "Not a member of this chat thread");
    }
    return thread;
}

json::object ChatRoomState::threadJson(const ChatThreadState& thread) const {
    json::array members;
    for (const std::string& id : thread.members) {
        members.push_back(json::object{{"_id", id}, {"name", nameOf(id)}, {"lname", lastNameOf(id)}});
    }
    json::object out{{"_id", thread.id},
                     {"kivraneId", thread.meetingId},
                     {"name", thread.isPrivate ? "private" : "meeting"},
                     {"status", "active"},
                     {"isRestrictedChat", false},
                     {"numberOfAttachments", 0},
                     {"createdBy", thread.createdBy},
                     {"modifiedAt", thread.modifiedAt},
                     {"update", false},
                     {"members", std::move(members)}};
    if (thread.isPrivate) {
        out["context"] = thread.createdBy;
    }
    return out;
}

ServerReply ChatRoomState::mainThread(const ChatCaller& caller, const std::string& meetingId,
                                      const std::string& roomId, const std::string& threadId) {
    return guarded([&] {
        auto [it, made] = threads_.try_emplace(threadId);
        ChatThreadState& thread = it->second;
        if (made) {
            thread.id = threadId;
            thread.meetingId = meetingId;
            thread.roomId = roomId;
            thread.createdBy = caller.userId;
            thread.modifiedAt = nowReferenceSeconds();
        }
        if (!contains(thread.members, caller.userId)) {
            thread.members.push_back(caller.userId);
        }
        return jsonReply(threadJson(thread));
    });
}

ServerReply ChatRoomState::privateThread(const ChatCaller& caller, const json::object& body) {
    return guarded([&] {
        const json::value* membersValue = body.if_contains("members");
        if (membersValue == nullptr || !membersValue->is_array() ||
            membersValue->get_array().size() != 2) {
            badRequest("\"members\" must list two user ids");
        }
        std::vector<std::string> members;
        for (const json::value& m : membersValue->get_array()) {
            if (!m.is_string() || m.get_string().empty()) {
                badRequest("\"members\" must list two user ids");
            }
            members.emplace_back(m.get_string());
        }
        const std::string context(requiredText(body, "context"));
        if (!contains(members, caller.userId) || context != caller.userId) {
            refuse(403, "FORBIDDEN", "A private thread must include its creator");
        }
        if (members[0] == members[1]) {
            badRequest("A private thread needs two different users");
        }
        for (auto& [id, thread] : threads_) {
            if (thread.isPrivate && contains(thread.members, members[0]) &&
                contains(thread.members, members[1])) {
                return jsonReply(threadJson(thread));
            }
        }
        const std::string id = "private-" + std::to_string(nextThread_++);
        ChatThreadState& thread = threads_[id];
        thread.id = id;
        thread.meetingId = caller.meetingId;
        thread.isPrivate = true;
        thread.createdBy = caller.userId;
        thread.members = members;
        thread.modifiedAt = nowReferenceSeconds();
        if (onThreadOpened) {
            onThreadOpened(id);
        }
        return jsonReply(threadJson(thread));
    });
}

ServerReply ChatRoomState::page(const ChatCaller& caller, const std::string& threadId,
                                std::string_view query) {
    return guarded([&] {
        const ChatThreadState& thread = existingThread(caller, threadId);
        const std::int64_t limit = queryNumber(query, "limit", kDefaultPageSize);
        const std::int64_t offset = queryNumber(query, "offset", 0);
        const auto total = static_cast<std::int64_t>(thread.messages.size());
        json::array messages;
        // Newest first: offset 0 is the last message posted.
        for (std::int64_t i = offset; i < std::min(total, offset + limit); ++i) {
            messages.push_back(thread.messages[static_cast<std::size_t>(total - 1 - i)]);
        }
        std::int64_t unread = 0;
        for (const json::object& message : thread.messages) {
            unread += isUnreadFor(message, caller.userId) ? 1 : 0;
        }
        return jsonReply(json::object{{"messages", std::move(messages)},
                                      {"moreAvailable", offset + limit < total},
                                      {"totalCount", total},
                                      {"unreadCount", unread}});
    });
}

ServerReply ChatRoomState::send(const ChatCaller& caller, const std::string& threadId,
                                const json::object& body) {
    return guarded([&] {
        ChatThreadState& thread = existingThread(caller, threadId);
        const json::value* content = body.if_contains("messageComponent");
        if (content == nullptr || !content->is_object()) {
            badRequest("\"messageComponent\" must be an object");
        }
        const std::string text(requiredText(content->get_object(), "text"));
        const json::value* attachments = content->get_object().if_contains("attachments");
        if (attachments == nullptr || !attachments->is_array()) {
            badRequest("\"messageComponent.attachments\" must be an array");
        }
        for (const json::value& file : attachments->get_array()) {
            if (!file.is_object()) {
                badRequest("Each attachment must be an object");
            }
        }
        const std::string meetingId(requiredText(body, "kivraneId"));
        if (!thread.isPrivate && meetingId != thread.meetingId) {
            badRequest("\"kivraneId\" is not this thread's meeting");
        }
        if (text.empty() && attachments->get_array().empty()) {
            badRequest("A message needs a text or a file");
        }
        if (!contains(thread.members, caller.userId)) {
            thread.members.push_back(caller.userId);
        }
        json::array recipients;
        std::vector<std::string> others;
        for (const std::string& member : thread.members) {
            const bool isSender = member == caller.userId;
            recipients.push_back(
                json::object{{"userId", member}, {"isDeleted", false}, {"isUnread", !isSender}});
            if (!isSender) {
                others.push_back(member);
            }
        }
        json::object message{
            {"_id", "msg-" + std::to_string(nextMessage_++)},
            {"threadId", thread.id},
            {"kivraneId", meetingId},
            {"type", "message"},
            {"createdBy", caller.userId},
            {"creatorsName", caller.name},
            {"creatorsLName", caller.lname},
            {"cOn", nowWithMillis()},
            {"messageComponent",
             json::object{{"text", text}, {"attachments", attachments->get_array()}}},
            {"recipients", std::move(recipients)}};
        thread.messages.push_back(message);
        thread.modifiedAt = nowReferenceSeconds();
        posted_.push_back(ChatMessagePosted{thread.meetingId, thread.roomId, thread.id,
                                            !thread.isPrivate, caller.userId, std::move(others),
                                            serializeJson(message)});
        return jsonReply(message);
    });
}

ServerReply ChatRoomState::markRead(const ChatCaller& caller, const std::string& threadId,
                                    std::string_view query, const json::object& body) {
    return guarded([&] {
        ChatThreadState& thread = existingThread(caller, threadId);
        if (queryItem(query, "previous") != std::optional<std::string_view>("read")) {
            badRequest("\"previous\" must be \"read\"");
        }
        const json::value* ids = body.if_contains("messageIds");
        if (ids == nullptr || !ids->is_array() || ids->get_array().size() != 1 ||
            !ids->get_array()[0].is_string()) {
            badRequest("\"messageIds\" must hold one message id");
        }
        const json::string& lastId = ids->get_array()[0].get_string();
        const auto last = std::find_if(thread.messages.begin(), thread.messages.end(),
                                       [&](const json::object& m) {
                                           return m.at("_id").get_string() == lastId;
                                       });
        if (last == thread.messages.end()) {
            refuse(404, "NOTFOUNDERROR", "No such message in this thread");
        }
        // Everything up to and including the named message is read by the caller.
        for (auto it = thread.messages.begin(); it != std::next(last); ++it) {
            for (json::value& r : it->at("recipients").get_array()) {
                json::object& recipient = r.get_object();
                if (recipient.at("userId").get_string() == caller.userId) {
                    recipient["isUnread"] = false;
                }
            }
        }
        return jsonReply(json::object{{"success", true}});
    });
}

ServerReply ChatRoomState::members(const ChatCaller& caller, const std::string& threadId,
                                   std::string_view query, const std::set<std::string>& leavers) {
    return guarded([&] {
        const ChatThreadState& thread = existingThread(caller, threadId);
        if (thread.isPrivate) {
            badRequest("Members are listed for a meeting's thread only");
        }
        if (queryItem(query, "kivraneId") != std::optional<std::string_view>(thread.meetingId)) {
            badRequest("\"kivraneId\" is not this thread's meeting");
        }
        struct Entry {
            json::object json;
            double lastActivity = -1;
            std::string name;
        };
        std::vector<Entry> entries;
        for (const std::string& member : thread.members) {
            if (leavers.count(member) != 0) {
                continue;
            }
            Entry entry;
            entry.name = nameOf(member);
            entry.json = json::object{
                {"member", member},
                {"memberInfo", json::object{{"name", entry.name}, {"lname", lastNameOf(member)}}}};
            for (const auto& [id, other] : threads_) {
                if (!other.isPrivate || other.messages.empty() || member == caller.userId ||
                    !contains(other.members, member) || !contains(other.members, caller.userId)) {
                    continue;
                }
                const json::object& last = other.messages.back();
                json::array recipients;
                for (const json::value& r : last.at("recipients").get_array()) {
                    recipients.push_back(json::object{{"userId", r.at("userId")},
                                                      {"unread", r.at("isUnread")}});
                }
                entry.json["threadInfo"] = json::object{
                    {"lastMessageId", last.at("_id")},
                    {"lastMessage", json::object{{"threadId", other.id},
                                                 {"recipients", std::move(recipients)}}}};
                entry.lastActivity = other.modifiedAt;
            }
            entries.push_back(std::move(entry));
        }
        std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            if (a.lastActivity != b.lastActivity) {
                return a.lastActivity > b.lastActivity;
            }
            return a.name < b.name;
        });
        json::array out;
        for (Entry& entry : entries) {
            out.push_back(std::move(entry.json));
        }
        return jsonReply(out);
    });
}

std::vector<ChatMessagePosted> ChatRoomState::takePosted() {
    return std::exchange(posted_, {});
}

}  // namespace kr::test
