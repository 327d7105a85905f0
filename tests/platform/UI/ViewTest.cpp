#include "platform/UI/View.h"

#include <gtest/gtest.h>

#include <vector>

namespace kr::platform {
namespace {

using Views = std::vector<std::shared_ptr<View>>;

TEST(ViewTest, AddingMovesAViewFromItsOldParent) {
    auto a = View::create();
    auto b = View::create();
    auto child = View::create();
    auto other = View::create();

    a->addSubview(child);
    a->addSubview(other);
    EXPECT_EQ(child->superview(), a);
    EXPECT_EQ(a->subviews(), (Views{child, other}));

    b->addSubview(child);
    EXPECT_EQ(child->superview(), b);
    EXPECT_EQ(a->subviews(), (Views{other}));
    EXPECT_EQ(b->subviews(), (Views{child}));

    b->addSubview(other);
    b->addSubview(child);  // already there: moves to the front-most (last) place
    EXPECT_EQ(b->subviews(), (Views{other, child}));
    EXPECT_TRUE(a->subviews().empty());
}

TEST(ViewTest, RemovingFromSuperview) {
    auto parent = View::create();
    auto child = View::create();
    child->removeFromSuperview();  // no parent: nothing happens
    parent->addSubview(child);
    child->removeFromSuperview();
    EXPECT_EQ(child->superview(), nullptr);
    EXPECT_TRUE(parent->subviews().empty());

    // The parent's list may hold the only owner of the view being removed.
    parent->addSubview(View::create());
    std::weak_ptr<View> only = parent->subviews().front();
    only.lock()->removeFromSuperview();
    EXPECT_TRUE(only.expired());
}

TEST(ViewTest, CyclesAndNullAreRefused) {
    auto root = View::create();
    auto mid = View::create();
    auto leaf = View::create();
    root->addSubview(mid);
    mid->addSubview(leaf);

    leaf->addSubview(root);  // root is an ancestor of leaf
    mid->addSubview(mid);
    mid->addSubview(nullptr);
    EXPECT_EQ(root->superview(), nullptr);
    EXPECT_EQ(mid->subviews(), (Views{leaf}));
    EXPECT_TRUE(leaf->subviews().empty());
}

TEST(ViewTest, SuperviewIsHeldWeakly) {
    auto child = View::create();
    std::weak_ptr<View> weakParent;
    {
        auto parent = View::create();
        parent->addSubview(child);
        weakParent = parent;
    }
    EXPECT_TRUE(weakParent.expired());
    EXPECT_EQ(child->superview(), nullptr);
    auto next = View::create();
    next->addSubview(child);  // an old parent that is gone is no obstacle
    EXPECT_EQ(child->superview(), next);
}

}  // namespace
}  // namespace kr::platform
