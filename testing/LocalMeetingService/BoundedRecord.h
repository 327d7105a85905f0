#pragma once

#include <cstddef>
#include <deque>
#include <utility>
#include <vector>

namespace kr::test {

/// The most recent `capacity` items of a stream the service records for tests to inspect, and a
/// count of every item ever added. A long-running service (a load benchmark, the example host)
/// would otherwise keep every request and frame it ever saw; once full, each new item pushes out
/// the oldest one. Not thread-safe: the owner's lock guards it.
template <class T>
class BoundedRecord {
public:
    explicit BoundedRecord(std::size_t capacity) : capacity_(capacity) {}

    void add(T item) {
        if (capacity_ == 0) {
            ++total_;
            return;
        }
        if (items_.size() == capacity_) {
            items_.pop_front();
        }
        items_.push_back(std::move(item));
        ++total_;
    }

    /// The kept item at `index`, oldest first, to complete it after it was added.
    T& at(std::size_t index) { return items_.at(index); }
    /// The kept items, oldest first.
    const std::deque<T>& items() const { return items_; }
    std::vector<T> copy() const { return {items_.begin(), items_.end()}; }
    /// Every item ever added, kept or not.
    std::size_t total() const { return total_; }
    std::size_t capacity() const { return capacity_; }

private:
    std::size_t capacity_;
    std::deque<T> items_;
    std::size_t total_ = 0;
};

}  // namespace kr::test
