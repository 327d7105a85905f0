#pragma once

#include <array>
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

namespace kr {

/// What this client told the host app of remote participants before the meeting service's records
/// could show it: a hand as the participant's own message or a host's lower-all set it, a role as
/// the media engine reported a move. The service's records of such a participant are older than the
/// report until one shows the same value, so until then they carry the held value instead, and the
/// room store, the merge and the panel keep what the app was told. Once a record agreed, status
/// replies to questions asked by then may still be older; only a push or a reply asked later ends
/// the hold.
///
/// A report may also come after the record that showed its value: a message slower than the
/// service's push. No later record need show that value again (the service may have changed it
/// meanwhile, unheard), so the service's own values in the last record of each participant are
/// kept, and a report that matches them counts as agreed from the moment it is held.
///
/// A value this client set by a command of its own is held only until the service can be known to
/// have had its say: the command ran once the service answered it, so the reply to any question
/// asked after that decides, whatever it shows; pushes and replies asked before still carry the
/// held value.
///
/// A hold, like a participant's kept values, lasts as long as its meeting and the user it was set
/// on: a participant who left and came back is a new user, whose state the service's word sets
/// again. A newer report of the same field replaces the held value. Plain value type, used on the
/// main queue.
class ParticipantHolds {
public:
    enum class Field { handRaised, inAudience };
    /// The user the meeting holds now under a participant id, or null.
    using CurrentUser = std::function<std::shared_ptr<KRMeetingUser>(const std::string&)>;

    /// Who set a held value: someone else's report, or a command of this client's own that the
    /// service answered.
    enum class Origin { report, ownCommand };

    /// Holds `value` of `field` for `user`, in `meeting`, with `questionsAsked` fetches asked so
    /// far. A report is agreed at once when the last record of the user showed the value; an own
    /// command is decided by the reply to a later question.
    void hold(const MeetingSession::Token& meeting, const std::shared_ptr<KRMeetingUser>& user,
              Field field, bool value, std::uint64_t questionsAsked,
              Origin origin = Origin::report);
    /// The records of one push (`question` 0) or of the reply to fetch number `question`, with
    /// `questionsAsked` fetches asked so far, in `meeting`.
    struct Source {
        std::uint64_t question = 0;
        std::uint64_t questionsAsked = 0;
        MeetingSession::Token meeting;
    };
    /// Forgets the holds and kept values of ended meetings and of users the meeting no longer
    /// holds, and keeps each record's own values; then a record that differs from a held value
    /// takes it, unless a record agreed before and this one is not older than that, or this is a
    /// reply that decides the hold, either of which ends it.
    void applyTo(std::vector<KRMeetingParticipant>& records, const CurrentUser& currentUser,
                 const Source& source);

private:
    static constexpr std::size_t kFields = 2;
    struct Value {
        bool value = false;
        /// Set once a record showed the value: the fetches asked by then.
        std::optional<std::uint64_t> agreedWithQuestionsAsked;
        /// A reply to a question after this one ends the hold.
        std::optional<std::uint64_t> decidedAfterQuestion;
    };
    struct Held {
        MeetingSession::Token meeting;
        std::weak_ptr<KRMeetingUser> user;
        std::array<std::optional<Value>, kFields> values;
    };
    std::map<std::string, Held> holds_;
    /// The service's own values in the last record of each participant the meeting holds.
    struct Shown {
        MeetingSession::Token meeting;
        std::weak_ptr<KRMeetingUser> user;
        std::array<bool, kFields> values{};
    };
    std::map<std::string, Shown> shown_;
};

}  // namespace kr
