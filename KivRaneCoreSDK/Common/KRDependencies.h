#pragma once

#include <filesystem>
#include <memory>

#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Http/HttpTransport.h"
#include "platform/Http/HttpTransportShare.h"

namespace kr::platform {
class DarwinNotifyCenter;
class MediaBus;
class MessagingService;
class NotificationCenter;
class WebSocketTransport;
}  // namespace kr::platform

namespace kr {

class ContactSyncManager;
class KivRaneLogger;
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
    /// Hands the network clients built from this value or a copy of it one HTTPS transport to
    /// share (one connection pool; one I/O thread, from the first REST call until the last of
    /// those clients is gone). Made with the value, so copies share it and a value built afresh
    /// has its own. Empty: each network client makes a transport of its own.
    std::shared_ptr<platform::HttpTransportShare> httpTransports =
        std::make_shared<platform::HttpTransportShare>();
    /// Directory of persisted settings (user-defaults suites, the device identity).
    /// Empty: the default directory.
    std::filesystem::path storageDirectory;
    /// The media world engines are made in. Empty: the process media bus.
    std::shared_ptr<platform::MediaBus> mediaBus;
    /// The messaging world clients log in to. Empty: the process messaging service.
    std::shared_ptr<platform::MessagingService> messagingService;
    /// Connectivity reports. Empty: the process reachability handler.
    std::shared_ptr<NetworkReachabilityHandler> reachability;
    /// The remote log service's collector, which the meeting configuration switches on.
    /// Empty: the process remote logger.
    std::shared_ptr<KivRaneLogger> remoteLogger;
    /// Where log records are collected. Empty: `remoteLogger` when it was given, otherwise the
    /// process log collector (the process remote logger unless the host installed another).
    std::shared_ptr<LogCollector> logCollector;
    /// The host's contact list, whose names replace the server's for known participants and
    /// message senders. Empty: the process contact list. Clients sharing a process that must not
    /// see each other's contacts each get their own.
    std::shared_ptr<ContactSyncManager> contacts;
    /// The name-only notify centre linking the app with its screen-broadcast extension. Empty:
    /// the process centre. A client given its own hears only the posts on that centre.
    std::shared_ptr<platform::DarwinNotifyCenter> extensionNotifications;
    /// Where the host posts application life-cycle notifications and forwarded room socket
    /// frames. Empty: the process notification centre.
    std::shared_ptr<platform::NotificationCenter> notifications;
    /// Makes the room socket's WSS connections. Empty: a TLS transport over `routing`, made once
    /// by `KRClient::create` (its I/O thread runs only while a socket is open), or by a socket
    /// manager built on its own.
    std::shared_ptr<platform::WebSocketTransport> webSocketTransport;
};

}  // namespace kr
