// The holds against generated meetings: one remote participant whose hand and role change at the
// service, by her posts or a host's lower-all. Once the service took a change its message goes out,
// and this client hears it within 2 s or never; the service pushes its word after each change (a
// push arrives less than the short hold after it was composed, in order) and answers questions,
// whose replies arrive in any order. Every sequence comes from a fixed seed; a failing one is
// printed step by step.
//
// Two rules are checked over every sequence:
// - no going back: once the list showed a message's value, it leaves it only for a record composed
//   after the message was heard, or for a newer message; once a push changed the list, only for a
//   record composed after that push, or a message;
// - every hold ends: once changes stop and all on its way arrived, a push of the service's word
//   composed as they stopped included, the list is on that word as soon as the question asked when
//   the holds said was answered; the short hold later, a push and a reply each leave the list on
//   the service's word.

#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"

namespace kr {
namespace {

using Field = ParticipantHolds::Field;
constexpr std::array<Field, 2> kFields = {Field::handRaised, Field::inAudience};
constexpr const char* kFieldNames[] = {"hand", "role"};
constexpr std::uint32_t kShortHoldMs = static_cast<std::uint32_t>(
    std::chrono::duration_cast<std::chrono::milliseconds>(ParticipantHolds::kShortHold).count());
constexpr std::int64_t kLatestMessageMs = 2000;
constexpr std::size_t kHer = 0, kHost = 1;  // who sent a message: they arrive in order per sender

/// The service's word at one moment; `composedAt` counts in the order of events.
struct Word {
    std::array<bool, 2> values{};
    std::uint64_t composedAt = 0;
};
struct Push {
    Word word;
    std::int64_t arrivesAtMs = 0;
};
struct Message {
    std::uint64_t change = 0;
    std::size_t field = 0;
    bool value = false;
    std::int64_t sentAtMs = 0;
};
struct Question {
    std::uint64_t number = 0;
    std::optional<Word> answer;  ///< composed, not arrived yet
};
/// The message whose value the list shows, and when it was heard.
struct Shown {
    std::uint64_t change = 0;
    bool value = false;
    std::uint64_t heardAt = 0;
};

/// One generated or written meeting: the service, messages and records on their way, and what
/// this client's list shows.
class Meeting {
public:
    explicit Meeting(std::uint32_t seed, bool pushEachChange = true)
        : rng_(seed), pushEachChange_(pushEachChange) {
        session_->reachMeeting();
    }

    /// Runs `steps` random steps, then lets the records settle; returns the first broken rule.
    std::optional<std::string> run(int steps) {
        for (int i = 0; i < steps && !failure_; ++i)
            step();
        if (!failure_) settle();
        return failure_;
    }
    /// The same for written steps: "h1" or "r0" (her hand or role, taken by the service; "/lost":
    /// nobody hears it), "lowerall" (or "/lost"); "hear" (her next message), "hearhost"; "push"
    /// (the service's word, arriving at once), "send" (composed now) and "deliver" (arriving);
    /// "ask", "answerN", "arriveN" (the reply to question N); "+ms"; "rejoin" (she leaves and
    /// comes back, hand down); "end" (the meeting ends, the next one begins with her hand down);
    /// "=h1" or "=r0": what the list shows then; "?1": the questions asked so far. Nothing is
    /// pushed unless written.
    std::optional<std::string> play(std::string_view script) {
        std::istringstream steps{std::string(script)};
        for (std::string step; !failure_ && steps >> step;) {
            const bool lost = step.ends_with("/lost");
            if (step[0] == '+') {
                advance(std::stoll(step.substr(1)));
            } else if (step[0] == '?') {
                if (questionsAsked_ != std::stoull(step.substr(1)))
                    failure_ = std::to_string(questionsAsked_) + " questions asked, not " + step.substr(1);
            } else if (step[0] == '=') {
                if (list_[step[1] == 'h' ? 0 : 1] != (step[2] == '1'))
                    failure_ = "the list does not show " + step.substr(1);
            } else if ((step[0] == 'h' || step[0] == 'r') && (step[1] == '0' || step[1] == '1')) {
                change(step[0] == 'h' ? 0 : 1, step[1] == '1', !lost);
            } else if (step.starts_with("lowerall")) {
                lowerAll(!lost);
            } else if (step == "hear" || step == "hearhost") {
                hear(step == "hear" ? kHer : kHost);
            } else if (step == "push" || step == "send") {
                send(0);
                if (step == "push") deliver();
            } else if (step == "deliver") {
                deliver();
            } else if (step == "ask") {
                ask();
            } else if (step == "rejoin" || step == "end") {
                step == "rejoin" ? rejoin() : nextMeeting();
            } else if (step.starts_with("answer") || step.starts_with("arrive")) {
                const std::uint64_t number = std::stoull(step.substr(6));
                const auto q =
                    std::find_if(questions_.begin(), questions_.end(),
                                 [&](const Question& asked) { return asked.number == number; });
                const bool answer = step.starts_with("answer");
                if (q == questions_.end() || answer == q->answer.has_value())
                    return "no such step: " + step;
                answer ? compose(*q) : arrive(q);
            } else {
                return "no such step: " + step;
            }
        }
        if (!failure_) settle();
        return failure_;
    }
    std::string story() const { return story_.str(); }

private:
    std::uint32_t pick(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
    static ParticipantHolds::TimePoint at(std::int64_t ms) {
        return ParticipantHolds::TimePoint{} + std::chrono::milliseconds(ms);
    }

    void step() {
        switch (pick(16)) {
            case 0:
            case 1: {
                const std::size_t field = pick(2);
                change(field, !service_[field], pick(4) != 0);
                break;
            }
            case 2:
                lowerAll(pick(4) != 0);
                break;
            case 3:
            case 4:
                hear(kHer);
                break;
            case 5:
                hear(kHost);
                break;
            case 6:
                send(pick(kShortHoldMs));
                break;
            case 7:
                deliver();
                break;
            case 8:
                ask();
                break;
            case 9:
            case 10:
                if (!questions_.empty()) {
                    const auto q =
                        questions_.begin() + pick(static_cast<std::uint32_t>(questions_.size()));
                    q->answer ? arrive(q) : compose(*q);
                }
                break;
            case 11:
                advance(1000 * (1 + pick(30)));
                break;
            default:
                advance(100 * (1 + pick(20)));
                break;
        }
    }

    /// Moves time on: messages, pushes and the question the holds asked for come when due.
    void advance(std::int64_t ms) {
        const std::int64_t until = nowMs_ + ms;
        story_ << "+" << ms << "ms; ";
        while (!failure_) {
            std::int64_t next = until + 1;
            for (const auto& sent : messages_)
                if (!sent.empty()) next = std::min(next, sent.front().sentAtMs + kLatestMessageMs);
            if (!pushes_.empty()) next = std::min(next, pushes_.front().arrivesAtMs);
            if (askAtMs_) next = std::min(next, *askAtMs_);
            if (next > until) break;
            nowMs_ = std::max(nowMs_, next);
            for (std::size_t sender : {kHer, kHost}) {
                if (!messages_[sender].empty() &&
                    messages_[sender].front().sentAtMs + kLatestMessageMs <= nowMs_) {
                    hear(sender);
                }
            }
            if (!pushes_.empty() && pushes_.front().arrivesAtMs <= nowMs_) deliver();
            if (askAtMs_ && *askAtMs_ <= nowMs_) {
                askAtMs_.reset();
                if (holds_.takeDoubts(currentUser())) {
                    story_ << "(as the holds said) ";
                    ask();
                } else {
                    story_ << "(the holds need no question) ";
                }
            }
        }
        nowMs_ = until;
    }

    /// The service takes a change of hers, or a host's lower-all; then its message goes out.
    void changed(std::size_t sender, std::size_t field, bool value, bool heard) {
        service_[field] = value;
        const Message message{++changes_, field, value, nowMs_};
        story_ << "c" << message.change << ": "
               << (sender == kHost ? "lower-all" : kFieldNames[field] + std::to_string(value))
               << (heard ? "" : ", message lost") << " @" << nowMs_ << "; ";
        if (heard) messages_[sender].push_back(message);
        if (pushEachChange_) send(pick(kShortHoldMs));
    }
    void change(std::size_t field, bool value, bool heard) { changed(kHer, field, value, heard); }
    void lowerAll(bool heard) { changed(kHost, 0, false, heard); }

    void hear(std::size_t sender) {
        if (messages_[sender].empty()) return;
        const Message message = messages_[sender].front();
        messages_[sender].pop_front();
        story_ << "c" << message.change << " heard @" << nowMs_ << "; ";
        holds_.hold(
            session_->token(), user_,
            {.field = kFields[message.field], .questionsAsked = questionsAsked_, .at = at(nowMs_)});
        listShows(message.field, message.value);
        shown_[message.field] = Shown{message.change, message.value, ++events_};
    }
    void listShows(std::size_t field, bool value) {
        list_[field] = value;
        field == 0 ? user_->setIsHandRaised(value) : user_->setIsSpeaker(!value);
    }

    Word word() { return Word{service_, ++events_}; }
    /// The service composes a push now, arriving `delayMs` later (after the one before it).
    void send(std::int64_t delayMs) {
        const std::int64_t arrives =
            std::max(pushes_.empty() ? 0 : pushes_.back().arrivesAtMs, nowMs_ + delayMs);
        pushes_.push_back({word(), arrives});
        story_ << "push " << show(service_) << " sent @" << nowMs_ << "; ";
    }
    void deliver() {
        if (pushes_.empty()) return;
        const Word pushed = pushes_.front().word;
        pushes_.pop_front();
        story_ << "push " << show(pushed.values) << " @" << nowMs_ << "; ";
        records(pushed, 0);
    }

    void ask() {
        questions_.push_back({++questionsAsked_, std::nullopt});
        story_ << "ask q" << questionsAsked_ << "; ";
    }
    void compose(Question& q) {
        q.answer = word();
        story_ << "q" << q.number << " answered " << show(service_) << "; ";
    }
    void arrive(std::vector<Question>::iterator q) {
        const Question arrived = *q;
        questions_.erase(q);
        story_ << "q" << arrived.number << " arrives @" << nowMs_ << "; ";
        records(*arrived.answer, arrived.number);
    }

    ParticipantHolds::CurrentUser currentUser() const {
        return [this](const std::string& id) { return id == user_->id() ? user_ : nullptr; };
    }
    /// The records of a push (`question` 0) or reply: the holds first, then the list takes them.
    void records(const Word& word, std::uint64_t question) {
        KRMeetingParticipant record;
        record.participantId = user_->id();
        record.isHandRaise = word.values[0];
        record.participantType =
            word.values[1] ? KRMeetingParticipantType::audience : KRMeetingParticipantType::speaker;
        std::vector<KRMeetingParticipant> records{record};
        const auto askAt = holds_.applyTo(
            records, currentUser(),
            {.question = question,
             .meeting = session_->token(),
             .at = at(nowMs_),
             .questionsAsked = questionsAsked_});
        if (askAt) {
            const std::int64_t ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(*askAt - at(0)).count();
            if (!askAtMs_ || *askAtMs_ < ms) askAtMs_ = ms;
        }
        const std::array<bool, 2> taken = {
            records[0].isHandRaise,
            records[0].participantType == KRMeetingParticipantType::audience};
        for (std::size_t f = 0; f < 2 && !failure_; ++f) {
            auto& shown = shown_[f];
            if (shown && taken[f] != shown->value) {
                if (word.composedAt < shown->heardAt) {
                    failure_ = std::string("the list left the ") + kFieldNames[f] + " c" +
                               std::to_string(shown->change) +
                               " showed for a record composed before it was heard";
                }
                shown.reset();
            }
            if (taken[f] != list_[f]) {
                if (word.composedAt < pushedAt_[f]) {
                    failure_ = std::string("the list left the ") + kFieldNames[f] +
                               " a push showed for a record composed before that push";
                }
                if (question == 0) pushedAt_[f] = word.composedAt;
            }
            listShows(f, taken[f]);
        }
    }

    /// Changes stop: every message is heard, every reply and push arrives, the holds' question
    /// included; where the service pushed its word as they stopped, the list is on it then. The
    /// short hold later, a push and a reply each leave the list on the service's word.
    void settle() {
        story_ << "| settle: ";
        for (std::size_t sender : {kHer, kHost})
            while (!messages_[sender].empty())
                hear(sender);
        // The service may push its word as changes stop; else the list may stay off it (a message
        // heard late, a late reply) until a record comes the short hold later.
        const bool wordPushed = pick(2) == 0;
        if (wordPushed) send(pick(kShortHoldMs));
        while (!failure_) {
            if (!questions_.empty()) {
                for (Question& q : questions_)
                    if (!q.answer) compose(q);
                arrive(questions_.begin() + pick(static_cast<std::uint32_t>(questions_.size())));
            } else if (!pushes_.empty() || askAtMs_) {
                std::int64_t due = askAtMs_.value_or(std::numeric_limits<std::int64_t>::max());
                if (!pushes_.empty()) due = std::min(due, pushes_.front().arrivesAtMs);
                advance(std::max<std::int64_t>(0, due - nowMs_));
            } else {
                break;
            }
        }
        if (wordPushed)
            checkOnWord("once the records on their way and the holds' question arrived");
        if (failure_) return;
        advance(kShortHoldMs);
        const bool pushFirst = pick(2) == 0;
        for (int i = 0; i < 2 && !failure_; ++i) {
            if ((i == 0) == pushFirst) {
                send(0);
                deliver();
            } else {
                ask();
                compose(questions_.back());
                arrive(questions_.end() - 1);
            }
            checkOnWord(((i == 0) == pushFirst ? "after a push" : "after a reply") +
                        std::string(" the short hold later"));
        }
    }
    void checkOnWord(const std::string& when) {
        for (std::size_t f = 0; f < 2 && !failure_; ++f) {
            if (list_[f] != service_[f])
                failure_ = std::string("the list's ") + kFieldNames[f] +
                           " is off the service's word " + when;
        }
    }

    /// She leaves with her hand down and comes back: a new user, as her arrival's record shows.
    void rejoin() {
        departed_.push_back(user_);  // the app may keep the old one
        service_[0] = false;
        user_ = std::make_shared<KRMeetingUser>(
            KRMeetingUser::Parameters{.id = "8", .isSpeaker = !service_[1]});
        list_ = service_;
        shown_ = {};
        pushedAt_ = {};
        messages_[kHer].clear();
        story_ << "she leaves and comes back; ";
    }
    /// The meeting ends and the next begins, her hand down; the user object stays, so only the
    /// meeting tells the holds apart.
    void nextMeeting() {
        session_ = std::make_unique<MeetingSession>(queue_);
        session_->reachMeeting();
        service_[0] = false;
        for (std::size_t f = 0; f < 2; ++f)
            listShows(f, service_[f]);
        shown_ = {};
        pushedAt_ = {};
        messages_ = {};
        pushes_.clear();
        questions_.clear();
        askAtMs_.reset();
        story_ << "the next meeting; ";
    }

    static std::string show(const std::array<bool, 2>& values) {
        return "h" + std::to_string(values[0]) + "r" + std::to_string(values[1]);
    }

    std::mt19937 rng_;
    const bool pushEachChange_;
    std::shared_ptr<platform::MainQueue> queue_ =
        platform::MainQueue::create(platform::ManualClock::create());
    std::unique_ptr<MeetingSession> session_ = std::make_unique<MeetingSession>(queue_);
    std::shared_ptr<KRMeetingUser> user_ =
        std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "8", .isSpeaker = true});
    std::vector<std::shared_ptr<KRMeetingUser>> departed_;
    ParticipantHolds holds_;

    std::int64_t nowMs_ = 0;
    std::uint64_t events_ = 0;
    std::uint64_t changes_ = 0;
    std::array<bool, 2> service_{};  ///< hand raised, in the audience
    std::array<bool, 2> list_{};     ///< what this client's list shows
    std::array<std::optional<Shown>, 2> shown_;
    /// When the last push that changed the list was composed.
    std::array<std::uint64_t, 2> pushedAt_{};
    std::array<std::deque<Message>, 2> messages_;
    std::deque<Push> pushes_;
    std::uint64_t questionsAsked_ = 0;
    std::vector<Question> questions_;
    std::optional<std::int64_t> askAtMs_;  ///< when the holds asked for a question
    std::ostringstream story_;
    std::optional<std::string> failure_;
};

TEST(ParticipantHoldsTest, EveryHoldEndsAndNoneGoesBackEarlyOverGeneratedMeetings) {
    std::vector<std::uint32_t> seeds(20000);
    std::iota(seeds.begin(), seeds.end(), 1u);
    // Seeds beyond the first 20,000 that earlier versions of the model ran as well.
    seeds.insert(seeds.end(), {53819u, 63971u, 687097u});
    int failures = 0;
    for (const std::uint32_t seed : seeds) {
        if (failures >= 3) break;
        Meeting meeting(seed);
        if (const auto failure = meeting.run(8 + static_cast<int>(seed % 25))) {
            ++failures;
            ADD_FAILURE() << "seed " << seed << ": " << *failure << "\n  " << meeting.story();
        }
    }
}

TEST(ParticipantHoldsTest, WrittenMeetings) {
    struct Row {
        const char* what;
        const char* steps;
    };
    const Row rows[] = {
        {"a push composed before the raise was heard carries the raise",
         "send h1 hear deliver =h1"},
        {"a push up to the short hold after the raise is set aside, one after it wins",
         "h1 hear h0/lost +2999 push =h1 +1 push =h0"},
        {"a raise and a lower no push showed, then a raise nobody hears",
         "h1 hear h0 hear +300 h1/lost +1000 push =h0 +2000 push =h1"},
        {"a lower-all nobody hears after her raise",
         "h1 hear push h0 hear h1 hear lowerall/lost push =h1 +3000 push =h0"},
        {"a role nobody hears after the one heard", "r1 hear r0/lost push =r1 +3000 push =r0"},
        {"a reply asked before the raise was heard carries it, even composed after",
         "ask answer1 h1 hear arrive1 =h1 ask h0/lost answer2 arrive2 =h0 ask h1 hear h0/lost "
         "answer3 arrive3 =h1 +3000 push =h0"},
        {"a reply asked after the raise was heard wins within the short hold",
         "h1 hear h0/lost +100 ask answer1 arrive1 =h0"},
        {"a push set aside is settled by the question asked when the holds said",
         "h1 hear h0/lost +1000 push =h1 +1999 =h1 +1 answer1 arrive1 =h0"},
        {"a message heard after the push that showed it holds from when it was heard",
         "h1 push =h1 +500 hear =h1 h0/lost +2800 push =h1 +200 =h1 +800 answer1 arrive1 =h0"},
        {"a message heard after the push of a later change",
         "h1 h0/lost push =h0 hear =h1 +1000 push =h1 +2000 answer1 arrive1 =h0"},
        {"her raise heard after a host's lower-all that followed it",
         "h1 lowerall hearhost =h0 hear =h1 +500 push =h1 +2500 answer1 arrive1 =h0"},
        {"a push of her next change near the bound asks nothing once its message came",
         "h1 hear +1000 h0 +1900 push =h1 +100 =h0 +1000 ?0 push =h0 +3000 push =h0 ?0"},
        {"a push near the bound waits for its message past it, then asks",
         "h1 hear +1000 h0/lost +1900 push =h1 +900 =h1 ?0 +100 ?1 answer1 arrive1 =h0"},
        {"a later push back at the list's value asks nothing",
         "h1 hear h0/lost +500 send h1/lost send deliver =h1 deliver =h1 +3000 ?0 push =h1"},
        {"a participant who left and came back is not held",
         "h1 hear h0 hear rejoin h1/lost +500 push =h1"},
        {"a reply asked before the push that showed the raise keeps it",
         "ask answer1 h1 push =h1 arrive1 =h1 ask answer2 arrive2 =h1"},
        {"a reply asked after that push wins", "h1 push =h1 ask h0/lost answer1 arrive1 =h0"},
        {"an ended meeting's report holds nothing in the next",
         "h1 hear h0 hear end h1/lost +500 push =h1"},
    };
    for (const Row& row : rows) {
        Meeting meeting(0, false);
        const auto failure = meeting.play(row.steps);
        EXPECT_FALSE(failure) << row.what << ": " << *failure << "\n  " << meeting.story();
    }
}

}  // namespace
}  // namespace kr
