#pragma once

#include <memory>
#include <vector>

namespace kr::platform {

/// A stand-in for a platform view: a node in a tree of views. A view owns its subviews and refers
/// to its superview weakly, so dropping the last owner of a root releases the whole tree.
/// Threading: the tree may be touched from any thread; each call is atomic on its own.
class View : public std::enable_shared_from_this<View> {
public:
    static std::shared_ptr<View> create();
    virtual ~View() = default;

    View(const View&) = delete;
    View& operator=(const View&) = delete;

    /// Appends `view` as the last subview, first taking it from its old superview. Adding a view
    /// to itself or to one of its own descendants is ignored (it would make a cycle).
    void addSubview(std::shared_ptr<View> view);
    /// Detaches this view from its superview; does nothing when it has none.
    void removeFromSuperview();
    /// The superview, or null when detached or when the superview is gone.
    std::shared_ptr<View> superview() const;
    /// A snapshot of the subviews, back to front.
    std::vector<std::shared_ptr<View>> subviews() const;

protected:
    View() = default;

private:
    bool isDescendantOf(const View* ancestor) const;

    std::weak_ptr<View> superview_;
    std::vector<std::shared_ptr<View>> subviews_;
};

}  // namespace kr::platform
