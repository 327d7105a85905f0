#pragma once

#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"

namespace kr {

/// The host app's participant panel: told of every change to the server's participant list.
/// All three methods must be implemented. Called on the library's main queue; held weakly.
class KRParticipantsListUpdateDelegate {
public:
    virtual ~KRParticipantsListUpdateDelegate() = default;
    virtual void didParticipantUpserted(const KRMeetingParticipant& participant) = 0;
    virtual void didParticipantRemoved(const KRMeetingParticipant& participant) = 0;
    virtual void didParticipantDataRefreshed(
        const std::vector<KRMeetingParticipant>& participants) = 0;
};

}  // namespace kr
