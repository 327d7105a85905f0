#pragma once

#include <string>
#include <utility>

namespace kr {

/// The cause given when someone is gone from the call or its media: `removedFromMeeting` names
/// the host (by display name) who took the local user out. Equal when the case is the same and,
/// for `removedFromMeeting`, the host names are equal. Not hashable. Plain value.
class KRUserLeftReason {
public:
    enum class Kind {
        removedFromMeeting,
        leaveMeeting,
        networkDropped,
        becomeAudience,
        none,
    };

    static KRUserLeftReason removedFromMeeting(std::string byHost) {
        return KRUserLeftReason(Kind::removedFromMeeting, std::move(byHost));
    }
    static KRUserLeftReason leaveMeeting() { return KRUserLeftReason(Kind::leaveMeeting); }
    static KRUserLeftReason networkDropped() { return KRUserLeftReason(Kind::networkDropped); }
    static KRUserLeftReason becomeAudience() { return KRUserLeftReason(Kind::becomeAudience); }
    static KRUserLeftReason none() { return KRUserLeftReason(Kind::none); }

    /// `none`.
    KRUserLeftReason() = default;

    Kind kind() const noexcept { return kind_; }
    /// The remover's name for `removedFromMeeting`; empty for every other case.
    const std::string& byHost() const noexcept { return byHost_; }

    friend bool operator==(const KRUserLeftReason&, const KRUserLeftReason&) = default;

private:
    explicit KRUserLeftReason(Kind kind, std::string byHost = {})
        : kind_(kind), byHost_(std::move(byHost)) {}

    Kind kind_ = Kind::none;
    std::string byHost_;  // empty unless kind_ is removedFromMeeting
};

}  // namespace kr
