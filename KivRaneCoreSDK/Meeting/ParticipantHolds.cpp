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

void ParticipantHolds::hold(const MeetingSession::Token& meeting,
                            const std::shared_ptr<KRMeetingUser>& user, Field field, bool value,
                            std::uint64_t questionsAsked, Origin origin) {
    if (!user || user->id().empty()) return;
    Held& held = holds_[user->id()];
    if (!held.meeting.sameSession(meeting) || held.user.lock() != user) {
        held = Held{meeting, user, {}};
    }
    Value& heldValue = held.values[indexOf(field)].emplace(Value{value, {}, {}});
    if (origin == Origin::ownCommand) {
        heldValue.decidedAfterQuestion = questionsAsked;
        return;
    }
    const auto shown = shown_.find(user->id());
    if (shown != shown_.end() && shown->second.meeting.sameSession(meeting) &&
        shown->second.user.lock() == user && shown->second.values[indexOf(field)] == value) {
        heldValue.agreedWithQuestionsAsked = questionsAsked;
    }
}

void ParticipantHolds::applyTo(std::vector<KRMeetingParticipant>& records,
                               const CurrentUser& currentUser, const Source& source) {
    const auto gone = [&](const std::string& id, const MeetingSession::Token& meeting,
                          const std::weak_ptr<KRMeetingUser>& user) {
        if (!meeting.live()) return true;
        const auto held = user.lock();
        return !held || held != currentUser(id);
    };
    std::erase_if(holds_, [&](const auto& entry) {
        return gone(entry.first, entry.second.meeting, entry.second.user);
    });
    std::erase_if(shown_, [&](const auto& entry) {
        return gone(entry.first, entry.second.meeting, entry.second.user);
    });
    // The service's own values, before any held one takes their place.
    if (source.meeting.live()) {
        for (const auto& record : records) {
            if (auto user = currentUser(record.participantId)) {
                shown_[record.participantId] =
                    Shown{source.meeting, std::move(user),
                          {valueIn(record, Field::handRaised), valueIn(record, Field::inAudience)}};
            }
        }
    }
    for (auto& record : records) {
        const auto found = holds_.find(record.participantId);
        if (found == holds_.end()) continue;
        auto& values = found->second.values;
        for (const Field field : {Field::handRaised, Field::inAudience}) {
            auto& held = values[indexOf(field)];
            if (!held) continue;
            const bool olderThanAgreement = held->agreedWithQuestionsAsked && source.question != 0 &&
                                            source.question <= *held->agreedWithQuestionsAsked;
            const bool decides = held->decidedAfterQuestion && source.question != 0 &&
                                 source.question > *held->decidedAfterQuestion;
            if (decides || (held->agreedWithQuestionsAsked && !olderThanAgreement)) {
                held.reset();  // the service's word counts again
            } else if (valueIn(record, field) == held->value) {
                if (!held->agreedWithQuestionsAsked) {
                    held->agreedWithQuestionsAsked = source.questionsAsked;
                }
            } else {
                setIn(record, field, held->value);
            }
        }
        if (std::none_of(values.begin(), values.end(), [](const auto& v) { return v.has_value(); })) {
            holds_.erase(found);
        }
    }
}

}  // namespace kr
