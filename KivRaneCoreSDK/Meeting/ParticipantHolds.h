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
/// meanwhile, unheard), so the service's value in the newest record the list took is kept, and a
/// report that matches it counts as agreed from the moment it is held. A record the holds set aside
/// as older keeps nothing.
///
/// Reports of one field follow each other: a raise and its lower, a move and the move back. A record
/// from before the earlier report (a push that came before it, a reply to a question asked before it)
/// may show the later report's value only because the service had not yet had the earlier one, so it
/// agrees with no later report; a newer record has to. Even a newer record may be from before the
/// service took the earlier change, when none had shown that change yet: then the first record that
/// shows it is that change, late, and is set aside; the hold ends only after it.
///
/// A value this client set by a command of its own is held only until the service can be known to
/// have had its say: the command ran once the service answered it, so the reply to any question
/// asked after that decides, whatever it shows; pushes and replies asked before still carry the
/// held value.
///
/// What is held and kept of a participant lasts as long as its meeting and the user it was set on:
/// a participant who left and came back is a new user, whose state the service's word sets again. A
/// newer report of the same field replaces the held value. Plain value type, used on the main queue.
class ParticipantHolds {
public:
    enum class Field { handRaised, inAudience };
    /// The user the meeting holds now under a participant id, or null.
    using CurrentUser = std::function<std::shared_ptr<KRMeetingUser>(const std::string&)>;

    /// Who set a held value: someone else's report, or a command of this client's own that the
    /// service answered.
    enum class Origin { report, ownCommand };

    /// Holds `value` of `field` for `user`, in `meeting`, with `questionsAsked` fetches asked so
    /// far. A report is agreed at once when the newest record the list took showed the value, unless
    /// that record is older than the field's last report; an own command is decided by the reply to
    /// a later question.
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
    /// Forgets what it held and kept of ended meetings and of users the meeting no longer holds.
    /// Then a record that differs from a held value takes it, unless a record agreed before and
    /// this one is not older than that, or this is a reply that decides the hold, either of which
    /// ends it; a record that shows the held value agrees unless it is older than the report before.
    /// The service's values of each record the list takes are kept.
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
        /// The fetches asked when the report before this one of the field was held: a reply to
        /// one of them is older than that report.
        std::optional<std::uint64_t> earlierReportQuestionsAsked;
        /// The value of the report before this one when no record had shown it yet: the service
        /// has that older change still to take, and the first record that shows it is set aside.
        /// Until then an agreed hold stays.
        std::optional<bool> earlierValueToCome;
    };
    struct FieldState {
        std::optional<Value> held;
        /// The service's value in the newest record the list took, and whether that record is
        /// newer than the last report of the field.
        std::optional<bool> shown;
        bool shownAfterLastReport = true;
        /// The fetches asked when the last report of the field was held.
        std::optional<std::uint64_t> lastReportQuestionsAsked;
    };
    struct Participant {
        MeetingSession::Token meeting;
        std::weak_ptr<KRMeetingUser> user;
        std::array<FieldState, kFields> fields{};
    };
    /// The participant's entry for `user` in `meeting`, begun afresh for another user or meeting.
    Participant& entryFor(const MeetingSession::Token& meeting,
                          const std::shared_ptr<KRMeetingUser>& user);
    /// Settles one field of a record against what is held: the held value goes in where the
    /// record is older; the record's own value is kept where the list takes it.
    static void settle(FieldState& state, KRMeetingParticipant& record, Field field,
                       const Source& source);

    std::map<std::string, Participant> participants_;
};

}  // namespace kr
