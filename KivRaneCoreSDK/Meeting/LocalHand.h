#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "KivRaneCoreSDK/Meeting/LocalStateSends.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/TaskHandle.h"

namespace kr {

/// The local user's hand between the client, the service and the others in the meeting: what the
/// others were last told of it and whether the service took the current one, and the doubt a
/// record of hers that was set aside raised about it. Such a record may show a change the
/// service made on its own since her last send (a host's lower-all that nobody heard), which
/// only a question asked once her sends were answered can tell from an older send of hers.
///
/// While that doubt is open, no post of her whole state may go unless its hand itself must go
/// again: any other would restate the hand she holds over the service's change. Such a post
/// waits here, and goes with the answer.
///
/// The sync asks the questions and sends the posts; this keeps what they depend on. Everything
/// belongs to the meeting it was noted in. Confined to the main queue.
class LocalHand {
public:
    /// How long, once the local changes were answered, a question about a hand that a record set
    /// aside showed waits for a push of the local record to settle it: the push the service
    /// sends once it took her change usually comes right after the change's answer.
    static constexpr std::chrono::seconds kOwnPushWait{1};

    explicit LocalHand(std::shared_ptr<platform::DispatchQueue> queue);
    ~LocalHand();
    LocalHand(const LocalHand&) = delete;
    LocalHand& operator=(const LocalHand&) = delete;

    // ---- What the others were told ----

    /// What the others were told, and whether the service took it, start afresh for another
    /// meeting than the last one: with the hand down at the service and with the others.
    void newsOf(const MeetingSession::Token& meeting);
    /// Who changed the hand.
    enum class Change {
        byApp,           ///< the host app raised or lowered it
        byHostLowerAll,  ///< a host lowered every hand, and the others heard it from the host
        byService,       ///< a status reply in the meeting, with no local change on its way,
                         ///< shows it changed
    };
    /// The hand went from `wasRaised` to `raised`, changed `by` someone: no send carrying it was
    /// taken yet, unless the service made the change. The others heard a host's lower-all from
    /// the host, and have the service's own change from the service; `toldNow`: the app's
    /// change goes to the others at once.
    void changed(bool wasRaised, bool raised, Change by, bool toldNow);
    /// The service answered a send of `meeting`, of the current meeting when it says what it
    /// `carried`, while the hand is `current`: a hand it carried and the service took is noted.
    void sendAnswered(const MeetingSession::Token& meeting,
                      const std::optional<LocalStateSends::Carried>& carried,
                      LocalStateSends::Answer answer, bool current);
    /// True when the others may be told `raised` now: the service took it and no send of
    /// `sends` may still undo it there (none carrying a hand is on its way or crossed, and
    /// `lost`: none was lost), they were last told another hand, and nothing puts it in doubt.
    /// Telling it is noted at once.
    bool tell(bool raised, const LocalStateSends& sends, bool lost);

    // ---- The doubt ----

    /// A record of `meeting` set aside showed `shown` while she holds `held`: another hand puts
    /// hers in doubt.
    void setAside(const MeetingSession::Token& meeting, bool shown, bool held) {
        if (shown != held) questionWaitsIn_ = meeting;
    }
    /// A push of her record showed `shown` while she holds `held`. Another hand may be the
    /// service's own change, which the question tells; hers settles the question that waits, as
    /// pushes come in the order they were composed: this one was composed after every push set
    /// aside before it, so the service has her hand since them.
    enum class PushShowed { nothing, otherHand, settledDoubt };
    PushShowed pushShowed(bool shown, bool held);
    /// A question about it waits to be asked; one is on its way.
    bool questionWaits() const { return questionWaitsIn_.live(); }
    bool asking() const { return askedIn_.live(); }
    /// The rule every post of her whole state obeys: while true, one that would only restate
    /// her hand waits for the answer.
    bool inDoubt() const { return questionWaits() || asking(); }
    /// No question waits any more: it goes now, or a push or a loss settled it.
    void settle();
    /// A question goes in `meeting`; false when none may: one is on its way already (it is then
    /// asked once more after its answer), or the meeting is not live.
    bool ask(const MeetingSession::Token& meeting);
    enum class Answered {
        elsewhere,  ///< the answer of an ended meeting's question: nothing to do
        askAgain,   ///< a push showed another hand while it was on its way
        settled,    ///< the answer settles the hand
        failed,     ///< no answer came: the question waits again
    };
    Answered answered(const MeetingSession::Token& meeting, bool replied);
    /// Waits for a push of her record to settle the question that waits, unless such a wait is
    /// on already; `due` runs on the queue after `kOwnPushWait`, with the meeting it waited in.
    /// It holds whatever it captures until then: capture owners weakly.
    void awaitOwnPush(std::function<void(const MeetingSession::Token&)> due);
    /// The wait of `meeting` passed: true when it is still that meeting's and its question still
    /// waits.
    bool ownPushWaitPassed(const MeetingSession::Token& meeting);

    /// What goes once her sends were all answered and none was lost, given what `crossed`.
    enum class Next {
        nothing,
        askFirst,      ///< the question, before anything restates her hand
        awaitAnswer,   ///< the question on its way; its answer settles again
        sendCrossed,   ///< what crossed goes again
        postWaiting,   ///< the post that waited for the answer
        awaitOwnPush,  ///< a push of her record may settle the question that waits
    };
    Next next(const LocalStateSends::Crossed& crossed) const;

    // ---- The post that waits for the answer ----

    /// A post of her whole state of `meeting` waits for the question's answer.
    void postWaits(const MeetingSession::Token& meeting) { postWaitsIn_ = meeting; }
    bool postWaiting() const { return postWaitsIn_.live(); }
    /// Her whole state went: nothing waits to carry it.
    void wholeStatePosted() { postWaitsIn_ = {}; }

private:
    std::shared_ptr<platform::DispatchQueue> queue_;

    MeetingSession::Token newsIn_;
    bool told_ = false;   ///< the hand the others were last told, by message or the service
    bool taken_ = false;  ///< a send carrying the current hand was taken since it changed

    MeetingSession::Token questionWaitsIn_;
    MeetingSession::Token askedIn_;
    bool askAgain_ = false;
    MeetingSession::Token ownPushAwaitedIn_;
    platform::TaskHandle ownPushDue_;
    MeetingSession::Token postWaitsIn_;
};

}  // namespace kr
