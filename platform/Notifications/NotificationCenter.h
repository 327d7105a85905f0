#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

namespace kr::platform {

/// One process notification: its name, the object that sent it (an identity, never dereferenced by
/// the centre; null when there is none) and its user info.
struct Notification {
    std::string name;
    const void* object = nullptr;
    boost::json::object userInfo;
};

/// Identifies one registration of an observer; 0 is never a valid token.
using ObserverToken = std::uint64_t;

/// In-process notification centre: observers register for a name (optionally only from one sender)
/// and `post` calls them synchronously, on the posting thread, in registration order.
///
/// Threading: every method may be called from any thread. `post` delivers to a snapshot of the
/// matching observers taken when it starts, calling them without holding a lock, so an observer may
/// post, add or remove observers (itself included) during delivery. An observer removed before the
/// snapshot of a later post is never called by that post; an observer removed while a post already
/// delivering to it on another thread is running may still receive that one notification.
class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    NotificationCenter() = default;
    NotificationCenter(const NotificationCenter&) = delete;
    NotificationCenter& operator=(const NotificationCenter&) = delete;

    /// The process-wide centre.
    static NotificationCenter& defaultCenter();

    /// Registers `callback` for notifications named `name`; with a non-null `sender`, only for
    /// those that object posts. An empty name matches every notification. Returns the token to
    /// remove it.
    ObserverToken addObserver(std::string name, const void* sender, Callback callback);
    ObserverToken addObserver(std::string name, Callback callback) {
        return addObserver(std::move(name), nullptr, std::move(callback));
    }

    /// Removes the registration; unknown or already removed tokens are ignored.
    void removeObserver(ObserverToken token);

    /// Delivers a notification to every matching observer before returning.
    void post(const Notification& notification);
    void post(std::string name, const void* sender = nullptr, boost::json::object userInfo = {});

    /// Number of registrations (for diagnostics and tests).
    std::size_t observerCount() const;

private:
    struct Entry {
        ObserverToken token;
        std::string name;
        const void* sender;
        std::shared_ptr<Callback> callback;
        std::shared_ptr<std::atomic<bool>> removed;  // set once the entry is removed
    };

    mutable std::mutex mutex_;
    std::vector<Entry> entries_;
    ObserverToken nextToken_ = 1;
};

}  // namespace kr::platform
