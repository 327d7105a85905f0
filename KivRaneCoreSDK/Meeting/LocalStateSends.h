#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "KivRaneCoreSDK/Meeting/MeetingSession.h"

namespace kr {

/// The local user's state on its way to the meeting service, send by send, and which of its values
/// two sends on their way at once carried differently. Such sends travel on connections of their
/// own, so the service may handle the older one last and keep its value; a value only one of them
/// carried, or both carried alike, is not at risk, and nothing needs to restore it (a host's
/// lower-all the service carried out meanwhile stands).
///
/// A send that goes out alone is handled after every earlier one: the values it carries are
/// settled. A send the service refused was never handled, so nothing it crossed is at risk. The
/// crossings belong to the meeting they happened in. Plain value type, used on the main queue.
class LocalStateSends {
public:
    /// What one send carries; a value it does not carry is empty.
    struct Carried {
        std::optional<bool> handRaised{};
        std::optional<bool> microphoneMuted{};
        std::optional<bool> cameraMuted{};
        std::optional<bool> inAudience{};
    };
    /// The values that crossed.
    struct Crossed {
        bool hand = false;
        bool microphone = false;
        bool camera = false;
        bool role = false;
        bool any() const { return hand || microphone || camera || role; }
    };
    using Id = std::uint64_t;

    /// A send of `meeting` goes out now, carrying `carried`.
    Id sent(const MeetingSession::Token& meeting, const Carried& carried);
    /// The service answered send `id`: took it, refused it, or the answer never came. Returns
    /// what it carried when it was a send of the current meeting (the only live one).
    enum class Answer { taken, refused, lost };
    std::optional<Carried> answered(Id id, Answer answer);
    /// True while a send of the current meeting is on its way; one carrying the hand.
    bool onTheirWay() const;
    bool handOnItsWay() const;
    /// True while two sends of the current meeting carried the hand differently, and no send
    /// carrying it went alone since.
    bool handCrossed() const;
    /// The values that crossed in the current meeting and no send went alone with since.
    Crossed crossed() const;
    /// The same, forgotten from now on.
    Crossed takeCrossed();

private:
    struct Send {
        Id id;
        MeetingSession::Token meeting;
        Carried carried;
    };
    /// Two sends of `crossedIn_` on their way at once, and the values they carried differently.
    struct Crossing {
        Id first;
        Id second;
        Crossed values;
    };
    std::vector<Send> sends_;
    Id lastId_ = 0;
    MeetingSession::Token crossedIn_;
    std::vector<Crossing> crossings_;
};

}  // namespace kr
