#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"

#include <utility>

namespace kr {

bool KRChatMessageCache::contains(std::string_view id) const {
    return ids_.find(id) != ids_.end();
}

bool KRChatMessageCache::append(KRChatMessage message) {
    if (!ids_.insert(message.id).second) {
        return false;
    }
    const std::size_t index = messages_.size();
    auto thread = byThread_.find(std::string_view(message.threadId));
    if (thread == byThread_.end()) {
        thread = byThread_.emplace(message.threadId, std::vector<std::size_t>{}).first;
    }
    thread->second.push_back(index);
    messages_.push_back(std::move(message));
    return true;
}

std::vector<KRChatMessage> KRChatMessageCache::messagesOfThread(std::string_view threadId) const {
    std::vector<KRChatMessage> out;
    const auto thread = byThread_.find(threadId);
    if (thread == byThread_.end()) {
        return out;
    }
    out.reserve(thread->second.size());
    for (const std::size_t index : thread->second) {
        out.push_back(messages_[index]);
    }
    return out;
}

void KRChatMessageCache::reserve(std::size_t count) {
    messages_.reserve(count);
    ids_.reserve(count);
}

}  // namespace kr
