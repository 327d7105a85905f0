#include "platform/Notifications/NotificationCenter.h"

#include <algorithm>

namespace kr::platform {

NotificationCenter& NotificationCenter::defaultCenter() {
    // Never destroyed: observers may still be removed during static destruction.
    static auto* center = new NotificationCenter();
    return *center;
}

ObserverToken NotificationCenter::addObserver(std::string name, const void* sender,
                                              Callback callback) {
    if (!callback) {
        return 0;
    }
    std::lock_guard lock(mutex_);
    const ObserverToken token = nextToken_++;
    entries_.push_back(Entry{token, std::move(name), sender,
                             std::make_shared<Callback>(std::move(callback)),
                             std::make_shared<std::atomic<bool>>(false)});
    return token;
}

void NotificationCenter::removeObserver(ObserverToken token) {
    std::shared_ptr<Callback> released;  // destroyed after unlocking: captures may do anything
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(),
                               [token](const Entry& e) { return e.token == token; });
        if (it == entries_.end()) {
            return;
        }
        it->removed->store(true);
        released = std::move(it->callback);
        entries_.erase(it);
    }
}

void NotificationCenter::post(const Notification& notification) {
    struct Pending {
        std::shared_ptr<Callback> callback;
        std::shared_ptr<std::atomic<bool>> removed;
    };
    std::vector<Pending> snapshot;
    {
        std::lock_guard lock(mutex_);
        for (const Entry& e : entries_) {
            const bool nameMatches = e.name.empty() || e.name == notification.name;
            const bool senderMatches = e.sender == nullptr || e.sender == notification.object;
            if (nameMatches && senderMatches) {
                snapshot.push_back(Pending{e.callback, e.removed});
            }
        }
    }
    for (const Pending& p : snapshot) {
        // An observer removed by an earlier observer of this same post is skipped.
        if (!p.removed->load()) {
            (*p.callback)(notification);
        }
    }
}

void NotificationCenter::post(std::string name, const void* sender, boost::json::object userInfo) {
    post(Notification{std::move(name), sender, std::move(userInfo)});
}

std::size_t NotificationCenter::observerCount() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

}  // namespace kr::platform
