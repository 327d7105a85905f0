#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/ControlMessages/KRControlMessage.h"
#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Model/Media/KRRemoteStreamQuality.h"

namespace kr {

class KRJoinMeetingConfig;
class KRMediaTrack;
class KRMeetingUser;
class MeetingPort;

/// How one meeting's media and control messages travel. The client picks one at each join and
/// keeps it until the meeting ends; everything the two ways do differently is one call here.
///
/// Threading: called on the client's queue only.
class MediaBackend {
public:
    enum class Kind {
        /// The library's engine wrapper with the library's messaging session.
        defaultEngine,
        /// The engine the room names ("agora": the client's own, "kr-media": the host's), which
        /// also carries the control messages.
        roomEngine,
    };
    using Completion = std::function<void(bool success)>;

    virtual ~MediaBackend() = default;
    virtual Kind kind() const = 0;

    // ---- Join and leave ----

    /// Runs this backend's join once the client reset the meeting state and armed the time-out:
    /// the server calls the backend needs, then the media channel.
    virtual void join(const KRJoinMeetingConfig& config) = 0;
    /// The join failed: nothing of it may stay in the media channel or the messaging session.
    /// `mediaAwaited` tells whether the server calls were done and the media channel awaited.
    virtual void cancelJoin(bool mediaAwaited) = 0;
    /// The media part of the leave, once the server was told. The backend's report of the
    /// channel left ends the meeting (`MeetingPort::handleLocalMediaLeft`).
    virtual void leave() = 0;
    /// The leave finishes without the engine's report, which did not come in time: no later
    /// report of that channel may reach the client.
    virtual void abandonLeaveReport() = 0;
    /// True when this backend tells the server of the local user only once the media channel
    /// confirmed the join: the join end then posts the status, fetches the room, sets up chat
    /// and the polls before the meeting starts.
    virtual bool reportsToServerAfterMediaJoin() const = 0;
    /// Puts the local participant, as the channel confirmed it, where this backend's
    /// participants live, as the join reaches the meeting.
    virtual void recordLocalParticipant() = 0;
    /// This backend's part of the teardown, inside the end of the meeting (also after a report
    /// of a channel whose meeting already ended): nothing of the meeting stays with it.
    virtual void releaseMeetingMedia() = 0;
    /// After the teardown: an engine made for the meeting goes.
    virtual void releaseEngine() = 0;
    /// Where the meeting's reports of what this backend's engine tells differ between the two
    /// backends. The meeting applies them; a backend never reports to the host app itself.
    struct Reporting {
        /// Only the main delegate hears of the local leave and of the screen shares the engine
        /// shows and closes; otherwise every delegate does.
        bool mainDelegateOnly = false;
        /// On a move to the audience the local share ends before the move is reported;
        /// otherwise after it.
        bool endsShareBeforeAudienceMove = false;
    };
    virtual Reporting reporting() const = 0;
    /// Who hears the reports `mainDelegateOnly` is about.
    MeetingEvents::Reach reach() const {
        return reporting().mainDelegateOnly ? MeetingEvents::Reach::mainDelegate
                                            : MeetingEvents::Reach::everyDelegate;
    }
    /// The device's network came back or went away.
    virtual void networkStateChanged(bool isConnected) = 0;
    /// True while the engine is out of its channel until the network returns: a leave then
    /// waits neither for the server's answers nor for the engine.
    virtual bool waitsForNetwork() const = 0;

    // ---- Local media ----

    virtual void muteLocalMedia(bool audio, bool isMute) = 0;
    /// Speaker or audience in the media channel.
    virtual void switchClientRole(bool isAudience) = 0;
    virtual void applyVirtualBackground(const KRVirtualBackgroundType& background) = 0;
    virtual void startPreview() = 0;
    virtual void stopPreview() = 0;
    virtual void switchCamera() = 0;
    virtual void switchAudioDevice(KRAudioDeviceType type) = 0;
    virtual void subscribeRemoteMedia(bool audio, const std::string& id, bool subscribe) = 0;
    virtual void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) = 0;

    // ---- Control messages and the local share ----

    virtual void sendControlMessage(KRControlMessage kind,
                                    const std::shared_ptr<KRMeetingUser>& target,
                                    Completion completion, const std::string& reactionsType) = 0;
    /// True when the backend knows of a local screen share the room store has no track of.
    virtual bool knowsLocalShareWithoutTrack() const = 0;
    /// A room status reply was applied: a stream shown as a stand-in participant for want of an
    /// answer may now be named as a screen share.
    virtual void roomStatusApplied() {}
    /// Someone announced a screen share: streams still unknown are asked about at once.
    virtual void remoteShareAnnounced() {}

    // ---- Participants ----

    virtual std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const = 0;
    virtual std::shared_ptr<KRMeetingUser> localUser() const = 0;
    virtual std::shared_ptr<KRMeetingUser> user(const std::string& id) const = 0;
    /// Every participant and share track of the meeting, for the meeting snapshot.
    virtual std::vector<std::shared_ptr<KRMediaTrack>> mediaTracks() const = 0;
    /// Moves the local user to the audience or back where this backend's participants live,
    /// once the engine confirmed the role.
    virtual void markLocalRole(bool isAudience) = 0;
    /// Marks the local user's hand where this backend's participants live. False when there is
    /// no local user there yet, so nothing is to be told about the hand.
    virtual bool markLocalHand(bool isRaised) = 0;
};

/// Makes the backend a join uses; the client's own when none is set.
using MediaBackendFactory =
    std::function<std::shared_ptr<MediaBackend>(MediaBackend::Kind, MeetingPort&)>;

}  // namespace kr
