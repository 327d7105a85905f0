#include <algorithm>
#include <cmath>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Network/Utils/LocalIPAddress.h"
#include "KivRaneCoreSDK/Network/Requests/GetConfigurationRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomDetailsRequest.h"
#include "KivRaneCoreSDK/Network/Requests/GuestLoginRequest.h"
#include "KivRaneCoreSDK/Network/Requests/JoinCallRequest.h"
#include "KivRaneCoreSDK/Network/Requests/PostRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"
#include "KivRaneCoreSDK/Network/Enums/KRCurrentUserType.h"
#include "KivRaneCoreSDK/Network/Utils/DeviceId.h"
#include "platform/Defaults/UserDefaults.h"

namespace kr {

double ClientCore::pollingIntervalFor(double seconds) {
    // A polling storm (or a division of time by nothing) is worse than a slow poll.
    if (!std::isfinite(seconds) || seconds <= 0.0) {
        return kDefaultPollingSeconds;
    }
    return std::max(seconds, kMinimumPollingSeconds);
}

// ---- The join's steps ----

/// The server's part of a join as named steps run one after the other; each step calls its
/// `Done` with true to go on, or ends the join itself.
struct ClientCore::JoinSteps {
    using Done = std::function<void(bool)>;
    struct Step {
        const char* name;
        std::function<void(ClientCore&, Done)> run;
    };
    using List = std::shared_ptr<const std::vector<Step>>;

    /// Runs `steps` from `next` on while the join's session is joining.
    static void run(ClientCore& client, List steps, std::size_t next) {
        if (next >= steps->size()) return;
        const Step& step = (*steps)[next];
        const SessionToken session = client.sessionToken();
        std::weak_ptr<ClientCore> weak = client.weak_from_this();
        step.run(client, [weak, session, steps, next](bool ok) {
            // A step that failed already ended the join; a join that ended meanwhile (failed,
            // timed out, left, or replaced by a newer one) takes no further step.
            auto self = weak.lock();
            if (!ok || !self || !session.live() || !self->isJoining()) return;
            run(*self, steps, next + 1);
        });
    }

    /// Room details and login in the order the user asks for (both backends).
    static std::vector<Step> login(const ClientCore& client, bool signedIn) {
        const auto roomDetails = Step{"room details", [](ClientCore& c, Done done) {
                                          fetchRoomDetails(c, std::move(done));
                                      }};
        if (signedIn) {
            return {{"forwarded socket",
                     [](ClientCore& c, Done done) {
                         c.openForwardedSocket();
                         done(true);
                     }},
                    roomDetails};
        }
        const std::string hostToken = client.userRole_.getToken();
        if (hostToken.empty()) {
            return {roomDetails, {"guest login", [](ClientCore& c, Done done) {
                                      guestLogin(c, "", std::move(done));
                                  }}};
        }
        // A host proves itself at the login, so the room details are asked for as the host.
        return {{"host login",
                 [hostToken](ClientCore& c, Done done) {
                     guestLogin(c, hostToken, std::move(done));
                 }},
                roomDetails};
    }

    /// The configuration, then room details and login as a guest (the room engine's join), then
    /// the media channel (`thenMedia`).
    static List loginOnly(const ClientCore& client, std::function<void()> thenMedia) {
        std::vector<Step> steps = configurationAndLogin(client, false);
        steps.push_back({"media", [thenMedia = std::move(thenMedia)](ClientCore&, Done) {
                             if (thenMedia) thenMedia();
                         }});
        return std::make_shared<const std::vector<Step>>(std::move(steps));
    }

    /// The default engine's join: configuration, login, join call, first status post and fetch,
    /// chat, then the media channel (`thenMedia`).
    static List serverJoin(const ClientCore& client, std::function<void()> thenMedia) {
        std::vector<Step> steps = configurationAndLogin(client, !client.settings_.isGuestUserFlow);
        steps.push_back({"join call", [](ClientCore& c, Done done) {
                             joinCall(c, std::move(done));
                         }});
        steps.push_back({"status post", [](ClientCore& c, Done done) {
                             // The first report of the local user is part of the join: a refused
                             // one ends it.
                             c.connectedStatusSent_ = true;
                             c.sendJoinCall(c.roomSync_->makeStatusPost(OwnStatus::connected),
                                            KRJoinStep::statusPost, "Post Room Connection Status",
                                            [done = std::move(done)](ClientCore&, const auto&) {
                                                done(true);
                                            });
                         }});
        steps.push_back({"status fetch", [](ClientCore& c, Done done) {
                             c.roomSync_->fetchRoomStatus([done](bool) { done(true); });
                         }});
        steps.push_back({"chat", [](ClientCore& c, Done done) {
                             c.configureChatClient();
                             done(true);
                         }});
        steps.push_back({"media", [thenMedia = std::move(thenMedia)](ClientCore& c, Done) {
                             c.setGetPostConnectionTimer();
                             c.mediaJoinRequested();
                             if (thenMedia) thenMedia();
                         }});
        return std::make_shared<const std::vector<Step>>(std::move(steps));
    }

    static std::vector<Step> configurationAndLogin(const ClientCore& client, bool signedIn) {
        std::vector<Step> steps{{"configuration", [](ClientCore& c, Done done) {
                                     c.getConfigurations(std::move(done));
                                 }}};
        for (Step& step : login(client, signedIn)) steps.push_back(std::move(step));
        return steps;
    }
    static void fetchRoomDetails(ClientCore& client, Done done);
    static void guestLogin(ClientCore& client, const std::string& hostToken, Done done);
    static void joinCall(ClientCore& client, Done done);
};

// ---- The join entry ----

void ClientCore::joinMeeting(const KRJoinMeetingData& data, const KRJoinMeetingConfig& config,
                           std::weak_ptr<KRClientDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    if (session_ && session_->isActive()) {
        // One meeting at a time. A host switching rooms leaves and joins at once: that join
        // waits for the leave; any other is refused, and the meeting under way goes on.
        if (session_->state() == MeetingState::leaving && !joinAfterLeave_) {
            logger_.info("Join asked during the leave: it starts once the leave finished");
            joinAfterLeave_ = WaitingJoin{data, config, std::move(delegate)};
            return;
        }
        logger_.warn("Join refused: a meeting is still active or leaving");
        refuseJoin(std::move(delegate));
        return;
    }
    if (joinAfterLeave_) {
        // Asked from inside the left report, before the join that waited for the leave started:
        // this one is the host's later word.
        refuseJoin(std::exchange(joinAfterLeave_, std::nullopt)->delegate);
    }
    events_.setMainDelegate(std::move(delegate));
    pickMediaBackend();
    resetForJoin();
    currentRoom_.meetingId = data.meetingId();
    currentRoom_.meetingPin = data.meetingPin();
    currentRoom_.userDisplayName = data.displayName();
    userRole_ = config.userRole();
    const bool audience = userRole_.kind() == KRUserRole::Kind::audience;
    currentRoom_.setStartingMedia(audience, !audience && config.isInitialAudioOn(),
                                  !audience && config.isInitialVideoOn());

    // A new session: replies, timers and reports of every earlier join stop counting here.
    session_ = std::make_unique<MeetingSession>(queue_);
    addNotificationsObservers();
    std::weak_ptr<ClientCore> weak = weak_from_this();
    session_->armJoinTimeout(kJoinTimeout, [weak] {
        if (auto self = weak.lock()) self->failJoin(KRMeetingJoinError::other("timed out"));
    });

    mediaBackend().join(config);
}

void ClientCore::refuseJoin(std::weak_ptr<KRClientDelegate> delegate, const char* reason) {
    queue_->post([weak = weak_from_this(), delegate = std::move(delegate), reason] {
        if (!weak.lock()) return;
        if (auto d = delegate.lock()) MeetingEvents::sendJoinRefusedEvent(*d, reason);
    });
}

void ClientCore::startJoinWaitingForLeave() {
    if (!joinAfterLeave_) return;
    // Not inside the teardown: an engine may be reporting its leave from inside its own call.
    // The join stays waiting until the task runs, so that a leave asked before (from the left
    // report, or queued behind it) still gives it up.
    queue_->post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (!self || !self->joinAfterLeave_) return;
        const WaitingJoin join = std::move(*std::exchange(self->joinAfterLeave_, std::nullopt));
        self->joinMeeting(join.data, join.config, join.delegate);
    });
}

void ClientCore::runServerJoin(MeetingPort::ServerJoin part, std::function<void()> thenMedia) {
    if (part == MeetingPort::ServerJoin::allSteps && settings_.shouldByPassAPICalls) {
        // The settings carry the media credentials: no server call at all.
        mediaJoinRequested();
        if (thenMedia) thenMedia();
        return;
    }
    networkClient_->setDeviceId(getDeviceId(deps_));
    if (part == MeetingPort::ServerJoin::loginOnly) {
        // Configuration, then room details and login as a guest whoever the host app signed
        // in; the backend reports the local user to the server once the media joined.
        // A guest login of an earlier meeting left its token in the network client.
        networkClient_->setJwtToken(settings_.isGuestUserFlow ? "" : settings_.userJwtToken);
        JoinSteps::run(*this, JoinSteps::loginOnly(*this, std::move(thenMedia)), 0);
        return;
    }
    if (settings_.isGuestUserFlow) {
        networkClient_->setJwtToken("");
        networkClient_->setCurrentUserType(KRCurrentUserType::guest);
    } else {
        networkClient_->setJwtToken(settings_.userJwtToken);
        networkClient_->setCurrentUserType(KRCurrentUserType::loggedIn);
    }
    JoinSteps::run(*this, JoinSteps::serverJoin(*this, std::move(thenMedia)), 0);
}

void ClientCore::resetForJoin() {
    currentRoom_.resetMeetingState();
    // Left in place, an id, token, owner or title of the previous meeting would go into this
    // one's login and calls (a host's login naming the old room is refused). Only what the host
    // gave in the settings is carried from join to join.
    const ClientSettings::GivenIds& given = settings_.given;
    currentRoom_.roomID = given.roomID;
    currentRoom_.guestUserId = given.guestUserId;
    currentRoom_.userWebRtcId = given.userWebRtcId;
    currentRoom_.userWebRtcToken = given.userWebRtcToken;
    currentRoom_.userWebRtmToken = given.userWebRtmToken;
    meetingUsersManager_.clearAllData();
    localUserLeftReason_ = KRUserLeftReason::none();
    connectedStatusSent_ = false;
}

void ClientCore::completeLocalMediaJoin(const std::string& localId,
                                        std::function<void()> finished) {
    KR_DCHECK_RUN_ON(checker_);
    const auto finish = [finished = std::move(finished)] {
        if (finished) finished();
    };
    if (!isJoining()) {
        logger_.warn("Media join reported outside a join, ignored");
        finish();
        return;
    }
    if (localId.empty()) {
        failJoin(KRMeetingJoinError::other("The media channel did not confirm the local user"));
        finish();
        return;
    }
    if (localId != currentRoom_.userWebRtcId) {
        // The channel joined under another id than the room gave. Staying silent here would
        // leave the host waiting for a join that already happened: carry on under that id.
        if (!currentRoom_.userWebRtcId.empty()) {
            logger_.warn("Local uid \"" + currentRoom_.userWebRtcId +
                         "\" unknown to the media channel; using the confirmed uid " + localId);
        }
        currentRoom_.userWebRtcId = localId;
    }
    const SessionToken session = sessionToken();
    if (!mediaBackend().reportsToServerAfterMediaJoin()) {
        enterMeeting(session, finish);
        return;
    }
    // This backend tells the server of the local user only now: a refused post fails the join
    // (and leaves the media channel it already entered); the room's status, chat and polls
    // follow before the meeting starts.
    connectedStatusSent_ = true;
    send(roomSync_->makeStatusPost(OwnStatus::connected),
         [session, finish](ClientCore& client, const auto& result) {
             if (!session.live() || !client.isJoining()) {
                 // The join ended (timed out, or left) while the post was on its way; whatever
                 // ended it already asked the engine out of the channel.
                 finish();
                 return;
             }
             if (!replySucceeded(result)) {
                 client.failJoinAt(KRJoinStep::statusPost, "Post Room Connection Status", result);
                 finish();
                 return;
             }
             std::weak_ptr<ClientCore> weak = client.weak_from_this();
             client.roomSync_->fetchRoomStatus([weak, session, finish](bool) {
                 auto again = weak.lock();
                 if (!again || !session.live() || !again->isJoining()) {
                     // The join ended while the room's status was read: no meeting starts.
                     finish();
                     return;
                 }
                 again->configureChatClient();
                 again->setGetPostConnectionTimer();
                 again->enterMeeting(session, finish);
             });
         });
}

void ClientCore::enterMeeting(const SessionToken& session, const std::function<void()>& finished) {
    // The watchdog's first tick runs at once, inside this call.
    roomSync_->startWatchdog();
    if (session.live() && isJoining()) {
        mediaBackend().recordLocalParticipant();
        session_->reachMeeting();
        events_.sendLocalUserJoinMeetingEvent();
        // A hand raised during the join goes to the others now that they can hear it.
        roomSync_->tellHandOnceTaken();
    }
    finished();
}

void ClientCore::failJoin(const KRMeetingJoinError& error) {
    if (!isJoining()) {
        return;  // one failure per join
    }
    const bool mediaWasAsked = isAwaitingMediaJoin();
    MediaBackend& backend = mediaBackend();  // the meeting's, before the join stops being one
    if (std::exchange(connectedStatusSent_, false)) {
        // This join's connected status went out: the service lists the user as connected from
        // the moment it took it (perhaps before the answer, which may still be on its way)
        // until told otherwise.
        leaveServerWithoutWaiting();
    }
    endSession(MeetingSession::EndReason::joinFailed, [&] {
        removeNotificationsObservers();
        // The login already opened the room socket: a join that failed must not keep it
        // connected.
        releaseSocketManager();
        backend.cancelJoin(mediaWasAsked);
    });
    logger_.error("Join Meeting Error ::: " +
                  (error.message.empty() ? std::string("failed") : error.message));
    events_.sendJoinFailedEvent(error);
}

// ---- Server calls of the join ----

void ClientCore::getConfigurations(std::function<void(bool)> completion) {
    const SessionToken session = sessionToken();
    send(GetConfigurationRequest(settings_.osType),
         [session, completion = std::move(completion)](ClientCore& client,
                                                          const auto& result) {
             if (!result.ok()) {
                 client.logger_.error("Get Configuration Error ::: " +
                                      result.error().getMessageString());
                 if (session.live() && client.isJoining()) {
                     client.failJoin(joinErrorFor(KRJoinStep::configuration, result.error()));
                 }
                 completion(false);
                 return;
             }
             client.logger_.info("Get Configuration API Successfull");
             client.applyConfiguration(result.value());
             completion(true);
         });
}

void ClientCore::applyConfiguration(const KRConfiguration& configuration) {
    currentRoom_.webRtcAppId = configuration.webRtcAppId();
    settings_.termsConditionUrl = configuration.termsConditionUrl().value_or("");
    if (const auto v = configuration.userActiveSpeakerCallback()) settings_.userActiveSpeakerCallback = *v;
    if (const auto v = configuration.useLocalSpeakerSpeakingOnMuteCallback()) {
        settings_.useLocalSpeakerSpeakingOnMuteCallback = *v;
    }
    if (const auto v = configuration.activeSpeakerCallbackInterval()) {
        settings_.activeSpeakerCallbackInterval = *v;
    }
    if (const auto& elk = configuration.elkLogginCredentials()) {
        deps_.remoteLogger->configureLogger({.isEnable = elk->isEnabled(),
                                                  .level = static_cast<int>(elk->level()),
                                                  .entries = static_cast<int>(elk->batchSize()),
                                                  .apiTimeInterval = static_cast<int>(elk->timeOut()),
                                                  .platformKey = elk->index(),
                                                  .apiKey = elk->apiKey(),
                                                  .url = elk->url()});
    }
    settings_.highQualityVideoConfig = configuration.videoConfiguration();
    settings_.lowQualityVideoConfig = configuration.lowQualityVideoConfiguration();
    settings_.pollingAPITimeInterval = pollingIntervalFor(configuration.roomConnectionPollingTimeInSecs());
}

void ClientCore::JoinSteps::fetchRoomDetails(ClientCore& core, Done done) {
    const KRCurrentRoom& asked = core.currentRoom_;
    core.sendJoinCall(
        GetRoomDetailsRequest(asked.meetingId, asked.meetingPin, asked.guestUserId),
        KRJoinStep::roomDetails, "Get Room Details",
        [done = std::move(done)](ClientCore& client, const KRRoomDetails& details) {
            if (!mediaUidOf(details.rtcUID())) {
                // Joining as uid 0 would let the engine pick a uid nobody else knows us by.
                client.logger_.error("Get Room Details Error ::: unusable media uid \"" +
                                     details.rtcUID() + "\"");
                client.failJoin(KRMeetingJoinError::other("The room gave no usable media uid"));
                return;
            }
            KRCurrentRoom& room = client.currentRoom_;
            room.userWebRtcId = details.rtcUID();
            room.userWebRtcToken = details.rtcToken();
            room.userWebRtmToken = details.rtcRTMToken();
            room.roomID = details.roomID();
            room.meetingOwnerUserId =
                details.ownerDetails() ? details.ownerDetails()->getId().value_or("") : "";
            room.meetingOwnerName =
                details.ownerDetails() ? details.ownerDetails()->getFullName() : "";
            room.meetingTitle = details.topic();
            room.isHardMuteEnabled = details.isHardAudioMute();
            room.isAudioOnJoinAllowed = details.isParticipantAudioEnabledoOnJoin();
            room.isVideoOnJoinAllowed = details.isParticipantVideoEnabledoOnJoin();
            room.mediaEngine = details.mediaEngine();
            client.settings_.isWatermarkEnabled = details.isWatermarkEnabled().value_or(false);
            if (!client.settings_.isParticipantsLimitSetByHost) {
                // A reply without a limit sets none: a missing limit must not refuse every join.
                client.settings_.participantsLimit =
                    details.hasMaxParticipants()
                        ? std::optional<std::int64_t>(details.maxParticipants())
                        : std::nullopt;
            }
            if (!room.isAudioOnJoinAllowed) {
                room.isCurrentUserAudioMuted = true;
            }
            if (!room.isVideoOnJoinAllowed) {
                room.isCurrentUserVideoMuted = true;
            }
            if (client.settings_.participantsLimit &&
                details.speakerCount() >= *client.settings_.participantsLimit) {
                client.failJoin(KRMeetingJoinError::maxParticipantsLimit());
                return;
            }
            if (!client.settings_.currentAppGroupName.empty()) {
                if (auto suite = platform::UserDefaults::suite(client.settings_.currentAppGroupName,
                                                               client.deps_.storageDirectory)) {
                    suite->set("isKRMediaEngine",
                               boost::json::value(room.mediaEngine == KRRoomMediaEngine::krmedia));
                }
            }
            const bool isHost = client.userRole_.kind() == KRUserRole::Kind::host ||
                                room.isGuestHost;
            if (room.isHardMuteEnabled && !isHost) {
                room.isCurrentUserAudioMuted = true;
            }
            done(true);
        });
}

void ClientCore::JoinSteps::guestLogin(ClientCore& core, const std::string& hostToken,
                                       Done done) {
    const KRCurrentRoom& room = core.currentRoom_;
    core.sendJoinCall(GuestLoginRequest(room.meetingId, room.roomID, room.meetingPin,
                                          room.userDisplayName, hostToken),
                 KRJoinStep::guestLogin, "Guest Login",
                 [done = std::move(done)](ClientCore& client, const KRGuestLogin& login) {
                     client.currentRoom_.guestUserId = login.guestUserId();
                     client.currentRoom_.isGuestHost = login.isHost().value_or(false);
                     client.networkClient_->setJwtToken(login.jwtToken());
                     client.openGuestSocket(login.jwtToken());
                     done(true);
                 });
}

void ClientCore::JoinSteps::joinCall(ClientCore& core, Done done) {
    const KRCurrentRoom& room = core.currentRoom_;
    core.sendJoinCall(JoinCallRequest(room.meetingId, room.roomID, room.meetingPin,
                                        room.userDisplayName, room.meetingOwnerName,
                                        room.meetingOwnerUserId, room.meetingTitle,
                                        core.networkClient_->getJwtToken(),
                                        LocalIPAddress::getIPAddress()),
                 KRJoinStep::joinCall, "Join Call",
                 [done = std::move(done)](ClientCore& client, const KRJoinCall& joinCall) {
                     client.currentRoom_.historyId = joinCall.historyId;
                     done(true);
                 });
}

}  // namespace kr
