// What an app was told of a hand or a role holds against the service's older word: the host's
// own lower-all on its own list, the raiser's hand after a lower-all that overtook her raise, a
// role the engine reported against a push or a reply that still has the old one, and a hand heard
// by message while the service has not taken it yet. Clients on the local meeting service (real
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
#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingCodes.h"
#include "platform/Messaging/MessagingOperation.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/EngineTestDelegate.h"
#include "support/LocalMeetingDependencies.h"
#include "testing/KRClientTestSeam.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/KrMediaTestEngine.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;

enum class Road { defaultEngine, agora, krMedia };
const char* const kRoadNames[] = {"default engine", "agora", "kr-media"};
void PrintTo(Road road, std::ostream* os) { *os << kRoadNames[static_cast<int>(road)]; }

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
};

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<Heard> heard;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

class KRClientHeldStateIntegrationTest : public ::testing::Test {
protected:
    ~KRClientHeldStateIntegrationTest() override { members.clear(); }

    /// A host, a and b in a fresh room on `road`, each listing the others.
    void meet(Road road) {
        members.clear();
        service.clearFaults();
        room = test::MeetingRoomSetup{};
        room.meetingId = std::to_string(7100000000 + ++rooms);
        room.roomId = "room-" + room.meetingId;
        room.mediaEngine = road == Road::krMedia ? "kr-media" : "agora";
        service.addRoom(room);
        const std::size_t logins = service.roomSocket().loginCount();
        for (const bool host : {true, false, false}) {
            KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
            deps.extensionNotifications = std::make_shared<platform::DarwinNotifyCenter>();
            Member& m = members.emplace_back(Member{KRClient::create(deps), std::make_shared<Heard>(main)});
            m.client->setMultiMediaEngineIntegration(road != Road::defaultEngine);
            if (road == Road::krMedia) m.client->setRtcEngineManager(test::KrMediaTestEngine::create(deps));
            m.client->joinMeeting(
                KRJoinMeetingData(room.meetingId, room.pin, "Name"),
                KRJoinMeetingConfig(host ? KRUserRole::host(room.hostToken) : KRUserRole::speaker(), true, true),
                m.heard);
        }
        EXPECT_TRUE(main->runUntil(
            [&] {
                for (const Member& m : members)
                    for (const Member& other : members)
                        if (&m != &other && !m.client->getUser(other.uid())) return false;
                return service.roomSocket().loginCount() >= logins + members.size();
            },
            10s));
        main->runFor(200ms);  // the joins' own status calls are answered
    }

    void failNextChannelMessageOf(const Member& m) {
        messaging->failNext(platform::MessagingOperation::sendChannelMessage, platform::MessagingCodes::kFailure,
                            m.uid());
    }
    bool lowerAll(Member& host) {
        std::optional<bool> lowered;
        host.client->lowerAllUsersHands([&](bool ok) { lowered = ok; });
        return main->runUntil([&] { return lowered.has_value(); }, 5s) && *lowered;
    }
    bool statusReplied(Member& m) {
        std::optional<bool> answered;
        internals(m.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
        return main->runUntil([&] { return answered.has_value(); }, 5s) && *answered;
    }
    bool everyoneReplied() {
        return std::all_of(members.begin(), members.end(), [&](Member& m) { return statusReplied(m); });
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

    /// What `viewer`'s app was told of the lines in `of`, in order.
    static std::vector<std::string> toldOf(const Member& viewer, const std::vector<std::string>& of) {
        std::vector<std::string> told;
        std::copy_if(viewer.heard->lines.begin(), viewer.heard->lines.end(), std::back_inserter(told),
                     [&](const std::string& l) { return std::find(of.begin(), of.end(), l) != of.end(); });
        return told;
    }

    std::shared_ptr<platform::MainQueue> main = platform::MainQueue::create(platform::SteadyClock::instance());
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::deque<Member> members;
    test::MeetingRoomSetup room;
    int rooms = 0;
};

TEST_F(KRClientHeldStateIntegrationTest, TheHostsLowerAllLowersTheHandsInItsOwnList) {
    for (const Road road : {Road::defaultEngine, Road::agora, Road::krMedia}) {
        SCOPED_TRACE(kRoadNames[static_cast<int>(road)]);
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            // The service never records the raise; the others hear of it by message.
            service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503));
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a); }, 5s));
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
            // The service takes a's state again on its back-off.
            const std::size_t posts = fullPostsOf(a);
            service.clearFaults();
            ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, 5s));
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
            SCOPED_TRACE(std::string(kRoadNames[static_cast<int>(road)]) + ", " +
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
                ASSERT_TRUE(main->runUntil([&] { return host.heard->has("remote hand " + a.uid() + " up"); }, 5s));
                host.client->lowerAllUsersHands({});
                ASSERT_TRUE(main->runUntil([&] { return a.heard->has("hands lowered"); }, 5s));
                const std::size_t heardAt = a.heard->lines.size();
                EXPECT_FALSE(a.client->getMeetingLocalUser()->isHandRaised()) << "on hearing it";

                // a's last post: the lost state once the outage ends, or the late raise's answer.
                if (timing == Timing::postsRefused) {
                    const std::size_t posts = fullPostsOf(a);
                    service.clearFaults();
                    ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, 5s));
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
        SCOPED_TRACE(kRoadNames[static_cast<int>(road)]);
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && handShown(host, a) && handShown(b, a); }, 5s));
            ASSERT_TRUE(everyoneReplied());
            // The service lowers every hand, but nobody hears the host say so.
            failNextChannelMessageOf(host);
            const std::size_t heardBefore = a.heard->lines.size();
            ASSERT_TRUE(lowerAll(host) && !handAtService(a));
            // Its push is news of her own hand, well before any poll: she asks, and the reply decides.
            EXPECT_TRUE(main->runUntil([&] { return !a.client->getMeetingLocalUser()->isHandRaised(); }, 3s));
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
        SCOPED_TRACE(kRoadNames[static_cast<int>(road)]);
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
        SCOPED_TRACE(kRoadNames[static_cast<int>(road)]);
        [&] {
            meet(road);
            Member &host = members[0], &a = members[1], &b = members[2];
            // a's raise message fails: the others list her hand from the service's push.
            failNextChannelMessageOf(a);
            a.client->raiseHand();
            ASSERT_TRUE(main->runUntil([&] { return handAtService(a) && handShown(host, a) && handShown(b, a); }, 5s));
            const auto sent = messaging->sentMessages();
            const auto raise = std::find_if(sent.rbegin(), sent.rend(), [&](const auto& r) {
                return r.from == a.uid() && r.route == platform::MessagingRecord::Route::channel && r.code != 0;
            });
            ASSERT_NE(raise, sent.rend());
            // The message reaches them late, after the record that already showed it.
            ASSERT_EQ(messaging->injectChannelMessage(raise->to, a.uid(), raise->text), 2u);
            main->runFor(200ms);
            // The service lowers every hand; nobody hears the host say so.
            failNextChannelMessageOf(host);
            ASSERT_TRUE(lowerAll(host) && !handAtService(a));
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
            SCOPED_TRACE(std::string(kRoadNames[static_cast<int>(road)]) + ", " + row.name);
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
            SCOPED_TRACE(std::string(kRoadNames[static_cast<int>(road)]) + ", " + row.name);
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
                SCOPED_TRACE(std::string(kRoadNames[static_cast<int>(road)]) + ", " + row.name +
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
                        ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) > posts; }, 5s));
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
        SCOPED_TRACE(kRoadNames[static_cast<int>(road)]);
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
    // Two reports the others heard in turn, the first never shown by the service; then the
    // service changes the hand back with no one saying so. What it shows then is no late copy
    // of the first report: the lists follow it once their reports are old enough.
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
            SCOPED_TRACE(std::string(kRoadNames[static_cast<int>(road)]) + ", " + row.name);
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
                    return main->runUntil([&] { return fullPostsOf(a) > posts; }, 5s) && heard(told);
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
                    // The raise goes at once, crossing the refused lower.
                    const std::size_t posts = fullPostsOf(a);
                    a.client->lowerHand();
                    a.client->raiseHand();
                    ASSERT_TRUE(main->runUntil([&] { return fullPostsOf(a) >= posts + 2; }, 5s) && heard(3));
                } else {
                    ASSERT_TRUE(changed(&KRClient::raiseHand, 1));
                    ASSERT_TRUE(changed(&KRClient::lowerHand, 2));
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
                // Told of each message once, and of the service's change, on every road.
                std::vector<std::string> told;
                const std::size_t changes = (row.mirror ? 3 : 2) + 1;
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
    /// any word it is down, as it was when they met.
    static bool toldUp(const Member& viewer, const Member& of) {
        const std::string up = "remote hand " + of.uid() + " up", down = "remote hand " + of.uid() + " down";
        const auto last = std::find_if(viewer.heard->lines.rbegin(), viewer.heard->lines.rend(), [&](const std::string& l) {
            return l == up || l == down || l == "hands lowered";
        });
        return last != viewer.heard->lines.rend() && *last == up;
    }
    static const char* upOrDown(bool up) { return up ? "up" : "down"; }
    void runUntilTime(std::chrono::steady_clock::time_point at) { main->runFor(at - std::chrono::steady_clock::now()); }
};

std::string roadTestName(const ::testing::TestParamInfo<Road>& road) {
    const char* const names[] = {"DefaultEngine", "Agora", "KrMedia"};
    return names[static_cast<int>(road.param)];
}

INSTANTIATE_TEST_SUITE_P(Roads, KRClientHeldStateOnARoadIntegrationTest,
                         ::testing::Values(Road::defaultEngine, Road::agora, Road::krMedia), roadTestName);

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AHandHeardByMessageHoldsThroughALongOutageOfHerPosts) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    // Every status post of hers is refused for 40 s; her messages and her microphone go through.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::withStatus(503).forParticipant(a.uid()));
    const auto raisedAt = std::chrono::steady_clock::now();
    a.client->raiseHand();
    // The mute makes the service push every record, hers with the hand still down.
    a.client->muteLocalAudio(true);
    ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a); }, 5s));
    ASSERT_TRUE(main->runUntil([&] { return !service.participant(room.meetingId, a.uid())->isMicOn; }, 5s));
    ASSERT_FALSE(handAtService(a));
    int down = 0;
    std::string samples;
    for (int second = 1; second <= 40; ++second) {
        runUntilTime(raisedAt + second * 1s);
        if (second % 5 == 0) {
            ASSERT_TRUE(everyoneReplied());
        }
        down += !handShown(b, a) || !handShown(host, a);
        samples += std::to_string(second) + "s b " + upOrDown(handShown(b, a)) + ", host " +
                   upOrDown(handShown(host, a)) + "; ";
    }
    EXPECT_EQ(down, 0) << "samples without her hand in b's or the host's list: " << samples;
    // The service answers her again: her microphone's answer sends her state at once, rather than
    // at the end of a back-off grown over the outage, and the raise is taken.
    service.clearFaults();
    a.client->muteLocalAudio(false);
    ASSERT_TRUE(main->runUntil([&] { return handAtService(a); }, 5s));
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

TEST_P(KRClientHeldStateOnARoadIntegrationTest, AHandHeardByMessageHoldsWhileHerPostIsHandledLate) {
    meet(GetParam());
    Member &host = members[0], &a = members[1], &b = members[2];
    const std::vector<std::string> lines = {"remote hand " + a.uid() + " up", "remote hand " + a.uid() + " down"};
    // Her post reaches the service at once and is handled 5 s later; the others hear her at once.
    service.injectFault(R::postRoomConnectionStatus, MeetingServiceFault::handledLate(5000ms).times(1).forParticipant(a.uid()));
    a.client->raiseHand();
    ASSERT_TRUE(main->runUntil([&] { return handShown(host, a) && handShown(b, a); }, 5s));
    const auto heardAt = std::chrono::steady_clock::now();
    // Meanwhile the host's microphone makes the service push every record, and everyone asks.
    int down = 0, sample = 0;
    std::string samples;
    std::optional<std::chrono::steady_clock::time_point> taken;
    while (!taken || std::chrono::steady_clock::now() < *taken + 2s) {
        ASSERT_LT(sample, 60) << "the service took no raise";
        runUntilTime(heardAt + ++sample * 250ms);
        if (!taken && handAtService(a)) taken = std::chrono::steady_clock::now();
        down += !handShown(b, a) || !handShown(host, a);
        samples += std::to_string(sample * 250) + " ms b " + upOrDown(handShown(b, a)) + ", host " +
                   upOrDown(handShown(host, a)) + "; ";
        if (sample == 4 || sample == 10) host.client->muteLocalAudio(sample == 4);
        if (sample == 6 || sample == 12 || sample == 16) {
            ASSERT_TRUE(everyoneReplied());
        }
    }
    EXPECT_EQ(down, 0) << "samples without her hand in b's or the host's list: " << samples;
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

}  // namespace
}  // namespace kr
