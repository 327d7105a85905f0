#pragma once

#include <string>
#include <utility>

namespace kr {

/// Where a chat message is sent: the meeting's main thread, or the private thread with one user.
/// Two group destinations are equal; two user destinations are equal when their ids are.
class KRChatMessageDestination {
public:
    static KRChatMessageDestination group() { return KRChatMessageDestination(true, {}); }
    static KRChatMessageDestination user(std::string userId) {
        return KRChatMessageDestination(false, std::move(userId));
    }

    bool isGroup() const noexcept { return isGroup_; }
    /// The other user's id; empty for the group.
    const std::string& userId() const noexcept { return userId_; }

    friend bool operator==(const KRChatMessageDestination&,
                           const KRChatMessageDestination&) = default;

private:
    KRChatMessageDestination(bool isGroup, std::string userId)
        : isGroup_(isGroup), userId_(std::move(userId)) {}

    bool isGroup_;
    std::string userId_;
};

}  // namespace kr
