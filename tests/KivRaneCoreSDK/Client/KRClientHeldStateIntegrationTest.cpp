// What an app was told of a hand or a role holds against the service's older word: the host's
// own lower-all on its own list, the raiser's hand after a lower-all that overtook her raise, a
// role the engine reported against a push or a reply that still has the old one; and a hand
// reaches the others only once the service has it. Clients on the local meeting service (real
// HTTPS, real clock), each row in a room of its own.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"
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
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;

using test::Road;
using test::roadName;
using Member = test::RoadMember;

/// The engine's lines, and the hands.
class Heard : public test::EngineTestDelegate {
public:
    using EngineTestDelegate::EngineTestDelegate;
    void didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool raised) override {
        lines.push_back(raised ? "hand up" : "hand down");
    }
    void didRemoteUserHandRaiseStatusUpdated(const KRMeeting&, const std::shared_ptr<KRMeetingUser>& u,
                                             bool raised) override {
        lines.push_back("remote hand " + u->id() + (raised ? " up" : " down"));
    }
    void didHostLowerAllHands(const KRMeeting&, const std::shared_ptr<KRMeetingUser>&) override {
        lines.push_back("hands lowered");
    }
    /// A user who comes with the hand up tells the app of it too.
    void didRemoteUserJoinedMeeting(const KRMeeting& meeting, const std::shared_ptr<KRMeetingUser>& u) override {
        EngineTestDelegate::didRemoteUserJoinedMeeting(meeting, u);
        if (u->isHandRaised()) lines.push_back("remote hand " + u->id() + " up on joining");
    }
};

class KRClientHeldStateIntegrationTest : public test::RoadMeeting {
protected:
    std::shared_ptr<test::EngineTestDelegate> makeDelegate() override { return std::make_shared<Heard>(main); }

    void failNextChannelMessageOf(const Member& m) {
        messaging->failNext(platform::MessagingOperation::sendChannelMessage, platform::MessagingCodes::kFailure,
                            m.uid());
    }
    bool lowerAll(Member& host) {
        std::optional<bool> lowered;
        host.client->lowerAllUsersHands([&](bool ok) { lowered = ok; });
        return main->runUntil([&] { return lowered.has_value(); }, 5s) && *lowered;
    }
    static bool handShown(const Member& viewer, const Member& of) {
        const auto user = viewer.client->getUser(of.uid());
        return user && user->isHandRaised();
    }
    bool handAtService(const Member& m) const {
        const auto record = service.participant(room.meetingId, m.uid());
        return record && record->isHandRaised;
    }
    /// The status posts of `m` with its whole state (a poll's carries the connection alone), or
    /// only those with the hand down.
    std::size_t fullPostsOf(const Member& m, bool handDownOnly = false) const {
        const auto posts = service.requests(R::postRoomConnectionStatus);
        const std::string hand = handDownOnly ? "\"isHandRaise\":false" : "\"isHandRaise\"";
        return static_cast<std::size_t>(std::count_if(posts.begin(), posts.end(), [&](const auto& r) {
            return r.body.find(hand) != std::string::npos &&
                   r.body.find("\"" + m.uid() + "\"") != std::string::npos;
        }));
    }
    /// Who shows a's hand up; empty: nobody.
    std::string whoShowsTheHandOf(Member& a) {
        std::string up;
        if (handAtService(a)) up += " service";
        for (const Member& m : members)
            if (m.client->getUser(a.uid()) && handShown(m, a)) up += " " + m.uid();
        return up;
    }

    /// The channel messages `m` tried to send: here, its hand's.
    std::size_t channelMessagesOf(const Member& m) const {
        const auto sent = messaging->sentMessages();
        return static_cast<std::size_t>(std::count_if(sent.begin(), sent.end(), [&](const auto& r) {
            return r.from == m.uid() && r.route == platform::MessagingRecord::Route::channel;
        }));
    }
    void runUntilTime(std::chrono::steady_clock::time_point at) { main->runFor(at - std::chrono::steady_clock::now()); }

    /// What `viewer`'s app was told of the lines in `of`, in order.
    static std::vector<std::string> toldOf(const Member& viewer, const std::vector<std::string>& of) {
        std::vector<std::string> told;
        std::copy_if(viewer.heard->lines.begin(), viewer.heard->lines.end(), std::back_inserter(told),
                     [&](const std::string& l) { return std::find(of.begin(), of.end(), l) != of.end(); });
        return told;
    }
};

TEST_F(KRClientHeldStateIntegrationTest, TheHostsLowerAllLowersTheHandsInItsOwnList) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            // The service never records the raise, so nobody else lists it or is told of it.
            service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
            a.client->raiseHand();
            main->runFor(3s);
            EXPECT_EQ(whoShowsTheHandOf(a), " " + a.uid());
            EXPECT_EQ(host.heard->count("remote hand " + a.uid() + " up") + b.heard->count("remote hand " + a.uid() + " up"), 0u);
            const std::size_t lowers = fullPostsOf(a, true);
            std::optional<bool> lowered;
            host.client->lowerAllUsersHands([&](bool ok) {
                lowered = ok;
                EXPECT_FALSE(handShown(host, a)) << "at the completion";
            });
            ASSERT_TRUE(main->runUntil([&] { return lowered.value_or(false); }, 5s));
            // a's lowered hand reaches the service, still refused: no post of her raise is left
            // to reach it after the lower-all and make it a new raise there.
            ASSERT_TRUE(main->runUntil([&] { return a.heard->has("hands lowered") && fullPostsOf(a, true) > lowers; }, 5s));
            // The service takes a's state again on its back-off, which has grown over the refusals.
            const std::size_t posts = fullPostsOf(a);
            service.clearFaults();
            ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, RetryBackOff::kMaxDelay));
            for (int reply = 0; reply < 4; ++reply) {
                ASSERT_TRUE(everyoneReplied());
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after reply " << reply;
            }
            EXPECT_EQ(host.heard->count("hands lowered"), 1u);
            EXPECT_EQ(host.heard->count("remote hand " + a.uid() + " down"),
                      b.heard->count("remote hand " + a.uid() + " down"));
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, TheRaisersHandStaysDownOnceSheHeardALowerAll) {
    enum class Timing { plain, raiseAnsweredLate, postsRefused };
    const char* const timingNames[] = {"no fault", "raise answered 2 s late", "posts refused"};
    for (const Road road : {Road::agora, Road::krMedia, Road::defaultEngine}) {
        for (const Timing timing : {Timing::plain, Timing::raiseAnsweredLate, Timing::postsRefused}) {
            SCOPED_TRACE(std::string(roadName(road)) + ", " +
                         timingNames[static_cast<int>(timing)]);
            [&] {
                meet(road);
                Member &host = members[0], &a = members[1];
                if (timing == Timing::raiseAnsweredLate) {
                    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::delayed(2000ms).times(1));
                } else if (timing == Timing::postsRefused) {
                    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
                }
                const auto raisedAt = std::chrono::steady_clock::now();
                a.client->raiseHand();
                if (timing == Timing::postsRefused) {
                    // The service never has the raise: the host hears nothing of it.
                    main->runFor(1s);
                    EXPECT_FALSE(host.heard->has("remote hand " + a.uid() + " up"));
                } else {
                    ASSERT_TRUE(main->runUntil([&] { return host.heard->has("remote hand " + a.uid() + " up"); }, 5s));
                }
                host.client->lowerAllUsersHands({});
                ASSERT_TRUE(main->runUntil([&] { return a.heard->has("hands lowered"); }, 5s));
                const std::size_t heardAt = a.heard->lines.size();
                EXPECT_FALSE(a.client->getMeetingLocalUser()->isHandRaised()) << "on hearing it";

                // a's last post: the lost state once the outage ends, or the late raise's answer.
                if (timing == Timing::postsRefused) {
                    const std::size_t posts = fullPostsOf(a);
                    service.clearFaults();
                    ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, RetryBackOff::kMaxDelay));
                } else if (timing == Timing::raiseAnsweredLate) {
                    main->runFor(raisedAt + 2100ms - std::chrono::steady_clock::now());
                }
                // Within a poll everyone agrees, and stays so.
                std::string up = "?";
                for (int poll = 0; poll < 6 && !up.empty(); ++poll) {
                    if (poll > 0) main->runFor(500ms);
                    up = everyoneReplied() ? whoShowsTheHandOf(a) : " no reply";
                }
                EXPECT_EQ(up, "") << "within a poll";
                for (int reply = 0; reply < 3; ++reply) {
                    ASSERT_TRUE(everyoneReplied());
                    EXPECT_EQ(whoShowsTheHandOf(a), "") << "after reply " << reply;
                }
                // Told once per change, and never up again once lowered.
                std::vector<std::string> told;
                std::copy_if(a.heard->lines.begin(), a.heard->lines.end(), std::back_inserter(told),
                             [](const std::string& l) { return l == "hand up" || l == "hand down"; });
                std::string heard;
                for (const auto& line : a.heard->lines) heard += line + "; ";
                EXPECT_EQ(std::adjacent_find(told.begin(), told.end()), told.end()) << heard;
                EXPECT_EQ(std::find(a.heard->lines.begin() + static_cast<std::ptrdiff_t>(heardAt),
                                    a.heard->lines.end(), "hand up"),
                          a.heard->lines.end())
                    << heard;
            }();
        }
    }
}

TEST_F(KRClientHeldStateIntegrationTest, ARoleTheAppWasToldOfHoldsAgainstAnOlderPushOrReply) {
    // On the default engine: the room engines tell the app of no one else's role.
    for (const bool byPush : {true, false}) {
        SCOPED_TRACE(byPush ? "push" : "reply");
        [&] {
            meet(Road::defaultEngine);
            Member &host = members[0], &a = members[1], &b = members[2];
            const auto speaks = [&] { return a.client->getUser(b.uid())->isSpeaker(); };
            const auto typeAtService = [&] { return service.participant(room.meetingId, b.uid())->participantType; };
            const std::string toAudience = "remote to audience " + b.uid();
            const std::string toSpeakers = "remote to participants " + b.uid();
            // The service keeps b a speaker: b's role post is refused.
            service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
            b.client->switchLocalUserRole(KRUserRole::audience());
            ASSERT_TRUE(main->runUntil([&] { return a.heard->has(toAudience); }, 5s));
            ASSERT_EQ(typeAtService(), "speaker");
            if (byPush) {
                // The host's mute makes the service push every record, b's as a speaker's.
                host.client->muteLocalAudio(true);
                ASSERT_TRUE(main->runUntil([&] { return !service.participant(room.meetingId, host.uid())->isMicOn; }, 5s));
                main->runFor(300ms);  // the push has come by now
                EXPECT_FALSE(speaks()) << "after the push";
            }
            for (int reply = 0; reply < 3; ++reply) {
                ASSERT_TRUE(statusReplied(a));
                EXPECT_FALSE(speaks()) << "after reply " << reply;
            }
            // The service takes b's role; b comes back later, and a's list follows, once.
            service.clearFaults();
            ASSERT_TRUE(main->runUntil([&] { return typeAtService() == "audience"; }, 5s));
            b.client->switchLocalUserRole(KRUserRole::speaker());
            EXPECT_TRUE(main->runUntil([&] { return speaks() && a.heard->has(toSpeakers); }, 5s));
            ASSERT_TRUE(main->runUntil([&] { return typeAtService() == "speaker"; }, 5s));
            ASSERT_TRUE(statusReplied(a));
            EXPECT_TRUE(speaks());
            EXPECT_EQ(a.heard->count(toSpeakers), 1u);
            EXPECT_EQ(a.heard->count(toAudience), 1u);
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, ALowerAllTheRaiserHeardOnlyFromTheServiceLowersHerHandOnce) {
    for (const Road road : {Road::agora, Road::krMedia, Road::defaultEngine}) {
        SCOPED_TRACE(roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            const std::size_t messages = channelMessagesOf(a);
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && handShown(host, a) && handShown(b, a) && channelMessagesOf(a) > messages; }, 5s));
            const auto heardAt = std::chrono::steady_clock::now();
            ASSERT_TRUE(everyoneReplied());
            // The service lowers every hand, but nobody hears the host say so.
            failNextChannelMessageOf(host);
            const std::size_t heardBefore = a.heard->lines.size();
            ASSERT_TRUE(lowerAll(host) && !handAtService(a));
            // Its push is news of her own hand, well before any poll: she asks, and the reply decides.
            EXPECT_TRUE(main->runUntil([&] { return !a.client->getMeetingLocalUser()->isHandRaised(); }, 3s));
            // The others set aside a push that came within the short bound of her message; they ask
            // at the bound, and the reply decides.
            runUntilTime(heardAt + ParticipantHolds::kShortHold);
            EXPECT_TRUE(main->runUntil([&] { return whoShowsTheHandOf(a).empty(); }, 2s)) << "once asked at the bound";
            for (const bool muted : {true, false, true}) {
                // b's change makes the service push every record again.
                b.client->muteLocalAudio(muted);
                ASSERT_TRUE(main->runUntil([&] { return service.participant(room.meetingId, b.uid())->isMicOn != muted; }, 5s));
                main->runFor(300ms);
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after a push";
                ASSERT_TRUE(everyoneReplied());
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after a reply";
            }
            std::vector<std::string> told;
            std::copy_if(a.heard->lines.begin() + static_cast<std::ptrdiff_t>(heardBefore), a.heard->lines.end(),
                         std::back_inserter(told), [](const std::string& l) { return l.starts_with("hand "); });
            EXPECT_EQ(told, std::vector<std::string>{"hand down"});
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, ARaiseAfterTheHostsLowerAllShowsWithTheFirstReplyAskedAfterItsAnswer) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            const std::string raised = "remote hand " + a.uid() + " up";
            // The service lowers every hand at once and answers 2 s later; the host's message is lost.
            service.injectFault(R::hostActions, MeetingServiceFault::delayed(2000ms).times(1));
            failNextChannelMessageOf(host);
            const std::size_t commands = service.requestCount(R::hostActions);
            bool answered = false;
            host.client->lowerAllUsersHands([&](bool) { answered = true; });
            ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::hostActions) > commands; }, 5s));
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && host.heard->has(raised); }, 5s));
            ASSERT_FALSE(answered);
            ASSERT_TRUE(main->runUntil([&] { return answered; }, 5s));
            // Only a reply asked before the answer could be older than the lower-all.
            for (int reply = 0; reply < 3; ++reply) {
                ASSERT_TRUE(everyoneReplied());
                EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid())
                    << "after reply " << reply;
            }
            // The room engines told the host of the lowering, and tell it of the raise again.
            if (road != Road::defaultEngine) {
                EXPECT_EQ(host.heard->count(raised), 2u);
            }
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, ARaiseHeardAfterThePushThatShowedItStillFollowsTheService) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            // a's raise message fails: the others list her hand from the service's push.
            failNextChannelMessageOf(a);
            const std::size_t messages = channelMessagesOf(a);
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && handShown(host, a) && handShown(b, a) && channelMessagesOf(a) > messages; }, 5s));
            const auto sent = messaging->sentMessages();
            const auto raise = std::find_if(sent.rbegin(), sent.rend(), [&](const auto& r) {
                return r.from == a.uid() && r.route == platform::MessagingRecord::Route::channel && r.code != 0;
            });
            ASSERT_NE(raise, sent.rend());
            // The message reaches them late, after the record that already showed it.
            ASSERT_EQ(messaging->injectChannelMessage(raise->to, a.uid(), raise->text), 2u);
            const auto heardAt = std::chrono::steady_clock::now();
            main->runFor(200ms);
            // The service lowers every hand; nobody hears the host say so.
            failNextChannelMessageOf(host);
            ASSERT_TRUE(lowerAll(host) && !handAtService(a));
            // Its push came within the short bound of the message: the lists follow the reply to the
            // question asked at the bound.
            runUntilTime(heardAt + ParticipantHolds::kShortHold);
            EXPECT_TRUE(main->runUntil([&] { return whoShowsTheHandOf(a).empty(); }, 2s)) << "once asked at the bound";
            for (const bool muted : {true, false}) {
                // b's change makes the service push every record again.
                b.client->muteLocalAudio(muted);
                ASSERT_TRUE(main->runUntil([&] { return service.participant(room.meetingId, b.uid())->isMicOn != muted; }, 5s));
                main->runFor(300ms);
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after a push";
                ASSERT_TRUE(everyoneReplied());
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after a reply";
            }
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, TwoLocalChangesTheServiceHandlesInTurnedOrderEndWithTheLatest) {
    struct Row {
        const char* name;
        R route;
        std::function<void(KRClient&)> first, second;
        std::function<bool(const Member&)> secondAtService;
        bool firstPostedAgain = false;  ///< the first change is lost, and its state posted again late
    };
    const auto micOnAtService = [&](const Member& m) { return service.participant(room.meetingId, m.uid())->isMicOn; };
    const Row rows[] = {
        {"hand", R::postRoomConnectionStatus, [](KRClient& c) { c.raiseHand(); }, [](KRClient& c) { c.lowerHand(); },
         [&](const Member& m) { return !handAtService(m); }},
        {"microphone", R::muteAudio, [](KRClient& c) { c.muteLocalAudio(true); },
         [](KRClient& c) { c.muteLocalAudio(false); }, micOnAtService},
        {"lost raise", R::postRoomConnectionStatus, [](KRClient& c) { c.raiseHand(); },
         [](KRClient& c) { c.lowerHand(); }, [&](const Member& m) { return !handAtService(m); }, true},
    };
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(roadName(road)) + ", " + row.name);
            [&] {
                meet(road);
                Member& a = members[1];
                // The first change reaches the service first and is handled after the second.
                const auto handledLate = MeetingServiceFault::handledLate(500ms).times(1);
                service.injectFault(row.route, row.firstPostedAgain ? MeetingServiceFault::withStatus(503) : handledLate);
                std::size_t sent = service.requestCount(row.route);
                row.first(*a.client);
                ASSERT_TRUE(main->runUntil([&] { return service.requestCount(row.route) > sent; }, 5s));
                if (row.firstPostedAgain) {
                    service.clearFaults();
                    service.injectFault(row.route, handledLate);
                    sent = service.requestCount(row.route);
                    ASSERT_TRUE(main->runUntil([&] { return service.requestCount(row.route) > sent; }, 5s));
                }
                row.second(*a.client);
                main->runFor(1500ms);
                for (int reply = 0; reply < 3; ++reply) {
                    ASSERT_TRUE(everyoneReplied());
                    EXPECT_TRUE(row.secondAtService(a)) << "after reply " << reply;
                    EXPECT_EQ(whoShowsTheHandOf(a), "") << "after reply " << reply;
                }
                EXPECT_LE(a.heard->count("hand up"), 1u);
            }();
        }
    }
}

TEST_F(KRClientHeldStateIntegrationTest, AMediaChangeThatCrossedARaiseLeavesTheHostsLowerAllStanding) {
    struct Row {
        const char* name;
        std::function<void(KRClient&)> change;
        std::function<bool(const Member&)> changedAtService;
    };
    const auto atService = [&](const Member& m) { return *service.participant(room.meetingId, m.uid()); };
    const Row rows[] = {
        {"microphone", [](KRClient& c) { c.muteLocalAudio(true); }, [&](const Member& m) { return !atService(m).isMicOn; }},
        {"camera", [](KRClient& c) { c.muteLocalVideo(true); }, [&](const Member& m) { return !atService(m).isCameraOn; }},
    };
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(roadName(road)) + ", " + row.name);
            [&] {
                meet(road);
                Member &host = members[0], &a = members[1];
                const std::string raised = "remote hand " + a.uid() + " up";
                // The service takes the raise at once and answers it late; the change goes meanwhile.
                service.injectFault(R::postRoomConnectionStatus,
                                    MeetingServiceFault::delayed(2000ms).times(1).forParticipant(a.uid()));
                const auto raisedAt = std::chrono::steady_clock::now();
                a.client->raiseHand();
                row.change(*a.client);
                ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && host.heard->has(raised); }, 5s));
                // The service lowers every hand, but nobody hears the host say so.
                failNextChannelMessageOf(host);
                ASSERT_TRUE(lowerAll(host) && !handAtService(a));
                main->runFor(raisedAt + 2500ms - std::chrono::steady_clock::now());
                EXPECT_TRUE(main->runUntil([&] { return !a.client->getMeetingLocalUser()->isHandRaised(); }, 3s))
                    << "her own hand follows within a round trip of the late answer";
                // Before anyone asks: the late answer brings her raise back into no list.
                EXPECT_EQ(whoShowsTheHandOf(a), "") << "after the late answer";
                for (int reply = 0; reply < 3; ++reply) {
                    ASSERT_TRUE(everyoneReplied());
                    EXPECT_EQ(whoShowsTheHandOf(a), "") << "after reply " << reply;
                    EXPECT_TRUE(row.changedAtService(a)) << "after reply " << reply;
                }
                EXPECT_EQ(host.heard->count(raised), 1u);
                EXPECT_EQ(a.heard->count("hand down"), 1u);
            }();
        }
    }
}

TEST_F(KRClientHeldStateIntegrationTest, AQuickChangeAndItsUndoReachTheOthersOnce) {
    struct Row {
        const char* name;
        std::vector<Road> roads;
        std::function<void(KRClient&)> change, undo;
        /// The lines the app of another member hears for the change and its undo.
        std::function<std::vector<std::string>(const Member&)> lines;
        /// The change shows in `viewer`'s list or at the service.
        std::function<bool(const Member& viewer, const Member& of)> shows;
        std::function<bool(const Member&)> atService;
    };
    const auto audienceAtService = [&](const Member& m) {
        return service.participant(room.meetingId, m.uid())->participantType == "audience";
    };
    const Row rows[] = {
        {"raise and lower", {Road::defaultEngine, Road::agora, Road::krMedia},
         [](KRClient& c) { c.raiseHand(); }, [](KRClient& c) { c.lowerHand(); },
         [](const Member& m) { return std::vector<std::string>{"remote hand " + m.uid() + " up", "remote hand " + m.uid() + " down"}; },
         handShown, [&](const Member& m) { return handAtService(m); }},
        // The room engines tell the app of no one else's role.
        {"to the audience and back", {Road::defaultEngine},
         [](KRClient& c) { c.switchLocalUserRole(KRUserRole::audience()); },
         [](KRClient& c) { c.switchLocalUserRole(KRUserRole::speaker()); },
         [](const Member& m) { return std::vector<std::string>{"remote to audience " + m.uid(), "remote to participants " + m.uid()}; },
         [](const Member& viewer, const Member& of) { return !viewer.client->getUser(of.uid())->isSpeaker(); },
         audienceAtService},
    };
    enum class Timing { plain, bothLate, undoLate };
    const char* const timingNames[] = {"", ", posts handled 1.5 s late", ", the undo's post handled 1.5 s late"};
    for (const Row& row : rows) {
        for (const Road road : row.roads) {
            for (const Timing timing : {Timing::plain, Timing::bothLate, Timing::undoLate}) {
                SCOPED_TRACE(std::string(roadName(road)) + ", " + row.name +
                             timingNames[static_cast<int>(timing)]);
                [&] {
                    meet(road);
                    Member &host = members[0], &a = members[1], &b = members[2];
                    const std::vector<std::string> lines = row.lines(a);
                    const auto handledLate = MeetingServiceFault::handledLate(1500ms).times(1).forParticipant(a.uid());
                    if (timing == Timing::bothLate) {
                        // In the order they came: the undo's a little later still.
                        service.injectFault(R::postRoomConnectionStatus, handledLate);
                        service.injectFault(R::postRoomConnectionStatus,
                                            MeetingServiceFault::handledLate(1700ms).times(1).forParticipant(a.uid()));
                    }
                    const std::size_t posts = fullPostsOf(a);
                    row.change(*a.client);
                    if (timing == Timing::undoLate) {
                        ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, RetryBackOff::kMaxDelay));
                        service.injectFault(R::postRoomConnectionStatus, handledLate);
                    }
                    row.undo(*a.client);
                    ASSERT_TRUE(main->runUntil([&] { return host.heard->has(lines[1]) && b.heard->has(lines[1]); }, 5s));
                    // The service has both changes within 2 s; no list shows the change again meanwhile.
                    int shown = 0;
                    for (int sample = 0; sample < 25; ++sample) {
                        main->runFor(100ms);
                        shown += row.shows(host, a) || row.shows(b, a);
                    }
                    EXPECT_EQ(shown, 0) << "samples showing the change after its undo";
                    for (int reply = 0; reply < 2; ++reply) {
                        ASSERT_TRUE(everyoneReplied());
                        EXPECT_FALSE(row.atService(a) || row.shows(host, a) || row.shows(b, a)) << "after reply " << reply;
                    }
                    EXPECT_EQ(toldOf(host, lines), lines);
                    EXPECT_EQ(toldOf(b, lines), lines);
                }();
            }
        }
    }
}

TEST_F(KRClientHeldStateIntegrationTest, AnOlderReplyLetsNoOlderPushUndoARaise) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(roadName(road));
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && handShown(host, a) && handShown(b, a); }, 5s));
            ASSERT_TRUE(everyoneReplied());
            // b asks just before a lowers; the reply, still showing the hand up, comes after the lower's push.
            // Every reply is late meanwhile: the engines' own questions may reach the service first.
            service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(2500ms));
            bool replied = false;
            internals(b.client).roomSync().fetchRoomStatus([&](bool) { replied = true; });
            main->runFor(100ms);
            a.client->lowerHand();
            ASSERT_TRUE(main->runUntil([&] { return replied; }, 5s));
            service.clearFaults();
            ASSERT_FALSE(handShown(b, a));
            // a raises again, handled 2 s late; the host's mute meanwhile pushes her hand still down.
            service.injectFault(R::postRoomConnectionStatus,
                                MeetingServiceFault::handledLate(2000ms).times(1).forParticipant(a.uid()));
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return b.heard->count(lines[0]) == 2; }, 5s));
            host.client->muteLocalAudio(true);
            int down = 0;
            for (int sample = 0; sample < 25; ++sample) {
                main->runFor(100ms);
                down += !handShown(b, a);
            }
            EXPECT_EQ(down, 0) << "samples of b's list without the hand";
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
            ASSERT_TRUE(everyoneReplied());
            EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid());
            EXPECT_EQ(toldOf(b, lines), (std::vector<std::string>{lines[0], lines[1], lines[0]}));
        }();
    }
}

TEST_F(KRClientHeldStateIntegrationTest, AHandTheServiceChangedUnheardReachesTheOthersLists) {
    // Her changes, refused by the service (the others never hear of those) or made while no push
    // reaches anyone; then the service changes the hand back with no one saying so. What it shows
    // then is no late copy of an earlier report: the lists follow it once their reports are old
    // enough.
    struct Row {
        const char* name;
        bool socketsCut;  ///< else the service refuses a's first change
        bool mirror;      ///< a's hand is up first, she lowers and raises, and the host lowers all
    };
    const Row rows[] = {{"a refused raise, its lower, then a raise with its message lost", false, false},
                        {"sockets cut while she raises and lowers, then a raise with its message lost", true, false},
                        {"a lower refused, a raise at once, then the host's lower-all unheard", false, true}};
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(roadName(road)) + ", " + row.name);
            [&] {
                service.roomSocket().clearFaults();
                meet(road);
                Member &host = members[0], &a = members[1], &b = members[2];
                const std::vector<std::string> lines = {"remote hand " + a.uid() + " up",
                                                        "remote hand " + a.uid() + " down"};
                const auto heard = [&](std::size_t told) {
                    return main->runUntil(
                        [&] { return toldOf(host, lines).size() >= told && toldOf(b, lines).size() >= told; }, 5s);
                };
                // Her post reached the service and the others heard her.
                const auto changed = [&](void (KRClient::*change)(), std::size_t told) {
                    const std::size_t posts = fullPostsOf(a);
                    (*a.client.*change)();
                    return main->runUntil([&] { return fullPostsOf(a) > posts; }, RetryBackOff::kMaxDelay) && heard(told);
                };
                if (row.mirror) {
                    ASSERT_TRUE(changed(&KRClient::raiseHand, 1) && handAtService(a) && everyoneReplied());
                }
                const std::size_t logins = service.roomSocket().loginCount();
                if (row.socketsCut) {
                    service.roomSocket().refuseHandshakes(-1);  // no push reaches anyone until she is done
                    service.roomSocket().dropAll();
                    ASSERT_TRUE(main->runUntil([&] { return service.roomSocket().openConnectionCount() == 0; }, 5s));
                } else {
                    service.injectFault(R::postRoomConnectionStatus,
                                        MeetingServiceFault::withStatus(409).times(1).forParticipant(a.uid()));
                }
                if (row.mirror) {
                    // The raise goes at once, crossing the refused lower: the service keeps the hand
                    // the others were told, and they hear nothing more.
                    const std::size_t posts = fullPostsOf(a);
                    a.client->lowerHand();
                    a.client->raiseHand();
                    ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) >= posts + 2; }, 5s) && heard(1));
                } else {
                    // A refused raise reaches nobody, and its lower leaves them as they were.
                    const std::size_t toldOfRaise = row.socketsCut ? 1 : 0;
                    ASSERT_TRUE(changed(&KRClient::raiseHand, toldOfRaise));
                    ASSERT_TRUE(changed(&KRClient::lowerHand, 2 * toldOfRaise));
                }
                const auto reported = std::chrono::steady_clock::now();
                ASSERT_EQ(handAtService(a), row.mirror);
                if (row.mirror) {
                    failNextChannelMessageOf(host);
                    ASSERT_TRUE(lowerAll(host) && !handAtService(a));
                } else {
                    main->runFor(300ms);
                    failNextChannelMessageOf(a);
                    a.client->raiseHand();
                    ASSERT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
                    service.roomSocket().clearFaults();
                }
                // Every reply to a question asked the short hold after the reports shows the
                // service's hand: it changed since.
                const std::string atService =
                    row.mirror ? "" : " service " + host.uid() + " " + a.uid() + " " + b.uid();
                int late = 0;
                while (late < 4 && std::chrono::steady_clock::now() < reported + 8s) {
                    main->runFor(500ms);
                    const bool old = std::chrono::steady_clock::now() - reported >= ParticipantHolds::kShortHold;
                    ASSERT_TRUE(everyoneReplied());
                    late += old;
                    if (old) {
                        EXPECT_EQ(whoShowsTheHandOf(a), atService) << "after late reply " << late;
                    }
                }
                EXPECT_EQ(late, 4);
                EXPECT_EQ(whoShowsTheHandOf(a), atService) << "8 s after the reports";
                if (row.socketsCut) {
                    EXPECT_GE(service.roomSocket().loginCount(), logins + members.size())
                        << "back by their own reconnect";
                }
                // Told of each hand the service took once, on every road.
                std::vector<std::string> told;
                const std::size_t changes = row.mirror ? 2 : row.socketsCut ? 3 : 1;
                for (std::size_t i = 0; i < changes; ++i) told.push_back(lines[i % 2]);
                EXPECT_EQ(toldOf(b, lines), told);
                // The host's own lower-all is told as such; the merge tells the hand it took down
                // first, the room store does not.
                std::vector<std::string> toldHost = told;
                if (row.mirror) {
                    if (road == Road::defaultEngine) toldHost.pop_back();
                    toldHost.push_back("hands lowered");
                }
                EXPECT_EQ(toldOf(host, {lines[0], lines[1], "hands lowered"}), toldHost);
            }();
        }
    }
}

/// Rows of one road each: the long ones run side by side.
class KRClientHeldStateOnARoadIntegrationTest : public KRClientHeldStateIntegrationTest,
                                                public ::testing::WithParamInterface<Road> {
protected:
    /// What `viewer`'s app was last told of the hand of `of`: a lower-all lowers it, and before
    /// any word it is down, as it was when they met, unless she came with the hand up.
    static bool toldUp(const Member& viewer, const Member& of) {
        const std::string up = "remote hand " + of.uid() + " up", down = "remote hand " + of.uid() + " down";
        const auto last = std::find_if(viewer.heard->lines.rbegin(), viewer.heard->lines.rend(), [&](const std::string& l) {
            return l == up || l == down || l == "hands lowered" || l == up + " on joining" || l == "remote joined " + of.uid() || l == "left";
        });
        return last != viewer.heard->lines.rend() && last->starts_with(up);
    }
    static const char* upOrDown(bool up) { return up ? "up" : "down"; }
    /// Notes at `at` what each viewer's list shows of the hand of `of`, and counts the lists that
    /// show another hand than their app was last told of.
    void sample(const std::vector<const Member*>& viewers, const Member& of, const std::string& at) {
        sampleLog += " " + at + ":";
        for (const Member* viewer : viewers) {
            const bool shown = handShown(*viewer, of), told = toldUp(*viewer, of);
            untold += shown != told;
            sampleLog += " " + viewer->uid() + " " + upOrDown(shown) + (shown == told ? "" : std::string(" (told ") + upOrDown(told) + ")");
        }
        sampleLog += ";";
    }
    /// True when `viewer`'s app was told each change of the hand of `of` once, from down as when
    /// they met: no up after an up, no down after a down or a lower-all.
    static bool toldEachChangeOnce(const Member& viewer, const Member& of) {
        const std::string up = "remote hand " + of.uid() + " up", down = "remote hand " + of.uid() + " down";
        bool last = false;
        for (const std::string& line : viewer.heard->lines) {
            if (line == up || line == down) {
                if ((line == up) == last) return false;
                last = line == up;
            } else if (line == "hands lowered") {
                last = false;
            }
        }
        return true;
    }
    /// Her hand goes up, at the service and in every list, and her message went; then her next
    /// poll goes, to be handled 3 s late: `pollAnswered` is when its answer came.
    void raiseThenPollLate(Member& a) {
        const std::size_t messages = channelMessagesOf(a);
        a.client->raiseHand();
        ASSERT_TRUE(main->runUntil([&] { return whoShowsTheHandOf(a) == " service " + members[0].uid() + " " + members[1].uid() + " " + members[2].uid() && channelMessagesOf(a) > messages; }, 5s));
        service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::handledLate(3000ms).times(1).forParticipant(a.uid()));
        const std::size_t posts = service.requestCount(R::postRoomConnectionStatus);
        pollAnswered = std::make_shared<std::optional<std::chrono::steady_clock::time_point>>();
        internals(a.client).roomSync().postPoll([answered = pollAnswered](bool) { *answered = std::chrono::steady_clock::now(); });
        ASSERT_TRUE(main->runUntil([&] { return service.requestCount(R::postRoomConnectionStatus) > posts; }, 5s));
    }
    /// The host moves `a`; true once the service did and her app was told `heard`.
    bool hostMoves(Member& a, KRUserRole role, const std::string& heard) {
        std::optional<bool> moved;
        members[0].client->changeUserRole(a.uid(), std::move(role), [&](bool ok) { moved = ok; });
        return main->runUntil([&] { return moved.value_or(false) && a.heard->has(heard); }, 5s);
    }
    int untold = 0;  ///< samples of a list showing another hand than its app was told
    std::string sampleLog;
    /// Shared with the poll's completion, which may outlive the row.
    std::shared_ptr<std::optional<std::chrono::steady_clock::time_point>> pollAnswered;
};


INSTANTIATE_TEST_SUITE_P(Roads, KRClientHeldStateOnARoadIntegrationTest,
                         ::testing::Values(Road::defaultEngine, Road::agora, Road::krMedia), test::roadTestName);

TEST_P(KRClientHeldStateOnARoadIntegrationTest, HerRaiseThroughALongOutageOfHerPostsIsShownOnceTheServiceHasItToldOnce) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    // Every status post of hers is refused for 40 s; her messages and her microphone go through.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503).forParticipant(a.uid()));
    const auto raisedAt = std::chrono::steady_clock::now();
    a.client->raiseHand();
    // The mute makes the service push every record, hers with the hand still down.
    a.client->muteLocalAudio(true);
    ASSERT_TRUE(main->runUntil([&] { return !service.participant(room.meetingId, a.uid())->isMicOn; }, 5s));
    ASSERT_FALSE(handAtService(a));
    int up = 0;
    for (int second = 1; second <= 40; ++second) {
        runUntilTime(raisedAt + second * 1s);
        if (second % 5 == 0) {
            ASSERT_TRUE(everyoneReplied());
        }
        up += handShown(b, a) || handShown(host, a);
        sample({&b, &host}, a, std::to_string(second) + " s");
    }
    EXPECT_EQ(up, 0) << "samples with her hand in b's or the host's list:" << sampleLog;
    EXPECT_EQ(untold, 0) << sampleLog;
    EXPECT_TRUE(toldOf(b, lines).empty() && toldOf(host, lines).empty());
    // The service answers her again: her microphone's answer sends her state at once, rather than
    // at the end of a back-off grown over the outage, and the raise is taken; the others follow
    // without asking.
    service.clearFaults();
    a.client->muteLocalAudio(false);
    ASSERT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
    EXPECT_TRUE(main->runUntil([&] { return handShown(b, a) && handShown(host, a); }, 2s));
    ASSERT_TRUE(everyoneReplied());
    EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid());
    EXPECT_EQ(toldOf(b, lines), std::vector<std::string>{lines[0]});
    EXPECT_EQ(toldOf(host, lines), std::vector<std::string>{lines[0]});
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, EachListShowsTheHandItsAppWasLastToldOfWhileChangesCrossAnOutage) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    // Her posts are refused for 12 s while she raises, lowers and raises, the others ask the
    // service longer than any hold after her last report, and the host lowers all.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503).forParticipant(a.uid()));
    const auto start = std::chrono::steady_clock::now();
    a.client->raiseHand();
    int disagreeing[2] = {0, 0};
    std::string samples;
    for (int sample = 1; sample <= 84; ++sample) {
        runUntilTime(start + sample * 250ms);
        for (const Member* viewer : {&b, &host}) {
            const bool shown = handShown(*viewer, a), told = toldUp(*viewer, a);
            disagreeing[viewer == &host] += shown != told;
            samples += std::string(viewer == &b ? " b " : " host ") + upOrDown(shown) + (shown == told ? "" : " (told " + std::string(upOrDown(told)) + ")");
        }
        samples += " at " + std::to_string(sample * 250) + " ms;";
        switch (sample) {
            case 4: a.client->lowerHand(); break;
            case 8: a.client->raiseHand(); break;
            case 32: ASSERT_TRUE(lowerAll(host)); break;
            case 48: service.clearFaults(); break;
            case 22: case 26: case 40: case 56: case 72: ASSERT_TRUE(everyoneReplied()); break;
            default: break;
        }
    }
    EXPECT_EQ(disagreeing[0], 0) << "samples of b's list against b's app:" << samples;
    EXPECT_EQ(disagreeing[1], 0) << "samples of the host's list against the host's app:" << samples;
    // Her last change was the lower-all's, which reached the service once it answered her again.
    EXPECT_TRUE(b.heard->has("hands lowered"));
    ASSERT_TRUE(everyoneReplied());
    EXPECT_EQ(whoShowsTheHandOf(a), "");
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, HerRaiseHandledLateIsShownOnceHandledWithNoOldValueAfter) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    // Her post reaches the service at once and is handled 5 s later.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::handledLate(5000ms).times(1).forParticipant(a.uid()));
    const auto raisedAt = std::chrono::steady_clock::now();
    a.client->raiseHand();
    // Meanwhile, and after, the host's microphone makes the service push every record, and
    // everyone asks.
    int early = 0, down = 0, sampled = 0;
    std::optional<std::chrono::steady_clock::time_point> taken, shown;
    while (!taken || std::chrono::steady_clock::now() < *taken + 3s) {
        ASSERT_LT(sampled, 60) << "the service took no raise";
        runUntilTime(raisedAt + ++sampled * 250ms);
        if (!taken && handAtService(a)) taken = std::chrono::steady_clock::now();
        const bool both = handShown(b, a) && handShown(host, a);
        if (!shown && both) shown = std::chrono::steady_clock::now();
        early += !taken && (handShown(b, a) || handShown(host, a));
        down += shown && !both;
        sample({&b, &host}, a, std::to_string(sampled * 250) + " ms");
        if (sampled == 4 || sampled == 10) host.client->muteLocalAudio(sampled == 4);
        if (sampled == 6 || sampled == 12 || sampled == 16 || (taken && sampled % 3 == 0)) {
            ASSERT_TRUE(everyoneReplied());
        }
        if (taken && sampled % 4 == 0) host.client->muteLocalAudio(sampled % 8 == 0);
    }
    EXPECT_EQ(early, 0) << "samples with her hand before the service had it:" << sampleLog;
    ASSERT_TRUE(shown.has_value()) << sampleLog;
    EXPECT_LE(*shown - *taken, 1500ms) << sampleLog;
    EXPECT_EQ(down, 0) << "samples without her hand once shown:" << sampleLog;
    EXPECT_EQ(untold, 0) << sampleLog;
    EXPECT_EQ(toldOf(b, lines), std::vector<std::string>{lines[0]});
    EXPECT_EQ(toldOf(host, lines), std::vector<std::string>{lines[0]});
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AHandTheServiceChangedUnheardIsToldOnce) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    for (const bool raise : {true, false}) {
        SCOPED_TRACE(raise ? "raise" : "lower");
        // Her message is lost: the others see the change in the service's records alone.
        failNextChannelMessageOf(a);
        raise ? a.client->raiseHand() : a.client->lowerHand();
        ASSERT_TRUE(main->runUntil([&] { return handAtService(a) == raise && handShown(host, a) == raise && handShown(b, a) == raise; }, 5s));
        for (int reply = 0; reply < 2; ++reply) {
            ASSERT_TRUE(everyoneReplied());
            EXPECT_TRUE(handShown(host, a) == raise && handShown(b, a) == raise) << "after reply " << reply;
        }
        const std::vector<std::string> told(lines.begin(), lines.begin() + (raise ? 1 : 2));
        EXPECT_EQ(toldOf(b, lines), told);
        EXPECT_EQ(toldOf(host, lines), told);
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, HerLowerWhoseMessageFailedShowsOnceTheOthersAsk) {
    // Her raise is heard by message; 0.4 s later she lowers, its message fails, and no push reaches
    // anyone. A reply to a question asked after her message is the service's word.
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "her posts refused for 6 s" : "her post taken at once");
        service.roomSocket().clearFaults();
        meet(GetParam());
        untold = 0;
        sampleLog.clear();
        Member &host = members[0], &a = members[1], &b = members[2];
        const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
        const std::size_t messages = channelMessagesOf(a);
        const auto raisedAt = std::chrono::steady_clock::now();
        a.client->raiseHand();
        ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a) && channelMessagesOf(a) > messages; }, 5s));
        service.roomSocket().refuseHandshakes(-1);
        service.roomSocket().dropAll();
        if (refused) {
            service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503).forParticipant(a.uid()));
        }
        runUntilTime(raisedAt + 400ms);
        ASSERT_EQ(service.roomSocket().openConnectionCount(), 0u);
        failNextChannelMessageOf(a);
        a.client->lowerHand();
        // Each second everyone asks; the service takes the lower once her posts get through.
        std::optional<std::chrono::steady_clock::time_point> lowered;
        int early = 0, late = 0;
        for (int second = 1; !lowered || std::chrono::steady_clock::now() < *lowered + 10s; ++second) {
            ASSERT_LE(second, 30) << "the service took no lower";
            runUntilTime(raisedAt + second * 1s);
            if (refused && second == 6) service.clearFaults();
            ASSERT_TRUE(everyoneReplied());
            const auto now = std::chrono::steady_clock::now();
            if (!lowered && !handAtService(a)) lowered = now;
            early += !lowered && !(handShown(b, a) && handShown(host, a));
            late += lowered && now > *lowered && (handShown(b, a) || handShown(host, a));
            sample({&b, &host}, a, std::to_string(second) + " s" + (lowered ? " (lowered)" : ""));
        }
        EXPECT_EQ(early, 0) << "samples without her hand before the service had her lower:" << sampleLog;
        EXPECT_EQ(late, 0) << "samples with her hand after a reply that had her lower:" << sampleLog;
        EXPECT_EQ(untold, 0) << sampleLog;
        EXPECT_EQ(toldOf(b, lines), lines);
        EXPECT_EQ(toldOf(host, lines), lines);
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AHostsLowerAllCrossingARaiseWhoseMessageFailedLeavesHerHandDown) {
    // Her raise reaches the service as the host lowers every hand, and its message fails; she hears
    // the lower-all.
    for (const bool handledLate : {false, true}) {
        SCOPED_TRACE(handledLate ? "the raise handled after the lower-all" : "the raise answered after the lower-all");
        meet(GetParam());
        untold = 0;
        sampleLog.clear();
        Member &host = members[0], &a = members[1], &b = members[2];
        const auto slow = handledLate ? MeetingServiceFault::handledLate(1500ms) : MeetingServiceFault::delayed(1500ms);
        service.injectFault(R::postRoomConnectionStatus, slow.times(1).forParticipant(a.uid()));
        failNextChannelMessageOf(a);
        const std::size_t posts = fullPostsOf(a);
        const auto raisedAt = std::chrono::steady_clock::now();
        a.client->raiseHand();
        ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, RetryBackOff::kMaxDelay));
        ASSERT_TRUE(lowerAll(host));
        ASSERT_TRUE(main->runUntil([&] { return a.heard->has("hands lowered") && b.heard->has("hands lowered"); }, 5s));
        for (int sampled = 1; sampled <= 24; ++sampled) {
            runUntilTime(raisedAt + sampled * 250ms);
            sample({&b, &host}, a, std::to_string(sampled * 250) + " ms");
            if (sampled % 8 == 0) {
                ASSERT_TRUE(everyoneReplied());
            }
        }
        EXPECT_EQ(whoShowsTheHandOf(a), "");
        EXPECT_EQ(untold, 0) << sampleLog;
        EXPECT_TRUE(toldEachChangeOnce(b, a) && toldEachChangeOnce(host, a)) << sampleLog;
        EXPECT_FALSE(a.client->getMeetingLocalUser()->isHandRaised());
        EXPECT_EQ(a.heard->count("hand up"), 1u);
        EXPECT_LE(a.heard->count("hand down"), 1u);
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AHostsLowerAllStandsThoughHerPollCrossedHerMove) {
    for (const bool heard : {false, true}) {
        SCOPED_TRACE(heard ? "she hears the lower-all" : "nobody hears the lower-all");
        meet(GetParam());
        untold = 0;
        sampleLog.clear();
        Member &host = members[0], &a = members[1], &b = members[2];
        // Her poll is handled 3 s late; meanwhile the host moves her to the audience, so her role
        // post crosses the poll, and 0.8 s later lowers every hand.
        ASSERT_NO_FATAL_FAILURE(raiseThenPollLate(a));
        ASSERT_TRUE(hostMoves(a, KRUserRole::audience(), "to audience"));
        runUntilTime(std::chrono::steady_clock::now() + 800ms);
        if (!heard) failNextChannelMessageOf(host);
        ASSERT_TRUE(lowerAll(host));
        const auto loweredAt = std::chrono::steady_clock::now();
        int upLate = 0;
        for (int sampled = 1; sampled <= 24; ++sampled) {
            runUntilTime(loweredAt + sampled * 250ms);
            const std::string up = whoShowsTheHandOf(a);
            upLate += sampled * 250ms >= 3s && !up.empty();
            sample({&b, &host}, a, std::to_string(sampled * 250) + " ms" + (up.find(a.uid()) != std::string::npos ? " (hers up)" : ""));
            if (sampled % 8 == 0) {
                ASSERT_TRUE(everyoneReplied());
            }
        }
        EXPECT_EQ(upLate, 0) << "samples with her hand up from 3 s after the lower-all:" << sampleLog;
        EXPECT_EQ(whoShowsTheHandOf(a), "");
        EXPECT_EQ(service.participant(room.meetingId, a.uid())->participantType, "audience");
        EXPECT_EQ(untold, 0) << sampleLog;
        EXPECT_TRUE(toldEachChangeOnce(b, a) && toldEachChangeOnce(host, a)) << sampleLog;
        // Her app is told once that her hand went down: by the lower-all (a room road tells her
        // hand as well), or by the service's word.
        EXPECT_EQ(a.heard->count("hand up"), 1u);
        EXPECT_LE(a.heard->count("hand down"), 1u);
        if (!heard) {
            EXPECT_EQ(a.heard->count("hand down"), 1u);
        }
        EXPECT_EQ(a.heard->count("to audience"), 1u);
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AMoveBackAfterAnUnheardLowerAllLeavesHerHandDown) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    // Her poll is handled 3 s late. Meanwhile the host moves her to the audience (her role post
    // crosses the poll), lowers every hand 0.8 s later with a message nobody gets, and moves her
    // back to the speakers at 1.2 s.
    ASSERT_NO_FATAL_FAILURE(raiseThenPollLate(a));
    const auto movedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(hostMoves(a, KRUserRole::audience(), "to audience"));
    runUntilTime(movedAt + 800ms);
    failNextChannelMessageOf(host);
    ASSERT_TRUE(lowerAll(host));
    const auto loweredAt = std::chrono::steady_clock::now();
    runUntilTime(movedAt + 1200ms);
    ASSERT_TRUE(hostMoves(a, KRUserRole::speaker(), "to participants"));
    int upLate = 0, audienceLate = 0;
    for (int sampled = 1; sampled <= 32; ++sampled) {
        runUntilTime(loweredAt + sampled * 250ms);
        const auto now = std::chrono::steady_clock::now();
        const std::string up = whoShowsTheHandOf(a);
        upLate += now >= loweredAt + 3s && !up.empty();
        audienceLate += *pollAnswered && now >= **pollAnswered + 1s &&
                        service.participant(room.meetingId, a.uid())->participantType != "speaker";
        sample({&b, &host}, a, std::to_string(sampled * 250) + " ms" + (up.empty() ? "" : " (up:" + up + ")"));
        if (sampled % 8 == 0) {
            ASSERT_TRUE(everyoneReplied());
        }
    }
    ASSERT_TRUE(pollAnswered->has_value());
    EXPECT_EQ(upLate, 0) << "samples with her hand up from 3 s after the lower-all:" << sampleLog;
    EXPECT_EQ(audienceLate, 0) << "samples with her in the audience from 1 s after her poll's answer";
    EXPECT_EQ(whoShowsTheHandOf(a), "");
    EXPECT_EQ(untold, 0) << sampleLog;
    EXPECT_TRUE(toldEachChangeOnce(b, a) && toldEachChangeOnce(host, a)) << sampleLog;
    EXPECT_EQ(a.heard->count("hand up"), 1u);
    EXPECT_EQ(a.heard->count("hand down"), 1u);
    EXPECT_EQ(a.heard->count("to audience"), 1u);
    EXPECT_EQ(a.heard->count("to participants"), 1u);
    for (const Member* viewer : {&b, &host}) {
        EXPECT_LE(viewer->heard->count("remote to audience " + a.uid()), 1u);
        EXPECT_LE(viewer->heard->count("remote to participants " + a.uid()), 1u);
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, ASlowServicesOlderRepliesLeaveARaiseAPushShowedStanding) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return whoShowsTheHandOf(a) == " service " + host.uid() + " " + a.uid() + " " + b.uid(); }, 5s));
    a.client->lowerHand();
    ASSERT_TRUE(main->runUntil([&] { return whoShowsTheHandOf(a).empty(); }, 5s));
    main->runFor(ParticipantHolds::kShortHold);  // no push is held against her lower's message
    ASSERT_TRUE(everyoneReplied());
    const std::size_t toldB = b.heard->lines.size(), toldHost = host.heard->lines.size();
    // Every reply is composed when asked and answered 2.5 s later; her raise is handled 2 s late,
    // and 1.2 s after it the host's mute makes the service push every record, hers still down.
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::delayed(2500ms));
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::handledLate(2000ms).times(1).forParticipant(a.uid()));
    const auto raisedAt = std::chrono::steady_clock::now();
    a.client->raiseHand();
    bool shownB = false, shownHost = false;
    int downAfter = 0;
    for (int sampled = 1; sampled <= 28; ++sampled) {
        runUntilTime(raisedAt + sampled * 250ms);
        if (sampled == 5) host.client->muteLocalAudio(true);
        // The others keep asking, each question answered late.
        if (sampled % 2 == 0) {
            internals(b.client).roomSync().fetchRoomStatus({});
            internals(host.client).roomSync().fetchRoomStatus({});
        }
        downAfter += (shownB && !handShown(b, a)) + (shownHost && !handShown(host, a));
        shownB |= handShown(b, a);
        shownHost |= handShown(host, a);
        sample({&b, &host}, a, std::to_string(sampled * 250) + " ms");
    }
    ASSERT_TRUE(handAtService(a));
    EXPECT_EQ(downAfter, 0) << "samples without her hand once shown:" << sampleLog;
    EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid());
    EXPECT_EQ(untold, 0) << sampleLog;
    const auto since = [&](const Member& m, std::size_t from) {
        const std::vector<std::string> after(m.heard->lines.begin() + static_cast<std::ptrdiff_t>(from), m.heard->lines.end());
        std::vector<std::string> told;
        std::copy_if(after.begin(), after.end(), std::back_inserter(told), [&](const std::string& l) { return l == lines[0] || l == lines[1]; });
        return told;
    };
    EXPECT_EQ(since(b, toldB), std::vector<std::string>{lines[0]}) << sampleLog;
    EXPECT_EQ(since(host, toldHost), std::vector<std::string>{lines[0]}) << sampleLog;
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, UnheardChangesReachTheOthersFromTheServiceToldOnce) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    const std::size_t messages = channelMessagesOf(a);
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a) && channelMessagesOf(a) > messages; }, 5s));
    const auto heardAt = std::chrono::steady_clock::now();
    // The host lowers every hand, and nobody hears it say so. The push came within the short bound
    // of her message: b asks at the bound, nobody else need ask.
    failNextChannelMessageOf(host);
    ASSERT_TRUE(lowerAll(host) && !handAtService(a));
    const auto loweredAt = std::chrono::steady_clock::now();
    for (int sampled = 1; std::chrono::steady_clock::now() < heardAt + ParticipantHolds::kShortHold + 1500ms; ++sampled) {
        runUntilTime(loweredAt + sampled * 250ms);
        sample({&b, &host}, a, "lower-all + " + std::to_string(sampled * 250) + " ms");
    }
    EXPECT_EQ(whoShowsTheHandOf(a), "") << "the short bound and its question passed:" << sampleLog;
    // She raises again, its message lost: the push that shows it is the service's word.
    runUntilTime(loweredAt + ParticipantHolds::kShortHold);
    failNextChannelMessageOf(a);
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
    const auto raisedAt = std::chrono::steady_clock::now();
    for (int sampled = 1; sampled <= 8; ++sampled) {
        runUntilTime(raisedAt + sampled * 250ms);
        sample({&b, &host}, a, "raise + " + std::to_string(sampled * 250) + " ms");
    }
    EXPECT_TRUE(handShown(b, a) && handShown(host, a)) << sampleLog;
    ASSERT_TRUE(everyoneReplied());
    EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid());
    EXPECT_EQ(untold, 0) << sampleLog;
    EXPECT_EQ(toldOf(b, lines), (std::vector<std::string>{lines[0], lines[1], lines[0]}));
    EXPECT_TRUE(toldEachChangeOnce(host, a)) << sampleLog;
    EXPECT_EQ(a.heard->count("hand down"), 1u);
    EXPECT_EQ(a.heard->count("hand up"), 2u);
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, OneWhoJoinsAgainWhileHerMessageIsOnItsWayListsHerHandOnce) {
    // The service has her raise at once and answers it 1.5 s late: her message goes with the
    // answer. b leaves and joins again meanwhile.
    struct Row {
        const char* name;
        std::chrono::milliseconds leaveAfter;
        bool slowJoin;  ///< b's login is answered 1 s late, and her message goes meanwhile
    };
    for (const Row& row : {Row{"b back before her message goes", 0ms, false}, Row{"her message goes while b joins again", 1200ms, true}}) {
        SCOPED_TRACE(row.name);
        meet(GetParam());
        untold = 0;
        sampleLog.clear();
        Member &host = members[0], &a = members[1], &b = members[2];
        const std::string up = "remote hand " + a.uid() + " up", down = "remote hand " + a.uid() + " down";
        service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::delayed(1500ms).times(1).forParticipant(a.uid()));
        const std::size_t messages = channelMessagesOf(a);
        const auto raisedAt = std::chrono::steady_clock::now();
        a.client->raiseHand();
        runUntilTime(raisedAt + row.leaveAfter);
        b.client->leaveMeeting(KRUserLeftReason::leaveMeeting());
        ASSERT_TRUE(main->runUntil([&] { return b.heard->has("left"); }, 5s));
        const auto rejoinedFrom = static_cast<std::ptrdiff_t>(b.heard->lines.size());
        if (row.slowJoin) service.injectFault(R::guestLogin, MeetingServiceFault::delayed(1000ms).times(1));
        join(b, false);
        ASSERT_TRUE(main->runUntil([&] { return channelMessagesOf(a) > messages; }, 5s));
        EXPECT_EQ(internals(b.client).isJoining(), row.slowJoin) << "b joining again as her message went";
        ASSERT_TRUE(main->runUntil([&] { return !internals(b.client).isJoining() && everyoneListsEveryone(); }, 10s));
        const auto backAt = std::chrono::steady_clock::now();
        for (int sampled = 1; sampled <= 16; ++sampled) {
            runUntilTime(backAt + sampled * 250ms);
            sample({&b, &host}, a, "b back + " + std::to_string(sampled * 250) + " ms");
            if (sampled % 6 == 0) {
                ASSERT_TRUE(everyoneReplied());
            }
        }
        EXPECT_EQ(whoShowsTheHandOf(a), " service " + host.uid() + " " + a.uid() + " " + b.uid());
        EXPECT_EQ(untold, 0) << sampleLog;
        // In b's new meeting: up once, on joining or by a report, and never down.
        const std::vector<std::string> again(b.heard->lines.begin() + rejoinedFrom, b.heard->lines.end());
        EXPECT_EQ(std::count(again.begin(), again.end(), up) + std::count(again.begin(), again.end(), up + " on joining"), 1);
        EXPECT_EQ(std::count(again.begin(), again.end(), down), 0);
        EXPECT_EQ(toldOf(host, {up, down}), std::vector<std::string>{up});
    }
}

TEST_P(KRClientHeldStateOnARoadIntegrationTest, ASecondHostsListFollowsTheOthersLowerAllOnce) {
    for (const bool heard : {true, false}) {
        SCOPED_TRACE(heard ? "the lower-all heard" : "the lower-all's message lost");
        meet(GetParam(), {true, false, true});
        untold = 0;
        sampleLog.clear();
        Member &host = members[0], &a = members[1], &b = members[2];  // b hosts too
        const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
        const std::size_t messages = channelMessagesOf(a);
        a.client->raiseHand();
        ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a) && channelMessagesOf(a) > messages; }, 5s));
        const auto heardAt = std::chrono::steady_clock::now();
        if (!heard) failNextChannelMessageOf(host);
        ASSERT_TRUE(lowerAll(host) && !handAtService(a));
        const auto loweredAt = std::chrono::steady_clock::now();
        // Nobody asks: the lower-all's message, or else the question asked at the short bound of
        // her message, brings the other host's list down.
        int upOnceHeard = 0;
        for (int sampled = 1; std::chrono::steady_clock::now() < heardAt + ParticipantHolds::kShortHold + 1500ms; ++sampled) {
            runUntilTime(loweredAt + sampled * 250ms);
            upOnceHeard += heard && handShown(b, a);
            sample({&b, &host}, a, std::to_string(sampled * 250) + " ms");
        }
        EXPECT_EQ(upOnceHeard, 0) << sampleLog;
        EXPECT_EQ(whoShowsTheHandOf(a), "") << sampleLog;
        ASSERT_TRUE(everyoneReplied());
        EXPECT_EQ(whoShowsTheHandOf(a), "");
        EXPECT_EQ(untold, 0) << sampleLog;
        EXPECT_TRUE(toldEachChangeOnce(b, a) && toldEachChangeOnce(host, a)) << sampleLog;
        EXPECT_EQ(b.heard->count("hands lowered"), heard ? 1u : 0u);
        const auto toldB = toldOf(b, lines);
        EXPECT_TRUE(!toldB.empty() && toldB.front() == lines[0] && toldB.size() <= 2u) << sampleLog;
    }
}

}  // namespace
}  // namespace kr
