// Pieces the benches share to start clients in this process against the local meeting service.
#pragma once

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <utility>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/LocalMeetingService/MeetingRoomSetup.h"
#include "testing/QuietReachability.h"
#include "testing/ScopedTempDirectory.h"

namespace kr::bench {


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
    deps.reachability = test::quietReachability();
    std::filesystem::create_directories(deps.storageDirectory);
    return deps;
}

/// The same for a client of `service`, reached directly.
inline KRDependencies localClientDependencies(const test::LocalMeetingService& service,
                                              const SharedWorlds& worlds,
                                              std::filesystem::path storage) {
    return localClientDependencies(service.routing(), worlds, std::move(storage));
}

/// Client `index` of a bench's room: a client of `service` on `worlds`, stored under
/// `storage`/`index`, that starts joining `room` as `name` with the microphone on and the camera
/// off; client 0 joins as the host, the others as speakers.
inline std::shared_ptr<KRClient> startJoining(const test::LocalMeetingService& service,
                                              const SharedWorlds& worlds,
                                              const std::filesystem::path& storage,
                                              const test::MeetingRoomSetup& room, int index,
                                              const std::string& name,
                                              std::shared_ptr<KRClientDelegate> delegate) {
    auto client =
        KRClient::create(localClientDependencies(service, worlds, storage / std::to_string(index)));
    const auto role = index == 0 ? KRUserRole::host(room.hostToken) : KRUserRole::speaker();
    client->joinMeeting(KRJoinMeetingData(room.meetingId, room.pin, name),
                        KRJoinMeetingConfig(role, true, false), std::move(delegate));
    return client;
}

/// The heap in use, in MiB, as the allocator counts it (small blocks and mapped ones).
inline double heapInUseMB() {
    const struct mallinfo2 info = ::mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd) / (1024.0 * 1024.0);
}

/// Notes the reports that begin and end a client's meeting.
class MeetingWatch : public KRClientDelegate {
public:
    bool joined = false;
    bool failed = false;
    bool left = false;
    void didLocalUserJoinedMeeting(const KRMeeting&,
                                   const std::shared_ptr<KRMeetingUser>&) override {
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
