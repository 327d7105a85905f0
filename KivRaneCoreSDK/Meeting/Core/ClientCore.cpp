#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

#include "KivRaneCoreSDK/Meeting/Core/ClientCorePort.h"
#include "KivRaneCoreSDK/Meeting/Backends/DefaultEngine/DefaultEngineBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"

#include <algorithm>

#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"
#include "platform/Media/MediaEngineFactory.h"

namespace kr {

std::shared_ptr<ClientCore> ClientCore::create(KRDependencies dependencies) {
    std::shared_ptr<ClientCore> client(new ClientCore(std::move(dependencies)));
    client->makeRoomSync();
    client->wireHooks();
    return client;
}

ClientCore::ClientCore(KRDependencies dependencies)
    : deps_(std::move(dependencies)), queue_(deps_.queue) {
    networkClient_ = KRNetworkClient::create(deps_);
    // A first run makes the device identity and stores it durably, which takes milliseconds:
    // done now rather than on the first join's way to its first call.
    getDeviceId(deps_);
    // One engine factory, shared by both backends' engines.
    const auto engineFactory =
        std::make_shared<platform::MediaEngineFactory>(deps_.mediaBus, queue_);
    port_ = std::make_unique<Port>(*this);
    defaultEngineBackend_ = std::make_shared<DefaultEngineBackend>(*port_, deps_, engineFactory);
    roomEngineBackend_ = std::make_shared<RoomEngineBackend>(*port_, deps_, engineFactory);
}

ClientCore::~ClientCore() {
    // The session's time-out and timers go with it.
    removeNotificationsObservers();
}

void ClientCore::wireHooks() {
    std::weak_ptr<ClientCore> weak = weak_from_this();
    // The network client reports on the client's own queue.
    networkClient_->setOnNetworkStateChanged([weak](bool isConnected) {
        if (auto self = weak.lock()) {
            self->roomSync_->networkStateChanged(isConnected);
            self->mediaBackend().networkStateChanged(isConnected);
        }
    });
    // The participant merge reports joins and leaves only with a backend whose participants it
    // holds; otherwise the engine reports them, and reporting both would tell the host twice.
    meetingUsersManager_.onNewUserJoined = [weak](const std::shared_ptr<KRMeetingUser>& user) {
        auto self = weak.lock();
        if (!self || !self->participantsInMerge()) return;
        // The local user's join is told by the end of the join itself.
        if (user->id() != self->meetingUsersManager_.getCurrentParticipantId()) {
            self->events().sendRemoteUserJoinMeetingEvent(user);
        }
    };
    meetingUsersManager_.onUserDataUpdated = [weak](const std::shared_ptr<KRMeetingUser>& user,
                                                    ParticipantUpdateType change) {
        auto self = weak.lock();
        if (!self || !self->participantsInMerge()) return;
        const bool isLocal = user->id() == self->meetingUsersManager_.getCurrentParticipantId();
        // Until the join is reported the local user's state is the join's starting state, not
        // a change the host could relate to anything.
        if (isLocal && self->isJoining()) return;
        switch (change) {
            case ParticipantUpdateType::audio:
                if (isLocal) {
                    self->events().sendLocalUserMicUpdateEvent();
                } else {
                    self->events().sendRemoteUserMicStatusUpdateEvent(user);
                }
                break;
            case ParticipantUpdateType::video:
                if (isLocal) {
                    self->events().sendLocalUserVideoUpdateEvent();
                } else {
                    self->events().sendRemoteUserVideoStatusUpdateEvent(user);
                }
                break;
            case ParticipantUpdateType::loudestVolume:
                // The engine's loudest report tells the host itself, once per report; the
                // mark it leaves on the merged users is no second word on it.
                break;
            case ParticipantUpdateType::handRaise:
                if (isLocal) {
                    self->events().sendLocalHandRaiseEvent();
                } else {
                    self->events().sendRemoteUserHandRaisedEvent(user);
                }
                break;
            default:
                break;
        }
    };
    // Where the room store holds the participants, its hands and roles are told from there
    // alone; the local user's have their own reports.
    const auto remoteInStore = [weak](const std::shared_ptr<KRMeetingUser>& user) {
        auto self = weak.lock();
        return self && !self->participantsInMerge() &&
                       user->id() != self->currentRoom_.userWebRtcId
                   ? self
                   : nullptr;
    };
    currentRoom_.onHandChanged = [remoteInStore](const std::shared_ptr<KRMeetingUser>& user) {
        if (auto self = remoteInStore(user)) self->events().sendRemoteUserHandRaisedEvent(user);
    };
    currentRoom_.onRoleChanged = [remoteInStore](const std::shared_ptr<KRMeetingUser>& user) {
        auto self = remoteInStore(user);
        if (!self) return;
        if (user->isSpeaker()) {
            self->events().sendRemoteUserMovedToParticipants(user);
        } else {
            self->events().sendRemoteUserMovedToAudienceEvent(user);
        }
    };
    meetingUsersManager_.onUserLeft = [weak](const std::shared_ptr<KRMeetingUser>& user,
                                             const KRUserLeftReason& reason) {
        auto self = weak.lock();
        if (!self || !self->participantsInMerge()) return;
        self->events().sendRemoteUserLeftMeetingEvent(user, reason);
    };
}

std::function<void()> ClientCore::actionOnQueue(void (*action)(ClientCore&)) {
    return [weak = weak_from_this(), queue = queue_, action] {
        queue->post([weak, action] {
            if (auto self = weak.lock()) action(*self);
        });
    };
}

// ---- Queries ----

KRMeeting ClientCore::getCurrentMeetingData() const {
    KRMeeting meeting(currentRoom_.meetingId, currentRoom_.meetingPin, currentRoom_.meetingTitle,
                      mediaBackend().mediaTracks(), getMeetingLocalUser(), currentRoom_.isHardMuteEnabled,
                      currentRoom_.meetingOwnerName, currentRoom_.isMeetingLocked);
    meeting.setIsRecordingOn(currentRoom_.isRecordingOn);
    meeting.setIsWhiteboardShared(currentRoom_.isWhiteboardShared);
    return meeting;
}

std::vector<std::shared_ptr<KRMeetingUser>> ClientCore::getMeetingUsers() const {
    return mediaBackend().meetingUsers();
}

std::shared_ptr<KRMeetingUser> ClientCore::getMeetingLocalUser() const {
    return mediaBackend().localUser();
}

std::shared_ptr<KRMeetingUser> ClientCore::getUser(const std::string& id) const {
    // Answered from where the backend's participants live, so that getUser agrees with
    // getMeetingUsers.
    return mediaBackend().user(id);
}

std::shared_ptr<KRMeetingUser> ClientCore::userById(const std::optional<std::string>& id) const {
    if (!id || id->empty()) {
        return nullptr;
    }
    for (const auto& user : getMeetingUsers()) {
        if (user->id() == *id) {
            return user;
        }
    }
    return nullptr;
}

KRApiServer ClientCore::getServerEnvironment() const {
    return networkClient_->getServerEnvironMent();
}

// ---- The media backend ----

void ClientCore::pickMediaBackend() {
    const auto kind = nextJoinBackend_;
    meetingBackend_ = backendFactory_ ? backendFactory_(kind, *port_) : nullptr;
    if (!meetingBackend_) {
        meetingBackend_ = kind == MediaBackend::Kind::roomEngine
                              ? std::shared_ptr<MediaBackend>(roomEngineBackend_)
                              : std::shared_ptr<MediaBackend>(defaultEngineBackend_);
    }
}

void ClientCore::sendControlMessage(ControlMessage kind, const std::shared_ptr<KRMeetingUser>& target,
                                    Completion completion, const std::string& reactionsType) {
    mediaBackend().sendControlMessage(kind, target, std::move(completion), reactionsType);
}

const std::shared_ptr<KRRtcManger>& ClientCore::rtcManager() const {
    return defaultEngineBackend_->wrapper();
}
RoomEngineBackend& ClientCore::roomEngine() const { return *roomEngineBackend_; }
const std::set<std::uint64_t>& ClientCore::pendingStreamQuestions() const {
    return defaultEngineBackend_->pendingStreamQuestions();
}
const std::shared_ptr<KRRtmManager>& ClientCore::rtmManager() const {
    return defaultEngineBackend_->messaging();
}

MediaBackend& ClientCore::mediaBackend() const {
    if (meetingBackend_ && hasActiveSession()) return *meetingBackend_;
    if (nextJoinBackend_ == MediaBackend::Kind::roomEngine) return *roomEngineBackend_;
    return *defaultEngineBackend_;
}

}  // namespace kr
