#include "KivRaneCoreSDK/Meeting/KRMeetingJoinError.h"

#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"

namespace kr {

KRMeetingJoinError joinErrorFor(KRJoinStep step, const KRApiRequestError& error) {
    using Kind = KRApiRequestError::Kind;
    if (error.kind() == Kind::failedApi) {
        const std::string code = error.getErrorCode();
        if (code == "NOTFOUNDERROR") return KRMeetingJoinError::meetingNotFound();
        if (code == "MEETING_ENDED") return KRMeetingJoinError::meetingEnded();
        if (code == "ROOMLOCKED") return KRMeetingJoinError::meetingLocked();
    }
    // A 2xx reply the model could not read comes back as `unKnown`.
    if (error.kind() == Kind::unKnown) {
        if (step == KRJoinStep::configuration) return KRMeetingJoinError::invalidConfiguration();
        if (step == KRJoinStep::guestLogin) return KRMeetingJoinError::failedToRegisterUser();
    }
    return KRMeetingJoinError::other(error.getMessageString());
}

}  // namespace kr
