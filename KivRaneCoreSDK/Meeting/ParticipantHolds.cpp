#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"

#include <algorithm>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {

namespace {

using Field = ParticipantHolds::Field;

bool valueIn(const KRMeetingParticipant& record, Field field) {
    switch (field) {
        case Field::handRaised:
            return record.isHandRaise;
        case Field::inAudience:
            return record.participantType == KRMeetingParticipantType::audience;
    }
    return false;
}

/// What the list shows of `user`.
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

void ParticipantHolds::hold(const MeetingSession::Token& meeting,
                            const std::shared_ptr<KRMeetingUser>& user, const Report& report) {
    if (!user || user->id().empty()) return;
    Participant& entry = participants_[user->id()];
    if (!entry.meeting.sameSession(meeting) || entry.user.lock() != user) {
        entry = Participant{meeting, user, {}};
    }
    entry.reports[static_cast<std::size_t>(report.field)] =
        LastReport{report.questionsAsked, report.at};
}

std::optional<ParticipantHolds::TimePoint> ParticipantHolds::applyTo(
    std::vector<KRMeetingParticipant>& records, const CurrentUser& currentUser,
    const Source& source) {
    std::erase_if(participants_, [&](const auto& entry) {
        if (!entry.second.meeting.live()) return true;
        const auto held = entry.second.user.lock();
        return !held || held != currentUser(entry.first);
    });
    std::optional<TimePoint> askAt;
    if (!source.meeting.live()) return askAt;
    const bool push = source.question == 0;
    for (auto& record : records) {
        const auto found = participants_.find(record.participantId);
        if (found == participants_.end() || !found->second.meeting.sameSession(source.meeting)) {
            continue;
        }
        const auto user = found->second.user.lock();
        for (const Field field : {Field::handRaised, Field::inAudience}) {
            const auto& report = found->second.reports[static_cast<std::size_t>(field)];
            if (!report) continue;
            const bool older = push ? source.at < report->at + kShortHold
                                    : source.question <= report->questionsAsked;
            if (!older) continue;
            const bool shown = valueIn(*user, field);
            if (push && valueIn(record, field) != shown) {
                // The service may have changed since the report: a reply asked once no push can
                // be older than it tells.
                askAt = std::max(askAt.value_or(TimePoint{}), report->at + kShortHold);
            }
            setIn(record, field, shown);
        }
    }
    return askAt;
}

}  // namespace kr
