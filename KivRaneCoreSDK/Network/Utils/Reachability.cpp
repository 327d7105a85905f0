#include "KivRaneCoreSDK/Network/Utils/Reachability.h"

#include <utility>

#include "KivRaneCoreSDK/Network/Utils/SystemReachabilityFlagSource.h"
#include "platform/Dispatch/MainQueue.h"

namespace kr {

Reachability::Reachability(std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
                           std::shared_ptr<platform::DispatchQueue> notificationQueue)
    : reachabilityRef_(std::move(reachabilityRef)),
      reachabilitySerialQueue_(platform::SerialQueue::create("kr.reachability")),
      notificationQueue_(std::move(notificationQueue)),
      notificationCenter_(&platform::NotificationCenter::defaultCenter()) {}

std::shared_ptr<Reachability> Reachability::create(
    std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
    std::shared_ptr<platform::DispatchQueue> notificationQueue) {
    return std::make_shared<Reachability>(std::move(reachabilityRef), std::move(notificationQueue));
}

Result<std::shared_ptr<Reachability>, ReachabilityError> Reachability::create(
    std::shared_ptr<platform::DispatchQueue> notificationQueue) {
    auto source = SystemReachabilityFlagSource::create();
    if (!source.ok()) {
        return Failure{ReachabilityError{ReachabilityError::Kind::failedToCreateWithAddress,
                                         source.error(), "0.0.0.0"}};
    }
    if (!notificationQueue) {
        notificationQueue = platform::MainQueue::current();
    }
    return create(std::move(source.value()), std::move(notificationQueue));
}

Reachability::~Reachability() {
    std::lock_guard lock(lifecycleMutex_);
    stopNotifierLocked();
}

Reachability::Connection Reachability::connection(ReachabilityFlags flags) {
    if (!flags.isReachableFlagSet()) {
        return Connection::unavailable;
    }
    Connection result = Connection::unavailable;
    if (!flags.isConnectionRequiredFlagSet()) {
        result = Connection::wifi;
    }
    if (flags.isConnectionOnTrafficOrDemandFlagSet() && !flags.isInterventionRequiredFlagSet()) {
        result = Connection::wifi;
    }
    if (flags.isOnWWANFlagSet()) {
        result = Connection::cellular;
    }
    return result;
}

std::string_view Reachability::description(Connection connection) {
    switch (connection) {
        case Connection::wifi:
            return "WiFi";
        case Connection::cellular:
            return "Cellular";
        case Connection::unavailable:
            break;
    }
    return "No Connection";
}

std::string_view Reachability::description(NetworkStatus status) {
    switch (status) {
        case NetworkStatus::reachableViaWiFi:
            return "WiFi";
        case NetworkStatus::reachableViaWWAN:
            return "Cellular";
        case NetworkStatus::notReachable:
            break;
    }
    return "No Connection";
}

void Reachability::setWhenReachable(Listener listener) {
    std::lock_guard lock(mutex_);
    whenReachable_ = std::move(listener);
}

void Reachability::setWhenUnreachable(Listener listener) {
    std::lock_guard lock(mutex_);
    whenUnreachable_ = std::move(listener);
}

void Reachability::setAllowsCellularConnection(bool allows) {
    allowsCellularConnection_ = allows;
}

bool Reachability::allowsCellularConnection() const {
    return allowsCellularConnection_;
}

void Reachability::setNotificationCenter(platform::NotificationCenter& center) {
    notificationCenter_ = &center;
}

platform::NotificationCenter& Reachability::notificationCenter() const {
    return *notificationCenter_.load();
}

bool Reachability::notifierRunning() const {
    return notifierRunning_;
}

std::optional<ReachabilityFlags> Reachability::flags() const {
    std::lock_guard lock(mutex_);
    return flags_;
}

Result<Unit, ReachabilityError> Reachability::startNotifier() {
    std::lock_guard lock(lifecycleMutex_);
    if (notifierRunning_) {
        return Unit{};
    }
    // The source holds the monitor weakly, so a late delivery after release does nothing.
    std::weak_ptr<Reachability> weakSelf = weak_from_this();
    auto callback = reachabilityRef_->setCallback([weakSelf](ReachabilityFlags newFlags) {
        if (auto self = weakSelf.lock()) {
            self->storeFlags(newFlags);
        }
    });
    if (!callback.ok()) {
        stopNotifierLocked();
        return Failure{
            ReachabilityError{ReachabilityError::Kind::unableToSetCallback, callback.error(), {}}};
    }
    auto queue = reachabilityRef_->setDispatchQueue(reachabilitySerialQueue_);
    if (!queue.ok()) {
        stopNotifierLocked();
        return Failure{ReachabilityError{
            ReachabilityError::Kind::unableToSetDispatchQueue, queue.error(), {}}};
    }
    auto read = readFlags(true);
    if (!read.ok()) {
        return read;
    }
    notifierRunning_ = true;
    return Unit{};
}

void Reachability::stopNotifier() {
    std::lock_guard lock(lifecycleMutex_);
    stopNotifierLocked();
}

void Reachability::stopNotifierLocked() {
    // Stopping goes on whatever the source answers: there is nobody left to tell.
    (void)reachabilityRef_->setCallback({});
    (void)reachabilityRef_->setDispatchQueue(nullptr);
    notifierRunning_ = false;
}

Result<Unit, ReachabilityError> Reachability::readFlags(bool lifecycleLocked) {
    std::optional<Result<ReachabilityFlags, std::int32_t>> read;
    // sync() runs inline when already on the serial queue, so a read from a delivery cannot
    // deadlock.
    reachabilitySerialQueue_->sync([&] {
        read.emplace(reachabilityRef_->getFlags());
        if (read->ok()) {
            storeFlags(read->value());
        }
    });
    if (read->ok()) {
        return Unit{};
    }
    if (lifecycleLocked) {
        stopNotifierLocked();
    } else {
        stopNotifier();
    }
    return Failure{ReachabilityError{ReachabilityError::Kind::unableToGetFlags, read->error(), {}}};
}

void Reachability::storeFlags(ReachabilityFlags newFlags) {
    {
        std::lock_guard lock(mutex_);
        if (flags_ == newFlags) {
            return;
        }
        flags_ = newFlags;
    }
    announceChange();
}

void Reachability::announceChange() {
    std::weak_ptr<Reachability> weakSelf = weak_from_this();
    auto task = [weakSelf] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        const bool reachable = self->connection() != Connection::unavailable;
        Listener listener;
        {
            std::lock_guard lock(self->mutex_);
            listener = reachable ? self->whenReachable_ : self->whenUnreachable_;
        }
        if (listener) {
            listener(*self);
        }
        self->notificationCenter().post(std::string(kReachabilityChangedNotification), self.get());
    };
    if (notificationQueue_) {
        notificationQueue_->post(std::move(task));
    } else {
        task();
    }
}

Reachability::Connection Reachability::connection() {
    if (!flags()) {
        (void)readFlags(false);  // a failed read leaves no flags: reported as unavailable below
    }
    const auto current = flags();
    if (!current) {
        return Connection::unavailable;
    }
    switch (connection(*current)) {
        case Connection::unavailable:
            return Connection::unavailable;
        case Connection::cellular:
            return allowsCellularConnection_ ? Connection::cellular : Connection::unavailable;
        case Connection::wifi:
            break;
    }
    return Connection::wifi;
}

std::string Reachability::description() const {
    const auto current = flags();
    return current ? current->description() : "unavailable flags";
}

std::string Reachability::currentReachabilityString() {
    return std::string(description(connection()));
}

Reachability::Connection Reachability::currentReachabilityStatus() {
    return connection();
}

bool Reachability::isReachable() {
    return connection() != Connection::unavailable;
}

bool Reachability::isReachableViaWWAN() {
    return connection() == Connection::cellular;
}

bool Reachability::isReachableViaWiFi() {
    return connection() == Connection::wifi;
}

}  // namespace kr
