#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/RtcCodeMapping.h"
#include "platform/Media/ChannelMediaOptions.h"
#include "platform/Media/MediaCodes.h"

// The wrapper's life: creation, the peer list, engine set-up, join and leave, control messages.

namespace kr {

namespace {

using platform::MediaCodes;

constexpr int kVolumeIndicationIntervalMs = 500;

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
    if (rtcEngine_) {
        setUpMeetingEngine(*rtcEngine_, kVolumeIndicationIntervalMs);
    }
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
    message.senderName =
        contacts_->nameToShow(message.senderUserId, std::move(message.senderName));
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

}  // namespace kr
