#pragma once

#include <concepts>
#include <functional>
#include <memory>

#include "platform/UI/View.h"

namespace kr {

class KRClient;

/// The contract of a host app's own virtual-background picker. It is met by a type, not an
/// object: the type offers
///     static void presentView(std::shared_ptr<kr::platform::View> parentView,
///                             kr::KRClient* meetingClient,   // may be null
///                             std::function<void()> onViewClose);
/// which shows the picker inside or over `parentView` for the given client and calls
/// `onViewClose` when the picker is dismissed (it may keep the closure and call it later, after
/// `presentView` has returned). The library only declares the contract; it never calls it.
template <class T>
concept KRVBGViewProtocol = requires(std::shared_ptr<platform::View> parentView,
                                     KRClient* meetingClient, std::function<void()> onViewClose) {
    { T::presentView(parentView, meetingClient, onViewClose) } -> std::same_as<void>;
};

}  // namespace kr
