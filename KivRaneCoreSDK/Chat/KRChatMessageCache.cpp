#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"

#include <utility>

namespace kr {

std::size_t KRChatMessageCache::findSlot(std::string_view id, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
        const Slot& slot = slots_[i];
        if (slot.positionPlusOne == 0 ||
            (slot.hash == hash && messages_[slot.positionPlusOne - 1].id == id)) {
            return i;
        }
    }
}

void KRChatMessageCache::growIndex(std::size_t minimumSlots) {
    std::size_t size = slots_.empty() ? 16 : slots_.size();
    while (size < minimumSlots) {
        size *= 2;
    }
    if (size == slots_.size()) {
        return;
    }
    std::vector<Slot> old = std::exchange(slots_, std::vector<Slot>(size));
    const std::size_t mask = size - 1;
    for (const Slot& slot : old) {
        if (slot.positionPlusOne == 0) {
            continue;
        }
        std::size_t i = slot.hash & mask;
        while (slots_[i].positionPlusOne != 0) {
            i = (i + 1) & mask;
        }
        slots_[i] = slot;
    }
}

bool KRChatMessageCache::contains(std::string_view id) const {
    if (slots_.empty()) {
        return false;
    }
    return slots_[findSlot(id, TextHash{}(id))].positionPlusOne != 0;
}

void KRChatMessageCache::reserveIndex(std::size_t count) {
    if (slots_.size() < 2 * count) {
        growIndex(2 * count);
    }
}

bool KRChatMessageCache::append(KRChatMessage message) {
    reserveIndex(messages_.size() + 1);
    const std::uint64_t hash = TextHash{}(message.id);
    const std::size_t slot = findSlot(message.id, hash);
    if (slots_[slot].positionPlusOne != 0) {
        return false;
    }
    store(slot, hash, std::move(message));
    return true;
}

const KRChatMessage* KRChatMessageCache::admit(const KRChatMessage& message,
                                               std::string_view localGuestId) {
    reserveIndex(messages_.size() + 1);
    return admitWithRoom(message, localGuestId);
}

std::size_t KRChatMessageCache::merge(const std::vector<KRChatMessage>& page,
                                      std::string_view localGuestId) {
    // Sized once for the whole page, so no slot moves while the page goes in.
    reserveIndex(messages_.size() + page.size());
    std::size_t added = 0;
    for (const KRChatMessage& message : page) {
        if (admitWithRoom(message, localGuestId) != nullptr) {
            ++added;
        }
    }
    return added;
}

const KRChatMessage* KRChatMessageCache::admitWithRoom(const KRChatMessage& message,
                                                       std::string_view localGuestId) {
    if (message.messageType != KRChatMessageType::normal) {
        return nullptr;
    }
    const std::uint64_t hash = TextHash{}(message.id);
    const std::size_t slot = findSlot(message.id, hash);
    if (slots_[slot].positionPlusOne != 0) {
        return nullptr;
    }
    KRChatMessage copy = message;
    copy.isIncomingMessage = message.creatorId != localGuestId;
    return store(slot, hash, std::move(copy));
}

const KRChatMessage* KRChatMessageCache::store(std::size_t slotIndex, std::uint64_t hash,
                                               KRChatMessage message) {
    const std::size_t index = messages_.size();
    slots_[slotIndex] = Slot{hash, static_cast<std::uint32_t>(index + 1)};
    auto thread = byThread_.find(std::string_view(message.threadId));
    if (thread == byThread_.end()) {
        thread = byThread_.emplace(message.threadId, KRChatMessageLog{}).first;
    }
    // One message, shared by the list of all messages and the list of its thread.
    auto stored = std::make_shared<const KRChatMessage>(std::move(message));
    const KRChatMessage* kept = stored.get();
    thread->second.append(stored);
    messages_.append(std::move(stored));
    return kept;
}

KRChatMessageList KRChatMessageCache::messagesOfThread(std::string_view threadId) const {
    const auto thread = byThread_.find(threadId);
    return thread == byThread_.end() ? KRChatMessageList{} : thread->second.list();
}

void KRChatMessageCache::reserve(std::size_t count) {
    reserveIndex(count);
}

}  // namespace kr
