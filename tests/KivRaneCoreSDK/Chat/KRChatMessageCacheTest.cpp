// The message cache keeps insertion order and one entry per id while its index grows.

#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"

#include <gtest/gtest.h>

#include <string>

#include "ChatTestSupport.h"

namespace kr {
namespace {

TEST(KRChatMessageCacheTest, OneEntryPerIdInInsertionOrderThroughIndexGrowth) {
    KRChatMessageCache cache;
    const KRChatMessage base = test::chatMessage("x", "t0", "u");
    constexpr int kCount = 5000;
    for (int i = 0; i < kCount; ++i) {
        KRChatMessage m = base;
        m.id = "id-" + std::to_string(i);
        m.threadId = "t" + std::to_string(i % 3);
        ASSERT_TRUE(cache.append(m));
        // Every earlier id stays findable while the table grows; a repeat is refused.
        if (i % 97 == 0) {
            for (int j = 0; j <= i; j += 13) {
                ASSERT_TRUE(cache.contains("id-" + std::to_string(j))) << j;
            }
        }
        KRChatMessage again = m;
        again.messageText = "changed";
        EXPECT_FALSE(cache.append(again));
    }
    EXPECT_EQ(cache.size(), static_cast<std::size_t>(kCount));
    EXPECT_FALSE(cache.contains("id-5000"));
    EXPECT_FALSE(cache.contains(""));
    EXPECT_EQ(cache.messages()[4321].id, "id-4321");
    EXPECT_NE(cache.messages()[0].messageText, "changed");

    const auto thread1 = cache.messagesOfThread("t1");
    ASSERT_EQ(thread1.size(), 1667u);  // 1, 4, ..., 4999
    EXPECT_EQ(thread1[0].id, "id-1");
    EXPECT_EQ(thread1[1].id, "id-4");
    EXPECT_TRUE(cache.messagesOfThread("nope").empty());
}

TEST(KRChatMessageCacheTest, EmptyIdsAndThreadsAreOrdinaryKeys) {
    KRChatMessageCache cache;
    KRChatMessage m = test::chatMessage("x", "", "u");
    m.id = "";
    EXPECT_FALSE(cache.contains(""));
    EXPECT_TRUE(cache.append(m));
    EXPECT_TRUE(cache.contains(""));
    EXPECT_FALSE(cache.append(m));
    EXPECT_EQ(cache.messagesOfThread("").size(), 1u);
}

}  // namespace
}  // namespace kr
