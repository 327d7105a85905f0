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

/// What the list shows of `user` before any record of the service's was taken.
bool valueIn(const KRMeetingUser& user, Field field) {
    switch (field) {
        case Field::handRaised:
            return user.isHandRaised();
        case Field::inAudience:
            return !user.isSpeaker();
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
                            const std::shared_ptr<KRMeetingUser>& user, const Report& report) {
    if (!user || user->id().empty()) return;
    const bool value = report.value;
    const std::uint64_t questionsAsked = report.questionsAsked;
    FieldState& state = entryFor(meeting, user).fields[indexOf(report.field)];
    std::optional<bool> earlierValueToCome;
    if (state.held && !state.held->agreedWithQuestionsAsked && state.held->value != value) {
        earlierValueToCome = state.held->value;
    }
    // What the service showed: behind a report no newer record showed yet, what it showed before
    // that one (its records since may only lag behind it); else its newest word, or the list's.
    std::optional<bool> before = state.newest ? state.newest->value : valueIn(*user, report.field);
    if (state.held && !state.held->agreedWithQuestionsAsked && !state.held->shownSince) {
        before = state.held->before;
    }
    // The service carried the command out before anyone was told of it: its word as of now.
    const bool command = report.origin != Origin::report;
    if (command) takeWord(state.newest, {value, report.at, report.at}, false);
    Value& held = state.held.emplace(Value{});
    held.value = value;
    held.before = before;
    held.shownSince = command;
    held.heldAt = report.at;
    held.earlierValueToCome = earlierValueToCome;
    held.olderThroughQuestion = questionsAsked;
    if (report.origin == Origin::ownCommand) {
        held.decidedAfterQuestion = questionsAsked;
    } else if (state.shown == value && state.shownChangedUnreported) {
        held.agreedWithQuestionsAsked = questionsAsked;
    }
    state.shownChangedUnreported = false;
}

void ParticipantHolds::takeWord(std::optional<Word>& newest, const Word& word, bool inOrder) {
    if (!newest || word.earliest > newest->latest || (inOrder && word.earliest >= newest->latest)) {
        newest = word;
        return;
    }
    if (word.latest < newest->earliest) return;
    if (word.value != newest->value) newest->value.reset();
    newest->earliest = std::min(newest->earliest, word.earliest);
    newest->latest = std::max(newest->latest, word.latest);
}

void ParticipantHolds::settle(FieldState& state, KRMeetingParticipant& record, Field field,
                              const Source& source) {
    const bool reply = source.question != 0;
    const auto askedBefore = [&](const std::optional<std::uint64_t>& questionsAsked) {
        return reply && questionsAsked && source.question <= *questionsAsked;
    };
    bool reported = false;  // the record shows what a report told of
    if (state.held) {
        Value& held = *state.held;
        const bool showsHeld = valueIn(record, field) == held.value;
        reported = showsHeld;
        if (showsHeld) held.shownSince = true;
        const bool decides =
            held.decidedAfterQuestion && reply && source.question > *held.decidedAfterQuestion;
        const bool afterAgreement =
            held.agreedWithQuestionsAsked && !askedBefore(held.agreedWithQuestionsAsked);
        // Past the short bound a record showing neither the service's value then, nor the
        // reported one, nor the earlier report's still to come is a change of the service's
        // since; one that shows the value from before may only lag behind her post.
        const auto age = source.notOlderThan - held.heldAt;
        const bool value = valueIn(record, field);
        const bool changedSince = !showsHeld && held.before && value != *held.before &&
                                  held.earlierValueToCome != value;
        const bool outlived = age >= kLongestHold || (age >= kShortHold && changedSince);
        if (decides || outlived || afterAgreement) {
            // The service's word counts again, but for replies that may predate what ended it.
            if (decides) {
                state.settledThrough = held.decidedAfterQuestion;
            } else if (outlived) {
                state.settledThrough = reply ? source.question - 1 : source.questionsAsked;
            } else {
                state.settledThrough = held.agreedWithQuestionsAsked;
            }
            state.held.reset();
        } else if (!showsHeld) {
            // Older than the report; or, newer than it, the report before it, which the service
            // takes only now.
            if (held.earlierValueToCome && !askedBefore(held.olderThroughQuestion)) {
                held.earlierValueToCome.reset();
                held.olderThroughQuestion = source.questionsAsked;
            }
            setIn(record, field, held.value);
            return;
        } else if (!held.agreedWithQuestionsAsked) {
            // A record from before the report, or one that still waits for the report before it
            // (or was asked before that arrived), may show the value only because of that.
            if (held.earlierValueToCome || askedBefore(held.olderThroughQuestion)) return;
            held.agreedWithQuestionsAsked = source.questionsAsked;
        }
    } else if (state.shown && askedBefore(state.settledThrough)) {
        setIn(record, field, *state.shown);
        return;
    }
    const bool value = valueIn(record, field);
    if (state.shown && *state.shown != value) {
        state.shownChangedUnreported = !reported;
    }
    state.shown = value;
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
            FieldState& state = entry.fields[indexOf(field)];
            // A first record that shows another value than the list is a change too.
            if (!state.shown) state.shown = valueIn(*user, field);
            const bool push = source.question == 0;
            takeWord(state.newest,
                     {valueIn(record, field), source.notOlderThan,
                      push ? source.notOlderThan : source.arrivedAt},
                     push);
            settle(state, record, field, source);
        }
    }
}

}  // namespace kr
