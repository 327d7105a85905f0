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
#include "platform/Dispatch/Clock.h"

namespace kr {

/// What this client told the host app of remote participants before the meeting service's records
/// could show it: a hand as the participant's own message or a host's lower-all set it, a role as
/// the media engine reported a move. The service's records of such a participant may be older than
/// the report, so while it holds they carry the held value instead, and the room store, the merge
/// and the panel keep what the app was told.
///
/// A record newer than the report (a push that arrived after it, a reply to a question asked after
/// it) that shows the value agrees with it; the first record newer than that agreement ends the
/// hold, whatever it shows: the service has the value, and any other is a change of its own.
///
/// A report may also come after the push that showed its value: a message slower than the push.
/// When, since the last report, a record the list took showed the service change the field to the
/// reported value (a participant's first record against what the list showed), a change no report
/// had told of, the report counts as agreed from the moment it is held. A value the service showed
/// all along, or one a report had told of, says nothing of this report.
///
/// Reports of one field follow each other: a raise and its lower, a move and the move back. When a
/// report comes while the one before it still waits for its agreement, the service may take that
/// earlier change only now: the first record newer than the report that shows the earlier value is
/// that change, late, and is set aside. Until it came, a record showing the report's value may show
/// the state before the earlier change, and agrees with nothing; nor does a reply to a question
/// asked before it came.
///
/// A value this client set by a command of its own is held only until the service can be known to
/// have had its say: the command ran once the service answered it, so the reply to any question
/// asked after that decides, whatever it shows; pushes and replies asked before still carry the
/// held value.
///
/// A record newer than the report that still shows the value the service showed when the report
/// was heard, or the value of an earlier report still to come, says only that her change has not
/// reached the service yet: her post may be late, or failing and sent again while the service is
/// out of reach. Such a record ends no hold before `kLongestHold`, so a long outage does not bring
/// the old value back. A record that shows neither, nor the reported value, is a change of the
/// service's since the report (an unheard raise, an unheard lower-all): once `kShortHold` passed
/// since the report, long enough for any post that reached the service to be taken, the service's
/// word counts again. At `kLongestHold` it counts whatever the record shows, so every hold ends.
///
/// The value the service showed is its newest word: the newest record it had sent, held against
/// or not, or a host's command it carried out (another host's, told only once carried out; this
/// client's own, once answered). A push and a command count as composed when they arrive, a reply
/// between its question and its arrival: words whose times overlap may be in either order, and
/// when they differ the value is open, and no record counts as a change since. With no
/// word yet, it is what the list showed before the report. Behind a report of the same field that
/// no record since showed yet, it is the value that report was weighed against: the records since
/// may only lag behind it.
///
/// Once a hold ended, replies to questions asked before what ended it may still be older than the
/// report: they keep the value the list shows.
///
/// What is held and kept of a participant lasts as long as its meeting and the user it was set on:
/// a participant who left and came back is a new user, whose state the service's word sets again. A
/// newer report of the same field replaces the held value. Plain value type, used on the main
/// queue.
class ParticipantHolds {
public:
    using TimePoint = platform::Clock::time_point;
    /// How long a report holds against a record that shows a change of the service's since.
    static constexpr std::chrono::seconds kShortHold{3};
    /// How long a report holds at most against the service's records: beyond an outage of tens
    /// of seconds and the post that follows it.
    static constexpr std::chrono::seconds kLongestHold{60};

    enum class Field { handRaised, inAudience };
    /// The user the meeting holds now under a participant id, or null.
    using CurrentUser = std::function<std::shared_ptr<KRMeetingUser>(const std::string&)>;

    /// Who set a held value: a participant's report of her own change, which the service may not
    /// have yet; another host's command, which the service carried out before telling of it; or a
    /// command of this client's own that the service answered.
    enum class Origin { report, hostCommand, ownCommand };

    /// A report of one field, heard `at`, with `questionsAsked` fetches asked so far.
    struct Report {
        Field field = Field::handRaised;
        bool value = false;
        std::uint64_t questionsAsked = 0;
        TimePoint at{};
        Origin origin = Origin::report;
    };
    /// Holds the report's value for `user`, in `meeting`; called before the list shows it.
    void hold(const MeetingSession::Token& meeting, const std::shared_ptr<KRMeetingUser>& user,
              const Report& report);
    /// The records of one push (`question` 0) or of the reply to fetch number `question`, with
    /// `questionsAsked` fetches asked so far, in `meeting`; `notOlderThan`: when the push arrived,
    /// or when the reply's question was asked.
    struct Source {
        std::uint64_t question = 0;
        std::uint64_t questionsAsked = 0;
        MeetingSession::Token meeting;
        TimePoint notOlderThan{};
        /// When the records arrived: a reply was composed between its question and this.
        TimePoint arrivedAt{};
    };
    /// Forgets what it held and kept of ended meetings and of users the meeting no longer holds,
    /// then settles each field of each record against what is held.
    void applyTo(std::vector<KRMeetingParticipant>& records, const CurrentUser& currentUser,
                 const Source& source);

private:
    static constexpr std::size_t kFields = 2;
    struct Value {
        bool value = false;
        /// The service's value when the report was heard; none: either may be.
        std::optional<bool> before;
        TimePoint heldAt{};
        /// A record that came after the report showed its value (or the service carried out the
        /// command), whether or not it could agree.
        bool shownSince = false;
        /// Set once a record showed the value: the fetches asked by then.
        std::optional<std::uint64_t> agreedWithQuestionsAsked;
        /// A reply to a question after this one ends the hold.
        std::optional<std::uint64_t> decidedAfterQuestion;
        /// The value of the report before this one, which no record had agreed with: the
        /// service may take that change only now.
        std::optional<bool> earlierValueToCome;
        /// Replies to questions up to this one may predate the report, or the earlier change's
        /// arrival: they agree with nothing.
        std::uint64_t olderThroughQuestion = 0;
    };
    /// The service's word on a field: what a record showed, or a command it carried out, with
    /// when it was composed at the earliest and the latest (a push and a command as they arrive,
    /// a reply between its question and its arrival). Words whose times overlap may have been
    /// composed in either order: when they differ, the newest value is either.
    struct Word {
        std::optional<bool> value;  ///< none: either
        TimePoint earliest{};
        TimePoint latest{};
    };
    /// Takes `word` where it is the newest; `inOrder`: it came by a road that keeps order (a
    /// push), newer than all that arrived before it.
    static void takeWord(std::optional<Word>& newest, const Word& word, bool inOrder);
    struct FieldState {
        std::optional<Value> held;
        /// The newest word of the service's, whether the list took it or a hold kept another.
        std::optional<Word> newest;
        /// The service's value in the newest record the list took.
        std::optional<bool> shown;
        /// Since the last report, a record the list took changed `shown` to a value no held report
        /// had told of.
        bool shownChangedUnreported = false;
        /// Once a hold ended: replies to questions up to this one may predate what ended it.
        std::optional<std::uint64_t> settledThrough;
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
