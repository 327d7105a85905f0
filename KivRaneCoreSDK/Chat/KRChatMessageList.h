#pragma once

#include <array>
#include <compare>
#include <cstddef>
#include <iterator>
#include <memory>
#include <vector>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"

namespace kr {

namespace chat_detail {

/// Append-only storage of chat messages in blocks that never move: block b holds
/// `kFirstBlock << b` messages, so a message keeps its place however many follow it. A writer
/// fills only slots past every list already handed out, so no list ever sees a slot change.
struct MessageBlocks {
    static constexpr std::size_t kFirstBlock = 16;
    static constexpr std::size_t kMaxBlocks = 48;  // room for more messages than memory holds

    std::array<std::unique_ptr<std::shared_ptr<const KRChatMessage>[]>, kMaxBlocks> blocks;

    const KRChatMessage& at(std::size_t index) const;
    /// The slot of `index`, making its block when it is the first of one.
    std::shared_ptr<const KRChatMessage>& slot(std::size_t index);
};

}  // namespace chat_detail

/// A list of chat messages that never changes once handed out: taking one costs the same
/// whatever its length, and its messages are shared with the chat's cache, not copied. Messages
/// the chat adds later do not appear in a list taken earlier. A list may be read on any thread,
/// also while the chat goes on adding messages.
class KRChatMessageList {
public:
    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = KRChatMessage;
        using difference_type = std::ptrdiff_t;
        using pointer = const KRChatMessage*;
        using reference = const KRChatMessage&;

        const_iterator() = default;
        reference operator*() const { return (*list_)[index_]; }
        pointer operator->() const { return &(*list_)[index_]; }
        reference operator[](difference_type n) const { return *(*this + n); }
        const_iterator& operator++() { return *this += 1; }
        const_iterator operator++(int) {
            auto old = *this;
            ++*this;
            return old;
        }
        const_iterator& operator--() { return *this -= 1; }
        const_iterator operator--(int) {
            auto old = *this;
            --*this;
            return old;
        }
        const_iterator& operator+=(difference_type n) {
            index_ = static_cast<std::size_t>(static_cast<difference_type>(index_) + n);
            return *this;
        }
        const_iterator& operator-=(difference_type n) { return *this += -n; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) {
            return static_cast<difference_type>(a.index_) - static_cast<difference_type>(b.index_);
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) {
            return a.index_ == b.index_;
        }
        friend std::strong_ordering operator<=>(const const_iterator& a, const const_iterator& b) {
            return a.index_ <=> b.index_;
        }

    private:
        friend class KRChatMessageList;
        const_iterator(const KRChatMessageList* list, std::size_t index)
            : list_(list), index_(index) {}
        const KRChatMessageList* list_ = nullptr;
        std::size_t index_ = 0;
    };
    using iterator = const_iterator;
    using value_type = KRChatMessage;
    using size_type = std::size_t;
    using difference_type = std::ptrdiff_t;
    using reference = const KRChatMessage&;
    using const_reference = const KRChatMessage&;

    /// An empty list.
    KRChatMessageList() = default;

    std::size_t size() const noexcept { return size_; }
    bool empty() const noexcept { return size_ == 0; }
    /// The message at `index`, which must be below `size()`.
    const KRChatMessage& operator[](std::size_t index) const { return blocks_->at(index); }
    const KRChatMessage& front() const { return (*this)[0]; }
    const KRChatMessage& back() const { return (*this)[size_ - 1]; }
    const_iterator begin() const { return {this, 0}; }
    const_iterator end() const { return {this, size_}; }
    /// The messages copied into a vector of their own.
    std::vector<KRChatMessage> toVector() const { return {begin(), end()}; }

private:
    friend class KRChatMessageLog;
    KRChatMessageList(std::shared_ptr<const chat_detail::MessageBlocks> blocks, std::size_t size)
        : blocks_(std::move(blocks)), size_(size) {}

    std::shared_ptr<const chat_detail::MessageBlocks> blocks_;
    std::size_t size_ = 0;
};

/// The growing side of `KRChatMessageList`: one writer appends, and hands out lists of what it
/// holds so far. Not thread-safe itself; the lists it hands out are.
class KRChatMessageLog {
public:
    void append(std::shared_ptr<const KRChatMessage> message);
    std::size_t size() const noexcept { return size_; }
    const KRChatMessage& operator[](std::size_t index) const { return blocks_->at(index); }
    KRChatMessageList list() const { return {blocks_, size_}; }

private:
    std::shared_ptr<chat_detail::MessageBlocks> blocks_ =
        std::make_shared<chat_detail::MessageBlocks>();
    std::size_t size_ = 0;
};

}  // namespace kr
