#include "platform/Media/MediaEngine.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>
#include <utility>

namespace kr::platform {

namespace {

std::string text(bool value) {
    return value ? "true" : "false";
}

template <typename... Args>
std::string joinArguments(const Args&... args) {
    std::string out;
    bool first = true;
    ((out += (first ? "" : ", ") + args, first = false), ...);
    return out;
}

std::string describeView(const std::shared_ptr<View>& view) {
    return view ? "view" : "none";
}

std::string describeCanvas(const VideoCanvas& canvas) {
    return "{uid: " + std::to_string(canvas.uid) + ", view: " + describeView(canvas.view) +
           ", renderMode: " + std::to_string(canvas.renderMode) + "}";
}

}  // namespace

std::shared_ptr<MediaEngine> MediaEngine::create(std::string appId,
                                                 std::weak_ptr<MediaEngineDelegate> delegate,
                                                 std::shared_ptr<MediaBus> bus,
                                                 std::shared_ptr<DispatchQueue> queue) {
    std::shared_ptr<MediaEngine> engine(
        new MediaEngine(std::move(appId), std::move(delegate), std::move(bus), std::move(queue)));
    std::lock_guard lock(engine->bus_->mutex_);
    auto& registry = engine->bus_->engines_;
    std::erase_if(registry, [](const auto& weak) { return weak.expired(); });
    registry.push_back(engine);
    return engine;
}

MediaEngine::MediaEngine(std::string appId, std::weak_ptr<MediaEngineDelegate> delegate,
                         std::shared_ptr<MediaBus> bus, std::shared_ptr<DispatchQueue> queue)
    : appId_(std::move(appId)),
      bus_(bus ? std::move(bus) : MediaBus::current()),
      queue_(queue ? std::move(queue) : MainQueue::current()),
      delegate_(std::move(delegate)) {}

// Dropping the last reference is a quiet leave, as destroy() is; it also stops the volume timer.
MediaEngine::~MediaEngine() {
    destroy();
}

// ---- plumbing ----------------------------------------------------------------------------------

int MediaEngine::beginCallLocked(MediaOperation operation, std::string arguments) {
    calls_.push_back(MediaCall{operation, std::move(arguments)});
    return destroyed_ ? MediaCodes::kErrNotReady : MediaCodes::kOk;
}

std::optional<int> MediaEngine::takeFailureLocked(MediaOperation operation) {
    if (auto code = failures_.take(operation)) {
        return code;
    }
    return bus_->failures_.take(operation);
}

void MediaEngine::postLocked(Callback callback, std::optional<int> connectionState) {
    if (destroyed_) {
        return;
    }
    queue_->post([weak = weak_from_this(), generation = generation_, callback = std::move(callback),
                  connectionState] {
        auto self = weak.lock();  // keeps the engine alive while its delegate runs
        if (!self) {
            return;
        }
        std::shared_ptr<MediaEngineDelegate> delegate;
        {
            std::lock_guard lock(self->bus_->mutex_);
            if (self->destroyed_ || self->generation_ != generation) {
                return;
            }
            if (connectionState) {
                self->connectionState_ = *connectionState;
            }
            delegate = self->delegate_.lock();
        }
        if (delegate) {
            callback(*delegate);
        }
    });
}

void MediaEngine::postConnectionLocked(int state, int reason) {
    postLocked(
        [state, reason](MediaEngineDelegate& d) { d.connectionChangedToState(state, reason); },
        state);
}

int MediaEngine::elapsedMsLocked() const {
    if (session_ == Session::idle) {
        return 0;
    }
    const auto elapsed = queue_->clock()->now() - joinedAt_;
    return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count());
}

int MediaEngine::routeLocked() const {
    const bool speaker = speakerphone_.value_or(defaultToSpeaker_);
    return speaker ? MediaCodes::kRouteSpeakerphone : MediaCodes::kRouteEarpiece;
}

bool MediaEngine::publishesAudioLocked() const {
    return session_ == Session::joined && role_ == MediaCodes::kRoleBroadcaster && !audioMuted_;
}

bool MediaEngine::publishesVideoLocked() const {
    return session_ == Session::joined && role_ == MediaCodes::kRoleBroadcaster && videoEnabled_ &&
           localVideoEnabled_ && !videoMuted_;
}

bool MediaEngine::receivesAudioLocked(std::uint64_t uid) const {
    if (allRemoteAudioMuted_) {
        return false;
    }
    auto explicitly = audioSubscriptions_.find(uid);
    return explicitly != audioSubscriptions_.end() ? explicitly->second
                                                   : options_.autoSubscribeAudio;
}

bool MediaEngine::receivesVideoLocked(std::uint64_t uid) const {
    if (allRemoteVideoMuted_ || !videoEnabled_) {
        return false;
    }
    auto explicitly = videoSubscriptions_.find(uid);
    return explicitly != videoSubscriptions_.end() ? explicitly->second
                                                   : options_.autoSubscribeVideo;
}

std::vector<MediaEngine*>* MediaEngine::channelLocked() const {
    if (session_ != Session::joined) {
        return nullptr;
    }
    auto channel = bus_->channels_.find(channelId_);
    return channel == bus_->channels_.end() ? nullptr : &channel->second;
}

void MediaEngine::announceLocked(MediaEngine& sender) {
    knownRemotes_[sender.uid_] = RemoteStates{};
    postLocked([uid = sender.uid_, elapsed = elapsedMsLocked()](MediaEngineDelegate& d) {
        d.didJoinedOfUid(uid, elapsed);
    });
}

void MediaEngine::withdrawFromOthersLocked(int offlineReason) {
    auto* channel = channelLocked();
    if (!channel) {
        return;
    }
    for (MediaEngine* other : *channel) {
        if (other != this && other->knownRemotes_.erase(uid_) > 0) {
            other->postLocked([uid = uid_, offlineReason](MediaEngineDelegate& d) {
                d.didOfflineOfUid(uid, offlineReason);
            });
        }
    }
}

void MediaEngine::leaveMembershipLocked(int offlineReason) {
    if (auto* channel = channelLocked()) {
        withdrawFromOthersLocked(offlineReason);
        std::erase(*channel, this);
        if (channel->empty()) {
            bus_->channels_.erase(channelId_);
        }
    }
    knownRemotes_.clear();
}

void MediaEngine::refreshRemoteStatesLocked() {
    auto* channel = channelLocked();
    if (!channel) {
        return;
    }
    for (MediaEngine* receiver : *channel) {
        const bool localCause = receiver == this;
        for (MediaEngine* sender : *channel) {
            auto known = receiver->knownRemotes_.find(sender->uid_);
            if (sender == receiver || known == receiver->knownRemotes_.end()) {
                continue;
            }
            const std::uint64_t uid = sender->uid_;
            const int elapsed = receiver->elapsedMsLocked();
            const int audio = sender->publishesAudioLocked() && receiver->receivesAudioLocked(uid)
                                  ? MediaCodes::kRemoteStateDecoding
                                  : MediaCodes::kRemoteStateStopped;
            const int video = sender->publishesVideoLocked() && receiver->receivesVideoLocked(uid)
                                  ? MediaCodes::kRemoteStateDecoding
                                  : MediaCodes::kRemoteStateStopped;
            const auto reasonFor = [localCause](int state) {
                if (state == MediaCodes::kRemoteStateDecoding) {
                    return localCause ? MediaCodes::kRemoteReasonLocalUnmuted
                                      : MediaCodes::kRemoteReasonRemoteUnmuted;
                }
                return localCause ? MediaCodes::kRemoteReasonLocalMuted
                                  : MediaCodes::kRemoteReasonRemoteMuted;
            };
            if (known->second.audio != audio) {
                known->second.audio = audio;
                receiver->postLocked([=, reason = reasonFor(audio)](MediaEngineDelegate& d) {
                    d.remoteAudioStateChangedOfUid(uid, audio, reason, elapsed);
                });
            }
            if (known->second.video != video) {
                known->second.video = video;
                receiver->postLocked([=, reason = reasonFor(video)](MediaEngineDelegate& d) {
                    d.remoteVideoStateChangedOfUid(uid, video, reason, elapsed);
                });
            }
        }
    }
}

void MediaEngine::destroyLocked() {
    if (destroyed_) {
        return;
    }
    leaveMembershipLocked(MediaCodes::kOfflineQuit);
    destroyed_ = true;
    session_ = Session::idle;
    ++generation_;
    connectionState_ = MediaCodes::kConnectionDisconnected;
}

void MediaEngine::postVolumeReportsLocked() {
    auto* channel = channelLocked();
    if (!channel) {
        return;
    }
    std::vector<AudioVolumeInfo> local{{0, voiceLevel_, voiceActive_ ? 1u : 0u}};
    std::vector<AudioVolumeInfo> remote;
    unsigned loudest = 0;
    for (const MediaEngine* sender : *channel) {
        auto known = knownRemotes_.find(sender->uid_);
        if (sender == this || known == knownRemotes_.end() ||
            known->second.audio != MediaCodes::kRemoteStateDecoding || sender->voiceLevel_ == 0) {
            continue;
        }
        remote.push_back({sender->uid_, sender->voiceLevel_, 0});
        loudest = std::max(loudest, sender->voiceLevel_);
    }
    postLocked(
        [local = std::move(local), total = static_cast<int>(voiceLevel_)](MediaEngineDelegate& d) {
            d.reportAudioVolumeIndicationOfSpeakers(local, total);
        });
    postLocked(
        [remote = std::move(remote), total = static_cast<int>(loudest)](MediaEngineDelegate& d) {
            d.reportAudioVolumeIndicationOfSpeakers(remote, total);
        });
}

void MediaEngine::syncVolumeTimer() {
    std::lock_guard timerLock(timerMutex_);
    int wanted = 0;
    {
        std::lock_guard lock(bus_->mutex_);
        if (!destroyed_ && session_ == Session::joined && volumeIntervalMs_ > 0) {
            wanted = volumeIntervalMs_;
        }
    }
    const auto interval = std::chrono::milliseconds(wanted);
    if (volumeTimer_ ? volumeTimer_->interval() == interval : wanted == 0) {
        return;
    }
    if (volumeTimer_) {
        volumeTimer_->invalidate();
        volumeTimer_.reset();
    }
    if (wanted > 0) {
        volumeTimer_ = Timer::schedule(queue_, interval, true, [weak = weak_from_this()](Timer&) {
            if (auto self = weak.lock()) {
                std::lock_guard lock(self->bus_->mutex_);
                self->postVolumeReportsLocked();
            }
        });
    }
}

// ---- life ------------------------------------------------------------------------------------

int MediaEngine::setDelegate(std::weak_ptr<MediaEngineDelegate> delegate) {
    std::lock_guard lock(bus_->mutex_);
    const int code =
        beginCallLocked(MediaOperation::setDelegate, delegate.expired() ? "none" : "delegate");
    if (code == MediaCodes::kOk) {
        delegate_ = std::move(delegate);
    }
    return code;
}

void MediaEngine::destroy() {
    {
        std::lock_guard lock(bus_->mutex_);
        destroyLocked();
    }
    syncVolumeTimer();
}

bool MediaEngine::isDestroyed() const {
    std::lock_guard lock(bus_->mutex_);
    return destroyed_;
}

template <typename Apply>
int MediaEngine::call(MediaOperation operation, std::string arguments, Apply&& apply,
                      FailureReport report) {
    std::lock_guard lock(bus_->mutex_);
    if (const int code = beginCallLocked(operation, std::move(arguments));
        code != MediaCodes::kOk) {
        return code;
    }
    if (const auto failure = takeFailureLocked(operation)) {
        if (report) {
            report(*failure);
        }
        return -*failure;
    }
    return apply();
}

MediaEngine::FailureReport MediaEngine::localAudioFailure() {
    return [this](int code) {
        postLocked([code](MediaEngineDelegate& d) {
            d.localAudioStateChange(MediaCodes::kLocalStateFailed, code);
        });
    };
}

MediaEngine::FailureReport MediaEngine::localVideoFailure() {
    return [this](int code) {
        postLocked([code](MediaEngineDelegate& d) {
            d.localVideoStateChange(MediaCodes::kLocalStateFailed, code);
        });
    };
}

// ---- settings ----------------------------------------------------------------------------------

int MediaEngine::enableDualStreamMode(bool enabled) {
    return call(MediaOperation::enableDualStreamMode, text(enabled), [] { return 0; });
}

int MediaEngine::setChannelProfile(int profile) {
    return call(MediaOperation::setChannelProfile, std::to_string(profile), [] { return 0; });
}

int MediaEngine::setAudioProfile(int profile, int scenario) {
    return call(MediaOperation::setAudioProfile,
                joinArguments(std::to_string(profile), std::to_string(scenario)), [] { return 0; });
}

int MediaEngine::setDefaultAudioRouteToSpeakerphone(bool defaultToSpeaker) {
    return call(MediaOperation::setDefaultAudioRouteToSpeakerphone, text(defaultToSpeaker), [&] {
        defaultToSpeaker_ = defaultToSpeaker;
        return 0;
    });
}

int MediaEngine::setRemoteSubscribeFallbackOption(int option) {
    return call(MediaOperation::setRemoteSubscribeFallbackOption, std::to_string(option),
                [] { return 0; });
}

int MediaEngine::setAudioSessionOperationRestriction(int restriction) {
    return call(MediaOperation::setAudioSessionOperationRestriction, std::to_string(restriction),
                [] { return 0; });
}

int MediaEngine::setParameters(const std::string& parameters) {
    return call(MediaOperation::setParameters, parameters, [] { return 0; });
}

int MediaEngine::enableAudioVolumeIndication(int intervalMs, int smooth, bool reportVad) {
    const int code = call(
        MediaOperation::enableAudioVolumeIndication,
        joinArguments(std::to_string(intervalMs), std::to_string(smooth), text(reportVad)), [&] {
            volumeIntervalMs_ = intervalMs;
            return 0;
        });
    syncVolumeTimer();
    return code;
}

int MediaEngine::enableDeepLearningDenoise(bool enabled) {
    return call(MediaOperation::enableDeepLearningDenoise, text(enabled), [] { return 0; });
}

int MediaEngine::enableVideo() {
    return call(MediaOperation::enableVideo, "", [&] {
        videoEnabled_ = true;
        refreshRemoteStatesLocked();
        return 0;
    });
}

int MediaEngine::disableVideo() {
    return call(MediaOperation::disableVideo, "", [&] {
        videoEnabled_ = false;
        refreshRemoteStatesLocked();
        return 0;
    });
}

int MediaEngine::setVideoEncoderConfiguration(const VideoEncoderConfiguration& c) {
    return call(MediaOperation::setVideoEncoderConfiguration,
                "{width: " + std::to_string(c.width) + ", height: " + std::to_string(c.height) +
                    ", frameRate: " + std::to_string(c.frameRate) +
                    ", bitrate: " + std::to_string(c.bitrate) +
                    ", orientationMode: " + std::to_string(c.orientationMode) + "}",
                [] { return 0; });
}

// ---- channel -----------------------------------------------------------------------------------

int MediaEngine::joinChannelByToken(const std::string& token, const std::string& channelId,
                                    const std::string& info, std::uint64_t uid,
                                    const ChannelMediaOptions& options) {
    const auto arguments =
        joinArguments(token, channelId, info, std::to_string(uid),
                      "{autoSubscribeAudio: " + text(options.autoSubscribeAudio) +
                          ", autoSubscribeVideo: " + text(options.autoSubscribeVideo) +
                          ", publishLocalAudio: " + text(options.publishLocalAudio) +
                          ", publishLocalVideo: " + text(options.publishLocalVideo) + "}");
    // A join that fails is reported as connecting, then failed; the attempt still has to be
    // ended with leaveChannel().
    const auto failJoin = [this](int reason) {
        session_ = Session::failed;
        connectionState_ = MediaCodes::kConnectionConnecting;
        postConnectionLocked(MediaCodes::kConnectionConnecting,
                             MediaCodes::kConnectionReasonConnecting);
        postConnectionLocked(MediaCodes::kConnectionFailed, reason);
    };
    const int code = call(
        MediaOperation::joinChannelByToken, arguments,
        [&] {
            if (session_ == Session::joined || session_ == Session::dropped) {
                return MediaCodes::kErrWrongState;
            }
            if (bus_->stalledJoins_ > 0) {
                --bus_->stalledJoins_;
                session_ = Session::failed;  // an attempt that only a leave ends
                connectionState_ = MediaCodes::kConnectionConnecting;
                postConnectionLocked(MediaCodes::kConnectionConnecting,
                                     MediaCodes::kConnectionReasonConnecting);
                return MediaCodes::kOk;
            }
            auto& channels = bus_->channels_;
            if (auto existing = channels.find(channelId); uid != 0 && existing != channels.end()) {
                const auto& members = existing->second;
                if (std::any_of(members.begin(), members.end(),
                                [uid](auto* e) { return e->uid_ == uid; })) {
                    failJoin(MediaCodes::kConnectionReasonJoinFailed);
                    return MediaCodes::kOk;
                }
            }
            session_ = Session::joined;
            channelId_ = channelId;
            uid_ = uid != 0 ? uid : bus_->allocateUidLocked(channelId);
            options_ = options;
            audioMuted_ = audioMuted_ || !options.publishLocalAudio;
            videoMuted_ = videoMuted_ || !options.publishLocalVideo;
            joinedAt_ = queue_->clock()->now();
            audioSubscriptions_.clear();
            videoSubscriptions_.clear();
            knownRemotes_.clear();
            const bool refused =
                role_ == MediaCodes::kRoleBroadcaster && bus_->isFullLocked(channelId, this);
            if (refused) {
                role_ = MediaCodes::kRoleAudience;
            }
            connectionState_ = MediaCodes::kConnectionConnecting;
            postConnectionLocked(MediaCodes::kConnectionConnecting,
                                 MediaCodes::kConnectionReasonConnecting);
            postConnectionLocked(MediaCodes::kConnectionConnected,
                                 MediaCodes::kConnectionReasonJoinSuccess);
            postLocked([channelId, joinedUid = uid_](MediaEngineDelegate& d) {
                d.didJoinChannel(channelId, joinedUid, 0);
            });
            postLocked(
                [route = routeLocked()](MediaEngineDelegate& d) { d.didAudioRouteChanged(route); });
            enterMembershipLocked(refused);
            return MediaCodes::kOk;
        },
        [&](int failure) {
            if (session_ == Session::idle || session_ == Session::failed) {
                failJoin(failure);
            }
        });
    syncVolumeTimer();
    return code;
}

void MediaEngine::enterMembershipLocked(bool roleRefused) {
    if (roleRefused) {
        postLocked([](MediaEngineDelegate& d) {
            d.didClientRoleChangeFailed(MediaCodes::kRoleChangeFailedTooManyBroadcasters,
                                        MediaCodes::kRoleAudience);
        });
    }
    auto& members = bus_->channels_[channelId_];
    for (MediaEngine* other : members) {
        if (other->role_ == MediaCodes::kRoleBroadcaster) {
            announceLocked(*other);
        }
        if (role_ == MediaCodes::kRoleBroadcaster) {
            other->announceLocked(*this);
        }
    }
    members.push_back(this);
    refreshRemoteStatesLocked();
}

void MediaEngine::forgetChannelLocked(int connectionReason) {
    session_ = Session::idle;
    ++generation_;  // drops every callback still queued for the session that ends here
    channelId_.clear();
    uid_ = 0;
    audioSubscriptions_.clear();
    videoSubscriptions_.clear();
    remoteBindings_.clear();
    remoteStreamTypes_.clear();
    connectionState_ = MediaCodes::kConnectionDisconnected;
    postConnectionLocked(MediaCodes::kConnectionDisconnected, connectionReason);
}

int MediaEngine::leaveChannel() {
    const int code = call(MediaOperation::leaveChannel, "", [&] {
        if (session_ == Session::idle) {
            return MediaCodes::kOk;
        }
        leaveMembershipLocked(MediaCodes::kOfflineQuit);
        forgetChannelLocked(MediaCodes::kConnectionReasonLeaveChannel);
        postLocked([](MediaEngineDelegate& d) { d.didLeaveChannelWithStats(ChannelStats{}); });
        return MediaCodes::kOk;
    });
    syncVolumeTimer();
    return code;
}

int MediaEngine::setClientRole(int role) {
    return call(
        MediaOperation::setClientRole, std::to_string(role),
        [&] {
            if (role != MediaCodes::kRoleBroadcaster && role != MediaCodes::kRoleAudience) {
                return MediaCodes::kErrInvalidArgument;
            }
            if (session_ != Session::joined) {
                role_ = role;
                return MediaCodes::kOk;
            }
            if (role == role_) {
                return MediaCodes::kOk;
            }
            const int oldRole = role_;
            if (role == MediaCodes::kRoleBroadcaster) {
                if (bus_->isFullLocked(channelId_, this)) {
                    postLocked([oldRole](MediaEngineDelegate& d) {
                        d.didClientRoleChangeFailed(
                            MediaCodes::kRoleChangeFailedTooManyBroadcasters, oldRole);
                    });
                    return MediaCodes::kOk;
                }
                role_ = role;
                postLocked([oldRole, role](MediaEngineDelegate& d) {
                    d.didClientRoleChanged(oldRole, role);
                });
                if (auto* channel = channelLocked()) {
                    for (MediaEngine* other : *channel) {
                        if (other != this) {
                            other->announceLocked(*this);
                        }
                    }
                }
                refreshRemoteStatesLocked();
            } else {
                role_ = role;
                postLocked([oldRole, role](MediaEngineDelegate& d) {
                    d.didClientRoleChanged(oldRole, role);
                });
                withdrawFromOthersLocked(MediaCodes::kOfflineBecameAudience);
            }
            return MediaCodes::kOk;
        },
        [this](int failure) {
            if (session_ == Session::joined) {
                postLocked([failure, currentRole = role_](MediaEngineDelegate& d) {
                    d.didClientRoleChangeFailed(failure, currentRole);
                });
            }
        });
}

int MediaEngine::getConnectionState() {
    std::lock_guard lock(bus_->mutex_);
    beginCallLocked(MediaOperation::getConnectionState, "");
    return connectionState_;  // a destroyed engine was set to disconnected for good
}

// ---- views -------------------------------------------------------------------------------------

int MediaEngine::setupLocalVideo(const std::optional<VideoCanvas>& canvas) {
    return call(MediaOperation::setupLocalVideo, canvas ? describeCanvas(*canvas) : "none", [&] {
        if (canvas && canvas->view) {
            localBinding_ = Binding{canvas->view, canvas->renderMode};
        } else {
            localBinding_.reset();
        }
        return 0;
    });
}

int MediaEngine::setupRemoteVideo(const VideoCanvas& canvas) {
    return call(MediaOperation::setupRemoteVideo, describeCanvas(canvas), [&] {
        if (canvas.view) {
            remoteBindings_[canvas.uid] = Binding{canvas.view, canvas.renderMode};
        } else {
            remoteBindings_.erase(canvas.uid);
        }
        return 0;
    });
}

int MediaEngine::startPreview() {
    return call(
        MediaOperation::startPreview, "",
        [&] {
            previewing_ = true;
            return 0;
        },
        localVideoFailure());
}

int MediaEngine::stopPreview() {
    return call(MediaOperation::stopPreview, "", [&] {
        previewing_ = false;
        return 0;
    });
}

// ---- media -------------------------------------------------------------------------------------

int MediaEngine::muteLocalAudioStream(bool muted) {
    return call(
        MediaOperation::muteLocalAudioStream, text(muted),
        [&] {
            audioMuted_ = muted;
            refreshRemoteStatesLocked();
            return 0;
        },
        localAudioFailure());
}

int MediaEngine::muteLocalVideoStream(bool muted) {
    return call(
        MediaOperation::muteLocalVideoStream, text(muted),
        [&] {
            videoMuted_ = muted;
            refreshRemoteStatesLocked();
            return 0;
        },
        localVideoFailure());
}

int MediaEngine::enableLocalVideo(bool enabled) {
    return call(
        MediaOperation::enableLocalVideo, text(enabled),
        [&] {
            localVideoEnabled_ = enabled;
            refreshRemoteStatesLocked();
            return 0;
        },
        localVideoFailure());
}

int MediaEngine::switchCamera() {
    return call(
        MediaOperation::switchCamera, "", [] { return 0; }, localVideoFailure());
}

int MediaEngine::muteRemoteAudioStream(std::uint64_t uid, bool muted) {
    return call(MediaOperation::muteRemoteAudioStream,
                joinArguments(std::to_string(uid), text(muted)), [&] {
                    audioSubscriptions_[uid] = !muted;
                    refreshRemoteStatesLocked();
                    return 0;
                });
}

int MediaEngine::muteRemoteVideoStream(std::uint64_t uid, bool muted) {
    return call(MediaOperation::muteRemoteVideoStream,
                joinArguments(std::to_string(uid), text(muted)), [&] {
                    videoSubscriptions_[uid] = !muted;
                    refreshRemoteStatesLocked();
                    return 0;
                });
}

int MediaEngine::muteAllRemoteAudioStreams(bool muted) {
    return call(MediaOperation::muteAllRemoteAudioStreams, text(muted), [&] {
        allRemoteAudioMuted_ = muted;
        refreshRemoteStatesLocked();
        return 0;
    });
}

int MediaEngine::muteAllRemoteVideoStreams(bool muted) {
    return call(MediaOperation::muteAllRemoteVideoStreams, text(muted), [&] {
        allRemoteVideoMuted_ = muted;
        refreshRemoteStatesLocked();
        return 0;
    });
}

int MediaEngine::setRemoteVideoStream(std::uint64_t uid, int streamType) {
    return call(
        MediaOperation::setRemoteVideoStream,
        joinArguments(std::to_string(uid), std::to_string(streamType)), [&] {
            if (streamType != MediaCodes::kStreamHigh && streamType != MediaCodes::kStreamLow) {
                return MediaCodes::kErrInvalidArgument;
            }
            remoteStreamTypes_[uid] = streamType;
            return MediaCodes::kOk;
        });
}

int MediaEngine::adjustPlaybackSignalVolume(int volume) {
    return call(MediaOperation::adjustPlaybackSignalVolume, std::to_string(volume), [&] {
        playbackVolume_ = volume;
        return 0;
    });
}

int MediaEngine::setEnableSpeakerphone(bool enabled) {
    return call(MediaOperation::setEnableSpeakerphone, text(enabled), [&] {
        speakerphone_ = enabled;
        if (session_ == Session::joined) {
            postLocked(
                [route = routeLocked()](MediaEngineDelegate& d) { d.didAudioRouteChanged(route); });
        }
        return 0;
    });
}

int MediaEngine::startAudioMixing(const std::string& filePath, bool loopback, bool replace,
                                  int cycle, int startPos) {
    return call(
        MediaOperation::startAudioMixing,
        joinArguments(filePath, text(loopback), text(replace), std::to_string(cycle),
                      std::to_string(startPos)),
        [&] {
            std::error_code error;
            if (!std::filesystem::is_regular_file(filePath, error)) {
                postLocked([](MediaEngineDelegate& d) {
                    d.localAudioMixingStateDidChanged(MediaCodes::kMixingFailed,
                                                      MediaCodes::kMixingReasonCanNotOpen);
                });
                return MediaCodes::kErrInvalidArgument;
            }
            postLocked([](MediaEngineDelegate& d) {
                d.localAudioMixingStateDidChanged(MediaCodes::kMixingPlaying, 0);
            });
            return 0;
        },
        [this](int failure) {
            postLocked([failure](MediaEngineDelegate& d) {
                d.localAudioMixingStateDidChanged(MediaCodes::kMixingFailed, failure);
            });
        });
}

int MediaEngine::enableVirtualBackground(bool enabled,
                                         const std::optional<VirtualBackgroundSource>& source) {
    std::string described = "none";
    if (source) {
        described = "{type: " + std::to_string(source->backgroundSourceType) +
                    ", color: " + std::to_string(source->color) + ", source: " + source->source +
                    ", blurDegree: " + std::to_string(source->blurDegree) + "}";
    }
    return call(
        MediaOperation::enableVirtualBackground, joinArguments(text(enabled), described),
        [&] {
            postLocked([enabled](MediaEngineDelegate& d) {
                d.virtualBackgroundSourceEnabled(enabled, 0);
            });
            return 0;
        },
        [this](int failure) {
            postLocked([failure](MediaEngineDelegate& d) {
                d.virtualBackgroundSourceEnabled(false, failure);
            });
        });
}

// ---- test hooks --------------------------------------------------------------------------------

void MediaEngine::inject(std::function<void(MediaEngineDelegate&)> callback) {
    std::lock_guard lock(bus_->mutex_);
    postLocked(std::move(callback));
}

void MediaEngine::failNext(MediaOperation operation, int code) {
    std::lock_guard lock(bus_->mutex_);
    failures_.push(operation, code);
}

void MediaEngine::reportNetworkQuality(int txQuality, int rxQuality) {
    std::lock_guard lock(bus_->mutex_);
    if (destroyed_ || session_ != Session::joined) {
        return;
    }
    postLocked([txQuality, rxQuality](MediaEngineDelegate& d) {
        d.networkQuality(0, txQuality, rxQuality);
    });
    auto* channel = channelLocked();
    if (!channel) {
        return;
    }
    for (MediaEngine* other : *channel) {
        if (other != this && other->knownRemotes_.contains(uid_)) {
            other->postLocked([uid = uid_, txQuality, rxQuality](MediaEngineDelegate& d) {
                d.networkQuality(uid, txQuality, rxQuality);
            });
        }
    }
}

void MediaEngine::reportStatistics(const ChannelStats& stats) {
    std::lock_guard lock(bus_->mutex_);
    if (destroyed_ || session_ != Session::joined) {
        return;
    }
    postLocked([stats](MediaEngineDelegate& d) { d.reportRtcStats(stats); });
}

void MediaEngine::setVoiceLevel(unsigned volume, bool speaking) {
    std::lock_guard lock(bus_->mutex_);
    voiceLevel_ = std::min(volume, 255u);
    voiceActive_ = speaking;
}

void MediaEngine::simulateNetworkDrop() {
    {
        std::lock_guard lock(bus_->mutex_);
        if (destroyed_ || session_ != Session::joined) {
            return;
        }
        leaveMembershipLocked(MediaCodes::kOfflineDropped);
        session_ = Session::dropped;
        connectionState_ = MediaCodes::kConnectionReconnecting;
        postConnectionLocked(MediaCodes::kConnectionReconnecting,
                             MediaCodes::kConnectionReasonInterrupted);
    }
    syncVolumeTimer();
}

void MediaEngine::simulateNetworkReturn() {
    {
        std::lock_guard lock(bus_->mutex_);
        if (destroyed_ || session_ != Session::dropped) {
            return;
        }
        // Back in the channel it lost, in the role it holds now (one set while away included).
        session_ = Session::joined;
        knownRemotes_.clear();
        const bool refused =
            role_ == MediaCodes::kRoleBroadcaster && bus_->isFullLocked(channelId_, this);
        if (refused) {
            role_ = MediaCodes::kRoleAudience;
        }
        connectionState_ = MediaCodes::kConnectionConnected;
        postConnectionLocked(MediaCodes::kConnectionConnected,
                             MediaCodes::kConnectionReasonJoinSuccess);
        enterMembershipLocked(refused);
    }
    syncVolumeTimer();
}

void MediaEngine::simulateChannelLoss() {
    {
        std::lock_guard lock(bus_->mutex_);
        if (destroyed_ || (session_ != Session::joined && session_ != Session::dropped)) {
            return;
        }
        if (session_ == Session::joined) {
            leaveMembershipLocked(MediaCodes::kOfflineDropped);
        }
        forgetChannelLocked(MediaCodes::kConnectionReasonInterrupted);
    }
    syncVolumeTimer();
}

// ---- observation -------------------------------------------------------------------------------

std::vector<MediaCall> MediaEngine::callLog() const {
    std::lock_guard lock(bus_->mutex_);
    return calls_;
}

std::vector<std::string> MediaEngine::callTexts() const {
    std::vector<std::string> texts;
    for (const auto& entry : callLog()) {
        texts.push_back(entry.text());
    }
    return texts;
}

std::vector<std::string> MediaEngine::callArguments(MediaOperation operation) const {
    std::vector<std::string> arguments;
    for (const auto& entry : callLog()) {
        if (entry.operation == operation) {
            arguments.push_back(entry.arguments);
        }
    }
    return arguments;
}

void MediaEngine::clearCallLog() {
    std::lock_guard lock(bus_->mutex_);
    calls_.clear();
}

std::string MediaEngine::channelId() const {
    std::lock_guard lock(bus_->mutex_);
    return session_ == Session::joined ? channelId_ : std::string();
}

std::uint64_t MediaEngine::uid() const {
    std::lock_guard lock(bus_->mutex_);
    return session_ == Session::joined ? uid_ : 0;
}

int MediaEngine::clientRole() const {
    std::lock_guard lock(bus_->mutex_);
    return role_;
}

bool MediaEngine::isInChannel() const {
    std::lock_guard lock(bus_->mutex_);
    return session_ == Session::joined;
}

bool MediaEngine::isLocalAudioMuted() const {
    std::lock_guard lock(bus_->mutex_);
    return audioMuted_;
}

bool MediaEngine::isLocalVideoMuted() const {
    std::lock_guard lock(bus_->mutex_);
    return videoMuted_;
}

bool MediaEngine::isPreviewing() const {
    std::lock_guard lock(bus_->mutex_);
    return previewing_;
}

int MediaEngine::playbackVolume() const {
    std::lock_guard lock(bus_->mutex_);
    return playbackVolume_;
}

std::shared_ptr<View> MediaEngine::localView() const {
    std::lock_guard lock(bus_->mutex_);
    return localBinding_ ? localBinding_->view.lock() : nullptr;
}

std::shared_ptr<View> MediaEngine::remoteView(std::uint64_t uid) const {
    std::lock_guard lock(bus_->mutex_);
    auto binding = remoteBindings_.find(uid);
    return binding == remoteBindings_.end() ? nullptr : binding->second.view.lock();
}

}  // namespace kr::platform
