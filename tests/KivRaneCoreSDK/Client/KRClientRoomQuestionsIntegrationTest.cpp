// How many room status questions a busy room asks of the service: a client asks only what its
// lists need, however many changes the others make. Clients on the local meeting service (real
// HTTPS, real clock), on the default engine road.

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <vector>

#include "support/RoadMeeting.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;
using test::Road;

class KRClientRoomQuestionsIntegrationTest : public test::RoadMeeting {
protected:
    static constexpr int kSpeakers = 9;
    static constexpr auto kEach = 1500ms;  ///< between two changes of one speaker
    static constexpr auto kRun = 7s;

    /// The speakers take turns, each changing every `kEach`: raise, mute, lower, unmute. Returns
    /// the hand changes made.
    int changeInTurns() {
        const auto start = std::chrono::steady_clock::now();
        int hands = 0;
        for (int step = 0;; ++step) {
            const int speaker = step % kSpeakers;
            const auto at = start + (step / kSpeakers) * kEach + speaker * kEach / kSpeakers;
            if (at >= start + kRun) break;
            main->runFor(at - std::chrono::steady_clock::now());
            KRClient& client = *members[1 + static_cast<std::size_t>(speaker)].client;
            switch ((step / kSpeakers) % 4) {
                case 0: client.raiseHand(); ++hands; break;
                case 1: client.muteLocalAudio(true); break;
                case 2: client.lowerHand(); ++hands; break;
                default: client.muteLocalAudio(false); break;
            }
        }
        main->runFor(start + kRun - std::chrono::steady_clock::now());
        return hands;
    }
};

TEST_F(KRClientRoomQuestionsIntegrationTest, ABusyRoomWhosePostsAreHandledLateAsksNothingItsListsDoNotNeed) {
    std::vector<bool> hosts(1 + kSpeakers, false);
    hosts[0] = true;
    meet(Road::defaultEngine, hosts);
    // Every status post waits 400 ms before the service takes it, so the others' pushes cross
    // each post of a hand, and the push of each speaker's next hand comes close to the end of the
    // hold of her last message. Every change reaches everyone by a message and a push, and her own
    // list by the push of her change: no list needs a question. Only a push slower than the wait
    // for it may cost one.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::handledLate(400ms));
    const std::size_t before = service.requestCount(R::getRoomConnectionStatus);
    const int hands = changeInTurns();
    const std::size_t fetches = service.requestCount(R::getRoomConnectionStatus) - before;
    service.clearFaults();
    EXPECT_LE(fetches, static_cast<std::size_t>(hands / 4))
        << hands << " hand changes among " << members.size() << " clients in " << kRun.count() << " s";
}

}  // namespace
}  // namespace kr
