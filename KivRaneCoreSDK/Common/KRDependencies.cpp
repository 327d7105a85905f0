#include "KivRaneCoreSDK/Common/KRDependencies.h"

#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

KRDependencies KRDependencies::resolved() const {
    KRDependencies out = *this;
    if (!out.queue) out.queue = platform::MainQueue::current();
    if (out.storageDirectory.empty()) out.storageDirectory = platform::UserDefaults::directory();
    if (!out.mediaBus) out.mediaBus = platform::MediaBus::current();
    if (!out.messagingService) out.messagingService = platform::MessagingService::current();
    if (!out.reachability) out.reachability = NetworkReachabilityHandler::shared();
    if (!out.logCollector) out.logCollector = LogCollector::shared();
    if (!out.notifications) {
        // The process centre lives for the whole process: the pointer owns nothing.
        out.notifications = std::shared_ptr<platform::NotificationCenter>(
            std::shared_ptr<platform::NotificationCenter>{},
            &platform::NotificationCenter::defaultCenter());
    }
    return out;
}

}  // namespace kr
