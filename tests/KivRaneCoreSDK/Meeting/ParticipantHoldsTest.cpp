// What a client told its host app of remote participants, held against the service's older
// records: one rule for hands and roles, over pushes and replies asked before or after a record
// agreed.

#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr {
namespace {

using Field = ParticipantHolds::Field;
using Source = ParticipantHolds::Source;

bool valueOf(const KRMeetingParticipant& record, Field field) {
    return field == Field::handRaised ? record.isHandRaise
                                      : record.participantType == KRMeetingParticipantType::audience;
}

KRMeetingParticipant bea(Field field, bool value) {
    KRMeetingParticipant record;
    record.participantId = "8";
    if (field == Field::handRaised) record.isHandRaise = value;
    if (field == Field::inAudience && value) {
        record.participantType = KRMeetingParticipantType::audience;
    }
    return record;
}

TEST(ParticipantHoldsTest, ARecordTakesTheHeldValueUntilOneAgreesAndOnlyAnOlderReplyStillDoes) {
    struct Step {
        const char* name;
        bool recordShows;
        Source source;  ///< fetches asked so far: 4 throughout
        bool applied;   ///< what the record carries on
    };
    // Held: true. Fetches 1-4 were asked before the agreeing push, 5 after it.
    const Step steps[] = {
        {"an older reply", false, {.question = 2, .questionsAsked = 4}, true},
        {"an older push", false, {.question = 0, .questionsAsked = 4}, true},
        {"the push that agrees", true, {.question = 0, .questionsAsked = 4}, true},
        {"a reply asked before it", false, {.question = 4, .questionsAsked = 5}, true},
        {"a reply asked after it", false, {.question = 5, .questionsAsked = 5}, false},
        {"the service's word again", false, {.question = 3, .questionsAsked = 5}, false},
    };
    auto queue = platform::MainQueue::create(platform::ManualClock::create());
    MeetingSession meeting(queue);
    for (const Field field : {Field::handRaised, Field::inAudience}) {
        SCOPED_TRACE(field == Field::handRaised ? "hand" : "role");
        auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "8"});
        const auto current = [&](const std::string&) { return user; };
        ParticipantHolds holds;
        holds.hold(meeting.token(), user, field, true);
        for (const Step& step : steps) {
            SCOPED_TRACE(step.name);
            std::vector<KRMeetingParticipant> records{bea(field, step.recordShows)};
            holds.applyTo(records, current, step.source);
            EXPECT_EQ(valueOf(records[0], field), step.applied);
        }
    }
}

TEST(ParticipantHoldsTest, AHoldEndsWithItsMeetingAndItsUserAndANewerReportReplacesIt) {
    auto queue = platform::MainQueue::create(platform::ManualClock::create());
    auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "8"});
    std::shared_ptr<KRMeetingUser> current = user;
    const auto now = [&](const std::string&) { return current; };
    const auto carried = [&](ParticipantHolds& holds) {
        std::vector<KRMeetingParticipant> records{bea(Field::inAudience, false)};
        holds.applyTo(records, now, {.question = 1, .questionsAsked = 1});
        return valueOf(records[0], Field::inAudience);
    };
    auto meeting = std::make_unique<MeetingSession>(queue);
    ParticipantHolds holds;
    holds.hold(meeting->token(), user, Field::inAudience, true);
    holds.hold(meeting->token(), user, Field::handRaised, true);
    EXPECT_TRUE(carried(holds));
    holds.hold(meeting->token(), user, Field::inAudience, false);  // the engine moved it back
    EXPECT_FALSE(carried(holds));
    holds.hold(meeting->token(), user, Field::inAudience, true);
    current = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "8"});  // back anew
    EXPECT_FALSE(carried(holds));
    current = user;
    holds.hold(meeting->token(), user, Field::inAudience, true);
    meeting.reset();
    EXPECT_FALSE(carried(holds));
}

}  // namespace
}  // namespace kr
