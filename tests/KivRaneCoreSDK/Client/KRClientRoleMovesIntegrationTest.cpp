// A host moves a participant to the audience and back: who is told of each move, and what every
// list and the service end with, on each engine road and with her own periodic post crossing her
// role post. Clients on the local meeting service (real HTTPS, real clock), each row in a room of
// its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingOperation.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/EngineTestDelegate.h"
#include "support/RoadMeeting.h"
#include "testing/KRClientTestSeam.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/KrMediaTestEngine.h"
#include "testing/Media/ScreenShareBroadcast.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;

using test::Road;
using Member = test::RoadMember;

class KRClientRoleMovesIntegrationTest : public test::RoadMeeting {
protected:
    /// The host's command to move `target`; true once the service did it and she was told.
    bool hostMoves(Member& target, bool toAudience) {
        std::optional<bool> moved;
        members[0].client->changeUserRole(
            target.uid(), toAudience ? KRUserRole::audience() : KRUserRole::speaker(),
            [&](bool ok) { moved = ok; });
        return main->runUntil([&] { return moved.has_value(); }, 5s) && *moved;
    }
    /// Where `of` stands at the service and in every other list, e.g. "audience: service host a".
    std::string whereShown(const Member& of) const {
        std::string speakers = "speaker:", audience = "audience:";
        const auto record = service.participant(room.meetingId, of.uid());
        (record && record->participantType == "audience" ? audience : speakers) += " service";
        const char* const names[] = {"host", "a", "b"};
        for (std::size_t i = 0; i < members.size(); ++i) {
            if (&members[i] == &of)
                continue;
            const auto user = members[i].client->getUser(of.uid());
            if (user)
                (user->isSpeaker() ? speakers : audience) += std::string(" ") + names[i];
        }
        return audience + "; " + speakers;
    }
    /// The moves of `of` that `viewer`'s app was told, in order.
    static std::vector<std::string> movesToldOf(const Member& viewer, const Member& of) {
        std::vector<std::string> told;
        for (const std::string& line : viewer.heard->lines) {
            if (line == "remote to audience " + of.uid())
                told.push_back("audience");
            if (line == "remote to participants " + of.uid())
                told.push_back("speaker");
        }
        return told;
    }
    static std::vector<std::string> ownMovesTold(const Member& m) {
        std::vector<std::string> told;
        for (const std::string& line : m.heard->lines) {
            if (line == "to audience")
                told.push_back("audience");
            if (line == "to participants")
                told.push_back("speaker");
        }
        return told;
    }
    static std::vector<std::string> named(const std::vector<bool>& toAudience) {
        std::vector<std::string> names;
        for (const bool audience : toAudience)
            names.push_back(audience ? "audience" : "speaker");
        return names;
    }

    /// The host moves b as `toAudience` says, each move as soon as the last one was heard (her
    /// own post of it may still be on its way). On the default road the host's and a's apps are
    /// told each move once, in order; a room road tells no one else's move. Every list and the
    /// service end with the last move.
    void movesToldOnce(Road road, const std::vector<bool>& toAudience, bool sharing = false) {
        meet(road);
        Member &host = members[0], &a = members[1], &b = members[2];
        test::ScreenShareBroadcast broadcast(bus, main);
        if (sharing) {
            std::optional<bool> shared;
            b.client->shareScreenAPICall([&](bool ok) { shared = ok; });
            ASSERT_TRUE(main->runUntil([&] { return shared.has_value(); }, 5s) && *shared);
            broadcast.start(internals(b.client).currentRoom().roomID,
                            internals(b.client).localScreenShare().streamUid());
            ASSERT_TRUE(main->runUntil([&] { return a.heard->has("remote share started"); }, 5s));
        }
        const bool tellsRemoteMoves = road == Road::defaultEngine;
        const auto shows = [&](const Member& viewer, bool audience) {
            return viewer.client->getUser(b.uid())->isSpeaker() != audience;
        };
        std::size_t made = 0;
        for (const bool audience : toAudience) {
            ASSERT_TRUE(hostMoves(b, audience));
            ++made;
            ASSERT_TRUE(main->runUntil(
                [&] {
                    const bool heard = tellsRemoteMoves
                                           ? movesToldOf(host, b).size() >= made &&
                                                 movesToldOf(a, b).size() >= made
                                           : shows(host, audience) && shows(a, audience);
                    return ownMovesTold(b).size() == made && heard;
                },
                5s))
                << "move " << made << ": " << whereShown(b);
        }
        const std::string where = toAudience.back() ? "audience: service host a; speaker:"
                                                    : "audience:; speaker: service host a";
        ASSERT_TRUE(main->runUntil([&] { return whereShown(b) == where; }, 5s)) << whereShown(b);
        main->runFor(500ms);  // a late report would come by now
        ASSERT_TRUE(everyoneReplied());
        EXPECT_EQ(whereShown(b), where) << "after a reply";
        const std::vector<std::string> told =
            tellsRemoteMoves ? named(toAudience) : std::vector<std::string>{};
        EXPECT_EQ(movesToldOf(host, b), told);
        EXPECT_EQ(movesToldOf(a, b), told);
        EXPECT_EQ(ownMovesTold(b), named(toAudience));
    }
};

TEST_F(KRClientRoleMovesIntegrationTest, AHostsMovesOfAParticipantAreToldOnceEach) {
    {
        SCOPED_TRACE("to the audience and back");
        movesToldOnce(Road::defaultEngine, {true, false});
    }
    {
        SCOPED_TRACE("a sharer to the audience");
        movesToldOnce(Road::defaultEngine, {true}, /*sharing=*/true);
    }
}

TEST_F(KRClientRoleMovesIntegrationTest, ThreeMovesInARowEndRightOnEveryRoad) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(test::roadName(road));
        movesToldOnce(road, {true, false, true});
    }
}

TEST_F(KRClientRoleMovesIntegrationTest, HerPollCrossingHerRolePostLeavesTheServiceWithHerNewRole) {
    enum class Poll { answeredLate, handledLate, askedDuringRolePost };
    struct Row {
        const char* name;
        Poll poll;
    };
    const Row rows[] = {
        {"the poll handled at once and answered after her role post", Poll::answeredLate},
        {"the poll handled after her role post", Poll::handledLate},
        {"a poll asked while her role post is on its way", Poll::askedDuringRolePost},
    };
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia})
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(test::roadName(road)) + ", " + row.name);
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            const auto late = row.poll == Poll::answeredLate
                                  ? MeetingServiceFault::delayed(1000ms)
                                  : MeetingServiceFault::handledLate(1000ms);
            // Her next status post is the slow one: the poll, or her role post.
            service.injectFault(R::postRoomConnectionStatus, late.times(1).forParticipant(b.uid()));
            std::size_t posts = service.requestCount(R::postRoomConnectionStatus);
            std::optional<bool> polled;
            const auto poll = [&] {
                internals(b.client).roomSync().postPoll([&](bool ok) { polled = ok; });
            };
            if (row.poll != Poll::askedDuringRolePost) {
                poll();
                ASSERT_TRUE(main->runUntil(
                    [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
                ASSERT_FALSE(polled.has_value());
            }
            ASSERT_TRUE(hostMoves(b, true));
            ASSERT_TRUE(main->runUntil([&] { return b.heard->has("to audience"); }, 5s));
            if (row.poll == Poll::askedDuringRolePost) {
                ASSERT_TRUE(main->runUntil(
                    [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
                posts = service.requestCount(R::postRoomConnectionStatus);
                poll();
                ASSERT_TRUE(main->runUntil([&] { return polled.has_value(); }, 5s));
                EXPECT_FALSE(*polled) << "a poll went while her role post was on its way";
                EXPECT_EQ(service.requestCount(R::postRoomConnectionStatus), posts);
            } else {
                EXPECT_FALSE(polled.has_value())
                    << "the poll was answered before her role post went";
            }
            // Once both are answered the service has her new role, and keeps it.
            ASSERT_TRUE(main->runUntil([&] { return polled.has_value(); }, 5s));
            EXPECT_TRUE(main->runUntil(
                [&] { return whereShown(b) == "audience: service host a; speaker:"; }, 5s))
                << whereShown(b);
            for (int reply = 0; reply < 3; ++reply) {
                main->runFor(300ms);
                ASSERT_TRUE(everyoneReplied());
                EXPECT_EQ(whereShown(b), "audience: service host a; speaker:")
                    << "after reply " << reply;
            }
            const std::vector<std::string> once = {"audience"};
            // The room engines tell no one else's move.
            const auto toldOthers = road == Road::defaultEngine ? once : std::vector<std::string>{};
            EXPECT_EQ(movesToldOf(host, b), toldOthers);
            EXPECT_EQ(movesToldOf(a, b), toldOthers);
            EXPECT_EQ(ownMovesTold(b), once);
        }();
    }
}

TEST_F(KRClientRoleMovesIntegrationTest, HerOwnUserStaysInTheAudienceThoughHerPollUndidHerMove) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(test::roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &b = members[2];
            // Her raise's message goes once the service answered it.
            const auto messagesOfHers = [&] {
                const auto sent = messaging->sentMessages();
                return std::count_if(sent.begin(), sent.end(),
                                     [&](const auto& m) { return m.from == b.uid(); });
            };
            const auto messages = messagesOfHers();
            b.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return messagesOfHers() > messages; }, 5s));
            // Her poll is handled after her role post: the service has her a speaker again until
            // her role goes once more. Meanwhile the host lowers every hand and nobody hears it,
            // so she asks the service about her hand before her role goes again.
            service.injectFault(
                R::postRoomConnectionStatus,
                MeetingServiceFault::handledLate(3000ms).times(1).forParticipant(b.uid()));
            const std::size_t posts = service.requestCount(R::postRoomConnectionStatus);
            internals(b.client).roomSync().postPoll({});
            ASSERT_TRUE(main->runUntil(
                [&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
            ASSERT_TRUE(hostMoves(b, true));
            ASSERT_TRUE(main->runUntil([&] { return b.heard->has("to audience"); }, 5s));
            main->runFor(800ms);
            messaging->failNext(platform::MessagingOperation::sendChannelMessage,
                                platform::MessagingCodes::kFailure, host.uid());
            std::optional<bool> lowered;
            host.client->lowerAllUsersHands([&](bool ok) { lowered = ok; });
            ASSERT_TRUE(main->runUntil([&] { return lowered.has_value(); }, 5s) && *lowered);
            // Her own user after every task: in the audience, as her app was told.
            int speakerTasks = 0;
            const auto sampleOwn = [&] {
                const auto own = b.client->getUser(b.uid());
                speakerTasks += b.client->getMeetingLocalUser()->isSpeaker() ||
                                (own && own->isSpeaker());
                return false;
            };
            main->runUntil(sampleOwn, 4s);
            EXPECT_FALSE(b.client->getMeetingLocalUser()->isHandRaised())
                << "the service's answer lowers her hand";
            for (int reply = 0; reply < 2; ++reply) {
                ASSERT_TRUE(everyoneReplied());
                main->runUntil(sampleOwn, 300ms);
            }
            EXPECT_EQ(speakerTasks, 0) << "tasks after which her own user was a speaker";
            EXPECT_EQ(whereShown(b), "audience: service host a; speaker:");
            EXPECT_EQ(ownMovesTold(b), std::vector<std::string>{"audience"});
        }();
    }
}

}  // namespace
}  // namespace kr
