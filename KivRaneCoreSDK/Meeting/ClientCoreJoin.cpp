#include <algorithm>
#include <cmath>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ClientCoreRequests.h"
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

// ---- The join entry ----

void ClientCore::joinMeeting(const KRJoinMeetingData& data, const KRJoinMeetingConfig& config,
                           std::weak_ptr<KRClientDelegate> delegate) {
    KR_DCHECK_RUN_ON(checker_);
    if (session_ && session_->isActive()) {
        logger_.warn("Join ignored: a meeting is already joined or being joined");
        return;
    }
    events_.setMainDelegate(std::move(delegate));
    pickMediaBackend();
    resetForJoin();
    currentRoom_.meetingId = data.meetingId();
    currentRoom_.meetingPin = data.meetingPin();
    currentRoom_.userDisplayName = data.displayName();
    userRole_ = config.userRole();
    const bool audience = userRole_.kind() == KRUserRole::Kind::audience;
    isLocalUserInAudienceMode_ = audience;
    isInitialAudioOn_ = !audience && config.isInitialAudioOn();
    isInitialVideoOn_ = !audience && config.isInitialVideoOn();
    currentRoom_.isCurrentUserInAudienceMode = audience;
    currentRoom_.isCurrentUserAudioMuted = !isInitialAudioOn_;
    currentRoom_.isCurrentUserVideoMuted = !isInitialVideoOn_;

    // A new session: replies, timers and reports of every earlier join stop counting here.
    session_ = std::make_unique<MeetingSession>(queue_);
    addNotificationsObservers();
    std::weak_ptr<ClientCore> weak = weak_from_this();
    session_->armJoinTimeout(kJoinTimeout, [weak] {
        if (auto self = weak.lock()) self->failJoin(KRMeetingJoinError::other("timed out"));
    });

    mediaBackend().join(config);
}

void ClientCore::runServerJoin(MeetingPort::ServerJoin part, std::function<void()> thenMedia) {
    if (part == MeetingPort::ServerJoin::wholeRoad && settings_.shouldByPassAPICalls) {
        // The settings carry the media credentials: no server call at all.
        mediaJoinRequested();
        if (thenMedia) thenMedia();
        return;
    }
    networkClient_->setDeviceId(getDeviceId(deps_));
    if (part == MeetingPort::ServerJoin::loginOnly) {
        // Configuration, then room details and login as a guest whoever the host app signed
        // in; the road reports the local user to the server once the media joined.
        if (settings_.isGuestUserFlow) {
            networkClient_->setJwtToken("");
        }
        std::vector<JoinStep> steps{{"configuration", [](ClientCore& c, JoinStepDone done) {
                                         c.getConfigurations(std::move(done));
                                     }}};
        for (JoinStep& step : loginSteps(false)) steps.push_back(std::move(step));
        steps.push_back({"media", [thenMedia = std::move(thenMedia)](ClientCore&, JoinStepDone) {
                             if (thenMedia) thenMedia();
                         }});
        runJoinSteps(std::make_shared<const std::vector<JoinStep>>(std::move(steps)), 0);
        return;
    }
    if (settings_.isGuestUserFlow) {
        networkClient_->setJwtToken("");
        networkClient_->setCurrentUserType(KRCurrentUserType::guest);
    } else {
        networkClient_->setJwtToken(settings_.userJwtToken);
        networkClient_->setCurrentUserType(KRCurrentUserType::loggedIn);
    }
    runJoinSteps(serverJoinSteps(std::move(thenMedia)), 0);
}

void ClientCore::resetForJoin() {
    currentRoom_.resetMeetingState();
    meetingUsersManager_.clearAllData();
    localUserLeftReason_ = KRUserLeftReason::none();
}

// ---- The join's steps ----

void ClientCore::runJoinSteps(std::shared_ptr<const std::vector<JoinStep>> steps, std::size_t next) {
    if (next >= steps->size()) return;
    const JoinStep& step = (*steps)[next];
    const SessionToken session = sessionToken();
    std::weak_ptr<ClientCore> weak = weak_from_this();
    step.run(*this, [weak, session, steps, next](bool ok) {
        // A step that failed already ended the join; a join that ended meanwhile (failed,
        // timed out, left, or replaced by a newer one) takes no further step.
        auto self = weak.lock();
        if (!ok || !self || !session.live() || !self->isJoining()) return;
        self->runJoinSteps(steps, next + 1);
    });
}

std::vector<ClientCore::JoinStep> ClientCore::loginSteps(bool signedIn) const {
    const auto roomDetails = JoinStep{"room details", [](ClientCore& c, JoinStepDone done) {
                                          c.getRoomDetailsAPICall(std::move(done));
                                      }};
    if (signedIn) {
        return {{"forwarded socket",
                 [](ClientCore& c, JoinStepDone done) {
                     c.openForwardedSocket();
                     done(true);
                 }},
                roomDetails};
    }
    const std::string hostToken = userRole_.getToken();
    if (hostToken.empty()) {
        return {roomDetails, {"guest login", [](ClientCore& c, JoinStepDone done) {
                                  c.handleGuestLogin("", std::move(done));
                              }}};
    }
    // A host proves itself at the login, so the room details are asked for as the host.
    return {{"host login",
             [hostToken](ClientCore& c, JoinStepDone done) {
                 c.handleGuestLogin(hostToken, std::move(done));
             }},
            roomDetails};
}

std::shared_ptr<const std::vector<ClientCore::JoinStep>> ClientCore::serverJoinSteps(
    std::function<void()> thenMedia) const {
    std::vector<JoinStep> steps{{"configuration", [](ClientCore& c, JoinStepDone done) {
                                     c.getConfigurations(std::move(done));
                                 }}};
    for (JoinStep& step : loginSteps(!settings_.isGuestUserFlow)) steps.push_back(std::move(step));
    steps.push_back({"join call", [](ClientCore& c, JoinStepDone done) {
                         c.joinCallAPI(std::move(done));
                     }});
    steps.push_back({"status post", [](ClientCore& c, JoinStepDone done) {
                         c.postJoinStatus(std::move(done));
                     }});
    steps.push_back({"status fetch", [](ClientCore& c, JoinStepDone done) {
                         c.roomSync_->fetchRoomStatus([done](bool) { done(true); });
                     }});
    steps.push_back({"chat", [](ClientCore& c, JoinStepDone done) {
                         c.configureChatClient();
                         done(true);
                     }});
    steps.push_back({"media", [thenMedia = std::move(thenMedia)](ClientCore& c, JoinStepDone) {
                         c.setGetPostConnectionTimer();
                         c.mediaJoinRequested();
                         if (thenMedia) thenMedia();
                     }});
    return std::make_shared<const std::vector<JoinStep>>(std::move(steps));
}

void ClientCore::postJoinStatus(JoinStepDone done) {
    // The first report of the local user is part of the join: a refused one ends it.
    sendJoinCall(roomSync_->makeStatusPost(OwnStatus::connected, currentRoom_.isCurrentUserHandRaised),
                 KRJoinStep::statusPost, "Post Room Connection Status",
                 [done = std::move(done)](ClientCore&, const auto&) { done(true); });
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
    // This road tells the server of the local user only now: a refused post fails the join
    // (and leaves the media channel it already entered); the room's status, chat and polls
    // follow before the meeting starts.
    send(roomSync_->makeStatusPost(OwnStatus::connected, currentRoom_.isCurrentUserHandRaised),
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
    startConnectionCheckTimer();
    if (session.live() && isJoining()) {
        mediaBackend().recordLocalParticipant();
        session_->reachMeeting();
        events_.sendLocalUserJoinMeetingEvent();
    }
    finished();
}

void ClientCore::failJoin(const KRMeetingJoinError& error) {
    if (!isJoining()) {
        return;  // one failure per join
    }
    const bool mediaWasAsked = isAwaitingMediaJoin();
    MediaBackend& backend = mediaBackend();  // the meeting's, before the join stops being one
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

// ---- Server calls of the join road ----

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

void ClientCore::getRoomDetailsAPICall(JoinStepDone done) {
    sendJoinCall(
        GetRoomDetailsRequest(currentRoom_.meetingId, currentRoom_.meetingPin,
                              currentRoom_.guestUserId),
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
                client.isInitialAudioOn_ = false;
                room.isCurrentUserAudioMuted = true;
            }
            if (!room.isVideoOnJoinAllowed) {
                client.isInitialVideoOn_ = false;
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
                client.isInitialAudioOn_ = false;
                room.isCurrentUserAudioMuted = true;
            }
            done(true);
        });
}

void ClientCore::handleGuestLogin(const std::string& hostToken, JoinStepDone done) {
    sendJoinCall(GuestLoginRequest(currentRoom_.meetingId, currentRoom_.roomID,
                                   currentRoom_.meetingPin, currentRoom_.userDisplayName,
                                   hostToken),
                 KRJoinStep::guestLogin, "Guest Login",
                 [done = std::move(done)](ClientCore& client, const KRGuestLogin& login) {
                     client.currentRoom_.guestUserId = login.guestUserId();
                     client.currentRoom_.isGuestHost = login.isHost().value_or(false);
                     client.networkClient_->setJwtToken(login.jwtToken());
                     client.openGuestSocket(login.jwtToken());
                     done(true);
                 });
}

void ClientCore::joinCallAPI(JoinStepDone done) {
    const KRCurrentRoom& room = currentRoom_;
    sendJoinCall(JoinCallRequest(room.meetingId, room.roomID, room.meetingPin,
                                 room.userDisplayName, room.meetingOwnerName,
                                 room.meetingOwnerUserId, room.meetingTitle,
                                 networkClient_->getJwtToken(), LocalIPAddress::getIPAddress()),
                 KRJoinStep::joinCall, "Join Call",
                 [done = std::move(done)](ClientCore& client, const KRJoinCall& joinCall) {
                     client.currentRoom_.historyId = joinCall.historyId;
                     done(true);
                 });
}

}  // namespace kr
