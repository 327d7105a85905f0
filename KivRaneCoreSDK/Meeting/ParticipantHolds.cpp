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
    forgetGone(currentUser);
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
            auto& doubt = found->second.doubts[static_cast<std::size_t>(field)];
            if (!older) {
                doubt.reset();  // the service's word, whatever the list shows
                continue;
            }
            const bool shown = valueIn(*user, field);
            if (push && valueIn(record, field) != shown) {
                // The service may have changed since the report: a reply asked once no push can
                // be older than it tells. A change of hers or a host's lower-all is followed by
                // its own report, which the question waits for a little, past the bound.
                askAt = std::max({askAt.value_or(TimePoint{}), report->at + kShortHold,
                                  source.at + kReportLag});
                doubt = valueIn(record, field);
            } else if (push) {
                // Pushes come in order: the service went back to the list's value since.
                doubt.reset();
            }
            setIn(record, field, shown);
        }
    }
    return askAt;
}

bool ParticipantHolds::takeDoubts(const CurrentUser& currentUser) {
    forgetGone(currentUser);
    bool needed = false;
    for (auto& [id, entry] : participants_) {
        const auto user = entry.user.lock();
        for (const Field field : {Field::handRaised, Field::inAudience}) {
            auto& doubt = entry.doubts[static_cast<std::size_t>(field)];
            // A later report (her next change's message, a host's lower-all) that brought the list
            // to the value the push showed leaves nothing to ask.
            if (doubt && *doubt != valueIn(*user, field)) needed = true;
            doubt.reset();
        }
    }
    return needed;
}

void ParticipantHolds::forgetGone(const CurrentUser& currentUser) {
    std::erase_if(participants_, [&](const auto& entry) {
        if (!entry.second.meeting.live()) return true;
        const auto held = entry.second.user.lock();
        return !held || held != currentUser(entry.first);
    });
}

}  // namespace kr
