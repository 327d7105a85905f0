#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"

#include <algorithm>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {

namespace {

using Field = ParticipantHolds::Field;

std::size_t indexOf(Field field) { return static_cast<std::size_t>(field); }

bool valueIn(const KRMeetingParticipant& record, Field field) {
    switch (field) {
        case Field::handRaised:
            return record.isHandRaise;
        case Field::inAudience:
            return record.participantType == KRMeetingParticipantType::audience;
    }
    return false;
}

void setIn(KRMeetingParticipant& record, Field field, bool value) {
    switch (field) {
        case Field::handRaised:
            record.isHandRaise = value;
            break;
        case Field::inAudience:
            record.participantType =
                value ? KRMeetingParticipantType::audience : KRMeetingParticipantType::speaker;
            break;
    }
}

}  // namespace

ParticipantHolds::Participant& ParticipantHolds::entryFor(
    const MeetingSession::Token& meeting, const std::shared_ptr<KRMeetingUser>& user) {
    Participant& entry = participants_[user->id()];
    if (!entry.meeting.sameSession(meeting) || entry.user.lock() != user) {
        entry = Participant{meeting, user, {}};
    }
    return entry;
}

void ParticipantHolds::hold(const MeetingSession::Token& meeting,
                            const std::shared_ptr<KRMeetingUser>& user, Field field, bool value,
                            std::uint64_t questionsAsked, Origin origin) {
    if (!user || user->id().empty()) return;
    FieldState& state = entryFor(meeting, user).fields[indexOf(field)];
    std::optional<bool> earlierValueToCome;
    if (state.held && !state.held->agreedWithQuestionsAsked && state.held->value != value) {
        earlierValueToCome = state.held->value;
    }
    Value& held = state.held.emplace(
        Value{value, {}, {}, state.lastReportQuestionsAsked, earlierValueToCome});
    if (origin == Origin::ownCommand) {
        held.decidedAfterQuestion = questionsAsked;
    } else if (state.shown == value && state.shownAfterLastReport) {
        held.agreedWithQuestionsAsked = questionsAsked;
    }
    // Whatever the service showed so far, it showed before this report.
    state.lastReportQuestionsAsked = questionsAsked;
    state.shownAfterLastReport = false;
}

void ParticipantHolds::settle(FieldState& state, KRMeetingParticipant& record, Field field,
                              const Source& source) {
    const bool reply = source.question != 0;
    const auto askedBefore = [&](const std::optional<std::uint64_t>& questionsAsked) {
        return reply && questionsAsked && source.question <= *questionsAsked;
    };
    if (state.held) {
        Value& held = *state.held;
        const bool showsHeld = valueIn(record, field) == held.value;
        const bool decides = held.decidedAfterQuestion && reply &&
                             source.question > *held.decidedAfterQuestion;
        const bool afterAgreement =
            held.agreedWithQuestionsAsked && !askedBefore(held.agreedWithQuestionsAsked);
        if (decides || (afterAgreement && !held.earlierValueToCome)) {
            state.held.reset();  // the service's word counts again
        } else if (!showsHeld) {
            // Older than the report; or the report before it, which the service takes only now.
            held.earlierValueToCome.reset();
            setIn(record, field, held.value);
            return;
        } else if (held.agreedWithQuestionsAsked) {
            if (!afterAgreement) return;
        } else if (askedBefore(held.earlierReportQuestionsAsked)) {
            return;  // it may show the value only because the report before had not arrived
        } else {
            held.agreedWithQuestionsAsked = source.questionsAsked;
        }
    }
    state.shown = valueIn(record, field);
    state.shownAfterLastReport = !askedBefore(state.lastReportQuestionsAsked);
}

void ParticipantHolds::applyTo(std::vector<KRMeetingParticipant>& records,
                               const CurrentUser& currentUser, const Source& source) {
    std::erase_if(participants_, [&](const auto& entry) {
        if (!entry.second.meeting.live()) return true;
        const auto held = entry.second.user.lock();
        return !held || held != currentUser(entry.first);
    });
    if (!source.meeting.live()) return;
    for (auto& record : records) {
        const auto user = currentUser(record.participantId);
        if (!user) continue;
        Participant& entry = entryFor(source.meeting, user);
        for (const Field field : {Field::handRaised, Field::inAudience}) {
            settle(entry.fields[indexOf(field)], record, field, source);
        }
    }
}

}  // namespace kr
