#include "KivRaneCoreSDK/Meeting/LocalHand.h"

#include <utility>

namespace kr {

LocalHand::LocalHand(std::shared_ptr<platform::DispatchQueue> queue) : queue_(std::move(queue)) {}

LocalHand::~LocalHand() {
    ownPushDue_.cancel();
}

void LocalHand::newsOf(const MeetingSession::Token& meeting) {
    if (newsIn_.sameSession(meeting))
        return;
    newsIn_ = meeting;
    told_ = false;
    taken_ = false;
}

void LocalHand::changed(bool wasRaised, bool raised, Change by, bool toldNow) {
    if (wasRaised != raised)
        taken_ = false;
    switch (by) {
        case Change::byApp:
            if (toldNow)
                told_ = raised;
            return;
        case Change::byHostLowerAll:
            told_ = false;
            return;
        case Change::byService:
            told_ = raised;
            taken_ = true;
            return;
    }
}

bool LocalHand::tell(bool raised, const LocalStateSends& sends, bool lost) {
    // Until the service shows it, the others would hold a hand it may never take; a hand the
    // service took while a send carrying another one is still to come may yet be undone. A
    // record that showed another hand meanwhile may be the service's own change since (a host's
    // lower-all nobody heard): its question is answered first.
    if (!taken_ || told_ == raised || inDoubt() || lost || sends.handOnItsWay() ||
        sends.handCrossed()) {
        return false;
    }
    told_ = raised;
    return true;
}

LocalHand::Next LocalHand::next(const LocalStateSends::Crossed& crossed) const {
    // Unless the hand crossed, the service's is the last one sent, or its own change since (a
    // host's lower-all nobody heard) that a record set aside may have shown. A whole state posted
    // before the answer would undo that change: the question goes first.
    if (!crossed.hand && (crossed.any() || postWaiting()) && inDoubt()) {
        return questionWaits() ? Next::askFirst : Next::awaitAnswer;
    }
    if (crossed.any())
        return Next::sendCrossed;
    if (postWaiting())
        return Next::postWaiting;
    return questionWaits() ? Next::awaitOwnPush : Next::nothing;
}

void LocalHand::sendAnswered(const MeetingSession::Token& meeting,
                             const std::optional<LocalStateSends::Carried>& carried,
                             LocalStateSends::Answer answer, bool current) {
    // Only the current meeting's sends tell what they carried.
    if (!carried || !carried->handRaised || answer != LocalStateSends::Answer::taken)
        return;
    newsOf(meeting);
    if (*carried->handRaised == current)
        taken_ = true;
}

LocalHand::PushShowed LocalHand::pushShowed(bool shown, bool held) {
    if (shown == held && !questionWaits())
        return PushShowed::nothing;
    settle();
    return shown != held ? PushShowed::otherHand : PushShowed::settledDoubt;
}

void LocalHand::settle() {
    questionWaitsIn_ = {};
    ownPushDue_.cancel();
    ownPushAwaitedIn_ = {};
}

bool LocalHand::ask(const MeetingSession::Token& meeting) {
    if (askedIn_.live()) {
        askAgain_ = true;
        return false;
    }
    if (!meeting.live())
        return false;
    // The question belongs to its meeting: one still on its way from an ended meeting holds
    // nothing of the next.
    askedIn_ = meeting;
    askAgain_ = false;
    return true;
}

LocalHand::Answered LocalHand::answered(const MeetingSession::Token& meeting, bool replied) {
    if (!askedIn_.sameSession(meeting))
        return Answered::elsewhere;
    askedIn_ = {};
    if (std::exchange(askAgain_, false))
        return Answered::askAgain;
    if (replied)
        return Answered::settled;
    // A question that got no answer settles nothing: the doubt stands.
    questionWaitsIn_ = meeting;
    return Answered::failed;
}

void LocalHand::awaitOwnPush(std::function<void(const MeetingSession::Token&)> due) {
    // An ended meeting's wait holds nothing of the next, whose question waits its own full time.
    if (ownPushAwaitedIn_.live())
        return;
    const MeetingSession::Token meeting = questionWaitsIn_;
    ownPushAwaitedIn_ = meeting;
    ownPushDue_.cancel();
    ownPushDue_ =
        queue_->postAfter(kOwnPushWait, [due = std::move(due), meeting] { due(meeting); });
}

bool LocalHand::ownPushWaitPassed(const MeetingSession::Token& meeting) {
    if (!ownPushAwaitedIn_.sameSession(meeting))
        return false;
    ownPushAwaitedIn_ = {};
    return questionWaits();
}

}  // namespace kr
