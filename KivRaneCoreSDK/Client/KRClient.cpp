#include "KivRaneCoreSDK/Client/KRClient.h"

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/TlsSessionCache.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "platform/Notifications/NotificationCenter.h"
#include "platform/WebSocket/TlsWebSocketTransport.h"

namespace kr {

namespace {

/// A pointer to an object that lives for the whole process: it owns nothing.
template <typename T>
std::shared_ptr<T> processLifetime(T& object) {
    return std::shared_ptr<T>(std::shared_ptr<T>{}, &object);
}

/// The one place the process-wide services are looked up: every member the host left empty gets
/// its production default, so nothing below the client reaches for one on its own.
KRDependencies withProcessDefaults(KRDependencies out) {
    if (!out.queue) out.queue = platform::MainQueue::current();
    if (out.storageDirectory.empty()) out.storageDirectory = platform::UserDefaults::directory();
    if (!out.mediaBus) out.mediaBus = platform::MediaBus::current();
    if (!out.messagingService) out.messagingService = platform::MessagingService::current();
    if (!out.reachability) out.reachability = NetworkReachabilityHandler::shared();
    if (!out.logCollector && out.remoteLogger) out.logCollector = out.remoteLogger;
    // Made before the collector is read: the process remote logger installs itself as the
    // process collector, so the client's components reach it once it is configured.
    if (!out.remoteLogger) out.remoteLogger = KivRaneLogger::shared();
    if (!out.logCollector) out.logCollector = LogCollector::shared();
    // One cache for the clients of one value, like their HTTPS transport: a room socket resumes
    // the TLS sessions of the REST calls, and the clients' routings stay equal, so they share.
    if (!out.routing.tlsSessions) {
        out.routing.tlsSessions = out.httpTransports
                                      ? out.httpTransports->tlsSessions()
                                      : std::make_shared<platform::TlsSessionCache>();
    }
    // Made here rather than with each room socket: its TLS set-up takes milliseconds, which a
    // join would otherwise wait for before its next call.
    if (!out.webSocketTransport) {
        out.webSocketTransport = platform::makeTlsWebSocketTransport(out.routing);
    }
    if (!out.notifications) {
        out.notifications = processLifetime(platform::NotificationCenter::defaultCenter());
    }
    if (!out.contacts) out.contacts = processLifetime(ContactSyncManager::shared());
    if (!out.extensionNotifications) {
        out.extensionNotifications = processLifetime(platform::DarwinNotifyCenter::shared());
    }
    return out;
}

/// Runs `call` on `core` as the host's call (`MeetingEvents::HostCall`). The host may let go of
/// its client from inside a report of the call, so the core is held until the call is over.
template <class Call>
void asHostCall(const std::shared_ptr<ClientCore>& client, Call&& call) {
    const std::shared_ptr<ClientCore> core = client;
    const MeetingEvents::HostCall hostCall(core->events());
    call(*core);
}

}  // namespace

std::shared_ptr<KRClient> KRClient::create(KRDependencies dependencies) {
    return std::shared_ptr<KRClient>(
        new KRClient(ClientCore::create(withProcessDefaults(std::move(dependencies)))));
}

KRClient::KRClient(std::shared_ptr<ClientCore> core) : core_(std::move(core)) {}

KRClient::~KRClient() = default;

// Every call below goes to the client's insides unchanged. The calls that may change the local
// microphone or camera in the engine at once say so (`asHostCall`): the engine's answer inside
// them is the host's own change, told after the call returned.

void KRClient::setParameters(const boost::json::object& params) {
    core_->setParameters(params);
}
bool KRClient::isMultiMediaEngineIntegration() const {
    return core_->isMultiMediaEngineIntegration();
}
void KRClient::setMultiMediaEngineIntegration(bool value) {
    core_->setMultiMediaEngineIntegration(value);
}
const std::shared_ptr<RtcManagerProtocol>& KRClient::rtcEngineManager() const {
    return core_->roomEngine().engine();
}
void KRClient::setRtcEngineManager(std::shared_ptr<RtcManagerProtocol> engine) {
    core_->roomEngine().setEngine(std::move(engine));
}
void KRClient::addDelegate(const std::string& identifier,
                           std::weak_ptr<KRClientDelegate> delegate) {
    core_->events().addDelegate(identifier, std::move(delegate));
}
void KRClient::removeDelegate(std::string_view identifier) {
    core_->events().removeDelegate(identifier);
}
void KRClient::setParticipantsListDelegate(
    std::weak_ptr<KRParticipantsListUpdateDelegate> delegate) {
    core_->events().setParticipantsListDelegate(std::move(delegate));
}
void KRClient::joinMeeting(const KRJoinMeetingData& data, const KRJoinMeetingConfig& config,
                           std::weak_ptr<KRClientDelegate> delegate) {
    core_->joinMeeting(data, config, std::move(delegate));
}
void KRClient::leaveMeeting(KRUserLeftReason reason) {
    core_->leaveMeeting(std::move(reason));
}
void KRClient::muteLocalAudio(bool isMute) {
    asHostCall(core_, [isMute](ClientCore& core) { core.muteLocalAudio(isMute); });
}
void KRClient::muteLocalVideo(bool isMute) {
    asHostCall(core_, [isMute](ClientCore& core) { core.muteLocalVideo(isMute); });
}
void KRClient::raiseHand() {
    core_->raiseHand();
}
void KRClient::lowerHand() {
    core_->lowerHand();
}
void KRClient::sendReactionType(const std::string& type) {
    core_->sendReactionType(type);
}
void KRClient::declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host) {
    core_->declineHostRequestToTurnOnAudio(host);
}
void KRClient::declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host) {
    core_->declineHostRequestToTurnOnVideo(host);
}
void KRClient::lockMeeting(Completion completion) {
    core_->lockMeeting(std::move(completion));
}
void KRClient::unLockMeeting(Completion completion) {
    core_->unLockMeeting(std::move(completion));
}
void KRClient::startRecording(Completion completion) {
    core_->startRecording(std::move(completion));
}
void KRClient::stopRecording(Completion completion) {
    core_->stopRecording(std::move(completion));
}
void KRClient::hardMuteUnmuteUsersAudio(bool isMute, Completion completion) {
    core_->hardMuteUnmuteUsersAudio(isMute, std::move(completion));
}
void KRClient::softMuteUsersAudio(Completion completion) {
    core_->softMuteUsersAudio(std::move(completion));
}
void KRClient::lowerAllUsersHands(Completion completion) {
    core_->lowerAllUsersHands(std::move(completion));
}
void KRClient::changeUserAudioState(const std::string& userId, bool isOn, Completion completion) {
    core_->changeUserAudioState(userId, isOn, std::move(completion));
}
void KRClient::changeUserVideoState(const std::string& userId, bool isOn, Completion completion) {
    core_->changeUserVideoState(userId, isOn, std::move(completion));
}
void KRClient::removeUserFromMeeting(const std::string& userId, Completion completion) {
    core_->removeUserFromMeeting(userId, std::move(completion));
}
void KRClient::removeUserFromMeeting(const std::shared_ptr<KRMeetingUser>& user,
                                     Completion completion) {
    core_->removeUserFromMeeting(user, std::move(completion));
}
void KRClient::changeUserRole(const std::string& userId, const KRUserRole& newRole,
                              Completion completion) {
    core_->changeUserRole(userId, newRole, std::move(completion));
}
void KRClient::changeUserRole(const std::shared_ptr<KRMeetingUser>& user, const KRUserRole& newRole,
                              Completion completion) {
    core_->changeUserRole(user, newRole, std::move(completion));
}
void KRClient::updateUserCoHostRights(const std::shared_ptr<KRMeetingUser>& user, bool makeCoHost,
                                      Completion completion) {
    core_->updateUserCoHostRights(user, makeCoHost, std::move(completion));
}
void KRClient::stopUserScreenShare(const std::shared_ptr<KRMeetingUser>& user,
                                   Completion completion) {
    core_->stopUserScreenShare(user, std::move(completion));
}
void KRClient::shareScreenAPICall(Completion completion) {
    core_->shareScreenAPICall(std::move(completion));
}
void KRClient::stopLocalScreenShare() {
    core_->stopLocalScreenShare();
}
void KRClient::startWhitebboard(bool remote, const std::string& userName, const std::string& userId,
                                Completion completion) {
    core_->startWhitebboard(remote, userName, userId, std::move(completion));
}
void KRClient::stopWhiteboard(Completion completion) {
    core_->stopWhiteboard(std::move(completion));
}
std::string KRClient::whiteboardUrl() const {
    return core_->whiteboardUrl();
}
KRMeeting KRClient::getCurrentMeetingData() const {
    return core_->getCurrentMeetingData();
}
std::vector<std::shared_ptr<KRMeetingUser>> KRClient::getMeetingUsers() const {
    return core_->getMeetingUsers();
}
std::shared_ptr<KRMeetingUser> KRClient::getMeetingLocalUser() const {
    return core_->getMeetingLocalUser();
}
std::shared_ptr<KRMeetingUser> KRClient::getUser(const std::string& id) const {
    return core_->getUser(id);
}
KRApiServer KRClient::getServerEnvironment() const {
    return core_->getServerEnvironment();
}
const std::shared_ptr<KRRtcManger>& KRClient::rtcManager() const {
    return core_->rtcManager();
}
void KRClient::setAudioFilePathForUserJoin(const std::string& filePath) {
    core_->rtcManager()->setAudioFilePathForUserJoin(filePath);
}
void KRClient::setAudioFilePathForUserLeft(const std::string& filePath) {
    core_->rtcManager()->setAudioFilePathForUserLeft(filePath);
}
void KRClient::setVideoConfiguration(const KRRtcVideoEncoderConfig& videoEncoderConfig) {
    core_->rtcManager()->configureVideoEncoderConfiguration(videoEncoderConfig);
}
void KRClient::setLowQualityVideoStream(const KRRtcVideoEncoderConfig& lowQualityVideoConfig) {
    core_->rtcManager()->configureLowQualityVideoStream(lowQualityVideoConfig);
}
void KRClient::setUpDualStream(bool enable) {
    core_->rtcManager()->setUpDualStream(enable);
}
void KRClient::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    core_->applyVirtualBackground(background);
}
void KRClient::startPreview() {
    core_->mediaBackend().startPreview();
}
void KRClient::stopPreview() {
    core_->mediaBackend().stopPreview();
}
void KRClient::switchCamera() {
    core_->mediaBackend().switchCamera();
}
void KRClient::getVideoPreview(const std::shared_ptr<platform::View>& placeholderView) {
    core_->rtcManager()->setLocalCanvas(placeholderView);
    core_->rtcManager()->startPreview();
}
void KRClient::switchAudioDevice(KRAudioDeviceType type) {
    core_->mediaBackend().switchAudioDevice(type);
}
void KRClient::switchLocalUserRole(const KRUserRole& newRole) {
    asHostCall(core_, [&newRole](ClientCore& core) { core.switchLocalUserRole(newRole); });
}
void KRClient::subscribeRemoteUserAudio(const std::string& id) {
    core_->mediaBackend().subscribeRemoteMedia(true, id, true);
}
void KRClient::unsubscribeRemoteUserAudio(const std::string& id) {
    core_->mediaBackend().subscribeRemoteMedia(true, id, false);
}
void KRClient::subscribeRemoteUserVideo(const std::string& id) {
    core_->mediaBackend().subscribeRemoteMedia(false, id, true);
}
void KRClient::unsubscribeRemoteUserVideo(const std::string& id) {
    core_->mediaBackend().subscribeRemoteMedia(false, id, false);
}
void KRClient::setVideoStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) {
    core_->mediaBackend().setRemoteStreamQuality(quality, uid);
}
void KRClient::setRemoteUsersVolume(int value) {
    core_->rtcManager()->setRemoteUsersVolume(value);
}
void KRClient::blockRemoteAudioVideo(std::uint64_t uid) {
    core_->rtcManager()->blockRemoteAudioVideo(uid);
}
void KRClient::removeBlockedRemoteAudioVideo(std::uint64_t uid) {
    core_->rtcManager()->removeBlockedRemoteAudioVideo(uid);
}
bool KRClient::hasHeadphones(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasHeadphones(route);
}
bool KRClient::hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasBluetoothConnecte(route);
}
const std::shared_ptr<KRChatManager>& KRClient::chatClient() const {
    return core_->chatClient();
}

// The meeting chat is the chat manager's; the client only names the destination.

KRChatMessageList KRClient::getMainChatThreadMessages() const {
    return core_->chatClient()->getMainThreadChatMessages();
}

KRChatMessageList KRClient::getMeetingChatMessages() const {
    return getMainChatThreadMessages();
}

void KRClient::getMainChatThread(KRChatManager::ThreadCompletion completion) {
    core_->chatClient()->getMainChatThread(std::move(completion));
}

void KRClient::getChatThreadMessages(const std::string& threadId,
                                     KRChatManager::PageCompletion completion) {
    core_->chatClient()->getChatThreadMessages(threadId, std::move(completion));
}

void KRClient::getPrivateChatThread(const std::string& with,
                                    KRChatManager::ThreadCompletion completion) {
    core_->chatClient()->getPrivateChatThreadWithUser(with, std::move(completion));
}

void KRClient::getPrivateChatMessages(const std::string& userId,
                                      KRChatManager::PageCompletion completion) {
    core_->chatClient()->getPrivateChatMessages(userId, std::move(completion));
}

void KRClient::sendChatTextMessage(const std::string& message,
                                   KRChatManager::MessageCompletion completion) {
    core_->chatClient()->sendChatTextMessage(
        message, std::nullopt, KRChatMessageDestination::group(), std::move(completion));
}

void KRClient::sendPrivateChatTextMessage(const std::string& message, const std::string& userId,
                                          KRChatManager::MessageCompletion completion) {
    core_->chatClient()->sendChatTextMessage(
        message, std::nullopt, KRChatMessageDestination::user(userId), std::move(completion));
}

void KRClient::sendAttachmentMessage(const std::string& messageText, const std::string& fileID,
                                     const std::string& fileName, const std::string& fileSize,
                                     const std::string& fileURL,
                                     KRChatManager::MessageCompletion completion) {
    core_->chatClient()->sendChatTextMessage(
        messageText, KRSendAttachmentInfo(fileID, fileName, fileSize, fileURL),
        KRChatMessageDestination::group(), std::move(completion));
}

void KRClient::markReadMessages(const std::string& lastMessageId, const std::string& threadId,
                                KRChatManager::ReadCompletion completion) {
    core_->chatClient()->markReadMessages(lastMessageId, threadId, std::move(completion));
}

void KRClient::getAllActiveParticipants(KRChatManager::MembersCompletion completion) {
    core_->chatClient()->getChatActiveParticipants(std::move(completion));
}

void KRClient::addChatDelegate(const std::shared_ptr<KRChatClientDelegate>& delegate,
                               const std::string& identifier) {
    core_->chatClient()->addChatDelegate(delegate, identifier);
}

void KRClient::removeChatDelegate(const std::string& identifier) {
    core_->chatClient()->removeDelegate(identifier);
}

}  // namespace kr
