// The holds against generated meetings: one participant whose hand and role change by reports the
// client hears, by changes it never hears, and at a service that takes each post at once, late or
// never, while pushes and replies (answered in any order) carry the service's word. An outage may
// fail all her posts for tens of seconds: her client sends her whole state again, backing off,
// until the service takes it. Every sequence comes from a fixed seed; a failing one is printed
// step by step.
//
// Two rules are checked over every sequence:
// - no going back: once the list showed a reported value, it leaves it only for a record composed
//   once the report was in effect (the service showed its value with none of her earlier posts of
//   the field still waiting; a host's lower-all at once), composed the short hold after the report
//   and showing a change since it, or composed the longest hold after it. A change is another value
//   than the service's as the client knew it on hearing the report: the newest-composed record it
//   was shown, or a host's command the service carried out since (with neither, the list's);
//   behind an earlier report of the field that the list still shows and no record composed since
//   has shown, what it knew on hearing that one;
// - every hold ends: once the longest hold passed, a push and a reply leave the list on the
//   service's word.
//
// The world is one the client can tell apart: a push carries the service's word as it arrives; a
// message arrives before time moves on, and is lost now and then, never two of one field in a row,
// for a change the service takes at once, never, or, in an outage, with her whole state; her posts
// are handled in order, within 2.5 s, but for an outage (10 to 45 s, her whole state taken within
// 2.5 s of its end), and she makes no third change while two wait. A report of the value the list
// shows already tells the app nothing and is not checked.

#include "KivRaneCoreSDK/Meeting/ParticipantHolds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <map>
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
using Origin = ParticipantHolds::Origin;
constexpr std::array<Field, 2> kFields = {Field::handRaised, Field::inAudience};
constexpr const char* kFieldNames[] = {"hand", "role"};
constexpr std::int64_t kShortHoldMs =
    std::chrono::duration_cast<std::chrono::milliseconds>(ParticipantHolds::kShortHold).count();
constexpr std::int64_t kLongestHoldMs =
    std::chrono::duration_cast<std::chrono::milliseconds>(ParticipantHolds::kLongestHold).count();
constexpr std::int64_t kLatestPostMs = 2500;
/// Her client's waits between sends of her whole state while they fail; the last one repeats.
constexpr std::array<std::int64_t, 6> kBackOffMs = {1000, 2000, 4000, 8000, 16000, 30000};

/// The service's word at one moment: both fields and the number of changes it took so far.
struct Snapshot {
    std::array<bool, 2> values{};
    std::uint64_t version = 0;
    std::int64_t atMs = 0;
    std::uint64_t composedAt = 0;  ///< in the order of events
};

/// A report the client heard and told the app of; the list must not leave its value early.
struct Told {
    std::uint64_t change = 0;  ///< the change it reports
    bool value = false;
    std::int64_t heardAtMs = 0;
    std::uint64_t heardAt = 0;  ///< in the order of events
    /// The service's value as the client knew it when it heard the report.
    bool baseline = false;
    bool shown = false;  ///< a record composed since it was heard showed the value
    bool left = false;   ///< the list showed another value since
    std::optional<std::uint64_t> inEffectAt;  ///< the service's version then
    bool checked = false;  ///< the list left the value since, or never had news of it
};

/// The service's value of a field as the client last knew it, and the service's version then.
struct Known {
    std::uint64_t version = 0;
    bool value = false;
};

/// A change of the participant's (or a host's) on its way: her post to the service, or the
/// message to the others.
struct Change {
    std::uint64_t id = 0;
    std::size_t field = 0;
    bool value = false;
    std::int64_t madeAtMs = 0;
    bool byHost = false;  ///< a host's lower-all: the service carried it out at once
    bool late = false;    ///< handled only when a written step says so
};

enum class Fate { taken, posted, refused };
constexpr const char* kFateNames[] = {"taken", "posted", "refused"};

struct Question {
    std::uint64_t number = 0;
    std::int64_t askedAtMs = 0;
    std::optional<Snapshot> answer;  ///< composed by the service, not yet arrived
};

/// One generated meeting: the service, the participant's own view, the posts, messages and
/// records on their way, and what this client's list shows.
class Meeting {
public:
    explicit Meeting(std::uint32_t seed) : rng_(seed) {
        session_->reachMeeting();
        push();  // the join's records
    }

    /// Runs `steps` random steps, then lets the records settle; returns the first broken rule.
    std::optional<std::string> run(int steps) {
        for (int i = 0; i < steps && !failure_; ++i)
            step();
        if (!failure_) settle();
        return failure_;
    }
    /// The same for written steps: "h1" or "r0" (her hand or role, taken at once), with
    /// "/posted", "/late" (posted, handled only by "take"), "/refused" or "/lost" (taken, her
    /// message lost); "lowerall" (or "/lost"), "ownlowerall"; "hear" (the next message), "take"
    /// (the next post), "push", "ask", "answerN", "arriveN" (the reply to question N),
    /// "outageMS" (her whole state is taken as it ends), "+ms"; "=h1" or "=r0": what the list
    /// shows then.
    std::optional<std::string> play(std::string_view script) {
        std::istringstream steps{std::string(script)};
        for (std::string step; !failure_ && steps >> step;) {
            const std::string how =
                step.find('/') == std::string::npos ? "" : step.substr(step.find('/') + 1);
            if (step[0] == '+') {
                advance(std::stoll(step.substr(1)));
            } else if (step[0] == '=') {
                const std::size_t field = step[1] == 'h' ? 0 : 1;
                if (list_[field] != (step[2] == '1'))
                    failure_ = "the list does not show " + step.substr(1);
            } else if ((step[0] == 'h' || step[0] == 'r') && (step[1] == '0' || step[1] == '1')) {
                participantChanges(step[0] == 'h' ? 0 : 1, step[1] == '1',
                                   how == "posted" || how == "late" ? Fate::posted
                                   : how == "refused"               ? Fate::refused
                                                                    : Fate::taken,
                                   how != "lost", how == "late");
            } else if (step.starts_with("outage")) {
                startOutage(std::stoll(step.substr(6)), 0);
            } else if (step.starts_with("lowerall")) {
                hostLowersAll(false, how != "lost");
            } else if (step == "ownlowerall") {
                hostLowersAll(true, true);
            } else if (step == "hear") {
                hearNextMessage();
            } else if (step == "take") {
                takeNextPost();
            } else if (step == "push") {
                push();
            } else if (step == "ask") {
                ask();
            } else {
                const bool answer = step.starts_with("answer");
                const std::uint64_t number = std::stoull(step.substr(6));
                const auto q =
                    std::find_if(questions_.begin(), questions_.end(),
                                 [&](const Question& asked) { return asked.number == number; });
                if (q == questions_.end() || answer == q->answer.has_value())
                    return "no such step: " + step;
                answer ? compose(*q) : arrive(q);
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
    /// A change is made: it is in effect once the service shows its value, whoever's change
    /// brought it there, and none of her earlier posts of the field waits.
    void make(const Change& change) {
        ++service_.version;
        pending_.push_back(change);
        noteEffects();
    }
    void take(const Change& change) {
        service_.values[change.field] = change.value;
        ++service_.version;
        noteEffects();
    }
    void noteEffects() {
        const auto earlier = [](const Change& change) {
            return [&change](const Change& post) {
                return post.field == change.field && post.id < change.id;
            };
        };
        std::erase_if(pending_, [&](const Change& change) {
            if (service_.values[change.field] != change.value) return false;
            // Her whole state carries every change whose post failed: those wait with it.
            const bool earlierPostWaits =
                std::any_of(posts_.begin(), posts_.end(), earlier(change)) ||
                std::any_of(unsent_.begin(), unsent_.end(), earlier(change));
            if (earlierPostWaits && !change.byHost) return false;
            inEffectAt_[change.id] = service_.version;
            auto& told = told_[change.field];
            if (told && told->change == change.id) told->inEffectAt = service_.version;
            return true;
        });
    }

    void step() {
        switch (pick(16)) {
            case 0:
            case 1: {
                const std::size_t field = pick(2);
                // A third change while two of her posts still wait is not modelled: one record
                // at most is set aside as an earlier change arriving late.
                if (std::count_if(posts_.begin(), posts_.end(),
                                  [&](const Change& post) { return post.field == field; }) >= 2) {
                    break;
                }
                // A change nobody hears of is one the service takes at once, or never.
                const bool heard = messageHeard(field);
                const auto fate = static_cast<Fate>(heard ? pick(3) : 2 * pick(2));
                participantChanges(field, !own_[field], fate, heard);
                break;
            }
            case 2: {
                const bool own = pick(3) == 0;
                hostLowersAll(own, own || messageHeard(0));
                break;
            }
            case 3:
            case 4:
                hearNextMessage();
                break;
            case 5:
                takeNextPost();
                break;
            case 6:
            case 7:
                push();
                break;
            case 8:
                ask();
                break;
            case 9:
            case 10:
                composeOrDeliverReply();
                break;
            case 14:
                startOutage(10000 + pick(35001), pick(2501));
                break;
            case 15:
                advance(1000 * (1 + pick(30)));
                break;
            default:
                advance(100 * (1 + pick(20)));
                break;
        }
    }

    void advance(std::int64_t ms) {
        while (!messages_.empty())
            hearNextMessage();  // messages do not linger
        const std::int64_t until = nowMs_ + ms;
        // A post is handled well within the longest hold; after an outage, her whole state.
        while (!posts_.empty() && !posts_.front().late &&
               posts_.front().madeAtMs + kLatestPostMs <= until) {
            takeNextPost();
        }
        if (wholeStateAtMs_ && *wholeStateAtMs_ <= until) takeWholeState();
        if (outageEndsAtMs_ && *outageEndsAtMs_ <= until && !wholeStateAtMs_) {
            outageEndsAtMs_.reset();
        }
        nowMs_ = until;
        story_ << "+" << ms << "ms; ";
    }

    /// The participant changes her own hand or role: her post is taken at once, late or
    /// refused, or fails in an outage; her message reaches this client later, or never.
    void participantChanges(std::size_t field, bool value, Fate fate, bool heard,
                            bool late = false) {
        const Change change{++changes_, field, value, nowMs_, false, late};
        own_[field] = value;
        make(change);
        // Her posts reach the service in order: one waits behind another.
        if (fate == Fate::taken && !posts_.empty()) fate = heard ? Fate::posted : Fate::refused;
        const bool fails = postsFail();
        story_ << "c" << change.id << ": " << kFieldNames[field] << value << " "
               << (fails ? "failing" : kFateNames[static_cast<int>(fate)])
               << (heard ? "" : ", message lost") << "; ";
        if (fails) {
            postFailed(change);
        } else if (fate == Fate::taken) {
            take(change);
        } else if (fate == Fate::posted) {
            posts_.push_back(change);
        }
        if (heard) messages_.push_back(change);
    }

    /// Her posts fail from now for `lastsMs`, those on their way included; her client takes the
    /// first chance to send her whole state after the end, `resumeMs` at most.
    void startOutage(std::int64_t lastsMs, std::int64_t resumeMs) {
        if (outageEndsAtMs_ || wholeStateAtMs_) return;
        outageEndsAtMs_ = nowMs_ + lastsMs;
        resumeMs_ = resumeMs;
        story_ << "outage until @" << *outageEndsAtMs_ << "; ";
        for (; !posts_.empty(); posts_.pop_front())
            postFailed(posts_.front());
    }
    bool postsFail() const {
        return wholeStateAtMs_ || (outageEndsAtMs_ && nowMs_ < *outageEndsAtMs_);
    }
    /// Her client sends her whole state again, backing off, until a send after the outage goes
    /// through.
    void postFailed(const Change& change) {
        unsent_.push_back(change);
        if (wholeStateAtMs_) return;
        std::int64_t sendAtMs = nowMs_;
        for (std::size_t i = 0; sendAtMs < *outageEndsAtMs_; ++i)
            sendAtMs += kBackOffMs[std::min(i, kBackOffMs.size() - 1)];
        wholeStateAtMs_ = std::min(sendAtMs, *outageEndsAtMs_ + resumeMs_);
    }
    void takeWholeState() {
        service_.values = own_;
        story_ << "service takes her whole state " << show(service_) << " @" << *wholeStateAtMs_
               << "; ";
        wholeStateAtMs_.reset();
        unsent_.clear();
        ++service_.version;
        noteEffects();
    }

    /// A host lowers every hand at the service: another host, whose message may be lost, or this
    /// client itself, which holds its own command once the service answered it.
    void hostLowersAll(bool ownCommand, bool heard) {
        const Change change{++changes_, 0, false, nowMs_, true};
        own_[0] = false;
        make(change);
        story_ << "c" << change.id << ": " << (ownCommand ? "own " : "") << "lower-all"
               << (heard ? "" : ", message lost") << "; ";
        take(change);
        if (ownCommand) {
            hear(change, Origin::ownCommand);
        } else if (heard) {
            messages_.push_back(change);
        }
    }

    void takeNextPost() {
        if (posts_.empty()) return;  // in an outage, only her whole state is taken
        const Change post = posts_.front();
        posts_.pop_front();
        story_ << "service takes c" << post.id << "; ";
        take(post);
    }

    /// A message is lost now and then, never two of one field in a row.
    bool messageHeard(std::size_t field) {
        lastMessageLost_[field] = !lastMessageLost_[field] && pick(4) == 0;
        return !lastMessageLost_[field];
    }

    void hearNextMessage() {
        if (messages_.empty()) return;
        const Change message = messages_.front();
        messages_.pop_front();
        hear(message, message.byHost ? Origin::hostCommand : Origin::report);
    }

    void hear(const Change& change, Origin origin) {
        story_ << "c" << change.id << " heard @" << nowMs_ << "; ";
        const std::size_t field = change.field;
        const auto taken = inEffectAt_.find(change.id);
        const bool news = list_[field] != change.value;
        auto& told = told_[field];
        // The service's value as the client knew it: behind a report the list still shows and no
        // record has shown since, what it knew then.
        const bool baseline = told && !told->shown && !told->left ? told->baseline
                              : known_[field]                     ? known_[field]->value
                                                                  : list_[field];
        told = Told{.change = change.id,
                    .value = change.value,
                    .heardAtMs = nowMs_,
                    .heardAt = ++events_,
                    .baseline = baseline,
                    .inEffectAt = taken == inEffectAt_.end() ? std::nullopt
                                                             : std::optional(taken->second),
                    .checked = !news};
        if (origin != Origin::report) {
            // The service carried the command out before anyone heard of it: it had the value.
            told->shown = true;
            const std::uint64_t version = inEffectAt_.at(change.id);
            if (!known_[field] || version >= known_[field]->version) {
                known_[field] = Known{version, change.value};
            }
        }
        holds_.hold(session_->token(), user_,
                    {.field = kFields[field],
                     .value = change.value,
                     .questionsAsked = questionsAsked_,
                     .at = at(nowMs_),
                     .origin = origin});
        listShows(field, change.value);
    }
    /// The list, and the user object the holds read it from.
    void listShows(std::size_t field, bool value) {
        list_[field] = value;
        field == 0 ? user_->setIsHandRaised(value) : user_->setIsSpeaker(!value);
    }

    void push() {
        story_ << "push " << show(service_) << " @" << nowMs_ << "; ";
        apply(now(), 0);
    }

    void ask() {
        questions_.push_back({++questionsAsked_, nowMs_, std::nullopt});
        story_ << "ask q" << questionsAsked_ << "; ";
    }
    void compose(Question& q) {
        q.answer = now();
        story_ << "q" << q.number << " answered " << show(service_) << "; ";
    }
    void arrive(std::vector<Question>::iterator q) {
        const Question arrived = *q;
        questions_.erase(q);
        story_ << "q" << arrived.number << " arrives; ";
        apply(*arrived.answer, arrived.number, arrived.askedAtMs);
    }
    void composeOrDeliverReply() {
        if (questions_.empty()) return;
        const auto q = questions_.begin() + pick(static_cast<std::uint32_t>(questions_.size()));
        q->answer ? arrive(q) : compose(*q);
    }

    /// The service's `word` in a push (`question` 0), or in the reply to a question asked at
    /// `askedAtMs`.
    void apply(const Snapshot& word, std::uint64_t question, std::int64_t askedAtMs = 0) {
        KRMeetingParticipant record;
        record.participantId = "8";
        record.isHandRaise = word.values[0];
        record.participantType =
            word.values[1] ? KRMeetingParticipantType::audience : KRMeetingParticipantType::speaker;
        std::vector<KRMeetingParticipant> records{record};
        holds_.applyTo(records, [&](const std::string&) { return user_; },
                       {.question = question,
                        .questionsAsked = questionsAsked_,
                        .meeting = session_->token(),
                        .notOlderThan = at(question == 0 ? nowMs_ : askedAtMs),
                        .arrivedAt = at(nowMs_)});
        const std::array<bool, 2> shown = {
            records[0].isHandRaise,
            records[0].participantType == KRMeetingParticipantType::audience};
        for (std::size_t f = 0; f < 2 && !failure_; ++f) {
            if (!known_[f] || word.version >= known_[f]->version) {
                known_[f] = Known{word.version, word.values[f]};
            }
            listShows(f, shown[f]);
            auto& told = told_[f];
            if (!told) continue;
            if (word.composedAt > told->heardAt && word.values[f] == told->value) {
                told->shown = true;
            }
            if (shown[f] != told->value) told->left = true;
            if (told->checked || shown[f] == told->value) continue;
            told->checked = true;
            const bool newerChange = told->inEffectAt && word.version >= *told->inEffectAt;
            const std::int64_t age = word.atMs - told->heardAtMs;
            const bool changedSince = age >= kShortHoldMs && word.values[f] != told->baseline;
            if (!newerChange && !changedSince && age < kLongestHoldMs) {
                failure_ = std::string("the list went back on the ") + kFieldNames[f] +
                           " reported " + (told->value ? "1" : "0") +
                           " before it was in effect, changed since or the hold ran out";
            }
        }
    }

    /// Every message and record on its way arrives; once the longest hold passed, a push and a
    /// reply each leave the list on the service's word.
    void settle() {
        story_ << "| settle: ";
        while (!messages_.empty()) hearNextMessage();
        for (Question& q : questions_)
            q.answer = q.answer.value_or(now());
        while (!questions_.empty() && !failure_) composeOrDeliverReply();
        if (failure_) return;
        advance(kLongestHoldMs);
        const bool pushFirst = pick(2) == 0;
        for (int i = 0; i < 2 && !failure_; ++i) {
            if ((i == 0) == pushFirst) {
                push();
            } else {
                ask();
                compose(questions_.back());
                arrive(questions_.end() - 1);
            }
            for (std::size_t f = 0; f < 2 && !failure_; ++f) {
                if (list_[f] != service_.values[f]) {
                    failure_ = std::string("the list's ") + kFieldNames[f] +
                               " stayed off the service's word after the longest hold";
                }
            }
        }
    }

    /// The service's word as of now.
    Snapshot now() {
        Snapshot word = service_;
        word.atMs = nowMs_;
        word.composedAt = ++events_;
        return word;
    }

    static std::string show(const Snapshot& s) {
        return "h" + std::to_string(s.values[0]) + "r" + std::to_string(s.values[1]);
    }

    std::mt19937 rng_;
    std::shared_ptr<platform::MainQueue> queue_ =
        platform::MainQueue::create(platform::ManualClock::create());
    std::unique_ptr<MeetingSession> session_ = std::make_unique<MeetingSession>(queue_);
    std::shared_ptr<KRMeetingUser> user_ =
        std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{.id = "8", .isSpeaker = true});
    ParticipantHolds holds_;

    std::int64_t nowMs_ = 0;
    Snapshot service_;
    std::array<bool, 2> own_{};   ///< the participant's own view
    std::array<bool, 2> list_{};  ///< what this client's list shows
    std::array<std::optional<Told>, 2> told_;
    /// Of the newest-composed record the holds were given, or of an own command answered since.
    std::array<std::optional<Known>, 2> known_;
    std::uint64_t events_ = 0;
    std::uint64_t changes_ = 0;
    std::vector<Change> pending_;                        ///< made, not in effect yet
    std::map<std::uint64_t, std::uint64_t> inEffectAt_;  ///< the service's version then
    std::deque<Change> posts_;
    std::optional<std::int64_t> outageEndsAtMs_;
    std::int64_t resumeMs_ = 0;  ///< her whole state is sent this long after the outage at most
    std::optional<std::int64_t> wholeStateAtMs_;  ///< when the service takes it
    std::vector<Change> unsent_;  ///< her posts that failed: her whole state carries them
    std::deque<Change> messages_;
    std::array<bool, 2> lastMessageLost_{};
    std::uint64_t questionsAsked_ = 0;
    std::vector<Question> questions_;
    std::ostringstream story_;
    std::optional<std::string> failure_;
};

TEST(ParticipantHoldsTest, EveryHoldEndsAndNoneGoesBackEarlyOverGeneratedMeetings) {
    // Seeds beyond the first 20,000 that a run of a million found, each the only one of them
    // that some rule stands for.
    const std::uint32_t foundFurther[] = {
        53819,   // a record showing her own report ends no hold as a change since
        63971,   // behind a report no record showed yet, the value it was weighed against counts
        687097,  // the earlier report's value, taken late, is no change since
    };
    std::vector<std::uint32_t> seeds(20000);
    std::iota(seeds.begin(), seeds.end(), 1u);
    seeds.insert(seeds.end(), std::begin(foundFurther), std::end(foundFurther));
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

TEST(ParticipantHoldsTest, WrittenMeetingsTheGeneratorReachesRarelyOrNotAtAll) {
    struct Row {
        const char* what;
        const char* steps;
    };
    const Row rows[] = {
        // The hand a participant raised (refused), lowered, then raised unheard.
        {"a refused raise, its lower, then a raise nobody hears",
         "h1/refused hear +150 h0 hear +300 h1/lost push =h0 ask answer1 arrive1 =h0 +2700 push "
         "=h1"},
        {"a raise and a lower no push showed, then a raise nobody hears",
         "h1 hear h0 hear +300 h1/lost +1000 push =h0 +2000 push =h1"},
        {"a refused raise, a lower-all, then a raise nobody hears: once the short hold passed",
         "h1/refused hear +200 lowerall hear +100 h1/lost push =h0 +2600 ask +300 answer1 arrive1 "
         "=h0 push =h1"},
        {"a refused lower, a raise at once, then a lower-all nobody hears",
         "h1 hear push h0/refused hear h1 hear lowerall/lost push =h1 +3000 push =h0"},
        {"the change a report brought shows nothing of the next report",
         "+1900 h1 hear +1100 push +400 lowerall/lost h1/posted h0/refused hear hear +1100 push "
         "take push =h0"},
        {"a reply asked before the report is not the earlier change arriving late",
         "ask answer1 h1 hear push h0/posted hear h1/posted hear arrive1 push lowerall/lost push "
         "=h1"},
        {"a reply asked before the earlier change arrived agrees with nothing",
         "r1/posted r0/posted hear hear ask answer1 take push arrive1 push =r0"},
        {"a reply asked after the own lower-all was answered decides it",
         "h1/posted hear ownlowerall ask take answer1 arrive1 =h1"},
        // Her post behind the service's records for longer than the short hold.
        {"a raise whose posts fail through an outage, while the records show the hand down",
         "outage40000 h1 hear push =h1 +2000 push =h1 +2000 push =h1 ask +10000 answer1 push =h1 "
         "arrive1 =h1 +20000 push =h1 ask answer2 arrive2 =h1 +6000 push =h1 ask answer3 arrive3 "
         "=h1"},
        {"a raise handled 5 s late",
         "h1/late hear push =h1 +1000 push =h1 +2500 push =h1 ask answer1 arrive1 =h1 +1500 take "
         "push =h1"},
    };
    for (const Row& row : rows) {
        Meeting meeting(0);
        const auto failure = meeting.play(row.steps);
        EXPECT_FALSE(failure) << row.what << ": " << *failure << "\n  " << meeting.story();
    }
}

}  // namespace
}  // namespace kr
