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

ParticipantHolds::Participant& ParticipantHolds::entryOf(
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
    FieldHold& field = entryOf(meeting, user).fields[static_cast<std::size_t>(report.field)];
    field.reportedAt = report.at;
    field.questionsAsked = std::max(field.questionsAsked, report.questionsAsked);
}

std::optional<ParticipantHolds::TimePoint> ParticipantHolds::applyTo(
    std::vector<KRMeetingParticipant>& records, const CurrentUser& currentUser,
    const Source& source) {
    forgetGone(currentUser);
    std::optional<TimePoint> askAt;
    if (!source.meeting.live()) return askAt;
    const bool push = source.question == 0;
    for (auto& record : records) {
        Participant* entry = nullptr;
        std::shared_ptr<KRMeetingUser> user;
        if (const auto found = participants_.find(record.participantId);
            found != participants_.end() && found->second.meeting.sameSession(source.meeting)) {
            entry = &found->second;
            user = entry->user.lock();
        } else if (push) {
            user = currentUser(record.participantId);
        }
        if (!user) continue;
        for (const Field field : {Field::handRaised, Field::inAudience}) {
            const bool shown = valueIn(*user, field);
            const bool changes = valueIn(record, field) != shown;
            if (!entry) {
                // Only a push that changes the list is kept: one that shows what the list shows
                // leaves each field to the word that set it.
                if (!changes) continue;
                entry = &entryOf(source.meeting, user);
            }
            FieldHold& hold = entry->fields[static_cast<std::size_t>(field)];
            const bool older = push ? hold.reportedAt && source.at < *hold.reportedAt + kShortHold
                                    : source.question <= hold.questionsAsked;
            if (!older) {
                hold.doubt.reset();  // the service's word, whatever the list shows
                if (push && changes) {
                    hold.questionsAsked = std::max(hold.questionsAsked, source.questionsAsked);
                }
                continue;
            }
            if (push && changes) {
                // The service may have changed since the report: a reply asked once no push can
                // be older than it tells. A change of hers or a host's lower-all is followed by
                // its own report, which the question waits for a little, past the bound.
                askAt = std::max({askAt.value_or(TimePoint{}), *hold.reportedAt + kShortHold,
                                  source.at + kReportLag});
                hold.doubt = valueIn(record, field);
            } else if (push) {
                // Pushes come in order: the service went back to the list's value since.
                hold.doubt.reset();
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
            auto& doubt = entry.fields[static_cast<std::size_t>(field)].doubt;
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
