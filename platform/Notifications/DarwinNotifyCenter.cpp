#include "platform/Notifications/DarwinNotifyCenter.h"

namespace kr::platform {

DarwinNotifyCenter& DarwinNotifyCenter::shared() {
    static auto* center = new DarwinNotifyCenter();
    return *center;
}

ObserverToken DarwinNotifyCenter::addObserver(std::string name, Callback callback) {
    if (!callback || name.empty()) {
        return 0;
    }
    return center_.addObserver(std::move(name), nullptr,
                               [cb = std::move(callback)](const Notification& n) { cb(n.name); });
}

void DarwinNotifyCenter::removeObserver(ObserverToken token) {
    center_.removeObserver(token);
}

void DarwinNotifyCenter::post(const std::string& name) {
    if (!name.empty()) {
        center_.post(name);
    }
}

}  // namespace kr::platform
