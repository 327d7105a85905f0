#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "KivRaneCoreSDK/Model/Media/AgoraEngineVideoCanvas.h"
#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/VirtualBackgroundSource.h"

namespace kr {

namespace {

using platform::MediaCodes;

constexpr int kVolumeIndicationIntervalMs = 500;
constexpr int kVolumeSmooth = 5;
/// The grey drawn around a fitted (letter-boxed) video.
constexpr int kLetterBoxGrey = 43;

int engineRole(bool isAudience) {
    return isAudience ? MediaCodes::kRoleAudience : MediaCodes::kRoleBroadcaster;
}

std::string letterBoxParameters(std::uint64_t uid) {
    boost::json::object colour;
    colour["uid"] = uid;
    colour["r"] = kLetterBoxGrey;
    colour["g"] = kLetterBoxGrey;
    colour["b"] = kLetterBoxGrey;
    boost::json::object parameters;
    parameters["che.video.render_background_color"] = std::move(colour);
    return asString(parameters);
}

/// What a remote stream state says of the stream being muted; nothing for passing states.
std::optional<bool> mutedByRemoteState(int state) {
    if (state == MediaCodes::kRemoteStateDecoding) return false;
    if (state == MediaCodes::kRemoteStateStopped || state == MediaCodes::kRemoteStateFailed) {
        return true;
    }
    return std::nullopt;
}

}  // namespace

std::shared_ptr<AgoraRtcManager> AgoraRtcManager::create(
    const KRDependencies& dependencies,
    std::shared_ptr<platform::MediaEngineFactory> engineFactory,
    std::shared_ptr<platform::NotificationCenter> notificationCenter,
    std::shared_ptr<const ContactSyncManager> contacts) {
    auto rtm = AgoraRtmManager::create(dependencies, std::move(notificationCenter));
    if (!contacts) contacts = dependencies.contacts;
    // A manager given no contact list names senders as they send themselves.
    if (!contacts) contacts = std::make_shared<ContactSyncManager>();
    return std::shared_ptr<AgoraRtcManager>(new AgoraRtcManager(
        dependencies.queue, std::move(engineFactory), std::move(rtm), std::move(contacts)));
}

AgoraRtcManager::AgoraRtcManager(std::shared_ptr<platform::DispatchQueue> queue,
                                 std::shared_ptr<platform::MediaEngineFactory> engineFactory,
                                 std::shared_ptr<AgoraRtmManager> rtmManager,
                                 std::shared_ptr<const ContactSyncManager> contacts)
    : queue_(std::move(queue)),
      engineFactory_(std::move(engineFactory)),
      rtmManager_(std::move(rtmManager)),
      contacts_(std::move(contacts)),
      checker_(queue_),
      currentUserRole_(MediaCodes::kRoleAudience) {}

AgoraRtcManager::~AgoraRtcManager() {
    // An engine left behind would be handed, still in its channel, to whatever wrapper the
    // client makes next from the same factory.
    if (rtcEngine_ && engineFactory_->engine() == rtcEngine_) {
        rtcEngine_->setDelegate({});
        engineFactory_->destroy();
    }
}

template <typename Report>
void AgoraRtcManager::report(Report&& call) {
    if (auto delegate = rtcDelegate_.lock()) {
        call(*delegate);
    }
}

// ---- peers ----------------------------------------------------------------------------------

AgoraRtcManager::Peer AgoraRtcManager::peerOf(const std::string& id) const {
    const auto it = std::find_if(peers_.begin(), peers_.end(),
                                 [&id](const Peer& p) { return p->id() == id; });
    return it == peers_.end() ? nullptr : *it;
}

AgoraRtcManager::Peer AgoraRtcManager::peerOf(std::uint64_t uid) const {
    return peerOf(sringValue(uid));
}

AgoraRtcManager::Peer AgoraRtcManager::localPeer() const {
    return peerOf(localUserId_);
}

AgoraRtcManager::Peer AgoraRtcManager::addPeer(const std::string& id) {
    auto peer = std::make_shared<RtcPeerMetaData>(id, true, true, false);
    removePeers(id);
    peers_.push_back(peer);
    return peer;
}

void AgoraRtcManager::removePeers(const std::string& id) {
    std::erase_if(peers_, [&id](const Peer& p) { return p->id() == id; });
}

std::shared_ptr<RtcPeerMetaData> AgoraRtcManager::getPeerData(const std::string& peerId) const {
    KR_DCHECK_RUN_ON(checker_);
    return peerOf(peerId);
}

std::shared_ptr<RtcVideoCanvas> AgoraRtcManager::getRtcCanvas(const std::string& peerId) const {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(peerId);
    return peer ? peer->getVideoCanvas() : nullptr;
}

std::shared_ptr<platform::View> AgoraRtcManager::getVideoStreamView(
    const std::string& peerId) const {
    KR_DCHECK_RUN_ON(checker_);
    const auto canvas = getRtcCanvas(peerId);
    return canvas ? canvas->getVideoStreamView() : nullptr;
}

// ---- set-up, join, leave --------------------------------------------------------------------

void AgoraRtcManager::configureRtcEngine(const boost::json::object& data,
                                         std::weak_ptr<RtcManagerDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    rtcAppId_ = AgoraRtcJoinData::readAppId(data);
    rtcDelegate_ = std::move(delegate);
    if (rtcEngine_) {
        // Still holding the last meeting's engine (its leave never finished): let it go first,
        // so the new meeting starts from a fresh engine and an empty peer list.
        releaseMeeting();
    } else {
        ++meeting_;
    }
    ++session_;
    rtcEngine_ = engineFactory_->sharedEngineWithAppId(rtcAppId_, weak_from_this());
    const auto& engine = rtcEngine_;
    if (!engine) {
        return;
    }
    engine->enableDualStreamMode(true);
    engine->setChannelProfile(MediaCodes::kChannelProfileLiveBroadcasting);
    engine->setDefaultAudioRouteToSpeakerphone(true);
    engine->setRemoteSubscribeFallbackOption(MediaCodes::kStreamFallbackAudioOnly);
    engine->setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioMeeting);
    engine->setAudioProfile(MediaCodes::kAudioProfileSpeechStandard,
                            MediaCodes::kAudioScenarioChatRoom);
    engine->setAudioSessionOperationRestriction(
        MediaCodes::kAudioSessionRestrictionDeactivateSession);
    engine->setParameters(R"({"che.audio.use.callkit":true})");
    engine->setParameters(R"({"che.audio.force_report_local_volume":true})");
    engine->setParameters(R"({"che.audio.restartWhenInterrupted":true})");
    engine->enableAudioVolumeIndication(kVolumeIndicationIntervalMs, kVolumeSmooth, true);
    engine->enableDeepLearningDenoise(true);
    engine->enableVideo();
}

void AgoraRtcManager::joinRoom(const boost::json::object& data) {
    KR_DCHECK_RUN_ON(checker_);
    const AgoraRtcJoinData join = AgoraRtcJoinData::read(data);
    const bool audience = join.role && join.role->kind() == KRUserRole::Kind::audience;
    currentUserRole_ = engineRole(audience);
    if (rtcEngine_) {
        rtcEngine_->setClientRole(currentUserRole_);
    }
    if (join.virtualBackground) {
        applyVirtualBackground(*join.virtualBackground);
    }
    // What goes out from the start is what the local flags say, so the local peer, the mute
    // reports and the loudest choice agree with the engine.
    isLocalAudioMuted_ = !join.initialAudioOn;
    isLocalVideoMuted_ = !join.initialVideoOn;
    platform::ChannelMediaOptions options;
    options.autoSubscribeVideo = false;
    options.autoSubscribeAudio = false;
    options.publishLocalAudio = join.initialAudioOn;
    options.publishLocalVideo = join.initialVideoOn;
    if (rtcEngine_) {
        rtcEngine_->joinChannelByToken(join.rtcToken, join.channelId, "",
                                       uintValue(join.userUid), options);
    }
    rtmManager_->setDelegate(weak_from_this());
    rtmManager_->configureRtmKit(rtcAppId_, join.rtmToken, join.userUid, join.channelId);
}

void AgoraRtcManager::leaveRtcChannel() {
    KR_DCHECK_RUN_ON(checker_);
    roleRetry_.cancel();
    if (rtcEngine_) {
        rtcEngine_->leaveChannel();
    }
}

bool AgoraRtcManager::isConnectedToRtcServer() const {
    KR_DCHECK_RUN_ON(checker_);
    return rtcEngine_ && rtcEngine_->getConnectionState() == MediaCodes::kConnectionConnected;
}

void AgoraRtcManager::releaseMeeting() {
    ++meeting_;
    ++session_;
    pendingJoins_.clear();
    waitingShares_.clear();
    pendingLeaves_.clear();
    // A copy: a canvas or track may be dropped by a holder while the list is walked.
    const auto peers = std::exchange(peers_, {});
    for (const auto& peer : peers) {
        peer->destroyAuxiliaryTrack();
        peer->destroyVideoCanvas();
    }
    frozen_.clear();
    volumes_.clear();
    roleRetry_.reset();
    localUserId_.clear();
    resetRtcEngine();
}

void AgoraRtcManager::resetRtcEngine() {
    isLocalAudioMuted_ = false;
    isLocalVideoMuted_ = false;
    stopPreview();
    const auto engine = std::exchange(rtcEngine_, nullptr);
    if (!engine) {
        return;
    }
    engine->setupLocalVideo(std::nullopt);
    engine->setDelegate({});
    engine->disableVideo();
    // Only the engine this wrapper set up: the factory may by now hold the other wrapper's.
    if (engineFactory_->engine() == engine) {
        engineFactory_->destroy();
    }
}

// ---- local media and views ------------------------------------------------------------------

void AgoraRtcManager::setUpLocalRtcVideoView() {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = localPeer();
    if (peer) {
        peer->destroyVideoCanvas();
    }
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(localUserId_,
                                                           VideoRenderMode::scaleAspectFill);
    if (peer) {
        peer->setVideoCanvas(canvas);
    }
    if (rtcEngine_) {
        rtcEngine_->setupLocalVideo(*canvas->engineCanvas());
    }
}

void AgoraRtcManager::startPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->startPreview();
    }
}

void AgoraRtcManager::stopPreview() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->stopPreview();
    }
}

void AgoraRtcManager::muteUnmuteLocalAudio(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    // The delegate may release the wrapper from inside the report, and a caller of this one
    // (the switch to the audience) still has work to do after it.
    const auto keepAlive = shared_from_this();
    isLocalAudioMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalAudioStream(isMuted);
    }
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    peer->setIsAudioMuted(isMuted);
    if (isMuted && peer->isLoudest()) {
        // A muted user must not stay the loudest on the strength of an earlier report.
        volumes_.setLocalLevel(0);
        volumes_.levels()[uintValue(localUserId_)] = 0;
    }
    if (isMuted) {
        peer->setIsLoudest(false);
    }
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantAudioStatusUpdated(peer, isMuted); });
}

void AgoraRtcManager::muteUnmuteLocalVideo(bool isMuted) {
    KR_DCHECK_RUN_ON(checker_);
    const auto keepAlive = shared_from_this();
    isLocalVideoMuted_ = isMuted;
    if (rtcEngine_) {
        rtcEngine_->muteLocalVideoStream(isMuted);
    }
    if (rtcEngine_) {
        rtcEngine_->enableLocalVideo(!isMuted);
    }
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    peer->setIsVideoMuted(isMuted);
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantVideoStatusUpdated(peer, isMuted); });
}

void AgoraRtcManager::switchCamera() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->switchCamera();
    }
}

void AgoraRtcManager::setUpRemoteStreamVideoView(const std::string& id,
                                                 VideoRenderMode renderMode) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(id);
    if (peer) {
        peer->destroyVideoCanvas();
    }
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(id, renderMode);
    if (peer) {
        peer->setVideoCanvas(canvas);
    }
    if (!rtcEngine_) {
        return;
    }
    rtcEngine_->setupRemoteVideo(*canvas->engineCanvas());
    if (renderMode == VideoRenderMode::scaleAspectFit && rtcEngine_) {
        rtcEngine_->setParameters(letterBoxParameters(uintValue(id)));
    }
}

// ---- remote media and other controls --------------------------------------------------------

void AgoraRtcManager::muteUnmuteUserAudioStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteRemoteAudioStream(uintValue(uid), isMute);
    }
}

void AgoraRtcManager::muteUnmuteUserVideoStream(bool isMute, const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteRemoteVideoStream(uintValue(uid), isMute);
    }
}

void AgoraRtcManager::setAudioFileForUserJoinChime(const std::string& path) {
    KR_DCHECK_RUN_ON(checker_);
    audioFilePathForUserJoin_ = path;
}

void AgoraRtcManager::setAudioFileForUserLeftChime(const std::string& path) {
    KR_DCHECK_RUN_ON(checker_);
    audioFilePathForUserLeft_ = path;
}

void AgoraRtcManager::playChimeOnUserJoin() {
    KR_DCHECK_RUN_ON(checker_);
    // No file set: nothing to play (the engine would only report that it cannot open "").
    if (rtcEngine_ && !audioFilePathForUserJoin_.empty()) {
        rtcEngine_->startAudioMixing(audioFilePathForUserJoin_, true, false, 1, 0);
    }
}

void AgoraRtcManager::playChimeOnUserLeave() {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_ && !audioFilePathForUserLeft_.empty()) {
        rtcEngine_->startAudioMixing(audioFilePathForUserLeft_, true, false, 1, 0);
    }
}

void AgoraRtcManager::switchClientRole(bool isAudience) {
    KR_DCHECK_RUN_ON(checker_);
    // The mute reports may release the wrapper before the role is asked for.
    const auto keepAlive = shared_from_this();
    if (isAudience) {
        // Whoever sends the user to the audience means it: a retry still waiting must not make
        // the user a broadcaster again.
        roleRetry_.cancel();
        muteUnmuteLocalAudio(true);
        muteUnmuteLocalVideo(true);
    }
    currentUserRole_ = engineRole(isAudience);
    if (rtcEngine_) {
        rtcEngine_->setClientRole(currentUserRole_);
    }
}

void AgoraRtcManager::setRemoteParticipantsVolume(std::int64_t value) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->adjustPlaybackSignalVolume(static_cast<int>(std::clamp<std::int64_t>(
            value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max())));
    }
}

void AgoraRtcManager::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    platform::VirtualBackgroundSource source;
    bool enable = true;
    if (const auto* blur = background.ifBlur()) {
        source.backgroundSourceType = MediaCodes::kBackgroundBlur;
        source.blurDegree = static_cast<int>(rawValue(blur->intensity));
    } else if (const auto* image = background.ifImage()) {
        source.backgroundSourceType = MediaCodes::kBackgroundImage;
        source.source = image->path;
    } else if (const auto* color = background.ifColor()) {
        source.backgroundSourceType = MediaCodes::kBackgroundColor;
        source.color = static_cast<std::uint32_t>(hexa(*color->color));
    } else {
        enable = false;
    }
    if (!rtcEngine_) {
        return;
    }
    if (enable) {
        rtcEngine_->enableVirtualBackground(true, source);
    } else {
        rtcEngine_->enableVirtualBackground(false, std::nullopt);
    }
}

void AgoraRtcManager::switchAudioDevice(KRAudioDeviceType type) {
    KR_DCHECK_RUN_ON(checker_);
    struct Row {
        bool muteAllRemoteAudio;
        bool speakerphone;
        int playbackVolume;
    };
    const Row row = type == KRAudioDeviceType::speaker  ? Row{false, true, 100}
                    : type == KRAudioDeviceType::device ? Row{false, false, 100}
                                                        : Row{true, false, 0};
    if (rtcEngine_) {
        rtcEngine_->muteAllRemoteAudioStreams(row.muteAllRemoteAudio);
    }
    if (rtcEngine_) {
        rtcEngine_->setEnableSpeakerphone(row.speakerphone);
    }
    if (rtcEngine_) {
        rtcEngine_->adjustPlaybackSignalVolume(row.playbackVolume);
    }
}

void AgoraRtcManager::setUpDualStream(bool enable) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->enableDualStreamMode(enable);
    }
}

void AgoraRtcManager::enableDisableAudioOnlyMode(bool isEnabled) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->muteAllRemoteVideoStreams(isEnabled);
    }
}

void AgoraRtcManager::setRemoteStreamQuality(KRRemoteStreamQuality quality,
                                             const std::string& uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (rtcEngine_) {
        rtcEngine_->setRemoteVideoStream(uintValue(uid), quality == KRRemoteStreamQuality::high
                                                             ? MediaCodes::kStreamHigh
                                                             : MediaCodes::kStreamLow);
    }
}

// ---- control messages -----------------------------------------------------------------------

void AgoraRtcManager::setRtmDelegate(std::weak_ptr<RtmManagerDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    rtmDelegate_ = std::move(delegate);
}

void AgoraRtcManager::sendPublicMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    rtmManager_->sendMessage(message);
}

void AgoraRtcManager::sendPrivateMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    // The message's own type decides between the channel and one peer.
    rtmManager_->sendMessage(message);
}

void AgoraRtcManager::didRecievePublicMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    relay(message, true);
}

void AgoraRtcManager::didRecievePrivateMessage(const KRRtmMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    relay(message, false);
}

void AgoraRtcManager::relay(KRRtmMessage message, bool isPublic) {
    if (auto name = contacts_->getUpdatedPartipantName(message.senderUserId)) {
        message.senderName = std::move(*name);
    }
    const auto delegate = rtmDelegate_.lock();
    if (!delegate) {
        return;
    }
    if (isPublic) {
        delegate->didRecievePublicMessage(message);
    } else {
        delegate->didRecievePrivateMessage(message);
    }
}

// ---- engine callbacks: participants and media state -----------------------------------------

void AgoraRtcManager::didJoinChannel(const std::string&, std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    localUserId_ = sringValue(uid);
    const auto peer = addPeer(localUserId_);
    peer->setIsAudioMuted(isLocalAudioMuted_);
    peer->setIsVideoMuted(isLocalVideoMuted_);
    peer->setIsAudiencePeer(currentUserRole_ == MediaCodes::kRoleAudience);
    report([&](RtcManagerDelegate& d) { d.didLocalParticipantJoinChannel(peer, [] {}); });
}

void AgoraRtcManager::didLeaveChannelWithStats(const platform::ChannelStats&) {
    KR_DCHECK_RUN_ON(checker_);
    ++session_;
    pendingJoins_.clear();
    waitingShares_.clear();
    pendingLeaves_.clear();
    // The meeting is over for the control messages too: nothing of it may act any more.
    rtmManager_->leaveAndLogout();
    rtmManager_->setDelegate({});
    rtmDelegate_.reset();
    frozen_.clear();
    roleRetry_.reset();
    const auto delegate = std::exchange(rtcDelegate_, {}).lock();
    if (!delegate) {
        // Nobody to finish the leave: the engine must not stay behind for want of a receiver.
        releaseMeeting();
        return;
    }
    delegate->didLocalParticipantLeaveChannel(
        KRUserLeftReason::leaveMeeting(), [weak = weak_from_this(), meeting = meeting_] {
            auto self = weak.lock();
            if (self && self->meeting_ == meeting) {
                self->releaseMeeting();
            }
        });
}

void AgoraRtcManager::didJoinedOfUid(std::uint64_t uid, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto delegate = rtcDelegate_.lock();
    if (!delegate) {
        return;
    }
    const std::uint64_t question = ++lastQuestion_;
    pendingJoins_[uid] = PendingJoin{.question = question, .isAudioMuted = {}, .isVideoMuted = {}};
    pendingLeaves_.erase(uid);
    delegate->didRequestToGetStreamSourceType(
        sringValue(uid), [weak = weak_from_this(), uid, question](RtcRemoteStreamType answer) {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            const auto it = self->pendingJoins_.find(uid);
            // Answered twice, or the uid left (or the meeting ended) before the answer came.
            if (it == self->pendingJoins_.end() || it->second.question != question) {
                return;
            }
            const PendingJoin pending = it->second;
            self->pendingJoins_.erase(it);
            self->answerRemoteJoin(uid, answer, pending);
        });
}

void AgoraRtcManager::answerRemoteJoin(std::uint64_t uid, const RtcRemoteStreamType& answer,
                                       const PendingJoin& pending) {
    const std::string id = sringValue(uid);
    if (answer.kind() == RtcRemoteStreamType::Kind::user) {
        const auto peer = addPeer(id);
        // States reported while the question was open would otherwise be lost: the engine
        // reports a state only when it changes.
        if (pending.isAudioMuted) peer->setIsAudioMuted(*pending.isAudioMuted);
        if (pending.isVideoMuted) peer->setIsVideoMuted(*pending.isVideoMuted);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantJoinChannel(peer, [] {}); });
        if (const auto share = waitingShares_.find(id); share != waitingShares_.end()) {
            const std::uint64_t shareUid = share->second;
            waitingShares_.erase(share);
            if (const auto parent = peerOf(id)) {
                attachShare(shareUid, parent);
            }
        }
        return;
    }
    // One screen share at a time: a new one replaces whatever share is shown or waiting.
    waitingShares_.clear();
    const auto sharing = std::find_if(peers_.begin(), peers_.end(),
                                      [](const Peer& p) { return p->getAuxiliaryTrack() != nullptr; });
    if (sharing != peers_.end()) {
        removePeerAuxiliaryTrack((*sharing)->id());
    }
    const auto parent = peerOf(answer.participantId());
    if (!parent) {
        // The sharer's own stream is still being asked about: the share is not lost for that.
        waitingShares_[answer.participantId()] = uid;
        return;
    }
    attachShare(uid, parent);
}

void AgoraRtcManager::attachShare(std::uint64_t uid, const std::shared_ptr<RtcPeerMetaData>& parent) {
    const std::string id = sringValue(uid);
    const auto sharing = std::find_if(peers_.begin(), peers_.end(),
                                      [](const Peer& p) { return p->getAuxiliaryTrack() != nullptr; });
    if (sharing != peers_.end()) {
        removePeerAuxiliaryTrack((*sharing)->id());
    }
    parent->destroyAuxiliaryTrack();
    auto track = std::make_shared<RtcAuxiliaryTrack>(id, parent->id());
    auto canvas = std::make_shared<AgoraEngineVideoCanvas>(id, VideoRenderMode::scaleAspectFit);
    track->setVideoCanvas(canvas);
    parent->setAuxiliaryTrack(track);
    if (rtcEngine_) {
        rtcEngine_->setupRemoteVideo(*canvas->engineCanvas());
    }
    if (rtcEngine_) {
        rtcEngine_->setParameters(letterBoxParameters(uid));
    }
    report([&](RtcManagerDelegate& d) { d.didAuxiliaryVideoTrackAdded(parent, track); });
}

void AgoraRtcManager::didOfflineOfUid(std::uint64_t uid, int reason) {
    KR_DCHECK_RUN_ON(checker_);
    frozen_.remove(uid);
    if (pendingJoins_.erase(uid) > 0) {
        // Gone before anyone said what it was: it was never added or reported, so its leave is
        // not reported either.
        return;
    }
    const auto delegate = rtcDelegate_.lock();
    if (!delegate) {
        return;
    }
    const std::uint64_t question = ++lastQuestion_;
    pendingLeaves_[uid] = question;
    delegate->didRequestToGetStreamSourceType(
        sringValue(uid), [weak = weak_from_this(), uid, reason, question,
                          session = session_](RtcRemoteStreamType answer) {
            auto self = weak.lock();
            if (!self || self->session_ != session) {
                return;
            }
            const auto it = self->pendingLeaves_.find(uid);
            // Answered twice, or the uid came back before the answer: it is in the channel.
            if (it == self->pendingLeaves_.end() || it->second != question) {
                return;
            }
            self->pendingLeaves_.erase(it);
            self->answerRemoteLeave(uid, reason, answer);
        });
}

void AgoraRtcManager::answerRemoteLeave(std::uint64_t uid, int reason,
                                        const RtcRemoteStreamType& answer) {
    const std::string id = sringValue(uid);
    if (answer.kind() == RtcRemoteStreamType::Kind::screenShare) {
        std::erase_if(waitingShares_, [uid](const auto& share) { return share.second == uid; });
        // Only when the owner still shows this very share: a late leave of an earlier share must
        // not take down the one that replaced it.
        const auto parent = peerOf(answer.participantId());
        const auto track = parent ? parent->getAuxiliaryTrack() : nullptr;
        if (track && track->id() == id) {
            removePeerAuxiliaryTrack(parent->id());
        }
        return;
    }
    if (const auto peer = peerOf(id)) {
        peer->destroyVideoCanvas();
    }
    waitingShares_.erase(id);
    removePeers(id);
    const KRUserLeftReason why = userLeftReasonFromEngine(reason);
    report([&](RtcManagerDelegate& d) { d.didRemoteParticipantLeaveChannel(id, why); });
}

void AgoraRtcManager::removePeerAuxiliaryTrack(const std::string& peerId) {
    const auto peer = peerOf(peerId);
    const auto track = peer ? peer->getAuxiliaryTrack() : nullptr;
    if (!track) {
        return;
    }
    track->destroyVideoCanvas();
    peer->destroyAuxiliaryTrack();
    report([&](RtcManagerDelegate& d) { d.didAuxiliaryVideoTrackRemoved(peer); });
}

void AgoraRtcManager::remoteAudioStateChangedOfUid(std::uint64_t uid, int state, int, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(uid);
    if (!peer) {
        if (const auto pending = pendingJoins_.find(uid); pending != pendingJoins_.end()) {
            if (const auto muted = mutedByRemoteState(state)) pending->second.isAudioMuted = muted;
        }
        return;
    }
    if (state == MediaCodes::kRemoteStateDecoding) {
        peer->setIsAudioMuted(false);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantAudioStatusUpdated(peer, false); });
    } else if (state == MediaCodes::kRemoteStateStopped || state == MediaCodes::kRemoteStateFailed) {
        peer->setIsAudioMuted(true);
        peer->setIsLoudest(false);
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantAudioStatusUpdated(peer, true); });
        volumes_.levels()[uid] = 0;
    }
}

void AgoraRtcManager::remoteVideoStateChangedOfUid(std::uint64_t uid, int state, int reason,
                                                   int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto peer = peerOf(uid);
    if (!peer) {
        if (const auto pending = pendingJoins_.find(uid); pending != pendingJoins_.end()) {
            if (const auto muted = mutedByRemoteState(state)) pending->second.isVideoMuted = muted;
        }
        return;
    }
    switch (state) {
        case MediaCodes::kRemoteStateDecoding:
        case MediaCodes::kRemoteStateStopped:
        case MediaCodes::kRemoteStateFailed: {
            frozen_.remove(uid);
            const bool muted = state != MediaCodes::kRemoteStateDecoding;
            peer->setIsVideoMuted(muted);
            report([&](RtcManagerDelegate& d) {
                d.didRemoteParticipantVideoStatusUpdated(peer, muted);
            });
            return;
        }
        case MediaCodes::kRemoteStateFrozen:
            if (!FrozenVideoTracker::isTransientReason(reason)) {
                frozen_.freeze(*queue_, uid, [weak = weak_from_this()] {
                    if (auto self = weak.lock()) {
                        self->sendVideoMutedEventForFrozenVideos();
                    }
                });
            }
            return;
        default:
            return;
    }
}

void AgoraRtcManager::sendVideoMutedEventForFrozenVideos() {
    KR_DCHECK_RUN_ON(checker_);
    std::vector<Peer> toReport;
    for (const std::uint64_t uid : frozen_.due(queue_->clock()->now())) {
        if (auto peer = peerOf(uid)) {
            frozen_.markReported(uid);
            peer->setIsVideoMuted(true);
            toReport.push_back(std::move(peer));
        }
    }
    // Reported after the walk: the delegate may change the records from inside a report.
    for (const auto& peer : toReport) {
        report([&](RtcManagerDelegate& d) { d.didRemoteParticipantVideoStatusUpdated(peer, true); });
    }
}

// ---- engine callbacks: volumes, routes, role, quality and statistics -------------------------

void AgoraRtcManager::reportAudioVolumeIndicationOfSpeakers(
    const std::vector<platform::AudioVolumeInfo>& speakers, int) {
    KR_DCHECK_RUN_ON(checker_);
    const auto update = volumes_.update(speakers, uintValue(localUserId_), isLocalAudioMuted_);
    if (update.listsRemoteSpeakers) {
        std::vector<Peer> top;
        for (const auto& s : speakers) {
            if (auto peer = peerOf(s.uid)) {
                top.push_back(std::move(peer));
            }
        }
        report([&](RtcManagerDelegate& d) { d.didDetectTopActiveSpeakersPeers(top); });
    }
    if (update.local) {
        const std::uint64_t level = update.local->volume;
        const bool speaking = update.local->vad == 1;
        report([=](RtcManagerDelegate& d) { d.didLocalSpeakerVolumeLevelChanges(level, speaking); });
    }
    for (const auto& peer : peers_) {
        peer->setIsLoudest(false);
    }
    if (!update.loudest) {
        report([](RtcManagerDelegate& d) { d.didDetectLoudestParticipant(nullptr); });
        return;
    }
    if (const auto peer = peerOf(*update.loudest)) {
        peer->setIsLoudest(true);
        report([&](RtcManagerDelegate& d) { d.didDetectLoudestParticipant(peer); });
    }
}

void AgoraRtcManager::didAudioRouteChanged(int routing) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto route = audioRouteFromEngine(routing)) {
        currentRTCAudioRoute_ = *route;
    }
    const KRAudioRouteType route = currentRTCAudioRoute_;
    report([route](RtcManagerDelegate& d) { d.didAudioRouteChanged(route); });
}

void AgoraRtcManager::didClientRoleChanged(int oldRole, int newRole) {
    KR_DCHECK_RUN_ON(checker_);
    currentUserRole_ = newRole;
    if (newRole == MediaCodes::kRoleBroadcaster) {
        roleRetry_.reset();
    } else {
        roleRetry_.cancel();
    }
    const auto peer = localPeer();
    if (!peer) {
        return;
    }
    const bool audience = newRole == MediaCodes::kRoleAudience;
    peer->setIsAudiencePeer(audience);
    if (audience) {
        peer->setIsAudioMuted(true);
        peer->setIsVideoMuted(true);
    }
    report([audience](RtcManagerDelegate& d) { d.didCurrentParticipantRoleChanged(audience); });
    if (oldRole == MediaCodes::kRoleAudience && newRole == MediaCodes::kRoleBroadcaster) {
        // A user who becomes broadcaster starts muted.
        muteUnmuteLocalAudio(true);
        muteUnmuteLocalVideo(true);
    }
}

void AgoraRtcManager::didClientRoleChangeFailed(int reason, int) {
    KR_DCHECK_RUN_ON(checker_);
    if (reason == MediaCodes::kRoleChangeFailedTooManyBroadcasters) {
        roleRetry_.refused(*queue_, [weak = weak_from_this()](bool isAudience) {
            if (auto self = weak.lock()) self->switchClientRole(isAudience);
        });
    }
}


void AgoraRtcManager::localAudioStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = audioErrorType(error);
    const auto text = audioErrorDescription(error);
    report([&](RtcManagerDelegate& d) { d.didLocalAudioStateChangeFailed(type, text); });
}

void AgoraRtcManager::localVideoStateChange(int, int error) {
    KR_DCHECK_RUN_ON(checker_);
    const auto type = videoErrorType(error);
    const auto text = videoErrorDescription(error);
    report([&](RtcManagerDelegate& d) { d.didLocalVideoStateChangeFailed(type, text); });
}

void AgoraRtcManager::didLocalPublishFallbackToAudioOnly(bool isFallbackOrRecover) {
    KR_DCHECK_RUN_ON(checker_);
    report([=](RtcManagerDelegate& d) {
        d.didLocalParticicpantFallBacktoAudioOnlyMode(isFallbackOrRecover);
    });
}

void AgoraRtcManager::didRemoteSubscribeFallbackToAudioOnly(bool isFallbackOrRecover,
                                                            std::uint64_t uid) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto peer = peerOf(uid)) {
        report([&](RtcManagerDelegate& d) {
            d.didRemoteParticipantFallBackToAudioOnlyMode(isFallbackOrRecover, peer);
        });
    }
}

void AgoraRtcManager::connectionChangedToState(int state, int) {
    KR_DCHECK_RUN_ON(checker_);
    // A state the engine does not define says nothing; claiming "connected" for it could hide
    // a real disconnection from the reconnect logic.
    if (const auto mapped = knownConnectionStateFromEngine(state)) {
        report([mapped](RtcManagerDelegate& d) { d.didConnectionStateChanged(*mapped); });
    }
}

void AgoraRtcManager::networkQuality(std::uint64_t uid, int txQuality, int rxQuality) {
    KR_DCHECK_RUN_ON(checker_);
    if (uid != 0) {
        return;
    }
    const KRNetworkQuality quality = networkQualityFromEngine(txQuality, rxQuality);
    report([quality](RtcManagerDelegate& d) { d.didNetworkQualityChanged(quality); });
}

void AgoraRtcManager::reportRtcStats(const platform::ChannelStats& stats) {
    KR_DCHECK_RUN_ON(checker_);
    const KRRtcPacketLossData loss{stats.txPacketLossRate, stats.rxPacketLossRate};
    const KRRtcTransmissionRateData rate{stats.txKBitrate, stats.rxKBitrate};
    const KRRtcBandwidthData bandwidth{stats.txBytes, stats.rxBytes};
    report([&](RtcManagerDelegate& d) {
        d.didRecieveNetworkStats(stats.lastmileDelay, loss, rate, bandwidth);
    });
}

}  // namespace kr
