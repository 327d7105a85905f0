#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Device/DeviceIdentity.h"

namespace kr {

KRNetworkClient::KRNetworkClient(KRDependencies dependencies)
    : identifier_(platform::DeviceIdentity::makeUuid()),
      checker_(dependencies.queue),
      requestManager_(std::make_unique<KRApiRequestManager>(std::move(dependencies))) {}

KRNetworkClient::~KRNetworkClient() = default;

std::shared_ptr<KRNetworkClient> KRNetworkClient::create(KRDependencies dependencies) {
    auto handler = dependencies.reachability;
    std::shared_ptr<KRNetworkClient> client(new KRNetworkClient(std::move(dependencies)));
    // Without a handler connectivity is never reported, so the client stays connected.
    if (handler) {
        handler->addDelegates(std::weak_ptr<NetworkReachabilityHandlerDelegate>(client),
                              client->identifier_);
        handler->startObserving();
    }
    return client;
}

void KRNetworkClient::configureEnvironment(KRApiServer serverEnvironment) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.serverEnvironment = serverEnvironment;
}

void KRNetworkClient::setJwtToken(std::string jwtToken) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.jwtToken = std::move(jwtToken);
}

void KRNetworkClient::setDeviceId(std::string deviceId) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.deviceId = std::move(deviceId);
}

void KRNetworkClient::setCurrentUserType(KRCurrentUserType userType) {
    KR_DCHECK_RUN_ON(checker_);
    settings_.currentUserType = userType;
}

std::string KRNetworkClient::getJwtToken() const {
    KR_DCHECK_RUN_ON(checker_);
    return settings_.jwtToken;
}

KRApiServer KRNetworkClient::getServerEnvironMent() const {
    KR_DCHECK_RUN_ON(checker_);
    return settings_.serverEnvironment;
}

std::string KRNetworkClient::getDeviceId() const {
    KR_DCHECK_RUN_ON(checker_);
    return settings_.deviceId;
}

KRCurrentUserType KRNetworkClient::getCurrentUserType() const {
    KR_DCHECK_RUN_ON(checker_);
    return settings_.currentUserType;
}

void KRNetworkClient::setOnNetworkStateChanged(NetworkStateCallback callback) {
    KR_DCHECK_RUN_ON(checker_);
    onNetworkStateChanged_ = std::move(callback);
}

void KRNetworkClient::didNetworkStateChanged(bool isConnected) {
    // The transport hears of the change at once, so a send made after this report waits for the
    // network; the callback runs on this client's queue, also when the report came from a
    // handler that announces on another queue.
    requestManager_->setConnected(isConnected);
    if (!queue()->isCurrent()) {
        queue()->post([weak = weak_from_this(), isConnected] {
            if (auto self = weak.lock()) {
                self->reportNetworkState(isConnected);
            }
        });
        return;
    }
    reportNetworkState(isConnected);
}

void KRNetworkClient::reportNetworkState(bool isConnected) {
    KR_DCHECK_RUN_ON(checker_);
    if (onNetworkStateChanged_) {
        // A copy: the callback may replace itself.
        const NetworkStateCallback callback = onNetworkStateChanged_;
        callback(isConnected);
    }
}

}  // namespace kr
