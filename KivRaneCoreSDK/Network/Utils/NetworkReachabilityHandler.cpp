#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"

#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

struct NetworkReachabilityHandler::State {
    State(MonitorFactory make, std::shared_ptr<const platform::DispatchQueue> queue)
        : factory(std::move(make)), checker(std::move(queue)) {}

    const MonitorFactory factory;
    platform::SequenceChecker checker;
    // The handler's monitors post their changes here; declared before the monitor so it
    // outlives it.
    platform::NotificationCenter center;
    std::shared_ptr<Reachability> reachability;
    platform::ObserverToken observation = 0;
    std::map<std::string, std::weak_ptr<NetworkReachabilityHandlerDelegate>> delegates;
};

NetworkReachabilityHandler::NetworkReachabilityHandler(
    MonitorFactory factory, std::shared_ptr<const platform::DispatchQueue> queue)
    : state_(std::make_unique<State>(std::move(factory), std::move(queue))) {}

NetworkReachabilityHandler::~NetworkReachabilityHandler() = default;

const std::shared_ptr<NetworkReachabilityHandler>& NetworkReachabilityHandler::shared() {
    // Made once and never released, so callers may keep it for the process's life.
    static const auto* const handler = new std::shared_ptr<NetworkReachabilityHandler>(create(
        [] { return Reachability::create(platform::MainQueue::current()); },
        platform::MainQueue::current()));
    return *handler;
}

std::shared_ptr<NetworkReachabilityHandler> NetworkReachabilityHandler::create(
    MonitorFactory factory, std::shared_ptr<const platform::DispatchQueue> queue) {
    return std::shared_ptr<NetworkReachabilityHandler>(
        new NetworkReachabilityHandler(std::move(factory), std::move(queue)));
}

void NetworkReachabilityHandler::startObserving() {
    KR_DCHECK_RUN_ON(state_->checker);
    if (!state_->factory) {
        return;
    }
    auto made = state_->factory();
    if (!made.ok() || !made.value()) {
        return;  // the previous monitor and registration stay as they were
    }
    std::shared_ptr<Reachability> monitor = std::move(made.value());

    auto& center = state_->center;
    monitor->setNotificationCenter(center);
    std::weak_ptr<NetworkReachabilityHandler> weakSelf = weak_from_this();
    const platform::ObserverToken token =
        center.addObserver(std::string(kReachabilityChangedNotification), monitor.get(),
                           [weakSelf](const platform::Notification& note) {
                               if (auto self = weakSelf.lock()) {
                                   self->reachabilityChanged(note);
                               }
                           });
    std::shared_ptr<Reachability> previous = std::exchange(state_->reachability, monitor);
    const platform::ObserverToken previousToken = std::exchange(state_->observation, token);
    // The replaced monitor can no longer post; its registration would only name a dead sender.
    if (previousToken != 0) {
        center.removeObserver(previousToken);
    }
    previous.reset();
    (void)monitor->startNotifier();  // a failed start leaves the new monitor stored but stopped
}

void NetworkReachabilityHandler::reachabilityChanged(const platform::Notification& note) {
    KR_DCHECK_RUN_ON(state_->checker);
    const std::shared_ptr<Reachability> monitor = state_->reachability;
    if (!monitor || note.object != monitor.get()) {
        return;
    }
    std::vector<std::weak_ptr<NetworkReachabilityHandlerDelegate>> snapshot;
    for (auto it = state_->delegates.begin(); it != state_->delegates.end();) {
        if (it->second.expired()) {
            it = state_->delegates.erase(it);
        } else {
            snapshot.push_back(it->second);
            ++it;
        }
    }
    const bool isConnected = monitor->connection() != Reachability::Connection::unavailable;
    for (const auto& weakDelegate : snapshot) {
        // Re-checked per call: a delegate released by an earlier one hears nothing.
        if (auto delegate = weakDelegate.lock()) {
            delegate->didNetworkStateChanged(isConnected);
        }
    }
}

void NetworkReachabilityHandler::addDelegates(
    std::weak_ptr<NetworkReachabilityHandlerDelegate> delegate, const std::string& identifier) {
    KR_DCHECK_RUN_ON(state_->checker);
    state_->delegates[identifier] = std::move(delegate);
}

void NetworkReachabilityHandler::removeDelegate(const std::string& identifier) {
    KR_DCHECK_RUN_ON(state_->checker);
    state_->delegates.erase(identifier);
}

std::size_t NetworkReachabilityHandler::delegateCount() const {
    KR_DCHECK_RUN_ON(state_->checker);
    std::size_t count = 0;
    for (const auto& entry : state_->delegates) {
        count += entry.second.expired() ? 0 : 1;
    }
    return count;
}

}  // namespace kr
