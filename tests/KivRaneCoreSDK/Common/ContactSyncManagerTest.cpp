#include "KivRaneCoreSDK/Common/ContactSyncManager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kr {
namespace {

boost::json::object contact(const std::string& id, const std::string& name) {
    return boost::json::object{{"userId", id}, {"name", name}};
}

TEST(ContactSyncManagerTest, NamesComeFromTheLatestListFirstContactWinning) {
    ContactSyncManager manager;
    boost::json::object unnamed{{"userId", "n"}, {"name", 7}};
    manager.setContactsArray({contact("u", "A"), contact("u", "Second"), unnamed});
    EXPECT_EQ(manager.getUpdatedPartipantName("u"), "A");
    EXPECT_FALSE(manager.getUpdatedPartipantName("n"));  // its name is not a string
    EXPECT_FALSE(manager.getUpdatedPartipantName("other"));
    EXPECT_EQ(manager.contactsArray().size(), 3u);

    manager.setContactsArray({contact("u", "B")});
    EXPECT_EQ(manager.getUpdatedPartipantName("u"), "B");
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

TEST(ContactSyncManagerTest, TheNameToShowIsANonEmptyContactNameElseTheGivenOne) {
    ContactSyncManager manager;
    boost::json::object unnamed{{"userId", "n"}, {"name", 7}};
    manager.setContactsArray({contact("u", "Contact"), contact("e", ""), unnamed, contact("", "X")});
    struct Case {
        const char* userId;
        const char* given;
        const char* shown;
    };
    const Case cases[] = {
        {"u", "Server", "Contact"},
        {"u", "", "Contact"},
        {"e", "Server", "Server"},  // an empty contact name blanks nothing
        {"n", "Server", "Server"},  // a contact whose name is not text
        {"other", "Server", "Server"},
        {"", "Server", "Server"},  // no id: never looked up
        {"e", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(manager.nameToShow(c.userId, c.given), c.shown) << c.userId << " " << c.given;
    }
}

}  // namespace
}  // namespace kr
