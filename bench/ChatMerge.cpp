// Merging chat messages into the chat's message cache as it grows, through the cache's own merge
// (the one the chat manager runs on every history page): a 150-message page of new messages,
// and the same page fetched again; and 10,000 messages pushed one by one through the chat
// manager. "nsPerMessage" is the time per merged message. "xBareAppend" divides it by the time
// of copying the same messages onto the end of a plain vector, reserved up front, that already
// holds as many messages as the cache, in the same run: the least any store of that size can
// cost. A flat ratio across cache sizes shows that a merge does not scan the cache. The
// linear-scan merge is the cost of a cache without an id index, for comparison.
// The read side: taking the main thread's message list and reading every message of it, against
// reading a plain vector of the same messages ("xBareRead", pairs taken back to back).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatManager.h"
#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace {

constexpr std::size_t kPageSize = 150;
constexpr std::size_t kPushes = 10000;
constexpr std::string_view kLocalGuest = "guest-1";

kr::KRChatMessage templateMessage() {
    return kr::decodeJson<kr::KRChatMessage>(
               R"({"_id":"x","threadId":"thread-1","kivraneId":"1234567890","type":"message",
                   "createdBy":"guest-2","creatorsName":"Bob","creatorsLName":"Stone",
                   "cOn":"2024-05-01T10:15:30.250Z",
                   "messageComponent":{"text":"See you at the review on Thursday","attachments":[]},
                   "recipients":[{"userId":"guest-1","isUnread":true},{"userId":"guest-2"}]})")
        .value();
}

/// `count` messages with ids "64f1c0de" + a 16-digit number starting at `first`.
std::vector<kr::KRChatMessage> messages(std::size_t first, std::size_t count) {
    const kr::KRChatMessage base = templateMessage();
    std::vector<kr::KRChatMessage> out(count, base);
    char id[32];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(id, sizeof id, "64f1c0de%016zu", first + i);
        out[i].id = id;
    }
    return out;
}

/// Seconds to copy `page` onto an empty vector, averaged over `runs`.
double secondsPerBareAppend(const std::vector<kr::KRChatMessage>& page, int runs) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < runs; ++i) {
        std::vector<kr::KRChatMessage> copy;
        copy.reserve(page.size());
        for (const auto& m : page) {
            copy.push_back(m);
        }
        benchmark::DoNotOptimize(copy);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / runs;
}

/// Time per message, and the ratio to the bare append of the same messages.
void report(benchmark::State& state, double seconds, double bareSeconds,
            std::size_t perIteration) {
    const double perMessage = seconds / static_cast<double>(state.iterations() * perIteration);
    state.counters["nsPerMessage"] = perMessage * 1e9;
    state.counters["xBareAppend"] = seconds / bareSeconds;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * perIteration));
}

/// A page of new messages into a cache of about `range(0)` messages. The cache is rebuilt
/// (outside the timing) whenever it has grown by a tenth, so it stays near its nominal size.
void BM_MergeNewPage(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto base = messages(0, size);
    const auto pages = messages(size, std::max<std::size_t>(size / 10, kPageSize) + kPageSize);
    std::vector<std::vector<kr::KRChatMessage>> pageList;
    for (std::size_t first = 0; first + kPageSize <= pages.size(); first += kPageSize) {
        pageList.emplace_back(pages.begin() + static_cast<std::ptrdiff_t>(first),
                              pages.begin() + static_cast<std::ptrdiff_t>(first + kPageSize));
    }
    kr::KRChatMessageCache cache;
    std::vector<kr::KRChatMessage> bare;
    std::size_t next = pages.size();
    double seconds = 0;
    double bareSeconds = 0;
    for (auto _ : state) {
        if (next + kPageSize > pages.size()) {
            state.PauseTiming();
            cache = kr::KRChatMessageCache();
            cache.reserve(size + pages.size());
            bare = std::vector<kr::KRChatMessage>();
            bare.reserve(size + pages.size());
            for (const auto& m : base) {
                cache.append(m);
                bare.push_back(m);
            }
            next = 0;
            state.ResumeTiming();
        }
        const auto& page = pageList[next / kPageSize];
        auto start = std::chrono::steady_clock::now();
        const std::size_t added = cache.merge(page, kLocalGuest);
        auto end = std::chrono::steady_clock::now();
        if (added != kPageSize) {
            state.SkipWithError("new messages were not merged");
            break;
        }
        seconds += std::chrono::duration<double>(end - start).count();
        start = end;
        for (std::size_t i = next; i < next + kPageSize; ++i) {
            bare.push_back(pages[i]);
        }
        benchmark::ClobberMemory();
        bareSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        next += kPageSize;
    }
    report(state, seconds, bareSeconds, kPageSize);
}

/// The newest page fetched again: every message is already cached and is dropped.
void BM_MergeKnownPage(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto base = messages(0, size);
    kr::KRChatMessageCache cache;
    cache.reserve(size);
    for (const auto& m : base) {
        cache.append(m);
    }
    const std::vector<kr::KRChatMessage> page(base.end() - kPageSize, base.end());
    const auto start = std::chrono::steady_clock::now();
    std::size_t added = 0;
    for (auto _ : state) {
        added += cache.merge(page, kLocalGuest);
        benchmark::ClobberMemory();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (added != 0 || cache.size() != size) {
        state.SkipWithError("a known message was added again");
    }
    report(state, seconds, secondsPerBareAppend(page, 200) * static_cast<double>(state.iterations()),
           kPageSize);
}

/// The same refetch against a cache without an index: each message scans the whole list.
void BM_LinearScanMergeKnownPage(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto base = messages(0, size);
    const std::vector<kr::KRChatMessage> page(base.end() - kPageSize, base.end());
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::size_t found = 0;
        for (const auto& m : page) {
            found += std::any_of(base.begin(), base.end(),
                                 [&](const kr::KRChatMessage& c) { return c.id == m.id; });
        }
        benchmark::DoNotOptimize(found);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    report(state, seconds, secondsPerBareAppend(page, 200) * static_cast<double>(state.iterations()),
           kPageSize);
}

/// 10,000 messages pushed through the chat manager (merge, routing, one observer) into a cache
/// that starts at `range(0)` messages.
void BM_PushMessages(benchmark::State& state) {
    struct Observer : kr::KRChatClientDelegate {
        std::size_t calls = 0;
        void didRecieveNewChatMessage(kr::KRChatManager&, const kr::KRChatMessage&) override {
            ++calls;
        }
        void didRecievePrivateChatMessage(kr::KRChatManager&, const kr::KRChatMessage&,
                                          const std::string&) override {
            ++calls;
        }
    };
    const auto size = static_cast<std::size_t>(state.range(0));
    const auto base = messages(0, size);
    const auto pushed = messages(size, kPushes);
    auto queue = kr::platform::MainQueue::create(kr::platform::ManualClock::create());
    auto observer = std::make_shared<Observer>();
    double seconds = 0;
    double bareSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto chat = kr::KRChatManager::create(queue);
        std::vector<kr::KRChatMessage> bare;
        bare.reserve(size + kPushes);
        for (const auto& m : base) {
            chat->addSocketChatMessage(m);
            bare.push_back(m);
        }
        chat->addChatDelegate(observer, "bench");
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        for (const auto& m : pushed) {
            chat->addSocketChatMessage(m);
        }
        auto end = std::chrono::steady_clock::now();
        seconds += std::chrono::duration<double>(end - start).count();
        start = end;
        for (const auto& m : pushed) {
            bare.push_back(m);
        }
        benchmark::ClobberMemory();
        bareSeconds +=
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (chat->allChatMessages().size() != size + kPushes) {
            state.SkipWithError("pushed messages were lost");
            break;
        }
    }
    report(state, seconds, bareSeconds, kPushes);
}

/// The main thread's messages as a host reads them after a change: take the list, then read
/// every message of it (its id and text), against reading a plain vector of the same messages.
/// Each iteration is one pair, the order alternating. A flat "nsPerMessage" across sizes shows
/// that taking the list copies nothing; "xBareRead" is what reading through the shared list
/// costs over reading a vector.
void BM_ReadMainThreadMessages(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    auto history = messages(0, size);
    for (auto& m : history) {
        m.threadId = "";  // the main thread's id while none is known
    }
    auto queue = kr::platform::MainQueue::create(kr::platform::ManualClock::create());
    auto chat = kr::KRChatManager::create(queue);
    for (const auto& m : history) {
        chat->addSocketChatMessage(m);
    }
    const auto readAll = [](const auto& list) {
        std::size_t bytes = 0;
        for (const kr::KRChatMessage& m : list) {
            bytes += m.id.size() + m.messageText.size();
        }
        return bytes;
    };
    double seconds = 0;
    double bareSeconds = 0;
    bool listFirst = true;
    for (auto _ : state) {
        const auto timeList = [&] {
            const auto start = std::chrono::steady_clock::now();
            const auto list = chat->getMainThreadChatMessages();
            benchmark::DoNotOptimize(readAll(list));
            seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                           .count();
        };
        const auto timeBare = [&] {
            const auto start = std::chrono::steady_clock::now();
            benchmark::DoNotOptimize(readAll(history));
            bareSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start)
                               .count();
        };
        if (listFirst) {
            timeList();
            timeBare();
        } else {
            timeBare();
            timeList();
        }
        listFirst = !listFirst;
    }
    if (chat->getMainThreadChatMessages().size() != size) {
        state.SkipWithError("messages were lost");
    }
    state.counters["nsPerMessage"] =
        seconds * 1e9 / static_cast<double>(state.iterations() * size);
    state.counters["xBareRead"] = seconds / bareSeconds;
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * size));
}

}  // namespace

BENCHMARK(BM_ReadMainThreadMessages)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeNewPage)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MergeKnownPage)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LinearScanMergeKnownPage)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PushMessages)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
