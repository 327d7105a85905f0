#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "platform/Dispatch/Clock.h"

namespace kr {

/// Keeps the service's older records from undoing what this client heard of a remote participant
/// before they could show it: a hand her message or a host's lower-all set, a role a room engine
/// reported. Such a report reaches this client once the service has the change, so every record
/// composed after it is the service's word and wins; only records composed before it are set
/// aside, and carry what the list shows instead.
///
/// A record is composed before the last report of a field when it is the reply to a question asked
/// before the report was heard, or a push that arrived less than `kShortHold` after it (a push does
/// not say when it was composed, and one on its way while the report travelled may be older).
///
/// A push that changes what the list shows is the service's word too: a reply to a question asked
/// before it arrived may have been composed before it, and carries what the list shows instead.
/// Pushes come in the order the service composed them, so none is older than another.
///
/// What is kept of a participant lasts as long as its meeting and the user it was set on: a
/// participant who left and came back is a new user, whose state the service's word sets. Plain
/// value type, used on the main queue.
class ParticipantHolds {
public:
    using TimePoint = platform::Clock::time_point;
    /// How long after a report a push may still have been composed before it.
    static constexpr std::chrono::seconds kShortHold{3};
    /// How long after a push that showed a change its report (her message, a host's lower-all)
    /// may still come.
    static constexpr std::chrono::seconds kReportLag{1};

    enum class Field { handRaised, inAudience };
    /// The user the meeting holds now under a participant id, or null.
    using CurrentUser = std::function<std::shared_ptr<KRMeetingUser>(const std::string&)>;

    /// A report of one field, heard `at`, with `questionsAsked` fetches asked so far.
    struct Report {
        Field field = Field::handRaised;
        std::uint64_t questionsAsked = 0;
        TimePoint at{};
    };
    /// Notes the report for `user`, in `meeting`.
    void hold(const MeetingSession::Token& meeting, const std::shared_ptr<KRMeetingUser>& user,
              const Report& report);

    /// The records of one push (`question` 0) or of the reply to fetch number `question`, in
    /// `meeting`, arrived `at`, with `questionsAsked` fetches asked so far.
    struct Source {
        std::uint64_t question = 0;
        MeetingSession::Token meeting;
        TimePoint at{};
        std::uint64_t questionsAsked = 0;
    };
    /// Forgets what it kept of ended meetings and of users the meeting no longer holds, then gives
    /// each field of a record composed before its last report, or before the last push that
    /// changed it, what the list shows. Returns when a question asked would be answered by a
    /// record composed after every report a push showed otherwise (none: no push was set aside).
    std::optional<TimePoint> applyTo(std::vector<KRMeetingParticipant>& records,
                                     const CurrentUser& currentUser, const Source& source);
    /// Whether the question asked for is still needed, once its time came: true while a value a
    /// push set aside showed is neither what the list shows now nor followed by the service's
    /// word or a later push. Whatever it was, it counts as answered from then on.
    bool takeDoubts(const CurrentUser& currentUser);

private:
    static constexpr std::size_t kFields = 2;
    struct FieldHold {
        /// When the last report was heard; none: no report, no push is held against.
        std::optional<TimePoint> reportedAt;
        /// Replies to these fetches may be older than the last report or pushed change.
        std::uint64_t questionsAsked = 0;
        /// The value the last push set aside showed against the list, while nothing settled it.
        std::optional<bool> doubt;
    };
    struct Participant {
        MeetingSession::Token meeting;
        std::weak_ptr<KRMeetingUser> user;
        std::array<FieldHold, kFields> fields{};
    };
    /// The entry of `user`, started afresh for another meeting or user.
    Participant& entryOf(const MeetingSession::Token& meeting,
                         const std::shared_ptr<KRMeetingUser>& user);
    /// Forgets what it kept of ended meetings and of users the meeting no longer holds.
    void forgetGone(const CurrentUser& currentUser);

    std::map<std::string, Participant> participants_;
};

}  // namespace kr
