#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/Recipient.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One entry of a chat thread's member list: who the member is and, when the service knows it,
/// the last message with its recipients. "member" and "memberInfo" (with "name" and "lname") are
/// required; anything wrong under "threadInfo" only leaves those fields absent. Plain value.
struct KRMeetingParticipant2 {
    std::string memberId;                          // "member"
    std::string name;                              // "memberInfo.name"
    std::string lname;                             // "memberInfo.lname"
    std::optional<std::string> threadId;           // "threadInfo.lastMessage.threadId"
    std::optional<std::string> lastMessageId;      // "threadInfo.lastMessageId"
    std::optional<std::vector<Recipient>> recipients;  // "threadInfo.lastMessage.recipients"
    /// Set only by `setUnreadStatus`: the local user has not yet read the last message.
    std::optional<bool> unread;

    /// `unread` from the first recipient that is the local user; absent when none is. Leaves
    /// `unread` alone when the recipient list itself is absent.
    void setUnreadStatus(std::string_view localUserId);

    static Result<KRMeetingParticipant2, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
