#include "KivRaneCoreSDK/Network/Utils/Reachability.h"

#include <cassert>
#include <utility>

#include "KivRaneCoreSDK/Network/Utils/SystemReachabilityFlagSource.h"

namespace kr {

Reachability::Reachability(std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
                           std::shared_ptr<platform::DispatchQueue> queue)
    : reachabilityRef_(std::move(reachabilityRef)), queue_(std::move(queue)), checker_(queue_) {
    assert(queue_);
}

std::shared_ptr<Reachability> Reachability::create(
    std::shared_ptr<ReachabilityFlagSource> reachabilityRef,
    std::shared_ptr<platform::DispatchQueue> queue) {
    return std::make_shared<Reachability>(std::move(reachabilityRef), std::move(queue));
}

Result<std::shared_ptr<Reachability>, ReachabilityError> Reachability::create(
    std::shared_ptr<platform::DispatchQueue> queue) {
    auto source = SystemReachabilityFlagSource::create();
    if (!source.ok()) {
        return Failure{ReachabilityError{ReachabilityError::Kind::failedToCreateWithAddress,
                                         source.error(), "0.0.0.0"}};
    }
    return create(std::move(source.value()), std::move(queue));
}

Reachability::~Reachability() {
    KR_DCHECK_RUN_ON(checker_);
    stopNotifier();
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
    KR_DCHECK_RUN_ON(checker_);
    whenReachable_ = std::move(listener);
}

void Reachability::setWhenUnreachable(Listener listener) {
    KR_DCHECK_RUN_ON(checker_);
    whenUnreachable_ = std::move(listener);
}

void Reachability::setAllowsCellularConnection(bool allows) {
    KR_DCHECK_RUN_ON(checker_);
    allowsCellularConnection_ = allows;
}

bool Reachability::allowsCellularConnection() const {
    KR_DCHECK_RUN_ON(checker_);
    return allowsCellularConnection_;
}

void Reachability::setNotificationCenter(platform::NotificationCenter& center) {
    KR_DCHECK_RUN_ON(checker_);
    notificationCenter_ = &center;
}

platform::NotificationCenter& Reachability::notificationCenter() const {
    KR_DCHECK_RUN_ON(checker_);
    return *notificationCenter_;
}

bool Reachability::notifierRunning() const {
    KR_DCHECK_RUN_ON(checker_);
    return notifierRunning_;
}

std::optional<ReachabilityFlags> Reachability::flags() const {
    KR_DCHECK_RUN_ON(checker_);
    return flags_;
}

Result<Unit, ReachabilityError> Reachability::startNotifier() {
    KR_DCHECK_RUN_ON(checker_);
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
        stopNotifier();
        return Failure{
            ReachabilityError{ReachabilityError::Kind::unableToSetCallback, callback.error(), {}}};
    }
    // Changes arrive as tasks of the monitor's own queue, wherever the source watches from.
    auto queue = reachabilityRef_->setDispatchQueue(queue_);
    if (!queue.ok()) {
        stopNotifier();
        return Failure{ReachabilityError{
            ReachabilityError::Kind::unableToSetDispatchQueue, queue.error(), {}}};
    }
    auto read = readFlags();
    if (!read.ok()) {
        return read;
    }
    notifierRunning_ = true;
    return Unit{};
}

void Reachability::stopNotifier() {
    KR_DCHECK_RUN_ON(checker_);
    // Stopping goes on whatever the source answers: there is nobody left to tell.
    (void)reachabilityRef_->setCallback({});
    (void)reachabilityRef_->setDispatchQueue(nullptr);
    notifierRunning_ = false;
}

Result<Unit, ReachabilityError> Reachability::readFlags() {
    auto read = reachabilityRef_->getFlags();
    if (read.ok()) {
        storeFlags(read.value());
        return Unit{};
    }
    stopNotifier();
    return Failure{ReachabilityError{ReachabilityError::Kind::unableToGetFlags, read.error(), {}}};
}

void Reachability::storeFlags(ReachabilityFlags newFlags) {
    KR_DCHECK_RUN_ON(checker_);
    if (flags_ == newFlags) {
        return;
    }
    flags_ = newFlags;
    announceChange();
}

void Reachability::announceChange() {
    // A later task, so listeners never run inside a start or a read.
    queue_->post([weakSelf = weak_from_this()] {
        auto self = weakSelf.lock();
        if (!self) {
            return;
        }
        const bool reachable = self->connection() != Connection::unavailable;
        // A copy: the listener may replace itself.
        const Listener listener = reachable ? self->whenReachable_ : self->whenUnreachable_;
        if (listener) {
            listener(*self);
        }
        self->notificationCenter().post(std::string(kReachabilityChangedNotification), self.get());
    });
}

Reachability::Connection Reachability::connection() {
    KR_DCHECK_RUN_ON(checker_);
    if (!flags_) {
        (void)readFlags();  // a failed read leaves no flags: reported as unavailable below
    }
    const auto current = flags_;
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
    KR_DCHECK_RUN_ON(checker_);
    const auto current = flags_;
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
