// The room sync on its own, against a recording owner on a manual clock: the one applier of the
// service's participant records over both of its sources, the local state posted again with a
// back-off, the polls, the watchdog and the own status post.

#include "KivRaneCoreSDK/Meeting/RoomSync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;
using OwnStatus = RoomSync::OwnStatus;

KRMeetingParticipant record(const std::string& id, const std::string& name,
                            const std::string& userId = {}) {
    KRMeetingParticipant p;
    p.participantId = id;
    p.participantName = name;
    p.userId = userId.empty() ? "u" + id : userId;
    return p;
}

KRRtcParticipantState peer(std::uint64_t uid) {
    KRRtcParticipantState state;
    state.uid = uid;
    return state;
}

RoomSync::Acknowledgement accepted() {
    return KRAPISuccess::fromJson(boost::json::parse(R"({"success": true})")).value();
}
RoomSync::Acknowledgement lost() { return Failure{KRApiRequestError::networkFailure()}; }
RoomSync::Acknowledgement refused() {
    return Failure{KRApiRequestError::failedApi(std::nullopt, 400)};
}

/// Plays the meeting: its session, store and merge, and a log of everything the sync asks.
struct FakeOwner : RoomSync::Owner {
    explicit FakeOwner(std::shared_ptr<platform::DispatchQueue> q) : queue(std::move(q)) {}

    struct Post {
        KRAPIRequest<KRAPISuccess> request;
        std::function<void(const RoomSync::Acknowledgement&)> reply;
        bool has(const char* key) const { return request.requestParameters.contains(key); }
        bool flag(const char* key) const { return request.requestParameters.at(key).as_bool(); }
    };

    MeetingSession* session() override { return meeting.get(); }
    KRCurrentRoom& room() override { return store; }
    MeetingParticipantsManager& participantMerge() override { return merge; }
    bool recordsGoToMerge() const override { return toMerge; }
    std::string nameToShow(const std::string& userId, std::string givenName) const override {
        const auto it = contacts.find(userId);
        return it != contacts.end() && !it->second.empty() ? it->second : givenName;
    }
    bool isLocalUserInAudienceMode() const override { return audience; }
    std::string deviceId() const override { return "device-1"; }
    bool bypassesServer() const override { return bypass; }
    bool allowsRoomCall(std::string_view, const RoomSync::Completion& completion) override {
        if (!allowed && completion) queue->post([completion] { completion(false); });
        return allowed;
    }
    void send(const KRAPIRequest<KRAPISuccess>& request,
              std::function<void(const RoomSync::Acknowledgement&)> onReply) override {
        posts.push_back({request, std::move(onReply)});
    }
    void send(const KRAPIRequest<KRRoomConnectionStatus>&,
              std::function<void(const RoomSync::RoomStatusReply&)> onReply) override {
        fetches.push_back(std::move(onReply));
    }
    void startSocketService() override { log.push_back("socket start"); }
    void stopSocketService() override { log.push_back("socket stop"); }
    void recordingChanged(bool on, std::optional<std::uint64_t>) override {
        log.push_back(on ? "recording on" : "recording off");
    }
    void startRemoteWhiteboard(const std::string& name, const std::string& id) override {
        log.push_back("whiteboard " + name + " " + id);
    }
    void announceLocalHand(bool raised) override {
        log.push_back(raised ? "hand raised" : "hand lowered");
        ++handMessages;
    }
    bool markLocalHand(bool) override { return true; }
    void reportLocalHandLater() override { ++localHandReports; }

    /// Answers the oldest post still waiting.
    void answerPost(const RoomSync::Acknowledgement& result) {
        ASSERT_FALSE(posts.empty());
        Post post = std::move(posts.front());
        posts.pop_front();
        post.reply(result);
    }

    std::shared_ptr<platform::DispatchQueue> queue;
    std::unique_ptr<MeetingSession> meeting;
    KRCurrentRoom store;
    MeetingParticipantsManager merge;
    bool toMerge = false;
    bool bypass = false;
    bool allowed = true;
    bool audience = false;
    std::map<std::string, std::string> contacts;
    std::deque<Post> posts;
    std::deque<std::function<void(const RoomSync::RoomStatusReply&)>> fetches;
    std::size_t handMessages = 0;  ///< the hand messages sent
    int localHandReports = 0;
    Lines log;
};

class RoomSyncTest : public ::testing::Test {
protected:
    void SetUp() override {
        owner->store.userWebRtcId = "1";
        owner->merge.setCurrentParticipantId("1");
    }

    /// A meeting the local user is in.
    void inMeeting() {
        owner->meeting = std::make_unique<MeetingSession>(queue);
        owner->meeting->reachMeeting();
    }
    void advance(platform::Clock::duration d) {
        clock->advance(d);
        queue->runPending();
    }
    /// A new owner and sync, in a meeting.
    void freshMeeting() {
        owner = std::make_shared<FakeOwner>(queue);
        sync = RoomSync::create(owner, queue);
        owner->store.userWebRtcId = "1";
        inMeeting();
    }
    /// The same, where the local hand went up and the others were told.
    void freshMeetingWithHandUpAndTold() {
        freshMeeting();
        sync->changeLocalHand(true, RoomSync::HandChange::byApp);
        owner->answerPost(accepted());
        ASSERT_EQ(owner->handMessages, 1u);
    }
    /// The local hand change went out and never reached the service.
    void loseHandChange() {
        owner->store.isCurrentUserHandRaised = true;
        sync->postLocalState();
        owner->answerPost(lost());
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<FakeOwner> owner = std::make_shared<FakeOwner>(queue);
    std::shared_ptr<RoomSync> sync = RoomSync::create(owner, queue);
};

// ---- One applier, two sources ----

enum class Source { statusReply, socketPush };

void applyFrom(Source source, RoomSync& sync, std::vector<KRMeetingParticipant> records) {
    if (source == Source::statusReply) {
        KRRoomConnectionStatus status;
        status.participants = std::move(records);
        sync.applyRoomStatus(status);
    } else {
        sync.applyParticipantRecords(std::move(records));
    }
}

class RoomSyncApplierTest : public RoomSyncTest, public ::testing::WithParamInterface<Source> {};

TEST_P(RoomSyncApplierTest, AParticipantTheEngineSawLeaveStaysOutOfThePanelAndTheMerge) {
    inMeeting();
    owner->toMerge = true;
    owner->store.offlineParticipantsIds = {"7"};
    Lines panel;
    owner->store.onMeetingParticipantUpdate = [&](const KRMeetingParticipant& p) {
        panel.push_back(p.participantId);
    };
    applyFrom(GetParam(), *sync, {record("7", "Gone"), record("8", "Here")});
    ASSERT_EQ(owner->store.allParticipants.size(), 1u);
    EXPECT_EQ(owner->store.allParticipants[0].participantId, "8");
    EXPECT_EQ(panel, GetParam() == Source::socketPush ? Lines{"8"} : Lines{});
    EXPECT_EQ(owner->merge.getMeetingUser("7"), nullptr);
    EXPECT_NE(owner->merge.getMeetingUser("8"), nullptr);
    EXPECT_EQ(owner->store.matchingUser("7"), nullptr);
}

TEST_P(RoomSyncApplierTest, ThePanelHearsEachPushedRecordBeforeAnyUserIsMade) {
    inMeeting();
    owner->toMerge = true;
    Lines seen;
    owner->store.onMeetingParticipantUpdate = [&](const KRMeetingParticipant& p) {
        seen.push_back("panel " + p.participantId + " users " +
                       std::to_string(owner->store.meetingUsers().size()));
    };
    applyFrom(GetParam(), *sync, {record("7", "A"), record("8", "B")});
    // A status reply speaks to the panel through the records alone.
    const Lines expected = GetParam() == Source::socketPush
                               ? Lines{"panel 7 users 0", "panel 8 users 0"}
                               : Lines{};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(owner->store.meetingUsers().size(), 2u);
}

TEST_P(RoomSyncApplierTest, TheMergeReportsOnlyWhereItHoldsTheParticipants) {
    inMeeting();
    for (const bool toMerge : {false, true}) {
        SCOPED_TRACE(toMerge ? "records to the merge" : "engine makes the users");
        owner->toMerge = toMerge;
        owner->merge.clearAllData();
        int joined = 0;
        owner->merge.onNewUserJoined = [&](const auto&) { ++joined; };
        applyFrom(GetParam(), *sync, {record("7", "A")});
        EXPECT_EQ(joined, toMerge ? 1 : 0);
        EXPECT_NE(owner->merge.getMeetingUser("7"), nullptr);  // held either way
    }
}

TEST_P(RoomSyncApplierTest, TheRoomStoreGetsUsersFromRecordsOnlyWhereTheEngineDoesNotMakeThem) {
    inMeeting();
    owner->store.upsertNewParticipantFromRtcDB(peer(5));
    applyFrom(GetParam(), *sync, {record("5", "Five"), record("6", "Six")});
    // The engine brought 5 only: the record names it and makes nobody else.
    ASSERT_EQ(owner->store.meetingUsers().size(), 1u);
    EXPECT_EQ(owner->store.matchingUser("5")->displayName(), "Five");

    owner->toMerge = true;
    applyFrom(GetParam(), *sync, {record("6", "Six")});
    ASSERT_NE(owner->store.matchingUser("6"), nullptr);
    EXPECT_EQ(owner->store.matchingUser("6")->displayName(), "Six");
}

TEST_P(RoomSyncApplierTest, RecordsAreNamedFromTheContactsAndTheLocalRecordWaitsForALostChange) {
    inMeeting();
    owner->toMerge = true;
    owner->contacts = {{"u8", "Bea from work"}};
    loseHandChange();
    KRMeetingParticipant self = record("1", "Me");
    self.isHandRaise = false;  // the service never heard of the raise
    applyFrom(GetParam(), *sync, {self, record("8", "Bea")});
    ASSERT_EQ(owner->store.allParticipants.size(), 1u);
    EXPECT_EQ(owner->store.allParticipants[0].participantName, "Bea from work");
    EXPECT_EQ(owner->merge.getMeetingUser("8")->displayName(), "Bea from work");
    EXPECT_EQ(owner->merge.getMeetingUser("1"), nullptr);
}

TEST_P(RoomSyncApplierTest, TheLocalRecordWaitsWhileALocalChangeIsOnItsWay) {
    inMeeting();
    owner->toMerge = true;
    owner->store.isCurrentUserHandRaised = true;
    sync->postLocalState();
    KRMeetingParticipant self = record("1", "Me");
    self.isHandRaise = false;  // the service answered for the room before it took the raise
    applyFrom(GetParam(), *sync, {self, record("8", "Bea")});
    EXPECT_EQ(owner->merge.getMeetingUser("1"), nullptr);
    EXPECT_NE(owner->merge.getMeetingUser("8"), nullptr);
    owner->answerPost(accepted());
    self.isCoHost = true;
    applyFrom(GetParam(), *sync, {self});  // now the service's word counts again
    const auto me = owner->merge.getMeetingUser("1");
    ASSERT_NE(me, nullptr);
    EXPECT_TRUE(me->isCoHost());
    // A push may have been composed before the service took the change: the local user's own
    // state in it stays the client's. A reply, asked after the answer, is the service's word.
    EXPECT_EQ(me->isHandRaised(), GetParam() == Source::socketPush);
}

TEST_F(RoomSyncTest, AReplyAskedBeforeTheEngineReportedARoleLeavesThatRoleAlone) {
    inMeeting();
    const auto bea = owner->store.upsertNewParticipantFromRtcDB(peer(8));
    const auto speakerRecord = [] {
        KRRoomConnectionStatus status;
        status.participants = {record("8", "Bea")};
        status.participants[0].isHandRaise = true;
        return RoomSync::RoomStatusReply(status);
    };
    const auto answer = [&] {
        owner->fetches.front()(speakerRecord());
        owner->fetches.pop_front();
    };
    sync->fetchRoomStatus({});  // asked before the service took the move
    sync->fetchRoomStatus({});
    // The engine moves 8 to the audience, in the room store where it makes the users.
    bea->setIsSpeaker(false);
    answer();
    EXPECT_FALSE(bea->isSpeaker());
    EXPECT_TRUE(bea->isHandRaised());  // the rest of the record counts
    answer();
    EXPECT_FALSE(bea->isSpeaker());
    // Nor does one asked after the move: the engine alone moves a participant here.
    sync->fetchRoomStatus({});
    answer();
    EXPECT_FALSE(bea->isSpeaker());
    // Not even once a record showed the move.
    KRRoomConnectionStatus moved;
    moved.participants = {record("8", "Bea")};
    moved.participants[0].participantType = KRMeetingParticipantType::audience;
    sync->applyRoomStatus(moved);
    sync->fetchRoomStatus({});
    answer();
    EXPECT_FALSE(bea->isSpeaker());
}

/// The local user ("1") a speaker in the merge, as a confirmed move back from the audience left it.
std::shared_ptr<KRMeetingUser> localSpeakerInMerge(FakeOwner& owner) {
    owner.toMerge = true;
    KRMeetingParticipant self = record("1", "Me");
    self.participantType = KRMeetingParticipantType::speaker;
    owner.merge.upsertParticipantMetaData(self, {.reportChanges = false});
    return owner.merge.getMeetingUser("1");
}

/// Answers the oldest fetch with the local user's record in `type`.
void answerLocalAs(FakeOwner& owner, KRMeetingParticipantType type) {
    KRRoomConnectionStatus status;
    status.participants = {record("1", "Me")};
    status.participants[0].participantType = type;
    owner.fetches.front()(RoomSync::RoomStatusReply(status));
    owner.fetches.pop_front();
}

TEST_F(RoomSyncTest, TheLocalRecordWaitsForTheRolePostAndRepliesAskedBeforeItsAnswer) {
    inMeeting();
    const auto me = localSpeakerInMerge(*owner);
    ASSERT_TRUE(me && me->isSpeaker());
    // The service still has the local user in the audience it was moved out of.
    const auto answerWithAudience = [&] { answerLocalAs(*owner, KRMeetingParticipantType::audience); };
    sync->fetchRoomStatus({});  // asked before the post was answered, answered after
    sync->postLocalRole();
    ASSERT_EQ(owner->posts.size(), 1u);
    sync->fetchRoomStatus({});  // answered while the post is on its way
    answerWithAudience();
    EXPECT_TRUE(me->isSpeaker());
    owner->answerPost(accepted());
    answerWithAudience();
    EXPECT_TRUE(me->isSpeaker());
    // A question asked after the answer has the service's word on it.
    sync->fetchRoomStatus({});
    answerWithAudience();
    EXPECT_FALSE(me->isSpeaker());
}

TEST_F(RoomSyncTest, ALostRolePostIsPostedAgainAndItsMeetingsRecordsWaitForIt) {
    inMeeting();
    const auto me = localSpeakerInMerge(*owner);
    const auto answer = [&](KRMeetingParticipantType type) { answerLocalAs(*owner, type); };
    sync->postLocalRole();
    owner->answerPost(lost());
    EXPECT_TRUE(sync->hasLostLocalState());
    sync->fetchRoomStatus({});
    answer(KRMeetingParticipantType::audience);  // the service never had the move
    EXPECT_TRUE(me->isSpeaker());
    // Posted again; a reply asked before that post's answer is still older than the role.
    advance(RetryBackOff::kMaxDelay);
    ASSERT_EQ(owner->posts.size(), 1u);
    sync->fetchRoomStatus({});
    owner->answerPost(accepted());
    EXPECT_FALSE(sync->hasLostLocalState());
    answer(KRMeetingParticipantType::audience);
    EXPECT_TRUE(me->isSpeaker());

    // A late answer of an ended meeting's change holds nothing of the next meeting back.
    sync->postLocalRole();
    owner->meeting->startLeaving();
    inMeeting();
    localSpeakerInMerge(*owner);
    sync->fetchRoomStatus({});
    owner->answerPost(accepted());
    answer(KRMeetingParticipantType::audience);
    EXPECT_FALSE(owner->merge.getMeetingUser("1")->isSpeaker());
}

/// Bea ("8") as the meeting holds her where its participants live (the merge or the room store),
/// with the hand the others were just told of.
std::shared_ptr<KRMeetingUser> beaWithHand(FakeOwner& owner, bool raised) {
    KRMeetingParticipant bea = record("8", "Bea");
    bea.isHandRaise = raised;
    if (owner.toMerge) {
        owner.merge.upsertParticipantMetaData(bea, {.reportChanges = false});
        return owner.merge.getMeetingUser("8");
    }
    owner.store.updateParticipantsList(bea, KRCurrentRoom::PanelNotice::silent);
    auto user = owner.store.upsertNewParticipantFromRtcDB(peer(8));
    user->setIsHandRaised(raised);
    return user;
}

KRMeetingParticipant beaRecord(bool handRaised) {
    KRMeetingParticipant bea = record("8", "Bea");
    bea.isHandRaise = handRaised;
    return bea;
}

TEST_P(RoomSyncApplierTest, AnAnnouncedHandStandsOnlyAgainstRecordsComposedBeforeIt) {
    struct Case {
        const char* what;
        std::vector<bool> service;  ///< the hand each record says, in order (raised: true)
        std::vector<bool> shown;    ///< the hand the meeting holds after each
        /// How many records, from the first, were composed before her message: a push arriving
        /// within the short bound, a reply to a question asked before. The rest came after: a
        /// push arriving later, a reply to a question asked since.
        std::size_t composedBefore;
    };
    // Bea raised her hand: the others were told.
    const Case cases[] = {
        {"records from before it that still show it down change nothing",
         {false, false, false},
         {true, true, true},
         3},
        {"a record from after it is the service's word",
         {true, false},
         {true, false},
         1},
        {"set aside, then shown, then lowered and raised at the service",
         {false, true, false, true},
         {true, true, false, true},
         2},
    };
    for (const bool toMerge : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(toMerge ? "merge: " : "room store: ") + c.what);
            owner = std::make_shared<FakeOwner>(queue);
            sync = RoomSync::create(owner, queue);
            owner->store.userWebRtcId = "1";
            inMeeting();
            owner->toMerge = toMerge;
            const auto bea = beaWithHand(*owner, true);
            const bool reply = GetParam() == Source::statusReply;
            if (reply) {
                for (std::size_t i = 0; i < c.composedBefore; ++i) sync->fetchRoomStatus({});
            }
            sync->holdAnnouncedHand(bea);
            int handReports = 0;
            owner->merge.onUserDataUpdated = [&](const auto&, ParticipantUpdateType change) {
                handReports += change == ParticipantUpdateType::handRaise ? 1 : 0;
            };
            int changes = 0;
            bool before = true;
            for (std::size_t i = 0; i < c.service.size(); ++i) {
                const bool composedBefore = i < c.composedBefore;
                if (reply) {
                    if (!composedBefore) sync->fetchRoomStatus({});
                    KRRoomConnectionStatus status;
                    status.participants = {beaRecord(c.service[i])};
                    owner->fetches.front()(RoomSync::RoomStatusReply(status));
                    owner->fetches.pop_front();
                } else {
                    if (!composedBefore) advance(ParticipantHolds::kShortHold);
                    applyFrom(GetParam(), *sync, {beaRecord(c.service[i])});
                }
                EXPECT_EQ(bea->isHandRaised(), c.shown[i]) << "after record " << i;
                ASSERT_EQ(owner->store.allParticipants.size(), 1u);
                EXPECT_EQ(owner->store.allParticipants[0].isHandRaise, c.shown[i]);
                changes += c.shown[i] != std::exchange(before, c.shown[i]) ? 1 : 0;
            }
            // The merge reports what the meeting shows change, no more.
            EXPECT_EQ(handReports, toMerge ? changes : 0);
        }
    }
}

TEST_P(RoomSyncApplierTest, AHeldHandEndsWithItsMeetingAndItsParticipant) {
    inMeeting();
    // The local hand is not held here: its own changes are guarded apart.
    owner->store.upsertNewParticipantFromRtcDB(peer(1))->setIsHandRaised(true);
    sync->holdAnnouncedHand(owner->store.matchingUser("1"));
    KRMeetingParticipant self = record("1", "Me");
    applyFrom(GetParam(), *sync, {self});
    EXPECT_FALSE(owner->store.matchingUser("1")->isHandRaised());

    // Bea leaves and comes back: the user the meeting holds now is not the one told of.
    sync->holdAnnouncedHand(beaWithHand(*owner, true));
    owner->store.removeMediaTrack("8");
    const auto back = owner->store.upsertNewParticipantFromRtcDB(peer(8));
    back->setIsHandRaised(true);
    applyFrom(GetParam(), *sync, {beaRecord(false)});
    EXPECT_FALSE(back->isHandRaised());

    // A hold of an ended meeting holds nothing in the next.
    back->setIsHandRaised(true);
    sync->holdAnnouncedHand(back);
    inMeeting();
    applyFrom(GetParam(), *sync, {beaRecord(false)});
    EXPECT_FALSE(back->isHandRaised());
}

TEST_F(RoomSyncTest, AHandAPushShowedBeforeItsMessageStandsOnlyAgainstRecordsComposedBefore) {
    const auto answerWith = [&](bool raised) {
        KRRoomConnectionStatus status;
        status.participants = {beaRecord(raised)};
        owner->fetches.front()(RoomSync::RoomStatusReply(status));
        owner->fetches.pop_front();
    };
    // Her hand was down in an earlier record, or down in the list when the first record came.
    for (const bool earlierRecord : {true, false}) {
        SCOPED_TRACE(earlierRecord ? "an earlier record" : "the first record");
        inMeeting();
        const auto bea = beaWithHand(*owner, earlierRecord);
        if (earlierRecord) sync->applyParticipantRecords({beaRecord(false)});
        sync->fetchRoomStatus({});  // asked before the service took her raise
        sync->applyParticipantRecords({beaRecord(true)});
        sync->holdAnnouncedHand(bea);  // her message comes after the push
        answerWith(false);
        EXPECT_TRUE(bea->isHandRaised()) << "a reply asked before the message";
        // The host lowered every hand, unheard. A push right after the message may be older
        // than it: the service's word is asked once no push can be.
        sync->applyParticipantRecords({beaRecord(false)});
        EXPECT_TRUE(bea->isHandRaised()) << "a push right after the message";
        advance(ParticipantHolds::kShortHold - 1ms);
        EXPECT_TRUE(owner->fetches.empty());
        advance(1ms);
        ASSERT_EQ(owner->fetches.size(), 1u);
        answerWith(false);
        EXPECT_FALSE(bea->isHandRaised()) << "the reply asked once the bound passed";
    }
}

TEST_F(RoomSyncTest, ALowerRightAfterItsRaiseStandsAgainstRecordsComposedBeforeIt) {
    // Steps: "r1"/"r0" her raise or lower heard, "a" a fetch asked, "p1"/"p0" a push and "q1"/"q0"
    // the oldest fetch's reply showing her hand, "w" the short bound waited out; ":1"/":0" the
    // hand the meeting shows after it.
    struct Row {
        const char* what;
        const char* steps;
    };
    const Row rows[] = {
        {"a push from before the raise", "p0 r1 r0 p1:0 p0:0 p1:0 w p1:1"},
        {"a reply asked before the raise", "p0 a r1 r0 q0:0 p1:0 p0:0 p1:0 w q1:1"},
        {"a reply asked after both", "p0 r1 r0 a q0:0 p1:0 p0:0 p1:0 w q1:1"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        inMeeting();
        owner->fetches.clear();
        const auto bea = beaWithHand(*owner, false);
        std::istringstream steps(row.steps);
        for (std::string step; steps >> step;) {
            const bool raised = step.size() > 1 && step[1] == '1';
            switch (step[0]) {
                case 'r':
                    sync->holdAnnouncedHand(bea);
                    bea->setIsHandRaised(raised);
                    break;
                case 'w':
                    advance(ParticipantHolds::kShortHold);
                    break;
                case 'a':
                    sync->fetchRoomStatus({});
                    break;
                case 'p':
                    sync->applyParticipantRecords({beaRecord(raised)});
                    break;
                case 'q': {
                    KRRoomConnectionStatus status;
                    status.participants = {beaRecord(raised)};
                    owner->fetches.front()(RoomSync::RoomStatusReply(status));
                    owner->fetches.pop_front();
                    break;
                }
            }
            if (step.size() == 4) {
                EXPECT_EQ(bea->isHandRaised(), step[3] == '1') << "after " << step;
            }
        }
    }
}

TEST_P(RoomSyncApplierTest, ARecordNeverMovesARemoteParticipantWhereTheEngineMakesTheUsers) {
    inMeeting();
    const auto bea = owner->store.upsertNewParticipantFromRtcDB(peer(8));
    int moves = 0;
    owner->store.onRoleChanged = [&](const auto&) { ++moves; };
    for (const bool speaker : {true, false}) {
        bea->setIsSpeaker(speaker);
        KRMeetingParticipant moved = record("8", "Bea");
        moved.participantType =
            speaker ? KRMeetingParticipantType::audience : KRMeetingParticipantType::speaker;
        applyFrom(GetParam(), *sync, {moved});
        EXPECT_EQ(bea->isSpeaker(), speaker);
        ASSERT_EQ(owner->store.allParticipants.size(), 1u);  // the list's record shows her role
        EXPECT_EQ(owner->store.allParticipants[0].participantType,
                  speaker ? KRMeetingParticipantType::speaker : KRMeetingParticipantType::audience);
    }
    EXPECT_EQ(moves, 0);
}

INSTANTIATE_TEST_SUITE_P(BothSources, RoomSyncApplierTest,
                         ::testing::Values(Source::statusReply, Source::socketPush),
                         [](const auto& param) {
                             return param.param == Source::statusReply ? "StatusReply"
                                                                      : "SocketPush";
                         });

TEST_F(RoomSyncTest, OnlyAStatusReplySpeaksForTheRecordingTheShareAndTheWhiteboard) {
    inMeeting();
    KRRoomConnectionStatus status;
    status.isRecording = true;
    status.isRoomAudioHardMuted = true;
    status.isScreenShared = true;
    status.screenSharedObjectId = "90001";
    status.isWhiteBoardShared = true;
    status.screenOrWhiteBoardSharingUserId = "8";
    status.screenOrWhiteBoardSharingUserName = "Bea";
    sync->applyRoomStatus(status);
    EXPECT_EQ(owner->log, (Lines{"recording on", "whiteboard Bea 8"}));
    EXPECT_TRUE(owner->store.isHardMuteEnabled);
    ASSERT_EQ(owner->merge.getScreenShareTrackInfos().size(), 1u);
    EXPECT_EQ(owner->merge.getScreenShareTrackInfos()[0].trackID(), 90001u);

    owner->log.clear();
    sync->applyParticipantRecords({record("8", "Bea")});
    EXPECT_TRUE(owner->log.empty());
}

TEST_F(RoomSyncTest, AReplyAskedBeforeTheWhiteboardLastStoppedOpensNone) {
    inMeeting();
    const auto answerWithBeasBoard = [&] {
        KRRoomConnectionStatus status;
        status.isWhiteBoardShared = true;
        status.screenOrWhiteBoardSharingUserId = "8";
        status.screenOrWhiteBoardSharingUserName = "Bea";
        owner->fetches.front()(RoomSync::RoomStatusReply(status));
        owner->fetches.pop_front();
    };
    sync->fetchRoomStatus({});
    owner->store.applyWhiteboardStopped();  // her stop, heard while nothing was open yet
    answerWithBeasBoard();
    EXPECT_EQ(owner->log, Lines{"recording off"});
    sync->fetchRoomStatus({});
    answerWithBeasBoard();
    EXPECT_EQ(owner->log, (Lines{"recording off", "recording off", "whiteboard Bea 8"}));
}

TEST_F(RoomSyncTest, AReplyCountsOnlyForTheMeetingItWasAskedInAndNotFromItsLeaveOn) {
    const auto reply = [] {
        KRRoomConnectionStatus status;
        status.participants = {record("8", "Bea")};
        return RoomSync::RoomStatusReply(status);
    };
    std::vector<bool> completions;
    const auto complete = [&](bool ok) { completions.push_back(ok); };
    inMeeting();
    sync->fetchRoomStatus(complete);
    owner->meeting->startLeaving();
    owner->fetches.front()(reply());
    owner->fetches.pop_front();
    inMeeting();  // a newer meeting: the first one's reply was asked in the old one
    sync->fetchRoomStatus(complete);
    inMeeting();
    owner->fetches.front()(reply());
    owner->fetches.pop_front();
    EXPECT_TRUE(owner->store.allParticipants.empty());
    sync->fetchRoomStatus(complete);
    owner->fetches.front()(reply());
    EXPECT_EQ(owner->store.allParticipants.size(), 1u);
    EXPECT_EQ(completions, (std::vector<bool>{true, true, true}));
}

TEST_F(RoomSyncTest, AUserLeftTellsThePanelLetsTheMergeGoOfThatLoginOnlyAndAsksForTheRoom) {
    inMeeting();
    owner->toMerge = true;
    sync->applyParticipantRecords({record("7", "A", "login-a"), record("8", "B", "login-b")});
    Lines removed;
    owner->store.onMeetingParticipantRemoved = [&](const KRMeetingParticipant& p) {
        removed.push_back(p.participantId);
    };
    // 8 came back under the same uid with a new login: the old login's leave leaves it.
    owner->merge.upsertParticipantMetaData(record("8", "B", "login-b2"), {});
    sync->applyUserLeft("login-b");
    sync->applyUserLeft("login-a");
    sync->applyUserLeft("nobody");
    EXPECT_EQ(removed, (Lines{"8", "7"}));
    EXPECT_NE(owner->merge.getMeetingUser("8"), nullptr);
    EXPECT_EQ(owner->merge.getMeetingUser("7"), nullptr);
    EXPECT_EQ(owner->fetches.size(), 3u);
    EXPECT_EQ(owner->store.allParticipants.size(), 2u);  // the records wait for the service
}

TEST_F(RoomSyncTest, TheRoomSocketsNewsCountOnlyForItsMeetingAndNotFromItsLeaveOn) {
    const auto socket = KRWebSocketManager::createForwarded(queue, nullptr);
    const auto pushAll = [&] {
        socket->onRequestToUpdateParticipantsLists({record("8", "Bea")});
        socket->onUserLeftMeeting("nobody");
        socket->onRequestToRefreshMeetingData();
        socket->onRecordingStarted();
        socket->onRecordingStopped();
    };
    struct Row {
        const char* name;
        std::function<void()> after;  // what happens to the meeting before the frames come
        bool heard;
    };
    const Row rows[] = {
        {"in the meeting", [] {}, true},
        {"its leave began", [&] { owner->meeting->startLeaving(); }, false},
        {"a newer meeting", [&] { inMeeting(); }, false},
        {"the meeting ended", [&] { owner->meeting->end(MeetingSession::EndReason::left); }, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        owner->store.allParticipants.clear();
        owner->fetches.clear();
        owner->log.clear();
        inMeeting();
        sync->listenTo(*socket, owner->meeting->token());
        row.after();
        pushAll();
        EXPECT_EQ(owner->store.allParticipants.size(), row.heard ? 1u : 0u);
        EXPECT_EQ(owner->fetches.size(), row.heard ? 2u : 0u);  // the leave's and the refresh's
        EXPECT_EQ(owner->log, row.heard ? (Lines{"recording on", "recording off"}) : Lines{});
    }
}

// ---- Local state the service did not take ----

TEST_F(RoomSyncTest, ALostChangeIsPostedAgainWithAGrowingJitteredWaitNotEverySecond) {
    inMeeting();
    loseHandChange();
    std::vector<platform::Clock::time_point> postedAt;
    const auto start = clock->now();
    for (int second = 0; second < 120; ++second) {
        advance(1s);
        while (!owner->posts.empty()) {
            postedAt.push_back(clock->now());
            EXPECT_FALSE(owner->posts.front().has("micStatus") &&
                         !owner->posts.front().flag("isHandRaise"));
            owner->answerPost(lost());
        }
    }
    // Roughly 1, 2, 4, 8, 16, 30, 30 ... s apart: a handful of posts in two minutes.
    ASSERT_GE(postedAt.size(), 5u);
    EXPECT_LE(postedAt.size(), 10u);
    auto previous = start;
    for (std::size_t i = 0; i < postedAt.size(); ++i) {
        const auto gap = postedAt[i] - previous;
        const auto ceiling = RetryBackOff::ceiling(static_cast<int>(i) + 1);
        EXPECT_GE(gap, ceiling / 2 - 1s) << "post " << i;
        EXPECT_LE(gap, ceiling + 1s) << "post " << i;
        previous = postedAt[i];
    }
    EXPECT_TRUE(sync->hasLostLocalState());
    EXPECT_TRUE(owner->log.empty());  // the others hear nothing while the service is down
}

TEST_F(RoomSyncTest, OnceTheStatePostedAgainTheOthersHearTheHandAsTheChangeWouldHaveToldThem) {
    struct Case {
        const char* name;
        bool handLost;  ///< else the microphone
        bool handRaised;
        bool toldRaisedBefore;  ///< the others heard a raise the service took before the loss
        Lines heard;
    };
    const Case cases[] = {
        {"raised hand", true, true, false, {"hand raised"}},
        {"lowered hand", true, false, true, {"hand lowered"}},
        {"microphone", false, true, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        owner->log.clear();
        owner->posts.clear();
        inMeeting();
        owner->store.isCurrentUserHandRaised = false;
        if (c.toldRaisedBefore) {
            sync->changeLocalHand(true, RoomSync::HandChange::byApp);
            owner->answerPost(accepted());
            ASSERT_EQ(owner->log, Lines{"hand raised"});
            owner->log.clear();
        }
        if (c.handLost) {
            sync->changeLocalHand(c.handRaised, RoomSync::HandChange::byApp);
        } else {
            sync->sendMicrophoneChange(true);
        }
        owner->answerPost(lost());
        advance(1s);
        ASSERT_EQ(owner->posts.size(), 1u);
        EXPECT_EQ(owner->posts.front().flag("isHandRaise"), c.handRaised);  // the whole state
        EXPECT_TRUE(owner->log.empty());
        owner->answerPost(accepted());
        EXPECT_EQ(owner->log, c.heard);
        EXPECT_FALSE(sync->hasLostLocalState());
        advance(60s);
        EXPECT_TRUE(owner->posts.empty());
        EXPECT_EQ(owner->log, c.heard);  // once
    }
}

TEST_F(RoomSyncTest, ARefusalOrAChangeOfAnEndedMeetingIsNotPostedAgain) {
    inMeeting();
    sync->sendMicrophoneChange(true);
    owner->answerPost(refused());
    sync->sendMicrophoneChange(true);
    owner->meeting->end(MeetingSession::EndReason::left);
    owner->answerPost(lost());
    advance(60s);
    EXPECT_TRUE(owner->posts.empty());
    EXPECT_FALSE(sync->hasLostLocalState());
}

TEST_F(RoomSyncTest, ALossIsForgottenWithItsMeetingAndNothingIsPostedDuringTheLeave) {
    inMeeting();
    loseHandChange();
    owner->meeting->startLeaving();
    advance(60s);
    EXPECT_TRUE(owner->posts.empty());
    inMeeting();  // the next join starts clean
    EXPECT_FALSE(sync->hasLostLocalState());
    applyFrom(Source::socketPush, *sync, {record("1", "Me")});
    EXPECT_EQ(owner->store.allParticipants.size(), 1u);
    advance(60s);
    EXPECT_TRUE(owner->posts.empty());
}

TEST_F(RoomSyncTest, ALossOfTheNextMeetingIsPostedOnceTheEndedMeetingsPostIsAnswered) {
    inMeeting();
    loseHandChange();
    advance(1s);
    ASSERT_EQ(owner->posts.size(), 1u);  // the first meeting's resync, still under way
    inMeeting();
    sync->sendMicrophoneChange(true);
    owner->posts.back().reply(lost());
    owner->posts.pop_back();
    owner->answerPost(accepted());  // the ended meeting's post
    EXPECT_TRUE(owner->log.empty());  // its hand is nobody's to announce now
    advance(60s);
    ASSERT_EQ(owner->posts.size(), 1u);
    owner->answerPost(accepted());
    EXPECT_FALSE(sync->hasLostLocalState());
}

TEST_F(RoomSyncTest, WhileTheNetworkIsGoneNothingIsPostedAndItsReturnTriesSoon) {
    inMeeting();
    sync->networkStateChanged(false);
    loseHandChange();
    advance(100s);
    EXPECT_TRUE(owner->posts.empty());
    sync->networkStateChanged(true);
    advance(1s);
    ASSERT_EQ(owner->posts.size(), 1u);
    owner->answerPost(accepted());
    EXPECT_EQ(owner->log, Lines{"hand raised"});
}

TEST_F(RoomSyncTest, APostThatCrossedANewerLossDoesNotClearIt) {
    inMeeting();
    loseHandChange();
    advance(1s);
    ASSERT_EQ(owner->posts.size(), 1u);  // the resync, under way
    sync->sendMicrophoneChange(true);
    owner->posts.back().reply(lost());
    owner->posts.pop_back();
    owner->answerPost(accepted());
    EXPECT_TRUE(sync->hasLostLocalState());
    EXPECT_TRUE(owner->log.empty());
    advance(2s);
    ASSERT_EQ(owner->posts.size(), 1u);
    owner->answerPost(accepted());
    EXPECT_FALSE(sync->hasLostLocalState());
    EXPECT_EQ(owner->log, Lines{"hand raised"});
}

TEST_F(RoomSyncTest, OnlyWhatTwoSendsOnTheirWayCarriedDifferentlyGoesAgain) {
    // Each change made while the ones before it are still on their way; the store then holds
    // the last of each value. What goes again: "status" (the whole status), "audio", "video".
    struct Case {
        const char* name;
        std::function<void()> changes;
        Lines again;
        std::size_t refusedFirst = 0;  ///< how many sends, from the first, the service refuses
    };
    KRCurrentRoom& store = owner->store;
    const auto hand = [&](bool raised) {
        store.isCurrentUserHandRaised = raised;
        sync->postLocalState();
    };
    const auto microphoneOff = [&] {
        store.isCurrentUserAudioMuted = true;
        sync->sendMicrophoneChange(true);
    };
    const auto cameraOff = [&] {
        store.isCurrentUserVideoMuted = true;
        sync->sendCameraChange(true);
    };
    const Case cases[] = {
        {"a raise and a mute", [&] { hand(true); microphoneOff(); }, {"audio"}},
        {"a raise, a mute and the camera off", [&] { hand(true); microphoneOff(); cameraOff(); }, {"audio", "video"}},
        {"a raise and a lower", [&] { hand(true); hand(false); }, {"status"}},
        {"a mute and the camera off", [&] { microphoneOff(); cameraOff(); }, {}},
        // The service never had the raise: the lower stands, and a host's later lower-all too.
        {"a raise the service refused, and a lower", [&] { hand(true); hand(false); }, {}, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        inMeeting();
        store.isCurrentUserHandRaised = store.isCurrentUserAudioMuted = store.isCurrentUserVideoMuted = false;
        c.changes();
        const std::size_t sent = owner->posts.size();
        for (std::size_t i = 0; i < sent; ++i) owner->answerPost(i < c.refusedFirst ? refused() : accepted());
        Lines again;
        for (const auto& post : owner->posts) {
            const bool status = post.has("isHandRaise");
            again.push_back(status ? "status" : post.has("audio") ? "audio" : "video");
            // The last word: the hand down, the microphone or camera off.
            EXPECT_FALSE(post.flag(status ? "isHandRaise" : again.back().c_str())) << again.back();
        }
        EXPECT_EQ(again, c.again);
        while (!owner->posts.empty()) owner->answerPost(accepted());
        EXPECT_TRUE(owner->posts.empty()) << "once";
    }
}

TEST_F(RoomSyncTest, ALostHandIsToldOnceTheStatePostedAgainIsTakenWhateverItsMessageDid) {
    // The others get the hand from the service's records too: the message's own outcome is not
    // waited for, and it goes once.
    {
        owner->log.clear();
        owner->posts.clear();
        owner->handMessages = 0;
        inMeeting();
        owner->store.isCurrentUserHandRaised = false;
        sync->changeLocalHand(true, RoomSync::HandChange::byApp);
        EXPECT_EQ(owner->handMessages, 0u);
        owner->answerPost(lost());
        EXPECT_EQ(owner->handMessages, 0u);
        advance(1s);
        owner->answerPost(accepted());
        ASSERT_EQ(owner->handMessages, 1u);
        advance(60s);
        EXPECT_EQ(owner->log, Lines(1, "hand raised"));
        EXPECT_FALSE(sync->hasLostLocalState());
    }
}

TEST_F(RoomSyncTest, TheHandsMessageGoesOnlyOnceASendCarryingTheHandWasTaken) {
    // "R"/"L" the app raises or lowers the hand, "H" a host's lower-all heard, "M" a mute, "t"/"x"/
    // "f" the oldest post taken, lost or refused, "w" the wait before a lost state goes again, "B"
    // settings that bypass the service, "D" a push of the local record with the hand down, "u"/"d"
    // the oldest fetch answered with it up or down; "U" a push with it up, "W" the wait for such a
    // push, "h" half of it; "E" the meeting ends and the next one begins; "+"/"-" the message:
    // hand raised or lowered.
    const auto localHand = [](bool raised) {
        KRMeetingParticipant self = record("1", "Me");
        self.isHandRaise = raised;
        return self;
    };
    const auto answerFetch = [&](bool raised) {
        KRRoomConnectionStatus status;
        status.participants = {localHand(raised)};
        owner->fetches.front()(RoomSync::RoomStatusReply(status));
        owner->fetches.pop_front();
    };
    const auto messages = [&] {
        Lines hands;
        std::copy_if(owner->log.begin(), owner->log.end(), std::back_inserter(hands),
                     [](const std::string& line) { return line.starts_with("hand "); });
        return hands;
    };
    const std::map<char, std::function<void()>> act = {
        {'R', [&] { sync->changeLocalHand(true, RoomSync::HandChange::byApp); }},
        {'L', [&] { sync->changeLocalHand(false, RoomSync::HandChange::byApp); }},
        {'H', [&] { sync->changeLocalHand(false, RoomSync::HandChange::byHostLowerAll); }},
        {'M', [&] { sync->sendMicrophoneChange(true); }},
        {'t', [&] { owner->answerPost(accepted()); }},
        {'x', [&] { owner->answerPost(lost()); }},
        {'f', [&] { owner->answerPost(refused()); }},
        {'w', [&] { advance(RetryBackOff::kMaxDelay); }},
        {'B', [&] { owner->bypass = true; }},
        {'D', [&] { sync->applyParticipantRecords({localHand(false)}); }},
        {'U', [&] { sync->applyParticipantRecords({localHand(true)}); }},
        {'W', [&] { advance(RoomSync::kOwnPushWait); }},
        {'h', [&] { advance(std::chrono::milliseconds(RoomSync::kOwnPushWait) / 2); }},
        {'E', [&] { inMeeting(); }},
        {'u', [&] { answerFetch(true); }},
        {'d', [&] { answerFetch(false); }},
    };
    const std::pair<const char*, const char*> rows[] = {
        {"a raise taken", "Rt+"},
        {"a raise lost, then taken when posted again", "Rxwxwt+"},
        {"a raise refused", "Rfw"},
        {"a raise and a lower before the first answer", "RLttt"},
        {"a raise lost, then lowered before it was posted again", "RxLtwt"},
        {"a raise told, then a lower lost and posted again", "Rt+Lxwt-"},
        {"a host's lower-all heard while the raise is on its way", "RHttt"},
        {"a host's lower-all heard once the raise was told", "Rt+Ht"},
        {"a raise, a lower and a raise crossing", "RLRtttt+"},
        {"the same, with a mute behind them", "RLRMttttt+"},
        {"a raise told, then a lower and a raise crossing", "Rt+LRttt"},
        {"settings that bypass the service", "BR+L-"},
        {"a push of the hand down while the raise is on its way, the service lowered it", "RDtWd"},
        {"the same, the service still showing the raise", "RDtWu+"},
        {"the same, the push of the raise coming first", "RDtU+W"},
        {"the same, that push coming before the raise's answer", "RDUtWu+"},
        {"the wait of a meeting that ended holds nothing of the next", "RDthELUthD"},
    };
    for (const auto& [what, steps] : rows) {
        SCOPED_TRACE(what);
        owner = std::make_shared<FakeOwner>(queue);
        sync = RoomSync::create(owner, queue);
        owner->store.userWebRtcId = "1";
        inMeeting();
        Lines told;
        for (const char step : std::string_view(steps)) {
            if (step == '+' || step == '-') {
                told.push_back(step == '+' ? "hand raised" : "hand lowered");
                continue;
            }
            EXPECT_EQ(messages(), told) << "before " << step;
            act.at(step)();
        }
        EXPECT_EQ(messages(), told);
        EXPECT_TRUE(owner->posts.empty());
        EXPECT_TRUE(owner->fetches.empty());
    }
}

TEST_F(RoomSyncTest, APollWaitsForTheLocalChangesAndARolePostItCrossedGoesAgainWhole) {
    inMeeting();
    std::vector<bool> polled;
    const auto poll = [&] { sync->postPoll([&](bool ok) { polled.push_back(ok); }); };
    sync->sendMicrophoneChange(true);
    poll();  // handled after the change, it could undo it
    EXPECT_EQ(polled, std::vector<bool>{false});
    owner->answerPost(accepted());
    ASSERT_TRUE(owner->posts.empty());
    // The local user moves while a poll carrying her old role is on its way.
    for (const bool moveRefused : {false, true}) {
        SCOPED_TRACE(moveRefused ? "the move refused" : "both taken");
        poll();
        owner->audience = !owner->audience;
        sync->postLocalRole();
        owner->answerPost(accepted());
        EXPECT_EQ(owner->posts.size(), 1u);
        owner->answerPost(moveRefused ? refused() : accepted());
        ASSERT_EQ(owner->posts.size(), moveRefused ? 0u : 1u);
        if (moveRefused) continue;
        const auto& body = owner->posts.front().request.requestParameters;
        EXPECT_TRUE(body.contains("micStatus"));  // the whole state
        EXPECT_EQ(body.at("participantType").as_string(),
                  rawValue(owner->audience ? KRMeetingParticipantType::audience
                                           : KRMeetingParticipantType::speaker));
        owner->answerPost(accepted());
    }
}

TEST_F(RoomSyncTest, ARecordSetAsideWithAnotherHandIsAskedAboutBeforeCrossedValuesGoAgain) {
    // Her hand is up and told; a poll and her role post cross, and a push set aside meanwhile shows
    // her hand down. The whole state goes again only with the hand the service answers.
    for (const bool serviceLowered : {true, false}) {
        SCOPED_TRACE(serviceLowered ? "the service lowered it" : "the service still has it");
        ASSERT_NO_FATAL_FAILURE(freshMeetingWithHandUpAndTold());
        sync->postPoll({});
        owner->audience = true;
        sync->postLocalRole();
        KRMeetingParticipant self = record("1", "Me");
        sync->applyParticipantRecords({self});
        owner->answerPost(accepted());
        owner->answerPost(accepted());
        EXPECT_TRUE(owner->posts.empty()) << "posted before the question was answered";
        ASSERT_EQ(owner->fetches.size(), 1u);
        // The reply is the service's hand; its role may be the poll's, handled last.
        KRRoomConnectionStatus status;
        self.isHandRaise = !serviceLowered;
        self.participantType = KRMeetingParticipantType::speaker;
        status.participants = {self};
        owner->fetches.front()(RoomSync::RoomStatusReply(status));
        owner->fetches.pop_front();
        EXPECT_EQ(owner->store.isCurrentUserHandRaised, !serviceLowered);
        EXPECT_EQ(owner->localHandReports, serviceLowered ? 2 : 1);
        ASSERT_EQ(owner->posts.size(), 1u);
        const auto& body = owner->posts.front().request.requestParameters;
        EXPECT_EQ(body.at("isHandRaise").as_bool(), !serviceLowered);
        EXPECT_EQ(body.at("participantType").as_string(), rawValue(KRMeetingParticipantType::audience));
        owner->answerPost(accepted());
        EXPECT_TRUE(owner->posts.empty() && owner->fetches.empty());
        EXPECT_EQ(owner->handMessages, 1u);
    }
}

TEST_F(RoomSyncTest, ARolePostWhileARecordSetAsideShowedAnotherHandCarriesTheQuestionsAnswer) {
    // Her hand is up and told; a push set aside while her microphone change is on its way shows it
    // down (a host's lower-all nobody heard), and a host's move reaches her before or after that
    // change's answer. The move goes once the service answered about the hand, with its hand; a
    // question that got no answer is asked again after the wait, and the move still waits.
    for (const int row : {0, 1, 2}) {
        const bool moveBeforeAnswer = row == 0, questionFails = row == 2;
        SCOPED_TRACE(moveBeforeAnswer ? "moved while the change is on its way"
                     : questionFails  ? "moved after its answer, the first question failing"
                                      : "moved after its answer");
        ASSERT_NO_FATAL_FAILURE(freshMeetingWithHandUpAndTold());
        owner->store.isCurrentUserAudioMuted = true;
        sync->sendMicrophoneChange(true);
        KRMeetingParticipant self = record("1", "Me");
        sync->applyParticipantRecords({self});
        const auto move = [&] {
            owner->audience = true;
            sync->postLocalRole();
        };
        if (moveBeforeAnswer) move();
        owner->answerPost(accepted());
        if (!moveBeforeAnswer) move();
        EXPECT_TRUE(owner->posts.empty()) << "the move went before the question was answered";
        ASSERT_EQ(owner->fetches.size(), 1u);
        if (questionFails) {
            owner->fetches.front()(RoomSync::RoomStatusReply(Failure{KRApiRequestError::networkFailure()}));
            owner->fetches.pop_front();
            EXPECT_TRUE(owner->posts.empty()) << "the move went though the question got no answer";
            EXPECT_TRUE(owner->fetches.empty());
            advance(RoomSync::kOwnPushWait);
            ASSERT_EQ(owner->fetches.size(), 1u);
        }
        KRRoomConnectionStatus status;
        self.isMicOn = false;
        self.participantType = KRMeetingParticipantType::speaker;  // the service has not moved her
        status.participants = {self};
        owner->fetches.front()(RoomSync::RoomStatusReply(status));
        owner->fetches.pop_front();
        EXPECT_FALSE(owner->store.isCurrentUserHandRaised);
        ASSERT_EQ(owner->store.allParticipants.size(), 1u);
        EXPECT_EQ(owner->store.allParticipants[0].participantType, KRMeetingParticipantType::audience);
        ASSERT_EQ(owner->posts.size(), 1u);
        const auto& body = owner->posts.front().request.requestParameters;
        EXPECT_FALSE(body.at("isHandRaise").as_bool());
        EXPECT_EQ(body.at("participantType").as_string(), rawValue(KRMeetingParticipantType::audience));
        owner->answerPost(accepted());
        advance(RoomSync::kOwnPushWait);
        EXPECT_TRUE(owner->posts.empty() && owner->fetches.empty());
        EXPECT_EQ(owner->handMessages, 1u);
    }
}

/// The meeting service of the generated orders, for the local record alone: it takes her posts in
/// the order they are answered (so crossing sends land either way), pushes its word after each
/// change in order, and answers questions with its word when answered. It also keeps whether an
/// unheard lower-all must stand: one made while no hand of hers was on its way or lost stands
/// unless she raised or lowered since, a post was lost, or a post carrying her hand went before
/// any record showed it (she could not know of it).
struct ModelService {
    ModelService(FakeOwner& o, RoomSync& s) : owner(o), sync(s) {}
    FakeOwner& owner;
    RoomSync& sync;
    bool hand = false;
    std::deque<bool> pushes;
    std::size_t pushesMade = 0, pushesDelivered = 0, lowerAllsPush = 0;
    bool lowerAllStands = false, lowerAllSeen = false;
    std::ostringstream story;

    static KRMeetingParticipant localRecord(bool raised) {
        KRMeetingParticipant self = record("1", "Me");
        self.isHandRaise = raised;
        return self;
    }
    void changed(bool raised) {
        hand = raised;
        pushes.push_back(raised);
        ++pushesMade;
    }
    void answerPost(std::size_t i, bool taken) {
        FakeOwner::Post post = std::move(owner.posts[i]);
        owner.posts.erase(owner.posts.begin() + static_cast<std::ptrdiff_t>(i));
        if (taken && post.has("isHandRaise")) changed(post.flag("isHandRaise"));
        lowerAllStands = lowerAllStands && taken;
        story << (taken ? "taken" : "lost") << (post.has("isHandRaise") ? (post.flag("isHandRaise") ? "(up) " : "(down) ") : " ");
        post.reply(taken ? accepted() : lost());
    }
    void deliver() {
        const bool raised = pushes.front();
        pushes.pop_front();
        ++pushesDelivered;
        lowerAllSeen = lowerAllSeen || pushesDelivered >= lowerAllsPush;
        story << "push " << raised << " ";
        sync.applyParticipantRecords({localRecord(raised)});
    }
    void answerFetch(std::size_t i, bool replied = true) {
        auto reply = std::move(owner.fetches[i]);
        owner.fetches.erase(owner.fetches.begin() + static_cast<std::ptrdiff_t>(i));
        if (!replied) {
            story << "no reply ";
            reply(RoomSync::RoomStatusReply(Failure{KRApiRequestError::networkFailure()}));
            return;
        }
        lowerAllSeen = true;
        story << "reply " << hand << " ";
        KRRoomConnectionStatus status;
        status.participants = {localRecord(hand)};
        reply(RoomSync::RoomStatusReply(status));
    }
    void appChanged(bool raised) {
        lowerAllStands = false;
        story << (raised ? "R " : "L ");
        sync.changeLocalHand(raised, RoomSync::HandChange::byApp);
    }
    void lowerAll(bool heard) {
        story << "lower-all" << (heard ? " heard " : " unheard ");
        changed(false);
        if (heard) {
            lowerAllStands = false;
            sync.changeLocalHand(false, RoomSync::HandChange::byHostLowerAll);
            return;
        }
        lowerAllStands = !sync.hasLostLocalState() && !handOnItsWay();
        lowerAllSeen = false;
        lowerAllsPush = pushesMade;
    }
    bool handOnItsWay() const {
        return std::any_of(owner.posts.begin(), owner.posts.end(),
                           [](const FakeOwner::Post& p) { return p.has("isHandRaise"); });
    }
    void moved() {
        story << "move ";
        owner.audience = !owner.audience;
        sync.postLocalRole();
    }
    /// After each step: a post carrying her hand that went before a record showed the lower-all
    /// may undo it.
    void stepped() { lowerAllStands = lowerAllStands && (lowerAllSeen || !handOnItsWay()); }
    /// Answers every post (taken), push and question in order, moving the clock on whenever
    /// nothing is on its way, until nothing comes any more.
    void settle(const std::function<void(platform::Clock::duration)>& advance) {
        story << "| settle: ";
        for (int round = 0; round < 50; ++round) {
            if (!owner.posts.empty()) {
                answerPost(0, true);
            } else if (!pushes.empty()) {
                deliver();
            } else if (!owner.fetches.empty()) {
                answerFetch(0);
            } else {
                advance(RetryBackOff::kMaxDelay);
                if (owner.posts.empty() && owner.fetches.empty()) break;
            }
            stepped();
        }
    }
    /// What went wrong once settled: nothing when the client's hand is the service's, nothing
    /// waits, and an unheard lower-all that must stand did.
    std::string fault() const {
        const bool settled = owner.posts.empty() && owner.fetches.empty() && pushes.empty();
        const bool undone = lowerAllStands && hand;
        if (settled && owner.store.isCurrentUserHandRaised == hand && !undone) return {};
        std::ostringstream out;
        out << "the client's hand " << owner.store.isCurrentUserHandRaised << ", the service's " << hand
            << (settled ? "" : ", still on its way") << (undone ? ", an unheard lower-all undone" : "") << "\n  "
            << story.str();
        return out.str();
    }
};

TEST_F(RoomSyncTest, TheLocalHandEndsOnTheServicesWordOverGeneratedOrders) {
    // Her polls and role posts cross her changes too, the host lowers every hand unheard or heard,
    // and questions are answered in any order, or get no answer. Once everything on its way arrived and every wait
    // passed, the client's hand is the service's, nothing waits, and an unheard lower-all that must
    // stand did.
    int failures = 0;
    for (std::uint32_t seed = 1; seed <= 3000 && failures < 3; ++seed) {
        std::mt19937 rng(seed);
        const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
        ASSERT_NO_FATAL_FAILURE(freshMeeting());
        ModelService service(*owner, *sync);
        std::ostringstream& story = service.story;
        for (int step = 0; step < 6 + static_cast<int>(seed % 20); ++step) {
            switch (pick(14)) {
                case 0: case 1:
                    service.appChanged(true);
                    break;
                case 2:
                    service.appChanged(false);
                    break;
                case 3:
                    service.lowerAll(pick(2) != 0);
                    break;
                case 4:
                    story << "M ";
                    owner->store.isCurrentUserAudioMuted = !owner->store.isCurrentUserAudioMuted;
                    sync->sendMicrophoneChange(owner->store.isCurrentUserAudioMuted);
                    break;
                case 5: case 6:
                    if (!owner->posts.empty()) service.answerPost(pick(owner->posts.size()), pick(5) != 0);
                    break;
                case 7: case 8:
                    if (!service.pushes.empty()) service.deliver();
                    break;
                case 9:
                    if (!owner->fetches.empty()) service.answerFetch(pick(owner->fetches.size()), pick(5) != 0);
                    break;
                case 10:
                    story << "ask ";
                    sync->fetchRoomStatus({});
                    break;
                case 11:
                    story << "poll ";
                    sync->postPoll({});
                    break;
                case 12:
                    service.moved();
                    break;
                default:
                    story << "+" << (pick(2) ? "wait " : "1s ");
                    advance(story.str().ends_with("wait ") ? RetryBackOff::kMaxDelay : RoomSync::kOwnPushWait);
                    break;
            }
            service.stepped();
        }
        service.settle([this](platform::Clock::duration d) { advance(d); });
        if (const std::string fault = service.fault(); !fault.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ": " << fault;
        }
    }
}

TEST_F(RoomSyncTest, AnUnheardLowerAllStandsThroughMovesPollsAndMediaOverGeneratedOrders) {
    // Her hand is up and told; then, in any order, the host lowers every hand unheard, moves her
    // back and forth, and she polls, changes her microphone and asks; every post is taken, some
    // questions get no answer. Whatever a move posts once a record showed the lower-all, the
    // lower-all stands.
    int failures = 0, claims = 0;
    for (std::uint32_t seed = 1; seed <= 1000 && failures < 3; ++seed) {
        std::mt19937 rng(seed);
        const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
        ASSERT_NO_FATAL_FAILURE(freshMeetingWithHandUpAndTold());
        ModelService service(*owner, *sync);
        service.hand = true;
        std::ostringstream& story = service.story;
        const int lowerAllAt = static_cast<int>(pick(4));
        for (int step = 0; step < 14; ++step) {
            if (step == lowerAllAt) service.lowerAll(false);
            service.stepped();
            switch (pick(8)) {
                case 0: case 1:
                    service.moved();
                    break;
                case 2:
                    if (!owner->posts.empty()) service.answerPost(pick(owner->posts.size()), true);
                    break;
                case 3:
                    if (!service.pushes.empty()) service.deliver();
                    break;
                case 4:
                    if (!owner->fetches.empty()) service.answerFetch(pick(owner->fetches.size()), pick(4) != 0);
                    break;
                case 5:
                    story << (pick(2) ? "poll " : "M ");
                    if (story.str().ends_with("poll ")) {
                        sync->postPoll({});
                    } else {
                        owner->store.isCurrentUserAudioMuted = !owner->store.isCurrentUserAudioMuted;
                        sync->sendMicrophoneChange(owner->store.isCurrentUserAudioMuted);
                    }
                    break;
                case 6:
                    story << "ask ";
                    sync->fetchRoomStatus({});
                    break;
                default:
                    story << "+1s ";
                    advance(RoomSync::kOwnPushWait);
                    break;
            }
            service.stepped();
        }
        service.settle([this](platform::Clock::duration d) { advance(d); });
        claims += service.lowerAllStands;
        if (const std::string fault = service.fault(); !fault.empty()) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ": " << fault;
        }
    }
    EXPECT_GE(claims, 250) << "orders in which the lower-all must stand";
}

TEST_F(RoomSyncTest, ARaiseTheServiceTookBeforeTheMeetingStartedIsToldOnceItStarts) {
    owner->meeting = std::make_unique<MeetingSession>(queue);
    owner->meeting->awaitMedia();  // the app may raise the hand from here on
    sync->changeLocalHand(true, RoomSync::HandChange::byApp);
    owner->answerPost(accepted());
    EXPECT_TRUE(owner->log.empty());
    owner->meeting->reachMeeting();
    sync->tellHandOnceTaken();  // as the meeting's start does
    advance(60s);
    EXPECT_EQ(owner->log, Lines{"hand raised"});
}

TEST_F(RoomSyncTest, AFlappingNetworkKeepsTheBackOffGrowingUntilAPostGetsThrough) {
    inMeeting();
    loseHandChange();
    int posted = 0;
    // 40 s of refusals with the network one second off, one second on.
    for (int second = 0; second < 40; ++second) {
        sync->networkStateChanged(second % 2 == 1);
        advance(1s);
        while (!owner->posts.empty()) {
            ++posted;
            owner->answerPost(lost());
        }
    }
    // About 1, 2, 4, 8, 16 s apart: a handful, not one at each return of the network.
    EXPECT_GE(posted, 4);
    EXPECT_LE(posted, 7);
    sync->networkStateChanged(true);
    advance(30s);
    ASSERT_EQ(owner->posts.size(), 1u);
    owner->answerPost(accepted());
    // The next loss starts from the first wait again.
    loseHandChange();
    advance(RetryBackOff::ceiling(1));
    EXPECT_EQ(owner->posts.size(), 1u);
}

TEST_F(RoomSyncTest, NothingIsPostedAgainWhenTheSettingsSkipTheService) {
    inMeeting();
    loseHandChange();
    owner->bypass = true;
    advance(60s);
    EXPECT_TRUE(owner->posts.empty());
}

// ---- Polls, watchdog, own status ----

TEST_F(RoomSyncTest, PollsFetchAndPostUntilTheLeaveBegins) {
    inMeeting();
    sync->startPolling(25s);
    advance(25s);
    ASSERT_EQ(owner->posts.size(), 1u);
    EXPECT_FALSE(owner->posts.front().has("micStatus"));  // a poll's post: the connection alone
    EXPECT_EQ(owner->fetches.size(), 1u);
    owner->answerPost(accepted());
    EXPECT_EQ(owner->fetches.size(), 2u);  // and a fetch after the post
    owner->meeting->startLeaving();
    advance(50s);
    EXPECT_TRUE(owner->posts.empty());
    EXPECT_EQ(owner->fetches.size(), 2u);
}

TEST_F(RoomSyncTest, TheWatchdogClosesTheSocketFromTheSecondTickWithoutNetworkAndWaitsATickAfter) {
    inMeeting();
    sync->startWatchdog();  // ticks at once
    sync->networkStateChanged(false);
    advance(1s);
    advance(1s);
    sync->networkStateChanged(true);
    advance(1s);  // settling
    advance(1s);
    EXPECT_EQ(owner->log, (Lines{"socket start", "socket stop", "socket start"}));
}

TEST_F(RoomSyncTest, TheOwnStatusPostSaysWhatItIsAndCarriesTheRoomsFlags) {
    struct Case {
        OwnStatus status;
        const char* wire;
        bool full;
    };
    const Case cases[] = {{OwnStatus::connected, "connected", true},
                          {OwnStatus::polling, "connected", false},
                          {OwnStatus::disconnected, "disconnected", true}};
    owner->store.meetingId = "m1";
    owner->store.isCurrentUserAudioMuted = true;
    owner->store.isCurrentUserHandRaised = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wire);
        const auto post = sync->makeStatusPost(c.status);
        const auto& body = post.requestParameters;
        EXPECT_EQ(body.at("status").as_string(), c.wire);
        EXPECT_EQ(body.at("kivraneId").as_string(), "m1");
        EXPECT_EQ(body.contains("isHandRaise"), c.full);
        if (c.full) {
            EXPECT_FALSE(body.at("micStatus").as_bool());
            EXPECT_TRUE(body.at("isHandRaise").as_bool());
        }
    }
}

TEST_F(RoomSyncTest, OutsideAMeetingTheRoomCallsAreRefusedLaterAndNothingIsSent) {
    owner->allowed = false;
    std::vector<bool> completions;
    sync->postOwnStatus(OwnStatus::connected, [&](bool ok) { completions.push_back(ok); });
    sync->fetchRoomStatus([&](bool ok) { completions.push_back(ok); });
    EXPECT_TRUE(completions.empty());
    queue->runPending();
    EXPECT_EQ(completions, (std::vector<bool>{false, false}));
    EXPECT_TRUE(owner->posts.empty());
    EXPECT_TRUE(owner->fetches.empty());
}

TEST_F(RoomSyncTest, RepliesArrivingAfterTheOwnerWentDoNothing) {
    inMeeting();
    loseHandChange();
    std::vector<bool> completions;
    sync->fetchRoomStatus([&](bool ok) { completions.push_back(ok); });
    auto fetch = owner->fetches.front();
    std::weak_ptr<FakeOwner> weak = owner;
    owner.reset();
    EXPECT_TRUE(weak.expired());
    KRRoomConnectionStatus status;
    status.isRecording = true;
    fetch(status);  // the sync has no meeting to apply it to
    advance(60s);
    EXPECT_EQ(completions, std::vector<bool>{true});
}

}  // namespace
}  // namespace kr
