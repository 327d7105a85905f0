#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Enums/KRCurrentUserType.h"
#include "KivRaneCoreSDK/Network/Manager/KRApiRequestManager.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandlerDelegate.h"

namespace kr {

class NetworkReachabilityHandler;

/// The single object through which the library sends its REST requests. Keeps the per-user
/// settings every request needs (environment, JWT, device id, guest or signed in), owns one
/// request manager, and hands each caller back a copy of its request with `response` filled in.
/// Also relays connectivity reports from the reachability handler to `onNetworkStateChanged`, and
/// lets sends made while offline wait for connectivity (at most their 60 s time-out).
///
/// Threading: the settings are guarded and may be read and written from any thread;
/// `sendAPIRequest` may be called from any thread (its completion runs on the main queue, or at
/// once on the calling thread when the request cannot be built); connectivity reports arrive on
/// the main queue.
class KRNetworkClient : public NetworkReachabilityHandlerDelegate,
                        public std::enable_shared_from_this<KRNetworkClient> {
public:
    using NetworkStateCallback = std::function<void(bool isConnected)>;

    /// A new client, registered with `NetworkReachabilityHandler::instance()`, whose monitor it
    /// restarts.
    static std::shared_ptr<KRNetworkClient> create();
    /// The same with another handler; nullptr registers nowhere (tests).
    static std::shared_ptr<KRNetworkClient> create(NetworkReachabilityHandler* handler);

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

    /// Receives every connectivity report, on the main queue; set once by the owner.
    void setOnNetworkStateChanged(NetworkStateCallback callback);

    /// The key under which the client is registered with the reachability handler.
    const std::string& identifier() const { return identifier_; }

    /// Sends one request with the settings as they are now; calls `completion` exactly once with
    /// a copy of `request` whose `response` holds the outcome.
    template <KRAPIRequestType R>
    void sendAPIRequest(const R& request, std::function<void(R)> completion) {
        const Settings settings = snapshot();
        auto holder = std::make_shared<R>(request);
        requestManager_->sendRequest(
            request, settings.serverEnvironment, settings.deviceId, settings.jwtToken,
            settings.currentUserType == KRCurrentUserType::guest,
            [holder, completion = std::move(completion)](typename R::ResultType result) {
                holder->response = std::move(result);
                completion(std::move(*holder));
            });
    }

    /// Passes the report on to `onNetworkStateChanged`, unfiltered.
    void didNetworkStateChanged(bool isConnected) override;

private:
    struct Settings {
        KRApiServer serverEnvironment = KRApiServer::production;
        std::string jwtToken;
        std::string deviceId;
        KRCurrentUserType currentUserType = KRCurrentUserType::guest;
    };

    KRNetworkClient();
    Settings snapshot() const;

    const std::string identifier_;
    mutable std::mutex mutex_;  // guards settings_ and onNetworkStateChanged_
    Settings settings_;
    NetworkStateCallback onNetworkStateChanged_;
    // Last reported connectivity, read by the transport's I/O thread; connected until told not.
    std::shared_ptr<std::atomic<bool>> connected_;
    std::unique_ptr<KRApiRequestManager> requestManager_;
};

}  // namespace kr
