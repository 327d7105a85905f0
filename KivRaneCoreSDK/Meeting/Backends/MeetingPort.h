#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Meeting/ControlMessages/ControlMessageTable.h"
#include "KivRaneCoreSDK/Meeting/KRMeetingJoinError.h"
#include "KivRaneCoreSDK/Meeting/KRScreenShareState.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Meeting/RoomSync.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"

namespace kr {

class KRCurrentRoom;
class LocalScreenShare;
class MeetingEvents;
class KRMeetingUser;
class KivRaneRealTimeLogger2;
class MeetingParticipantsManager;
struct KRRtmMessage;

/// What a media backend may ask of the meeting it serves and tell it: the session, the room's
/// facts, the join's and the teardown's one end, the server calls it needs and the reports it
/// raises. The client core implements it; a backend never sees the core itself.
///
/// Threading: the client's queue only.
class MeetingPort {
public:
    using Completion = std::function<void(bool success)>;
    using SessionToken = MeetingSession::Token;
    using MeetingState = MeetingSession::State;
    using OwnStatus = RoomSync::OwnStatus;

    /// How the engines are set up, from the settings and the server's configuration.
    struct EngineSetUp {
        KRRtcVideoEncoderConfig highQuality;
        /// Only when the server enables the low stream.
        std::optional<KRRtcVideoEncoderConfig> lowQuality;
        std::int64_t activeSpeakerInterval = 0;
        /// False when the configuration turned the loudest-speaker report off.
        bool reportsLoudestSpeaker = true;
        std::optional<KRVirtualBackgroundType> virtualBackground;
    };

    /// The server's part of a join before the media channel is asked.
    enum class ServerJoin {
        /// Configuration, login, join call, first status post and fetch, chat and polls.
        allSteps,
        /// Configuration and login only: the backend posts and fetches once the media joined.
        loginOnly,
    };

    // ---- The session ----

    /// The token of the current meeting; outside one a token that is never live.
    virtual SessionToken sessionToken() const = 0;
    virtual MeetingState meetingState() const = 0;
    virtual bool isJoining() const = 0;
    /// The join reached the meeting, which has not ended (its leave may be under way).
    virtual bool hasJoinedMeeting() const = 0;
    /// For work that outlives a call: holds the meeting weakly.
    virtual std::weak_ptr<MeetingPort> weakPort() = 0;

    // ---- The room's facts ----

    virtual KRCurrentRoom& room() = 0;
    /// Server records and engine peers combined (the room engine's participants).
    virtual MeetingParticipantsManager& participants() = 0;
    virtual KivRaneRealTimeLogger2& logger() = 0;
    virtual EngineSetUp engineSetUp() const = 0;
    /// The role the join was asked with.
    virtual const KRUserRole& joinRole() const = 0;
    virtual KRApiServer serverEnvironment() const = 0;
    virtual bool isLocalUserInAudienceMode() const = 0;
    /// A room engine moved the remote participant `participantId` to the audience or back;
    /// called before the merge shows the move. (The default engine's moves need no word: records
    /// never move its participants.)
    virtual void remoteRoleReported(const std::string& participantId) = 0;

    // ---- The join and the teardown ----

    /// Runs `part` of the server join, then (while the join is still under way) `thenMedia`.
    /// With media credentials in the settings only `thenMedia` runs, at once.
    virtual void runServerJoin(ServerJoin part, std::function<void()> thenMedia) = 0;
    /// Marks the media engine set up for this join; false when it already was.
    virtual bool markMediaSetUp() = 0;
    /// The media channel confirmed the local join under `localId` (empty: it could not say who
    /// the local user is, and the join fails). The one join end of both backends: what the
    /// backend's join still asks of the server, the watchdog, the local participant recorded
    /// through the backend, the meeting reached and the join reported. `finished` runs once,
    /// whatever came of it.
    virtual void completeLocalMediaJoin(const std::string& localId,
                                        std::function<void()> finished = {}) = 0;
    virtual void failJoin(const KRMeetingJoinError& error) = 0;
    /// The media channel confirmed the local leave (`engineReason`: the reason the engine gave,
    /// if any). The one teardown of both backends; a report during a join is not its own.
    virtual void handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason = {}) = 0;

    // ---- What the engine reports, for the meeting to act on ----

    /// The engine confirmed the local user's role: the room store takes it (the audience with
    /// its microphone and camera off), the service and the host app hear of it, and a move to
    /// the audience ends the local share.
    virtual void localRoleConfirmed(bool isAudience) = 0;
    /// The engine's connection state, on every report: the host app hears of it; a failure
    /// during a join ends the join, with the media named as the reason, while a meeting already
    /// joined is left to the engine's own reports.
    virtual void engineConnectionChanged(KRConnectionState state) = 0;

    // ---- Server calls ----

    virtual void getRoomConnectionStatus(Completion completion) = 0;
    /// Calls `completion(value)` later on the queue.
    virtual void completeLater(Completion completion, bool value) = 0;

    // ---- What arrives from the others ----

    virtual void handleControlMessage(MediaBackend::Kind backend, ControlMessageRoute route,
                                      const KRRtmMessage& message) = 0;

    // ---- Reports ----

    virtual std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const = 0;
    /// The delegates and every report to them.
    virtual MeetingEvents& events() = 0;

    // ---- The local screen share ----

    /// The local user's screen share: its stream, and the streams that end it.
    virtual LocalScreenShare& localShare() = 0;

    virtual ~MeetingPort() = default;
};

}  // namespace kr
