#pragma once

#include <memory>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/QuietReachability.h"
#include "testing/ScopedTempDirectory.h"

namespace kr::test {

/// What a client needs to meet others at the local meeting service: the test's main queue, a
/// network that never changes, its own storage, and the shared stand-in media and messaging.
/// A test adds what its case needs on top.
inline KRDependencies localMeetingDependencies(
    const std::shared_ptr<platform::MainQueue>& main, const ScopedTempDirectory& storage,
    const LocalMeetingService& service, const std::shared_ptr<platform::MediaBus>& bus,
    const std::shared_ptr<platform::MessagingService>& messaging) {
    KRDependencies deps;
    deps.queue = main;
    deps.reachability = quietReachability();
    deps.storageDirectory = storage.path();
    deps.routing = service.routing();
    deps.mediaBus = bus;
    deps.messagingService = messaging;
    return deps;
}

}  // namespace kr::test
