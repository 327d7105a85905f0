#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dispatch/Clock.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/Timer.h"
#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCall.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngineDelegate.h"
#include "platform/Media/MediaFailureQueue.h"
#include "platform/Media/VideoCanvas.h"
#include "platform/Media/VideoEncoderConfiguration.h"
#include "platform/Media/VirtualBackgroundSource.h"
#include "platform/UI/View.h"

namespace kr::platform {

/// Stand-in for the real-time audio and video engine: one object per client, meeting the other
/// engines of its MediaBus in the channels it joins. It accepts the engine calls the library
/// makes, keeps a log of them, and reports through its MediaEngineDelegate what a media service
/// would: the local join and leave, remote broadcasters joining and going offline (quit, dropped,
/// became audience), remote audio and video state following the senders' mutes and the local
/// subscriptions, confirmed or refused role changes, audio routes and periodic volume reports.
///
/// Calls return MediaCodes::kOk or a negative code; the library does not read them. Results
/// arrive as callbacks: posted to the engine's queue, so never inside the call, and dropped when
/// the engine has been destroyed, the channel session they belong to ended with leaveChannel(),
/// or no delegate is set when they run. A callback goes to the delegate set when it runs, so a
/// replaced or cleared delegate gets nothing more. The delegate is held weakly. Destroying the
/// engine, or dropping the last reference to it, from inside one of its callbacks is safe.
///
/// Test hooks: inject() delivers any callback, failNext() makes a call fail, setVoiceLevel()
/// scripts what the microphone hears, simulateNetworkDrop() loses the connection and
/// simulateNetworkReturn() brings it back.
///
/// Threading: every method may be called from any thread; callbacks run on the engine's queue.
class MediaEngine : public std::enable_shared_from_this<MediaEngine> {
public:
    static std::shared_ptr<MediaEngine> create(
        std::string appId, std::weak_ptr<MediaEngineDelegate> delegate,
        std::shared_ptr<MediaBus> bus = MediaBus::current(),
        std::shared_ptr<DispatchQueue> queue = MainQueue::current());
    ~MediaEngine();
    MediaEngine(const MediaEngine&) = delete;
    MediaEngine& operator=(const MediaEngine&) = delete;

    const std::string& appId() const { return appId_; }
    const std::shared_ptr<MediaBus>& bus() const { return bus_; }

    /// Replaces the receiver of callbacks; an empty pointer detaches it. Callbacks already queued
    /// go to the receiver set when they run.
    int setDelegate(std::weak_ptr<MediaEngineDelegate> delegate);
    /// Ends the engine: leaves its channel (the others see it quit) and delivers nothing more.
    /// Every later call returns kErrNotReady.
    void destroy();
    bool isDestroyed() const;

    // Settings; recorded, with no effect on the meeting unless stated.
    int enableDualStreamMode(bool enabled);
    int setChannelProfile(int profile);
    int setAudioProfile(int profile, int scenario);
    /// Decides the route reported at the join while setEnableSpeakerphone() was never called.
    int setDefaultAudioRouteToSpeakerphone(bool defaultToSpeaker);
    int setRemoteSubscribeFallbackOption(int option);
    int setAudioSessionOperationRestriction(int restriction);
    int setParameters(const std::string& parameters);
    /// Volume reports every `intervalMs` while in a channel (0 or less: none): one report of the
    /// local user (uid 0, the level set by setVoiceLevel) and one of the remote broadcasters this
    /// engine hears with a level above 0 (possibly empty).
    int enableAudioVolumeIndication(int intervalMs, int smooth, bool reportVad);
    int enableDeepLearningDenoise(bool enabled);
    /// Video is off until enableVideo(); without it nothing is sent or received.
    int enableVideo();
    int disableVideo();
    int setVideoEncoderConfiguration(const VideoEncoderConfiguration& configuration);

    // Channel.
    /// Joins `channelId` as `uid` (0: the bus picks one) in the current client role. Reported as
    /// connectionChangedToState(2, 0), connectionChangedToState(3, 1), didJoinChannel, then the
    /// audio route, then didJoinedOfUid for every broadcaster already there; the others hear of
    /// this engine when it is a broadcaster. A uid already in the channel fails the join with
    /// connectionChangedToState(5, kConnectionReasonJoinFailed).
    int joinChannelByToken(const std::string& token, const std::string& channelId,
                           const std::string& info, std::uint64_t uid,
                           const ChannelMediaOptions& options);
    /// Leaves the channel: connectionChangedToState(1, 5) then didLeaveChannelWithStats, and the
    /// others see the uid quit. Nothing is reported when no join was made since the last leave.
    int leaveChannel();
    /// Outside a channel only stores the role. In a channel: broadcaster is confirmed with
    /// didClientRoleChanged(2, 1) (the others see a join) or refused in a full channel with
    /// didClientRoleChangeFailed(1, 2); audience is confirmed with didClientRoleChanged(1, 2) and
    /// the others see the uid go offline with reason 2.
    int setClientRole(int role);
    /// The connection state as last reported (MediaCodes::kConnection*).
    int getConnectionState();

    // Views.
    /// Binds the local video to the canvas's view; an absent canvas or view unbinds it.
    int setupLocalVideo(const std::optional<VideoCanvas>& canvas);
    /// Binds a remote uid's video to the canvas's view; a canvas without a view unbinds it.
    int setupRemoteVideo(const VideoCanvas& canvas);
    int startPreview();
    int stopPreview();

    // Media.
    int muteLocalAudioStream(bool muted);
    int muteLocalVideoStream(bool muted);
    int enableLocalVideo(bool enabled);
    int switchCamera();
    /// Stops (true) or starts (false) receiving one remote stream. While not set for a uid, the
    /// join options' auto-subscribe flag decides.
    int muteRemoteAudioStream(std::uint64_t uid, bool muted);
    int muteRemoteVideoStream(std::uint64_t uid, bool muted);
    int muteAllRemoteAudioStreams(bool muted);
    int muteAllRemoteVideoStreams(bool muted);
    int setRemoteVideoStream(std::uint64_t uid, int streamType);
    int adjustPlaybackSignalVolume(int volume);
    /// In a channel, reports the route: 3 (speakerphone) or 1 (earpiece).
    int setEnableSpeakerphone(bool enabled);
    /// Reports localAudioMixingStateDidChanged(710, 0) while the file exists; a path that names
    /// no file fails the call (kErrInvalidArgument) with localAudioMixingStateDidChanged(714, 701).
    int startAudioMixing(const std::string& filePath, bool loopback, bool replace, int cycle,
                         int startPos);
    /// Reports virtualBackgroundSourceEnabled(enabled, 0).
    int enableVirtualBackground(bool enabled, const std::optional<VirtualBackgroundSource>& source);

    // Test hooks.
    /// Delivers `callback` to the delegate like any engine callback (queued, and dropped under
    /// the same rules). It changes no engine state.
    void inject(std::function<void(MediaEngineDelegate&)> callback);
    /// Makes the next call of `operation` fail: it returns -code and changes nothing, and where
    /// the engine has a callback for that failure it reports `code` there: joinChannelByToken
    /// with connectionChangedToState(5, code) (a later leaveChannel still reports the leave);
    /// setClientRole in a channel with didClientRoleChangeFailed(code, current role);
    /// muteLocalAudioStream with localAudioStateChange(3, code); muteLocalVideoStream,
    /// enableLocalVideo, startPreview and switchCamera with localVideoStateChange(3, code);
    /// startAudioMixing with localAudioMixingStateDidChanged(714, code); enableVirtualBackground
    /// with virtualBackgroundSourceEnabled(false, code). Failures queue up per operation.
    void failNext(MediaOperation operation, int code);
    /// While in a channel, one network-quality report: this engine hears it for uid 0, the
    /// others in the channel that know this uid hear it for that uid. Outside a channel: nothing.
    void reportNetworkQuality(int txQuality, int rxQuality);
    /// While in a channel, one statistics report to this engine's delegate.
    void reportStatistics(const ChannelStats& stats);
    /// What the microphone hears, as used by the volume reports (0 to 255; `speaking` sets vad).
    void setVoiceLevel(unsigned volume, bool speaking);
    /// Loses the connection: this engine hears connectionChangedToState(4, 2) and leaves the
    /// channel's membership; the others see the uid go offline with reason 1 (dropped).
    void simulateNetworkDrop();
    /// After simulateNetworkDrop(), the connection comes back: connectionChangedToState(3, 1),
    /// and the engine is in its channel again under its uid in the role it holds now (a role
    /// set while away included): the broadcasters there are announced to it and, as a
    /// broadcaster, it is announced to them. Nothing happens unless the connection was lost.
    void simulateNetworkReturn();
    /// Loses the connection and gives the channel up, as an engine that rejoins only when told
    /// does: the others see the uid go offline with reason 1 (unless a drop already took it
    /// out), this engine hears connectionChangedToState(1, 2) and no leave report, and is out of
    /// any channel (a leaveChannel then reports nothing; a join starts afresh).
    void simulateChannelLoss();

    // Observation.
    std::vector<MediaCall> callLog() const;
    /// The call log as "name(arguments)" texts.
    std::vector<std::string> callTexts() const;
    /// The arguments of every logged call of one operation, in order.
    std::vector<std::string> callArguments(MediaOperation operation) const;
    void clearCallLog();
    /// The channel and uid while joined (empty and 0 otherwise).
    std::string channelId() const;
    std::uint64_t uid() const;
    int clientRole() const;
    bool isInChannel() const;
    bool isLocalAudioMuted() const;
    bool isLocalVideoMuted() const;
    bool isPreviewing() const;
    int playbackVolume() const;
    /// The view the local video is bound to, or null.
    std::shared_ptr<View> localView() const;
    /// The view a remote uid's video is bound to, or null.
    std::shared_ptr<View> remoteView(std::uint64_t uid) const;

private:
    friend class MediaBus;
    using Callback = std::function<void(MediaEngineDelegate&)>;
    enum class Session { idle, joined, dropped, failed };
    struct Binding {
        std::weak_ptr<View> view;
        int renderMode = MediaCodes::kRenderHidden;
    };
    struct RemoteStates {
        int audio = MediaCodes::kRemoteStateStopped;
        int video = MediaCodes::kRemoteStateStopped;
    };

    MediaEngine(std::string appId, std::weak_ptr<MediaEngineDelegate> delegate,
                std::shared_ptr<MediaBus> bus, std::shared_ptr<DispatchQueue> queue);

    /// Reports an injected failure of `code` (runs under the bus mutex).
    using FailureReport = std::function<void(int code)>;

    /// Logs the call under the bus mutex and runs `apply` (returning the call's code), unless the
    /// engine is destroyed (kErrNotReady) or a failure is injected (-code, after `report`).
    template <typename Apply>
    int call(MediaOperation operation, std::string arguments, Apply&& apply,
             FailureReport report = nullptr);

    // All *Locked members run with bus_->mutex_ held.
    int beginCallLocked(MediaOperation operation, std::string arguments);
    std::optional<int> takeFailureLocked(MediaOperation operation);
    void postLocked(Callback callback, std::optional<int> connectionState = std::nullopt);
    void postConnectionLocked(int state, int reason);
    FailureReport localAudioFailure();
    FailureReport localVideoFailure();
    int elapsedMsLocked() const;
    int routeLocked() const;
    bool publishesAudioLocked() const;
    bool publishesVideoLocked() const;
    bool receivesAudioLocked(std::uint64_t uid) const;
    bool receivesVideoLocked(std::uint64_t uid) const;
    std::vector<MediaEngine*>* channelLocked() const;
    void announceLocked(MediaEngine& sender);          // this engine learns of a broadcaster
    void withdrawFromOthersLocked(int offlineReason);  // the others forget this engine
    void leaveMembershipLocked(int offlineReason);
    /// Into the channel's membership (a refused broadcaster told so first): the broadcasters
    /// there and this engine, if it broadcasts, are announced to each other.
    void enterMembershipLocked(bool roleRefused);
    /// Out of any channel: the session's state goes and the engine hears it disconnected.
    void forgetChannelLocked(int connectionReason);
    /// Brings every receiver's remote states in this channel up to date after this engine
    /// changed what it sends or receives (the reasons tell local from remote changes).
    void refreshRemoteStatesLocked();
    void destroyLocked();
    void postVolumeReportsLocked();
    /// Starts, restarts or stops the volume timer to match the state; never under the bus mutex.
    void syncVolumeTimer();

    const std::string appId_;
    const std::shared_ptr<MediaBus> bus_;
    const std::shared_ptr<DispatchQueue> queue_;

    // Guarded by bus_->mutex_.
    std::weak_ptr<MediaEngineDelegate> delegate_;
    bool destroyed_ = false;
    std::uint64_t generation_ = 0;  // bumped when a channel session ends
    std::vector<MediaCall> calls_;
    MediaFailureQueue failures_;
    Session session_ = Session::idle;
    std::string channelId_;
    std::uint64_t uid_ = 0;
    int role_ = MediaCodes::kRoleAudience;
    ChannelMediaOptions options_;
    Clock::time_point joinedAt_{};
    int connectionState_ = MediaCodes::kConnectionDisconnected;
    std::map<std::uint64_t, bool> audioSubscriptions_;
    std::map<std::uint64_t, bool> videoSubscriptions_;
    std::map<std::uint64_t, RemoteStates> knownRemotes_;
    bool allRemoteAudioMuted_ = false;
    bool allRemoteVideoMuted_ = false;
    bool audioMuted_ = false;
    bool videoMuted_ = false;
    bool localVideoEnabled_ = true;
    bool videoEnabled_ = false;
    bool previewing_ = false;
    bool defaultToSpeaker_ = false;
    std::optional<bool> speakerphone_;
    int playbackVolume_ = 100;
    unsigned voiceLevel_ = 0;
    bool voiceActive_ = false;
    int volumeIntervalMs_ = 0;
    std::optional<Binding> localBinding_;
    std::map<std::uint64_t, Binding> remoteBindings_;
    std::map<std::uint64_t, int> remoteStreamTypes_;

    // Guarded by timerMutex_ (taken without the bus mutex).
    std::mutex timerMutex_;
    std::shared_ptr<Timer> volumeTimer_;
};

}  // namespace kr::platform
