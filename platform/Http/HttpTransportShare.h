#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/Http/HttpTransport.h"

namespace kr::platform {

class TlsSessionCache;

/// Lets the clients of a process send over one HTTPS transport (one I/O thread, one pool of
/// persistent connections) instead of one each.
///
/// A transport is handed out only to users asking with settings equal to its own, so nothing one
/// user configured (routing, trusted authorities, session headers, limits) reaches another's
/// requests: users with other settings get a transport of their own. Transports are held weakly:
/// one lives while a user keeps it, so when the last of its users lets go its transfers are
/// cancelled and its thread ends, and the next user gets a new one.
///
/// Threading: any thread. A share travels inside a value its owner copies freely, and copies
/// may be given different queues and used from their threads.
class HttpTransportShare {
public:
    HttpTransportShare() = default;
    HttpTransportShare(const HttpTransportShare&) = delete;
    HttpTransportShare& operator=(const HttpTransportShare&) = delete;

    /// The live transport made with settings equal to `settings`, or a new one made with them.
    std::shared_ptr<HttpTransport> transport(const HttpTransportSettings& settings);

    /// The TLS session cache of the share's users, made on the first call. A routing naming it
    /// lets each user's connections resume the sessions the others' connections opened; being
    /// one object, it also keeps those routings equal.
    std::shared_ptr<TlsSessionCache> tlsSessions();

private:
    std::mutex mutex_;
    std::vector<std::weak_ptr<HttpTransport>> transports_;  // expired ones pruned on each ask
    std::shared_ptr<TlsSessionCache> tlsSessions_;
};

}  // namespace kr::platform
