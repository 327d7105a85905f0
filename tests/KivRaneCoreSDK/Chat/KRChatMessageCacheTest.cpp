// The message cache keeps insertion order and one entry per id while its index grows.

#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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

TEST(KRChatMessageCacheTest, MergeKeepsNewNormalMessagesOncePerIdAndMarksIncoming) {
    KRChatMessageCache cache;
    ASSERT_TRUE(cache.append(test::chatMessage("known", "t", "me")));
    // Enough messages that the index grows while the page goes in.
    std::vector<KRChatMessage> page = {test::chatMessage("known", "t", "other"),
                                       test::chatMessage("a", "t", "me"),
                                       test::chatMessage("s", "t", "other", {}, "system"),
                                       test::chatMessage("b", "t2", "other"),
                                       test::chatMessage("a", "t", "other")};
    for (int i = 0; i < 40; ++i) {
        page.push_back(test::chatMessage("n" + std::to_string(i), "t", "other"));
    }
    EXPECT_EQ(cache.merge(page, "me"), 42u);
    ASSERT_EQ(cache.size(), 43u);
    const KRChatMessageList all = cache.messages();
    EXPECT_EQ(all[1].id, "a");
    EXPECT_FALSE(all[1].isIncomingMessage);  // the first "a", by the local user
    EXPECT_EQ(all[2].id, "b");
    EXPECT_TRUE(all[2].isIncomingMessage);
    EXPECT_EQ(all[42].id, "n39");
    EXPECT_FALSE(cache.contains("s"));
    EXPECT_EQ(cache.messagesOfThread("t2").size(), 1u);
    EXPECT_EQ(cache.merge(page, "me"), 0u);
    EXPECT_EQ(cache.size(), 43u);
}

TEST(KRChatMessageCacheTest, AdmitTakesOneMessageByTheMergeRuleAndHandsBackTheStoredOne) {
    KRChatMessageCache cache;
    EXPECT_EQ(cache.admit(test::chatMessage("s", "t", "other", {}, "system"), "me"), nullptr);
    const KRChatMessage* first = cache.admit(test::chatMessage("a", "t", "other"), "me");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->id, "a");
    EXPECT_TRUE(first->isIncomingMessage);
    EXPECT_EQ(cache.admit(test::chatMessage("a", "t", "me"), "me"), nullptr);
    const KRChatMessage* own = cache.admit(test::chatMessage("b", "t", "me"), "me");
    ASSERT_NE(own, nullptr);
    EXPECT_FALSE(own->isIncomingMessage);
    ASSERT_EQ(cache.size(), 2u);
    EXPECT_EQ(&cache.messages()[0], first);  // the stored message itself, not a copy
}

TEST(KRChatMessageCacheTest, ViewsAreListsThatLaterMessagesLeaveAlone) {
    KRChatMessageCache cache;
    const KRChatMessage base = test::chatMessage("x", "t0", "u");
    std::vector<KRChatMessageList> taken;  // a list of thread "t1" after every 7th message
    for (int i = 0; i < 2000; ++i) {
        KRChatMessage m = base;
        m.id = std::to_string(i);
        m.threadId = i % 2 == 0 ? "t1" : "t2";
        ASSERT_TRUE(cache.append(m));
        if (i % 7 == 0) {
            taken.push_back(cache.messagesOfThread("t1"));
        }
    }
    const KRChatMessageList all = cache.messages();
    const KRChatMessageList latest = cache.messagesOfThread("t1");
    ASSERT_EQ(all.size(), 2000u);
    ASSERT_EQ(latest.size(), 1000u);
    for (std::size_t k = 0; k < taken.size(); ++k) {
        const KRChatMessageList& list = taken[k];
        ASSERT_EQ(list.size(), (7 * k) / 2 + 1) << k;  // only what was there when taken
        // Through every block boundary: the same messages, the very same objects.
        std::size_t i = 0;
        for (const KRChatMessage& m : list) {
            ASSERT_EQ(m.id, std::to_string(2 * i)) << k;
            ASSERT_EQ(&m, &latest[i]) << k;
            ASSERT_EQ(&m, &all[2 * i]) << k;
            ++i;
        }
    }
    EXPECT_EQ(latest.back().id, "1998");
    EXPECT_EQ(latest.end() - latest.begin(), 1000);
    EXPECT_EQ(std::find_if(latest.begin(), latest.end(),
                           [](const KRChatMessage& m) { return m.id == "500"; }) -
                  latest.begin(),
              250);
    const std::vector<KRChatMessage> copied = latest.toVector();
    ASSERT_EQ(copied.size(), 1000u);
    EXPECT_EQ(copied[999].id, "1998");
    EXPECT_TRUE(KRChatMessageList().empty());
}

TEST(KRChatMessageCacheTest, ListsAreReadOnAnotherThreadWhileMessagesArrive) {
    KRChatMessageCache cache;
    std::mutex mutex;
    std::condition_variable handedOver;
    std::optional<KRChatMessageList> slot;
    bool done = false;
    std::size_t checked = 0;
    std::thread reader([&] {
        for (;;) {
            std::unique_lock lock(mutex);
            handedOver.wait(lock, [&] { return slot || done; });
            if (!slot) {
                return;
            }
            const KRChatMessageList list = std::move(*slot);
            slot.reset();
            lock.unlock();
            // Read while the writer goes on appending.
            std::size_t i = 0;
            for (const KRChatMessage& m : list) {
                EXPECT_EQ(m.id, std::to_string(i++));
            }
            ++checked;
        }
    });
    const KRChatMessage base = test::chatMessage("x", "t", "u");
    for (int i = 0; i < 3000; ++i) {
        KRChatMessage m = base;
        m.id = std::to_string(i);
        cache.append(std::move(m));
        if (i % 100 == 99) {
            std::lock_guard lock(mutex);
            slot = cache.messagesOfThread("t");
            handedOver.notify_one();
        }
    }
    {
        std::lock_guard lock(mutex);
        done = true;
        handedOver.notify_one();
    }
    reader.join();
    EXPECT_GT(checked, 0u);
}

}  // namespace
}  // namespace kr
