#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Meeting/ControlMessages/KRControlMessage.h"
#include "KivRaneCoreSDK/Meeting/KRScreenShareState.h"
#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Meeting/ScreenShareExtensionNames.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "platform/Dispatch/SequenceChecker.h"
#include "platform/Notifications/NotificationCenter.h"

namespace kr {

namespace platform {
class DarwinNotifyCenter;
}

/// The local user's screen share, broadcast by the host app's extension: the hand-over with the
/// extension (its notifications, the app group), the share stream the server grants (its uid and
/// token), and every way the share ends, each reported to the host app once.
///
/// It reaches the meeting only through its `Owner`. A stop the host app asked for (its own stop,
/// the leave) is reported as a task of its own on the queue, never inside the host's call; an end
/// the meeting brings (an engine report, a message, the extension) is reported where it happens,
/// in order with the reports around it.
///
/// Threading: confined to the owner's queue. The extension posts from any thread; each of its
/// notifications is acted on as a task on the queue, while the owner lives.
class LocalScreenShare : public ScreenShareExtensionNames {
public:
    using Completion = std::function<void(bool success)>;

    /// The reason texts the extension is told to stop with (`forceStop` takes the others').
    static constexpr const char* kLeftMeetingReason = "You have left the meeting";
    static constexpr const char* kStartFailedReason = "Screen share could not be started";
    static constexpr const char* kRemoteOverrideReason =
        "Remote User has override your screen share.";
    static constexpr const char* kWhiteboardOverrideReason =
        "Screen share is overriden with Whiteboard.";
    static constexpr const char* kHostStoppedReason = "Host has stopped your screen share";
    static constexpr const char* kMovedToAudienceReason = "You have been moved to audience.";
    /// App-group key of the stop reason, and the notification that tells the extension to stop.
    static constexpr const char* kStopReasonKey = "kr.screen.share.stopped.reason";
    static constexpr const char* kForceStopNotification =
        "kr.darwin.screenshare.force.stop.screen.share";

    /// The server's answer to a share start.
    struct StreamReply {
        bool granted = false;  ///< the request succeeded and the server agreed
        std::uint64_t uid = 0;
        std::string token;
        std::string error;  ///< why not, when not granted
    };

    /// What the share needs of the meeting it belongs to.
    class Owner {
    public:
        virtual ~Owner() = default;
        /// True while a local share may start: in the meeting, its leave not begun.
        virtual bool localShareMayStart() const = 0;
        /// The token of the meeting under way: a reply counts only while it is live.
        virtual MeetingSession::Token shareSessionToken() const = 0;
        /// True for a join without server calls: no share requests, no start or stop messages.
        virtual bool shareBypassesServer() const = 0;
        /// Asks the server for a share stream; `done` runs later on the queue, only while the
        /// owner lives.
        virtual void requestShareStream(std::function<void(const StreamReply&)> done) = 0;
        /// Tells the server that the local share ended; nothing waits for the answer.
        virtual void requestShareStop() = 0;
        /// Sends `message` to the others; `completion` runs as the meeting's backend calls it.
        virtual void sendShareMessage(KRControlMessage message, Completion completion) = 0;
        /// True while a screen share of another participant stands among the meeting's tracks:
        /// the local user's own shares never count.
        virtual bool meetingShowsAnotherShare() const = 0;
        /// True when the room store shows a share of the local user.
        virtual bool roomShowsLocalShare() const = 0;
        /// True when the media backend knows of a local share (the local user's record, an
        /// engine's local share track).
        virtual bool backendShowsLocalShare() const = 0;
        /// Tells the host app that the local share changed.
        virtual void reportLocalShare(const KRScreenShareState& state,
                                      MeetingEvents::Reach reach) = 0;
        /// The app group shared with the extension; empty: none.
        virtual std::string shareAppGroup() const = 0;
        /// Expires with the owner, which owns the share: what the share's closures hold.
        virtual std::weak_ptr<const void> shareLifetime() const = 0;
    };

    /// Uses `dependencies`' queue, extension centre, storage directory and log collector.
    LocalScreenShare(Owner& owner, const KRDependencies& dependencies);
    ~LocalScreenShare();
    LocalScreenShare(const LocalScreenShare&) = delete;
    LocalScreenShare& operator=(const LocalScreenShare&) = delete;

    // ---- The meeting ----

    /// A meeting begins: nothing of an earlier one's share is kept, and the extension's
    /// notifications are observed.
    void beginMeeting();
    /// The meeting is torn down: the extension is no longer heard, and a stop report still
    /// waiting for its task is delivered now (before whatever the teardown reports).
    void endMeeting();

    // ---- Start and stop ----

    /// Asks the server for a share stream and hands it to the extension (the extension's
    /// capture-started notification, or the host's call). Refused (false, later) outside a
    /// meeting and from its leave on; a stream without uid or token fails the start and tells
    /// the extension to stop. A reply that finds the meeting ended (or its leave begun) only
    /// completes, with whether the server granted a usable stream.
    void start(Completion completion);
    /// The host's stop: the others and the extension are told; the stop is reported later.
    void stop();
    /// Tells the extension to stop with `reason` and ends the local share, reported at once
    /// (the host stopped it, another share or the whiteboard took over, the role changed...).
    void forceStop(const std::string& reason);
    /// The leave's part: a share the server knows of without a stream is ended there, the
    /// extension is told the local user left, and a running share ends, reported later.
    void leave();

    // ---- The share's stream in the media channel ----

    /// The uid of the running share's stream; 0 while the local user shares nothing.
    std::uint64_t streamUid() const { return uid_; }
    const std::string& streamToken() const { return token_; }
    /// True when `uid` is the running share's stream, or the stream of a share of this meeting
    /// that ended before its stream left the media channel.
    bool isOwnStream(std::uint64_t uid) const;
    /// Takes `uid` and `token` as the running share's stream (what a granted start records).
    void adoptStream(std::uint64_t uid, std::string token);
    /// A stream left the media channel. True when it was the local share's: the running share
    /// ends with `reason` (reported at once), or it was the stream of a share of this meeting that
    /// already ended and was told; false for anyone else's stream.
    bool streamLeft(std::uint64_t uid, const KRUserLeftReason& reason);
    /// The engine shows the local share's track: reported started, at once, to `reach`.
    void trackShown(const std::shared_ptr<KRScreenShareTrack>& track, MeetingEvents::Reach reach);
    /// The engine closed the local share's track, whose stream is `uid`: reported stopped, at
    /// once, to `reach`. The share itself runs on (its track may come back); when it ends, only
    /// the delegates not told yet hear of it. A share whose end was told is not told again.
    void trackClosed(std::uint64_t uid, MeetingEvents::Reach reach);

private:
    enum class Report { now, later };

    void observe(const char* name, void (*action)(LocalScreenShare&));
    void stopObserving();
    void streamStarted();
    void captureStopped();
    /// Writes `reason` to the app group and tells the extension to stop.
    void tellExtensionToStop(const std::string& reason);
    /// Forgets the running share (the server hears of its end) and reports it stopped; nothing
    /// when none runs.
    void end(const KRUserLeftReason& reason, Report when);
    void report(const KRScreenShareState& state, Report when,
                MeetingEvents::Reach reach = MeetingEvents::Reach::everyDelegate);
    void deliverWaitingReports();
    void completeLater(Completion completion, bool value);
    /// Runs `action` later on the queue while the owner lives.
    void postWhileOwnerLives(std::function<void()> action);

    Owner& owner_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    platform::SequenceChecker checker_{queue_};
    std::shared_ptr<platform::DarwinNotifyCenter> extension_;
    std::filesystem::path storageDirectory_;
    KivRaneRealTimeLogger2 logger_;

    std::vector<platform::ObserverToken> observers_;
    std::uint64_t uid_ = 0;
    std::string token_;
    /// Streams of shares of this meeting that ended before their stream left the channel.
    std::set<std::uint64_t> endedStreams_;
    /// Who heard the running share stop when the engine closed its track (until it shows again).
    std::optional<MeetingEvents::Reach> stopToldTo_;
    /// Another participant's share stood when the running share's stream was asked for.
    bool takesOverAShare_ = false;
    /// Stop reports waiting for their own task, each with who hears it.
    std::vector<std::pair<KRScreenShareState, MeetingEvents::Reach>> waitingReports_;
};

}  // namespace kr
