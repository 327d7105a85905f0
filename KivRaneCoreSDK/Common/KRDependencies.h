#pragma once

#include <filesystem>
#include <memory>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Http/HttpTransport.h"

namespace kr::platform {
class MediaBus;
class MessagingService;
class NotificationCenter;
class WebSocketTransport;
}  // namespace kr::platform

namespace kr {

class LogCollector;
class NetworkReachabilityHandler;

/// Everything the library reaches outside itself, passed in by whoever builds a client or one of
/// its managers. `KRClient::create` gives every member left empty its production default, once;
/// a manager built on its own uses what it is given and needs at least the queue. Tests fill in
/// their own queue (on a manual clock), loopback routing, a temporary storage directory and
/// private media and messaging worlds, so no test changes anything process-wide.
struct KRDependencies {
    /// The queue every callback, completion and timer of the library runs on; its clock is the
    /// library's clock. Empty: the process main queue.
    std::shared_ptr<platform::DispatchQueue> queue;
    /// Where the HTTPS and WSS transports connect and which authorities they trust.
    platform::HttpRouting routing;
    /// Directory of persisted settings (user-defaults suites, the device identity).
    /// Empty: the default directory.
    std::filesystem::path storageDirectory;
    /// The media world engines are made in. Empty: the process media bus.
    std::shared_ptr<platform::MediaBus> mediaBus;
    /// The messaging world clients log in to. Empty: the process messaging service.
    std::shared_ptr<platform::MessagingService> messagingService;
    /// Connectivity reports. Empty: the process reachability handler.
    std::shared_ptr<NetworkReachabilityHandler> reachability;
    /// Where log records are collected. Empty: the process log collector.
    std::shared_ptr<LogCollector> logCollector;
    /// Where the host posts application life-cycle notifications and forwarded room socket
    /// frames. Empty: the process notification centre.
    std::shared_ptr<platform::NotificationCenter> notifications;
    /// Makes the room socket's WSS connections. Empty (also after the client's defaults): a TLS transport
    /// over `routing`, made for each socket manager, so no I/O thread runs while none is needed.
    std::shared_ptr<platform::WebSocketTransport> webSocketTransport;
};

}  // namespace kr
