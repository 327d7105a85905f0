#include "KivRaneCoreSDK/Chat/KRChatMessageList.h"

#include <bit>
#include <utility>

namespace kr {

namespace chat_detail {

namespace {

struct Place {
    std::size_t block;
    std::size_t offset;
};

// Block b starts at kFirstBlock * (2^b - 1).
Place locate(std::size_t index) {
    const std::size_t scaled = index / MessageBlocks::kFirstBlock + 1;
    const std::size_t block = static_cast<std::size_t>(std::bit_width(scaled)) - 1;
    return {block, index - MessageBlocks::kFirstBlock * ((std::size_t{1} << block) - 1)};
}

}  // namespace

const KRChatMessage& MessageBlocks::at(std::size_t index) const {
    const Place place = locate(index);
    return *blocks[place.block][place.offset];
}

std::shared_ptr<const KRChatMessage>& MessageBlocks::slot(std::size_t index) {
    const Place place = locate(index);
    auto& block = blocks[place.block];
    if (!block) {
        block = std::make_unique<std::shared_ptr<const KRChatMessage>[]>(kFirstBlock
                                                                          << place.block);
    }
    return block[place.offset];
}

}  // namespace chat_detail

void KRChatMessageLog::append(std::shared_ptr<const KRChatMessage> message) {
    blocks_->slot(size_) = std::move(message);
    ++size_;
}

}  // namespace kr
