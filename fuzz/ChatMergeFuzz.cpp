// Input: a JSON array of pages, each an array of chat message records as the service sends
// them. Records that read go into a message cache the two ways the chat manager feeds it: even
// pages as fetched history pages (merged whole), odd pages as socket pushes (admitted one by
// one). The cache must hold each normal message's id once, the first time it was seen, in the
// order first seen, marked incoming unless the local user wrote it; other messages never enter;
// a thread's view is that order restricted to the thread; lists taken earlier never change.
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kr;

constexpr std::string_view kLocalGuest = "u1";

struct Entry {
    std::string id;
    std::string threadId;
    bool incoming = false;
};

void readAccessors(const KRChatMessage& message) {
    static_cast<void>(message.createdAt());
    static_cast<void>(message.attachment());
    static_cast<void>(message.getOwnerFullName());
}

// `list` holds exactly `expected`, restricted to `threadId` unless it is null.
void listMatches(const KRChatMessageList& list, const std::vector<Entry>& expected,
                 const std::string* threadId) {
    std::size_t at = 0;
    for (const Entry& entry : expected) {
        if (threadId != nullptr && entry.threadId != *threadId) {
            continue;
        }
        KR_FUZZ_CHECK(at < list.size());
        KR_FUZZ_CHECK(list[at].id == entry.id && list[at].threadId == entry.threadId);
        KR_FUZZ_CHECK(list[at].isIncomingMessage == entry.incoming);
        ++at;
    }
    KR_FUZZ_CHECK(at == list.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto pages = json_detail::parseJson(text);
    if (!pages || !pages.value().is_array()) {
        return 0;
    }
    KRChatMessageCache cache;
    std::vector<Entry> expected;  // the model: first sightings in order
    std::set<std::string, std::less<>> seen;
    std::set<std::string, std::less<>> threads;
    std::vector<std::pair<KRChatMessageList, std::size_t>> taken;  // with the size when taken
    bool asHistory = false;
    for (const auto& page : pages.value().as_array()) {
        asHistory = !asHistory;
        const auto* records = page.if_array();
        if (records == nullptr) {
            continue;
        }
        std::vector<KRChatMessage> messages;
        std::size_t freshCount = 0;
        for (const auto& record : *records) {
            auto message = KRChatMessage::fromJson(record);
            if (!message) {
                continue;
            }
            readAccessors(message.value());
            KRChatMessage& m = messages.emplace_back(std::move(message).value());
            if (!asHistory) {
                KR_FUZZ_CHECK(cache.contains(m.id) == (seen.count(m.id) != 0));
            }
            const bool fresh =
                m.messageType == KRChatMessageType::normal && seen.insert(m.id).second;
            if (!asHistory) {
                const KRChatMessage* stored = cache.admit(m, kLocalGuest);
                KR_FUZZ_CHECK((stored != nullptr) == fresh);
                KR_FUZZ_CHECK(stored == nullptr || stored->id == m.id);
            }
            if (fresh) {
                ++freshCount;
                threads.insert(m.threadId);
                expected.push_back(Entry{m.id, m.threadId, m.creatorId != kLocalGuest});
            }
        }
        if (asHistory) {
            KR_FUZZ_CHECK(cache.merge(messages, kLocalGuest) == freshCount);
        }
        KR_FUZZ_CHECK(cache.size() == expected.size());
        taken.emplace_back(cache.messages(), expected.size());
    }

    listMatches(cache.messages(), expected, nullptr);
    for (const std::string& thread : threads) {
        listMatches(cache.messagesOfThread(thread), expected, &thread);
    }
    for (const auto& [list, count] : taken) {
        KR_FUZZ_CHECK(list.size() == count);
        listMatches(list, std::vector<Entry>(expected.begin(), expected.begin() + static_cast<std::ptrdiff_t>(count)), nullptr);
    }
    for (const std::string& id : seen) {
        KR_FUZZ_CHECK(cache.contains(id));
        KR_FUZZ_CHECK(!cache.contains(id + '\x01') || seen.count(id + '\x01') != 0);
    }
    return 0;
}
