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
                            std::optional<std::uint64_t> decidedAfterQuestion) {
    if (!user || user->id().empty()) return;
    Held& held = holds_[user->id()];
    if (!held.meeting.sameSession(meeting) || held.user.lock() != user) {
        held = Held{meeting, user, {}};
    }
    held.values[indexOf(field)] = Value{value, std::nullopt, decidedAfterQuestion};
}

void ParticipantHolds::applyTo(std::vector<KRMeetingParticipant>& records,
                               const CurrentUser& currentUser, Source source) {
    std::erase_if(holds_, [&](const auto& entry) {
        const auto& [id, held] = entry;
        if (!held.meeting.live()) return true;
        const auto user = held.user.lock();
        return !user || user != currentUser(id);
    });
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
