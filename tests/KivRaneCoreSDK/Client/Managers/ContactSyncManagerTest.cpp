#include "KivRaneCoreSDK/Client/Managers/ContactSyncManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace kr {
namespace {

boost::json::object contact(const std::string& id, const std::string& name) {
    return boost::json::object{{"userId", id}, {"name", name}};
}

TEST(ContactSyncManagerTest, ReadersSeeWholeListsWhileTheHostWrites) {
    ContactSyncManager manager;
    const std::vector<boost::json::object> listA = {contact("u", "A"), contact("x", "A")};
    const std::vector<boost::json::object> listB = {contact("u", "B")};
    manager.setContactsArray(listA);

    std::atomic<bool> stop{false};
    std::atomic<int> badReads{0};
    std::vector<std::thread> readers;
    for (int i = 0; i < 4; ++i) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                const auto name = manager.getUpdatedPartipantName("u");
                const auto contacts = manager.contactsArray();
                if (!name || (*name != "A" && *name != "B") ||
                    (contacts.size() != 1 && contacts.size() != 2)) {
                    ++badReads;
                }
            }
        });
    }
    for (int i = 0; i < 2000; ++i) {
        manager.setContactsArray(i % 2 == 0 ? listB : listA);
    }
    stop = true;
    for (auto& reader : readers) {
        reader.join();
    }
    EXPECT_EQ(badReads.load(), 0);
    manager.setContactsArray({});
    EXPECT_FALSE(manager.getUpdatedPartipantName("u"));
    EXPECT_TRUE(manager.contactsArray().empty());
}

TEST(ContactSyncManagerTest, EmptyIdNeverMatches) {
    ContactSyncManager manager;
    manager.setContactsArray({contact("", "Blank")});
    EXPECT_FALSE(manager.getUpdatedPartipantName(""));
    ASSERT_EQ(manager.contactsArray().size(), 1u);
    EXPECT_EQ(manager.contactsArray()[0], contact("", "Blank"));  // kept as handed over
}

}  // namespace
}  // namespace kr
