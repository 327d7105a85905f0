#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"

namespace kr {

/// The chat's message store: every message seen, in the order it was first seen, at most once
/// per id. Entries are never replaced or removed. Id and thread indexes keep a merge and a
/// thread view independent of how many messages are stored.
/// Not thread-safe; owned by the chat manager on its queue.
class KRChatMessageCache {
public:
    bool contains(std::string_view id) const;
    /// Appends `message` unless a message with its id is already stored; true when appended.
    bool append(KRChatMessage message);

    /// Every message, in insertion order.
    const std::vector<KRChatMessage>& messages() const noexcept { return messages_; }
    /// The messages of one thread, in insertion order.
    std::vector<KRChatMessage> messagesOfThread(std::string_view threadId) const;
    std::size_t size() const noexcept { return messages_.size(); }
    void reserve(std::size_t count);

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };

    std::vector<KRChatMessage> messages_;
    std::unordered_set<std::string, TextHash, std::equal_to<>> ids_;
    std::unordered_map<std::string, std::vector<std::size_t>, TextHash, std::equal_to<>> byThread_;
};

}  // namespace kr
