#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatMessageList.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Common/Extensions/TextHash.h"

namespace kr {

/// The chat's message store: every message seen, in the order it was first seen, at most once
/// per id. Entries are never replaced or removed. Id and thread indexes keep a merge and a
/// thread view independent of how many messages are stored; a view is a list that later
/// messages leave alone, so handing one out copies nothing. The id index is an open-addressing
/// table of (id hash, position) pairs, small enough to stay in the processor's cache where a
/// node-based set would chase pointers through memory for every new id.
/// Not thread-safe; owned by the chat manager on its queue.
class KRChatMessageCache {
public:
    bool contains(std::string_view id) const;
    /// Appends `message` unless a message with its id is already stored; true when appended.
    bool append(KRChatMessage message);
    /// Appends `message` when it is a normal message whose id is not stored yet, marked incoming
    /// unless `localGuestId` created it. Returns the stored message (valid while the cache
    /// lives), or nullptr when it was left out.
    const KRChatMessage* admit(const KRChatMessage& message, std::string_view localGuestId);
    /// Admits, in order, the messages of `page` (a later one with an id met earlier in the page
    /// is left out too). Returns how many were appended.
    std::size_t merge(const std::vector<KRChatMessage>& page, std::string_view localGuestId);

    /// Every message, in insertion order.
    KRChatMessageList messages() const { return messages_.list(); }
    /// The messages of one thread, in insertion order.
    KRChatMessageList messagesOfThread(std::string_view threadId) const;
    std::size_t size() const noexcept { return messages_.size(); }
    void reserve(std::size_t count);

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t positionPlusOne = 0;  ///< 0: empty
    };

    /// The slot holding `id`, or the empty slot where it would go.
    std::size_t findSlot(std::string_view id, std::uint64_t hash) const;
    void growIndex(std::size_t minimumSlots);
    /// Makes the index big enough for `count` messages.
    void reserveIndex(std::size_t count);
    /// `admit` once the index has room for one more message.
    const KRChatMessage* admitWithRoom(const KRChatMessage& message, std::string_view localGuestId);
    /// Stores `message` in the empty slot `slotIndex` found for its id's `hash`.
    const KRChatMessage* store(std::size_t slotIndex, std::uint64_t hash, KRChatMessage message);

    KRChatMessageLog messages_;
    std::vector<Slot> slots_;  ///< a power of two in size, at most half full
    std::unordered_map<std::string, KRChatMessageLog, TextHash, std::equal_to<>> byThread_;
};

}  // namespace kr
