#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Enums/KRCurrentUserType.h"
#include "KivRaneCoreSDK/Network/Manager/KRApiRequestManager.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandlerDelegate.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

class NetworkReachabilityHandler;

/// Every REST call of the library goes out through one of these. Keeps the per-user
/// settings every request needs (environment, JWT, device id, guest or signed in), owns one
/// request manager, and hands each caller back a copy of its request with `response` filled in.
/// Also relays connectivity reports from the reachability handler to `onNetworkStateChanged`, and
/// lets sends made while offline wait for connectivity (at most their 60 s time-out). The clients
/// built from one dependencies value send over one HTTPS transport, and so share its connectivity
/// state: they hear the same reports. A client created later does not reset it, and one going
/// away leaves the others' requests running.
///
/// Threading: confined to the main queue (the dependencies' queue): every method but
/// `didNetworkStateChanged` is called on it (checked in debug builds), and every completion runs
/// on it as a later task, never inside the call that caused it. `didNetworkStateChanged` hands the
/// connectivity straight to the request manager's transport, which keeps it behind its own lock.
class KRNetworkClient : public NetworkReachabilityHandlerDelegate,
                        public std::enable_shared_from_this<KRNetworkClient> {
public:
    using NetworkStateCallback = std::function<void(bool isConnected)>;

    /// A new client on the queue (required), HTTPS routing and reachability handler of
    /// `dependencies` (without one, no connectivity reports: the client stays connected). It
    /// registers with the handler and restarts its monitor.
    static std::shared_ptr<KRNetworkClient> create(KRDependencies dependencies);

    ~KRNetworkClient() override;
    KRNetworkClient(const KRNetworkClient&) = delete;
    KRNetworkClient& operator=(const KRNetworkClient&) = delete;

    void configureEnvironment(KRApiServer serverEnvironment);
    void setJwtToken(std::string jwtToken);
    void setDeviceId(std::string deviceId);
    void setCurrentUserType(KRCurrentUserType userType);
    std::string getJwtToken() const;
    /// (The name is spelled so.)
    KRApiServer getServerEnvironMent() const;
    std::string getDeviceId() const;
    KRCurrentUserType getCurrentUserType() const;

    /// Receives every connectivity report, on the main queue.
    void setOnNetworkStateChanged(NetworkStateCallback callback);

    /// Names this client's entry in the reachability handler's table.
    const std::string& identifier() const { return identifier_; }
    /// The queue every completion and report runs on.
    const std::shared_ptr<platform::DispatchQueue>& queue() const {
        return requestManager_->queue();
    }

    /// Sends one request with the settings as they are now; calls `completion` exactly once with
    /// a copy of `request` whose `response` holds the outcome.
    template <KRAPIRequestType R>
    void sendAPIRequest(const R& request, std::function<void(R)> completion) {
        KR_DCHECK_RUN_ON(checker_);
        const Settings& settings = settings_;
        auto holder = std::make_shared<R>(request);
        requestManager_->sendRequest(
            request, settings.serverEnvironment, settings.deviceId, settings.jwtToken,
            settings.currentUserType == KRCurrentUserType::guest,
            [holder, completion = std::move(completion)](typename R::ResultType result) {
                holder->response = std::move(result);
                completion(std::move(*holder));
            });
    }

    /// Passes the report on to `onNetworkStateChanged`, unfiltered, on this client's queue (as a
    /// later task when it arrives from outside that queue's tasks). Any thread.
    void didNetworkStateChanged(bool isConnected) override;

private:
    struct Settings {
        KRApiServer serverEnvironment = KRApiServer::production;
        std::string jwtToken;
        std::string deviceId;
        KRCurrentUserType currentUserType = KRCurrentUserType::guest;
    };

    explicit KRNetworkClient(KRDependencies dependencies);
    void reportNetworkState(bool isConnected);

    const std::string identifier_;
    platform::SequenceChecker checker_;
    Settings settings_;
    NetworkStateCallback onNetworkStateChanged_;
    // Also told every connectivity report (from whatever thread it comes), so the transport
    // holds sends back while offline.
    const std::unique_ptr<KRApiRequestManager> requestManager_;
};

}  // namespace kr
