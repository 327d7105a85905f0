#include "KivRaneCoreSDK/Client/KRClient.h"

#include <algorithm>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Http/TlsSessionCache.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "platform/Notifications/NotificationCenter.h"

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
    if (!out.notifications) {
        out.notifications = processLifetime(platform::NotificationCenter::defaultCenter());
    }
    if (!out.contacts) out.contacts = processLifetime(ContactSyncManager::shared());
    if (!out.extensionNotifications) {
        out.extensionNotifications = processLifetime(platform::DarwinNotifyCenter::shared());
    }
    return out;
}

}  // namespace

std::shared_ptr<KRClient> KRClient::create(KRDependencies dependencies) {
    std::shared_ptr<KRClient> client(new KRClient(std::move(dependencies)));
    client->wireHooks();
    client->wireMessaging();
    client->wireEngine();
    return client;
}

KRClient::KRClient(KRDependencies dependencies)
    : deps_(withProcessDefaults(std::move(dependencies))), queue_(deps_.queue) {
    networkClient_ = KRNetworkClient::create(deps_);
    rtmManager_ = KRRtmManager::create(deps_);
}

KRClient::~KRClient() {
    // The session's time-out and timers go with it.
    removeNotificationsObservers();
}

void KRClient::wireHooks() {
    std::weak_ptr<KRClient> weak = weak_from_this();
    // The network client reports on the client's own queue.
    networkClient_->setOnNetworkStateChanged([weak](bool isConnected) {
        if (auto self = weak.lock()) {
            self->isNetworkConnected_ = isConnected;
            self->mediaBackend().networkStateChanged(isConnected);
        }
    });
    currentRoom_.onMeetingParticipantRemoved = [weak](const KRMeetingParticipant& participant) {
        if (auto self = weak.lock()) {
            if (auto panel = self->participantsListDelegate_.lock()) {
                panel->didParticipantRemoved(participant);
            }
        }
    };
    currentRoom_.onMeetingParticipantUpdate = [weak](const KRMeetingParticipant& participant) {
        if (auto self = weak.lock()) {
            if (auto panel = self->participantsListDelegate_.lock()) {
                panel->didParticipantUpserted(participant);
            }
        }
    };
    currentRoom_.onMeetingParticipantsRefreshed =
        [weak](const std::vector<KRMeetingParticipant>& participants) {
            if (auto self = weak.lock()) {
                if (auto panel = self->participantsListDelegate_.lock()) {
                    panel->didParticipantDataRefreshed(participants);
                }
            }
        };
    // The participant merge reports joins and leaves only with a backend whose participants it
    // holds; otherwise the engine reports them, and reporting both would tell the host twice.
    meetingUsersManager_.onNewUserJoined = [weak](const std::shared_ptr<KRMeetingUser>& user) {
        auto self = weak.lock();
        if (!self || !self->mediaBackend().participantsFromMerge()) return;
        // The local user's join is told by the end of the join itself.
        if (user->id() != self->meetingUsersManager_.getCurrentParticipantId()) {
            self->sendRemoteUserJoinMeetingEvent(user);
        }
    };
    meetingUsersManager_.onUserDataUpdated = [weak](const std::shared_ptr<KRMeetingUser>& user,
                                                    ParticipantUpdateType change) {
        auto self = weak.lock();
        if (!self || !self->mediaBackend().participantsFromMerge()) return;
        const bool isLocal = user->id() == self->meetingUsersManager_.getCurrentParticipantId();
        // Until the join is reported the local user's state is the join's starting state, not
        // a change the host could relate to anything.
        if (isLocal && self->isJoining()) return;
        switch (change) {
            case ParticipantUpdateType::audio:
                if (isLocal) {
                    self->sendLocalUserMicUpdateEvent();
                } else {
                    self->sendRemoteUserMicStatusUpdateEvent(user);
                }
                break;
            case ParticipantUpdateType::video:
                if (isLocal) {
                    self->sendLocalUserVideoUpdateEvent();
                } else {
                    self->sendRemoteUserVideoStatusUpdateEvent(user);
                }
                break;
            case ParticipantUpdateType::loudestVolume:
                // The engine's loudest report tells the host itself, once per report; the
                // mark it leaves on the merged users is no second word on it.
                break;
            case ParticipantUpdateType::handRaise:
                if (isLocal) {
                    self->sendLocalHandRaiseEvent();
                } else {
                    self->sendRemoteUserHandRaisedEvent(user);
                }
                break;
            default:
                break;
        }
    };
    meetingUsersManager_.onUserLeft = [weak](const std::shared_ptr<KRMeetingUser>& user) {
        auto self = weak.lock();
        if (!self || !self->mediaBackend().participantsFromMerge()) return;
        self->sendRemoteUserLeftMeetingEvent(user, KRUserLeftReason::leaveMeeting());
    };
}

void KRClient::onQueue(std::function<void(KRClient&)> task) {
    if (queue_->isCurrent()) {
        task(*this);
        return;
    }
    std::weak_ptr<KRClient> weak = weak_from_this();
    queue_->post([weak, task = std::move(task)] {
        if (auto self = weak.lock()) {
            task(*self);
        }
    });
}

// ---- Delegates ----

void KRClient::addDelegate(const std::string& identifier,
                           std::weak_ptr<KRClientDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    for (auto& entry : clientDelegates_) {
        if (entry.first == identifier) {
            entry.second = std::move(delegate);
            return;
        }
    }
    clientDelegates_.emplace_back(identifier, std::move(delegate));
}

void KRClient::removeDelegate(std::string_view identifier) {
    KR_DCHECK_RUN_ON(checker_);
    std::erase_if(clientDelegates_, [&](const auto& entry) { return entry.first == identifier; });
}

void KRClient::setParticipantsListDelegate(
    std::weak_ptr<KRParticipantsListUpdateDelegate> delegate) {
    participantsListDelegate_ = std::move(delegate);
}

void KRClient::forEachDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    // From a snapshot, so that a delegate may add or remove delegates while it is called.
    std::vector<std::shared_ptr<KRClientDelegate>> targets;
    if (auto main = delegate_.lock()) {
        targets.push_back(std::move(main));
    }
    for (const auto& entry : clientDelegates_) {
        if (auto extra = entry.second.lock()) {
            targets.push_back(std::move(extra));
        }
    }
    for (const auto& target : targets) {
        call(*target);
    }
}

void KRClient::forMainDelegate(const std::function<void(KRClientDelegate&)>& call) const {
    if (auto main = delegate_.lock()) {
        call(*main);
    }
}

// ---- Queries ----

KRMeeting KRClient::getCurrentMeetingData() const {
    KRMeeting meeting(currentRoom_.meetingId, currentRoom_.meetingPin, currentRoom_.meetingTitle,
                      mediaBackend().mediaTracks(), getMeetingLocalUser(), currentRoom_.isHardMuteEnabled,
                      currentRoom_.meetingOwnerName, currentRoom_.isMeetingLocked);
    meeting.setIsRecordingOn(currentRoom_.isRecordingOn);
    meeting.setIsWhiteboardShared(currentRoom_.isWhiteboardShared);
    return meeting;
}

std::vector<std::shared_ptr<KRMeetingUser>> KRClient::getMeetingUsers() const {
    return mediaBackend().meetingUsers();
}

std::shared_ptr<KRMeetingUser> KRClient::getMeetingLocalUser() const {
    return mediaBackend().localUser();
}

std::shared_ptr<KRMeetingUser> KRClient::getUser(const std::string& id) const {
    // Answered from where the backend's participants live, so that getUser agrees with
    // getMeetingUsers.
    return mediaBackend().user(id);
}

std::shared_ptr<KRMeetingUser> KRClient::userById(const std::optional<std::string>& id) const {
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

KRApiServer KRClient::getServerEnvironment() const {
    return networkClient_->getServerEnvironMent();
}

}  // namespace kr
