#include "platform/UI/View.h"

#include <algorithm>
#include <mutex>

namespace kr::platform {

namespace {

// One lock for every view tree: a move touches two parents and a child at once, and a single
// lock cannot be taken in two orders.
std::mutex& treeMutex() {
    static std::mutex mutex;
    return mutex;
}

// Takes `child` out of `parent`'s list and hands back the owning pointer, so that the caller can
// release it after unlocking (a view's destructor must not run under the tree lock).
std::shared_ptr<View> detach(std::vector<std::shared_ptr<View>>& list, const View* child) {
    auto it = std::find_if(list.begin(), list.end(),
                           [child](const std::shared_ptr<View>& v) { return v.get() == child; });
    if (it == list.end()) {
        return nullptr;
    }
    std::shared_ptr<View> owned = std::move(*it);
    list.erase(it);
    return owned;
}

}  // namespace

std::shared_ptr<View> View::create() {
    return std::shared_ptr<View>(new View());
}

bool View::isDescendantOf(const View* ancestor) const {
    for (std::shared_ptr<View> node = superview_.lock(); node; node = node->superview_.lock()) {
        if (node.get() == ancestor) {
            return true;
        }
    }
    return false;
}

void View::addSubview(std::shared_ptr<View> view) {
    if (!view || view.get() == this) {
        return;
    }
    std::shared_ptr<View> released;
    {
        std::lock_guard lock(treeMutex());
        if (isDescendantOf(view.get())) {
            return;
        }
        if (auto oldParent = view->superview_.lock()) {
            released = detach(oldParent->subviews_, view.get());
        }
        view->superview_ = weak_from_this();
        subviews_.push_back(std::move(view));
    }
}

void View::removeFromSuperview() {
    std::shared_ptr<View> released;
    {
        std::lock_guard lock(treeMutex());
        if (auto parent = superview_.lock()) {
            released = detach(parent->subviews_, this);
        }
        superview_.reset();
    }
}

std::shared_ptr<View> View::superview() const {
    std::lock_guard lock(treeMutex());
    return superview_.lock();
}

std::vector<std::shared_ptr<View>> View::subviews() const {
    std::lock_guard lock(treeMutex());
    return subviews_;
}

}  // namespace kr::platform
