#pragma once

#include <string>
#include <utility>

namespace kr {

class KRApiRequestError;

/// Why a join ended without the local user in the meeting. Reported once per join.
struct KRMeetingJoinError {
    enum class Kind {
        invalidConfiguration,  ///< the service configuration could not be read
        maxParticipantsLimit,  ///< the room is full
        failedToRegisterUser,  ///< the guest login reply could not be read
        meetingNotFound,       ///< "NOTFOUNDERROR"
        meetingEnded,          ///< "MEETING_ENDED"
        meetingLocked,         ///< "ROOMLOCKED"
        other,                 ///< anything else; `message` says what
    };
    Kind kind = Kind::other;
    std::string message;

    /// The message of a join refused because another meeting is still joined, joining or leaving.
    static constexpr const char* kMeetingStillActive = "A meeting is still active or leaving";
    /// The message of a join that waited for a leave and was given up by a later leave.
    static constexpr const char* kJoinGivenUpForLeave = "The join was given up for a later leave";
    /// The message of a join the media engine refused to connect.
    static constexpr const char* kMediaConnectionFailed = "The media engine failed to connect";

    static KRMeetingJoinError invalidConfiguration() { return {Kind::invalidConfiguration, {}}; }
    static KRMeetingJoinError maxParticipantsLimit() { return {Kind::maxParticipantsLimit, {}}; }
    static KRMeetingJoinError failedToRegisterUser() { return {Kind::failedToRegisterUser, {}}; }
    static KRMeetingJoinError meetingNotFound() { return {Kind::meetingNotFound, {}}; }
    static KRMeetingJoinError meetingEnded() { return {Kind::meetingEnded, {}}; }
    static KRMeetingJoinError meetingLocked() { return {Kind::meetingLocked, {}}; }
    static KRMeetingJoinError other(std::string message) { return {Kind::other, std::move(message)}; }

    friend bool operator==(const KRMeetingJoinError&, const KRMeetingJoinError&) = default;
};

/// The server call of the join that failed; decides what an unreadable reply means.
enum class KRJoinStep {
    configuration,
    roomDetails,
    guestLogin,
    joinCall,
    statusPost,
};

/// The join failure a failed server call of `step` stands for: the service's refusal codes map to
/// their named cases, an unreadable configuration or guest-login reply to its own case, and
/// everything else (transport, 5xx, other refusals, other unreadable replies) to `other` with the
/// error's message.
KRMeetingJoinError joinErrorFor(KRJoinStep step, const KRApiRequestError& error);

}  // namespace kr
