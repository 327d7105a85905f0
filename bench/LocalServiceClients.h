// Pieces the benches share to start clients in this process against the local meeting service.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityError.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::bench {

/// A new directory under the system's temporary one (name starting with `prefix`), removed with
/// everything in it when this goes. Empty when it could not be made.
class TemporaryDirectory {
public:
    explicit TemporaryDirectory(const std::string& prefix) {
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (::mkdtemp(pattern.data()) != nullptr)
            path_ = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ignored;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ignored);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

/// The shared parts of a bench's clients: one queue and the in-process media and messaging
/// stand-ins.
struct SharedWorlds {
    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create();
    std::shared_ptr<platform::MediaBus> mediaBus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    /// One HTTPS transport for every client, as for clients built from one dependencies value.
    std::shared_ptr<platform::HttpTransportShare> http =
        std::make_shared<platform::HttpTransportShare>();
};

/// The dependencies of a client on `worlds` reaching its service through `routing`, with its own
/// storage directory `storage` (made here) and no network reachability monitor.
inline KRDependencies localClientDependencies(platform::HttpRouting routing,
                                              const SharedWorlds& worlds,
                                              std::filesystem::path storage) {
    KRDependencies deps;
    deps.queue = worlds.main;
    deps.routing = std::move(routing);
    deps.storageDirectory = std::move(storage);
    deps.mediaBus = worlds.mediaBus;
    deps.messagingService = worlds.messaging;
    deps.httpTransports = worlds.http;
    deps.reachability = NetworkReachabilityHandler::create(
        []() -> Result<std::shared_ptr<Reachability>, ReachabilityError> {
            return Failure{ReachabilityError{}};
        });
    std::filesystem::create_directories(deps.storageDirectory);
    return deps;
}

/// The same for a client of `service`, reached directly.
inline KRDependencies localClientDependencies(const test::LocalMeetingService& service,
                                              const SharedWorlds& worlds,
                                              std::filesystem::path storage) {
    return localClientDependencies(service.routing(), worlds, std::move(storage));
}

/// Notes the reports that begin and end a client's meeting.
class MeetingWatch : public KRClientDelegate {
public:
    bool joined = false;
    bool failed = false;
    bool left = false;
    void didLocalUserJoinedMeeting(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        joined = true;
    }
    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError&) override { failed = true; }
    void didLocalUserLeftMeeting(const KRMeeting&, const KRUserLeftReason&) override {
        left = true;
    }
};

/// Every client of `clients` (elements with a `client` and a `watch`) that is in the meeting
/// leaves; the queue runs until the leaves are through, ten seconds at the most.
template <class Clients>
void leaveAll(platform::MainQueue& main, const Clients& clients) {
    const auto in = [](const auto& c) { return c.watch->joined && !c.watch->left; };
    for (const auto& c : clients) {
        if (in(c))
            c.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
    }
    main.runUntil([&] { return std::none_of(clients.begin(), clients.end(), in); },
                  std::chrono::seconds(10));
}

}  // namespace kr::bench
