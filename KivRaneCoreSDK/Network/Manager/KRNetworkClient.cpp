#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Device/DeviceIdentity.h"

namespace kr {

KRNetworkClient::KRNetworkClient()
    : identifier_(platform::DeviceIdentity::makeUuid()),
      connected_(std::make_shared<std::atomic<bool>>(true)) {
    requestManager_ = std::make_unique<KRApiRequestManager>(
        [connected = connected_] { return connected->load(std::memory_order_relaxed); });
}

KRNetworkClient::~KRNetworkClient() = default;

std::shared_ptr<KRNetworkClient> KRNetworkClient::create() {
    return create(&NetworkReachabilityHandler::instance());
}

std::shared_ptr<KRNetworkClient> KRNetworkClient::create(NetworkReachabilityHandler* handler) {
    std::shared_ptr<KRNetworkClient> client(new KRNetworkClient());
    if (handler != nullptr) {
        handler->addDelegates(std::weak_ptr<NetworkReachabilityHandlerDelegate>(client),
                              client->identifier_);
        handler->startObserving();
    }
    return client;
}

void KRNetworkClient::configureEnvironment(KRApiServer serverEnvironment) {
    std::lock_guard lock(mutex_);
    settings_.serverEnvironment = serverEnvironment;
}

void KRNetworkClient::setJwtToken(std::string jwtToken) {
    std::lock_guard lock(mutex_);
    settings_.jwtToken = std::move(jwtToken);
}

void KRNetworkClient::setDeviceId(std::string deviceId) {
    std::lock_guard lock(mutex_);
    settings_.deviceId = std::move(deviceId);
}

void KRNetworkClient::setCurrentUserType(KRCurrentUserType userType) {
    std::lock_guard lock(mutex_);
    settings_.currentUserType = userType;
}

std::string KRNetworkClient::getJwtToken() const {
    std::lock_guard lock(mutex_);
    return settings_.jwtToken;
}

KRApiServer KRNetworkClient::getServerEnvironMent() const {
    std::lock_guard lock(mutex_);
    return settings_.serverEnvironment;
}

std::string KRNetworkClient::getDeviceId() const {
    std::lock_guard lock(mutex_);
    return settings_.deviceId;
}

KRCurrentUserType KRNetworkClient::getCurrentUserType() const {
    std::lock_guard lock(mutex_);
    return settings_.currentUserType;
}

void KRNetworkClient::setOnNetworkStateChanged(NetworkStateCallback callback) {
    std::lock_guard lock(mutex_);
    onNetworkStateChanged_ = std::move(callback);
}

KRNetworkClient::Settings KRNetworkClient::snapshot() const {
    std::lock_guard lock(mutex_);
    return settings_;
}

void KRNetworkClient::didNetworkStateChanged(bool isConnected) {
    connected_->store(isConnected, std::memory_order_relaxed);
    NetworkStateCallback callback;
    {
        std::lock_guard lock(mutex_);
        callback = onNetworkStateChanged_;
    }
    if (callback) {
        callback(isConnected);
    }
}

}  // namespace kr
