#include "KivRaneCoreSDK/Meeting/RoomSync.h"

#include <algorithm>
#include <utility>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/Meeting/ServerReply.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "KivRaneCoreSDK/Network/Requests/GetRoomConnectionRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantAudioRequest.h"
#include "KivRaneCoreSDK/Network/Requests/MuteParticipantVideoRequest.h"

namespace kr {

namespace {

bool isOffline(const KRCurrentRoom& room, const std::string& participantId) {
    const auto& offline = room.offlineParticipantsIds;
    return std::find(offline.begin(), offline.end(), participantId) != offline.end();
}

/// How the service answered a send of the local state: a refusal (an error status of its own)
/// means it did not take the send; any other failure may have lost it on the way.
LocalStateSends::Answer answerTo(const RoomSync::Acknowledgement& result) {
    if (result.ok()) return LocalStateSends::Answer::taken;
    return result.error().kind() == KRApiRequestError::Kind::failedApi
               ? LocalStateSends::Answer::refused
               : LocalStateSends::Answer::lost;
}

}  // namespace

std::shared_ptr<RoomSync> RoomSync::create(std::weak_ptr<Owner> owner,
                                           std::shared_ptr<platform::DispatchQueue> queue,
                                           std::shared_ptr<LogCollector> logCollector) {
    return std::shared_ptr<RoomSync>(
        new RoomSync(std::move(owner), std::move(queue), std::move(logCollector)));
}

RoomSync::RoomSync(std::weak_ptr<Owner> owner, std::shared_ptr<platform::DispatchQueue> queue,
                   std::shared_ptr<LogCollector> logCollector)
    : owner_(std::move(owner)),
      queue_(std::move(queue)),
      logger_("krclient", std::move(logCollector)),
      hand_(queue_) {}

RoomSync::~RoomSync() {
    resyncDue_.cancel();
    holdsQuestionDue_.cancel();
}

// ---- The own status and the room's ----

PostRoomConnectionRequest RoomSync::makeStatusPost(OwnStatus status) const {
    const auto owner = owner_.lock();
    if (!owner) return PostRoomConnectionRequest({});
    const KRCurrentRoom& room = owner->room();
    return PostRoomConnectionRequest({.meetingID = room.meetingId,
                                      .roomID = room.roomID,
                                      .meetingPIN = room.meetingPin,
                                      .historyID = room.historyId,
                                      .userUid = room.userWebRtcId,
                                      .userName = room.userDisplayName,
                                      .isAudioMuted = room.isCurrentUserAudioMuted,
                                      .isVideoMuted = room.isCurrentUserVideoMuted,
                                      .isSharingScreen = false,
                                      .isHandRaised = room.isCurrentUserHandRaised,
                                      .isConnected = status != OwnStatus::disconnected,
                                      .isPolling = status == OwnStatus::polling,
                                      .isUserAudience = owner->isLocalUserInAudienceMode(),
                                      .deviceId = owner->deviceId()});
}

void RoomSync::postOwnStatus(OwnStatus status, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || !owner->allowsRoomCall("Post Room Connection Status", completion)) return;
    sendStatusPost(makeStatusPost(status), std::move(completion));
}

void RoomSync::sendStatusPost(const PostRoomConnectionRequest& post, Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    owner->send(post,
                [weak = weak_from_this(), completion = std::move(completion)](
                    const Acknowledgement& result) {
                    const bool ok = replySucceeded(result);
                    if (auto self = weak.lock()) {
                        if (ok) {
                            self->logger_.info("Post Room Connection Status API Successfull");
                            self->serviceAnswered(Answered::post);
                        } else {
                            self->logger_.error("Post Room Connection Status Error ::: " +
                                                replyErrorMessage(result));
                        }
                    }
                    if (completion) completion(ok);
                });
}

void RoomSync::fetchRoomStatus(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || !owner->allowsRoomCall("Get Room Connection Status", completion)) return;
    MeetingSession* session = owner->session();
    const MeetingSession::Token token = session ? session->token() : MeetingSession::Token{};
    const KRCurrentRoom& room = owner->room();
    const Asked asked{++roomQuestions_, room.whiteboardStops(), room.recordingWords()};
    owner->send(GetRoomConnectionRequest(room.meetingId, room.roomID, room.meetingPin),
                [weak = weak_from_this(), token, asked, completion = std::move(completion)](
                    const RoomStatusReply& result) {
                    auto self = weak.lock();
                    if (!result.ok()) {
                        if (self) {
                            self->logger_.error("Get Room Connection Status Error ::: " +
                                                result.error().getMessageString());
                        }
                        if (completion) completion(false);
                        return;
                    }
                    if (self) {
                        self->logger_.info("Get Room Connection Status API Successfull");
                        // A reply to a question asked before a leave or another join describes
                        // a meeting the client is no longer in.
                        if (self->takesRoomNews(token)) {
                            self->applyRoomStatus(result.value(), asked);
                        }
                        self->serviceAnswered(Answered::fetch);
                    }
                    if (completion) completion(true);
                });
}

bool RoomSync::takesRoomNews(const MeetingSession::Token& session) const {
    const auto owner = owner_.lock();
    if (!owner || !session.live()) return false;
    const MeetingSession* current = owner->session();
    return current && current->state() != MeetingSession::State::leaving;
}

std::function<std::shared_ptr<RoomSync>()> RoomSync::whileTakingNews(
    const MeetingSession::Token& session) {
    return [weak = weak_from_this(), session] {
        auto self = weak.lock();
        return self && self->takesRoomNews(session) ? self : nullptr;
    };
}

void RoomSync::listenTo(KRWebSocketManager& socket, const MeetingSession::Token& session) {
    KR_DCHECK_RUN_ON(checker_);
    // A push concerns the meeting being joined or in progress. Like a status reply, one that
    // arrives once the leave has begun, or after a failed join (forwarded frames keep coming as
    // long as the host app sends them), changes nothing.
    const auto syncForNews = whileTakingNews(session);
    socket.onRequestToRefreshMeetingData = [syncForNews] {
        if (auto self = syncForNews()) self->fetchRoomStatus({});
    };
    socket.onUserLeftMeeting = [syncForNews](const std::string& userId) {
        if (auto self = syncForNews()) self->applyUserLeft(userId);
    };
    socket.onRequestToUpdateParticipantsLists =
        [syncForNews](const std::vector<KRMeetingParticipant>& participants) {
            if (auto self = syncForNews()) self->applyParticipantRecords(participants);
        };
    const auto recording = [syncForNews](bool on) {
        if (auto self = syncForNews()) {
            if (const auto owner = self->owner_.lock()) {
                owner->recordingChanged(on, std::nullopt);
            }
        }
    };
    socket.onRecordingStarted = [recording] { recording(true); };
    socket.onRecordingStopped = [recording] { recording(false); };
}

// ---- Polls and watchdog ----

void RoomSync::startPolling(platform::Clock::duration interval) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session) return;
    // The polls keep the meeting in progress going. From the start of a leave they stay quiet:
    // a connected post would undo the leave's disconnected one when it reached the service later,
    // and the room's status no longer changes anything here. A post answered after its meeting
    // ended asks nothing of the next one.
    const auto polling = whileTakingNews(session->token());
    session->startPolling(
        interval,
        [polling] {
            if (auto self = polling()) self->fetchRoomStatus({});
        },
        [polling] {
            auto self = polling();
            if (!self) return;
            self->postPoll([polling](bool) {
                if (auto again = polling()) again->fetchRoomStatus({});
            });
        });
}

void RoomSync::postPoll(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || !owner->allowsRoomCall("Post Room Connection Status", completion)) return;
    if (localStateOnItsWay()) {
        // Handled after the change, its role would undo a move the change posted.
        if (completion) completion(false);
        return;
    }
    MeetingSession* session = owner->session();
    const MeetingSession::Token token = session ? session->token() : MeetingSession::Token{};
    const LocalStateSends::Id send =
        sends_.sent(token, {.inAudience = owner->isLocalUserInAudienceMode()});
    sendStatusPost(makeStatusPost(OwnStatus::polling),
                   [weak = weak_from_this(), send, completion = std::move(completion)](bool ok) {
                       if (auto self = weak.lock()) {
                           // A poll is never lost state: the next one goes anyway.
                           self->sends_.answered(send, ok ? LocalStateSends::Answer::taken
                                                          : LocalStateSends::Answer::lost);
                           self->localStateSettled();
                       }
                       if (completion) completion(ok);
                   });
}

void RoomSync::startWatchdog() {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session) return;
    ticksWithoutNetwork_ = 0;
    skipNextSocketStart_ = false;
    session->startWatchdog(kWatchdogInterval, [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->watchdogTick();
    });
}

void RoomSync::networkStateChanged(bool isConnected) {
    KR_DCHECK_RUN_ON(checker_);
    const bool cameBack = isConnected && !isNetworkConnected_;
    isNetworkConnected_ = isConnected;
    // A try that fell due while the network was gone goes with its return. The wait before the
    // next one keeps growing: a network that comes and goes must not bring the service a post
    // at each return.
    if (cameBack && resyncWaitsIn_.live() && std::exchange(resyncHeld_, false)) {
        resyncWaitsIn_ = {};
        resyncLocalState();
    }
}

void RoomSync::watchdogTick() {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    if (!isNetworkConnected_) {
        ++ticksWithoutNetwork_;
        if (ticksWithoutNetwork_ >= 2) {
            owner->stopSocketService();
        }
        skipNextSocketStart_ = true;
        return;
    }
    ticksWithoutNetwork_ = 0;
    if (skipNextSocketStart_) {
        // Give the network one tick to settle after it came back.
        skipNextSocketStart_ = false;
        return;
    }
    owner->startSocketService();
}

// ---- Local state changes ----

void RoomSync::sendMicrophoneChange(bool muted) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    const KRCurrentRoom& room = owner->room();
    sendLocalStateChange(
        MuteParticipantAudioRequest(room.meetingId, room.roomID, room.userWebRtcId, muted),
        {.microphoneMuted = muted});
}

void RoomSync::sendCameraChange(bool muted) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    const KRCurrentRoom& room = owner->room();
    sendLocalStateChange(
        MuteParticipantVideoRequest(room.meetingId, room.roomID, room.userWebRtcId, muted),
        {.cameraMuted = muted});
}

void RoomSync::postLocalState() {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    hand_.wholeStatePosted();
    sendLocalStateChange(makeStatusPost(OwnStatus::connected), wholeState(*owner));
}

LocalStateSends::Carried RoomSync::wholeState(Owner& owner) {
    const KRCurrentRoom& room = owner.room();
    return {.handRaised = room.isCurrentUserHandRaised,
            .microphoneMuted = room.isCurrentUserAudioMuted,
            .cameraMuted = room.isCurrentUserVideoMuted,
            .inAudience = owner.isLocalUserInAudienceMode()};
}

void RoomSync::sendLocalStateChange(const KRAPIRequest<KRAPISuccess>& request,
                                    const LocalStateSends::Carried& carried) {
    const auto owner = owner_.lock();
    if (!owner || owner->bypassesServer()) return;  // nobody to tell, and nothing to lose
    MeetingSession* session = owner->session();
    const MeetingSession::Token token = session ? session->token() : MeetingSession::Token{};
    const LocalStateSends::Id send = sends_.sent(token, carried);
    owner->send(request, [weak = weak_from_this(), token, send](const Acknowledgement& result) {
        auto self = weak.lock();
        if (!self) return;
        // A refusal is the service's answer to this change; any other failure means the change
        // never arrived, and the app already shows it.
        const LocalStateSends::Answer answer = answerTo(result);
        self->sendAnswered(send, answer);
        // The service may have answered a fetch asked before this before it took the change. A
        // late answer of an ended meeting's change says nothing of the next meeting's records.
        if (token.live()) self->lastQuestionBeforeChangeAnswered_ = self->roomQuestions_;
        const bool lost = answer == LocalStateSends::Answer::lost;
        if (replySucceeded(result)) self->serviceAnswered(Answered::post);
        if (lost && token.live()) {
            self->logger_.warn("Local state change lost: " + replyErrorMessage(result));
            self->localStateLost(token);
        }
        self->localStateSettled();
        self->tellHandOnceTaken();
    });
}

void RoomSync::sendAnswered(LocalStateSends::Id id, LocalStateSends::Answer answer) {
    const std::optional<LocalStateSends::Carried> carried = sends_.answered(id, answer);
    const auto owner = owner_.lock();
    const MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session) return;
    hand_.sendAnswered(session->token(), carried, answer, owner->room().isCurrentUserHandRaised);
}

void RoomSync::tellHandOnceTaken() {
    const auto owner = owner_.lock();
    const MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session || session->state() != MeetingSession::State::inMeeting) return;
    hand_.newsOf(session->token());
    const bool raised = owner->room().isCurrentUserHandRaised;
    if (hand_.tell(raised, sends_, hasLostLocalState())) owner->announceLocalHand(raised);
}

bool RoomSync::localStateOnItsWay() const { return sends_.onTheirWay(); }

void RoomSync::localStateSettled() {
    // A lost change is posted again whole anyway.
    if (localStateOnItsWay() || hasLostLocalState()) return;
    const auto owner = owner_.lock();
    const MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session || session->state() != MeetingSession::State::inMeeting) {
        sends_.takeCrossed();
        return;
    }
    const LocalHand::Next next = hand_.next(sends_.crossed());
    if (next == LocalHand::Next::askFirst) {
        hand_.settle();
        askAboutLocalHand();  // its answer settles again
        return;
    }
    if (next == LocalHand::Next::awaitAnswer) return;
    const LocalStateSends::Crossed crossed = sends_.takeCrossed();
    if (next == LocalHand::Next::sendCrossed) {
        logger_.info("Local state sent again after crossing sends");
        // Only the whole status carries the hand and the role, and it carries the media as well.
        // A question that waits waits for these answers too.
        if (crossed.hand || crossed.role) {
            postLocalState();
        } else {
            const KRCurrentRoom& room = owner->room();
            if (crossed.microphone) sendMicrophoneChange(room.isCurrentUserAudioMuted);
            if (crossed.camera) sendCameraChange(room.isCurrentUserVideoMuted);
        }
    } else if (next == LocalHand::Next::postWaiting) {
        postLocalState();
    } else if (next == LocalHand::Next::awaitOwnPush) {
        awaitOwnPush();
    }
}

void RoomSync::awaitOwnPush() {
    hand_.awaitOwnPush([weak = weak_from_this()](const MeetingSession::Token& meeting) {
        auto self = weak.lock();
        if (!self || !self->hand_.ownPushWaitPassed(meeting)) return;
        // A change on its way or lost settles again once answered, or speaks for the hand.
        if (self->localStateOnItsWay() || self->hasLostLocalState()) return;
        self->hand_.settle();
        self->askAboutLocalHand();
    });
}

void RoomSync::postLocalRole() {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || !owner->allowsRoomCall("Post Room Connection Status", {})) return;
    if (owner->bypassesServer()) {
        // The room engine logs in even with media credentials, and reports the role all the
        // same; nothing is posted again without the service, so nothing is kept as lost.
        sendStatusPost(makeStatusPost(OwnStatus::connected), {});
        return;
    }
    const MeetingSession* session = owner->session();
    if (session && session->state() == MeetingSession::State::inMeeting && hand_.inDoubt()) {
        // Her hand may be the one a host's command just replaced at the service: the move waits
        // for the question's answer, and carries it.
        hand_.postWaits(session->token());
        localStateSettled();
        return;
    }
    postLocalState();
}

bool RoomSync::hasLostLocalState() const { return lostIn_.live(); }

void RoomSync::changeLocalHand(bool raised, HandChange by) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    // The room's own flag first: the status posts carry it.
    const bool wasRaised = std::exchange(owner->room().isCurrentUserHandRaised, raised);
    if (!owner->markLocalHand(raised)) return;
    const MeetingSession* session = owner->session();
    if (session) hand_.newsOf(session->token());
    // Without the service no send will carry the app's change: the message is all the others get.
    const bool toldNow = by == HandChange::byApp && owner->bypassesServer();
    hand_.changed(wasRaised, raised, by, toldNow);
    if (by != HandChange::byHostLowerAll) owner->reportLocalHandLater();
    if (toldNow) {
        owner->announceLocalHand(raised);
    } else if (by == HandChange::byApp || (by == HandChange::byHostLowerAll && wasRaised)) {
        // A hand a lower-all left up at the service would come back with the next reply.
        postLocalState();
    }
}

void RoomSync::localStateLost(const MeetingSession::Token& session) {
    // Only the current meeting's token is live, and `session` is.
    if (!hasLostLocalState()) {
        // The first loss of this meeting: whatever an earlier meeting left is forgotten.
        lostIn_ = session;
        hand_.settle();
        resyncAttempts_ = 0;
        fetchCutAWait_ = false;
    }
    ++localStateFailures_;
    scheduleResync();
}

void RoomSync::scheduleResync() {
    if (resyncInFlightIn_.live() || resyncWaitsIn_.live()) return;
    // Whatever an ended meeting left waiting ends with it.
    resyncDue_.cancel();
    resyncHeld_ = false;
    resyncWaitsIn_ = lostIn_;
    ++resyncAttempts_;
    resyncDue_ = queue_->postAfter(backOff_.delay(resyncAttempts_), [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->resyncWaitsIn_ = {};
            self->resyncLocalState();
        }
    });
}

void RoomSync::serviceAnswered(Answered call) {
    if (call == Answered::post) fetchCutAWait_ = false;
    // The service answers again: a lost change need not sit out the rest of its wait.
    if (!resyncWaitsIn_.live() || resyncHeld_) return;
    if (call == Answered::fetch && std::exchange(fetchCutAWait_, true)) return;
    resyncDue_.cancel();
    resyncWaitsIn_ = {};
    resyncLocalState();
}

void RoomSync::resyncLocalState() {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || !hasLostLocalState() || resyncInFlightIn_.live() || owner->bypassesServer()) {
        return;
    }
    const MeetingSession* session = owner->session();
    if (!session || session->state() == MeetingSession::State::leaving) return;
    if (!isNetworkConnected_) {
        // Nothing goes out without the network: the try waits for its return.
        resyncWaitsIn_ = lostIn_;
        resyncHeld_ = true;
        return;
    }
    if (session->state() != MeetingSession::State::inMeeting) {
        scheduleResync();
        return;
    }
    const MeetingSession::Token token = lostIn_;
    resyncInFlightIn_ = token;
    hand_.wholeStatePosted();
    const LocalStateSends::Id send = sends_.sent(token, wholeState(*owner));
    const std::uint64_t failures = localStateFailures_;
    // The full state, not the lost change alone: later changes may have been lost as well.
    owner->send(
        makeStatusPost(OwnStatus::connected),
        [weak = weak_from_this(), token, send, failures](const Acknowledgement& result) {
            auto self = weak.lock();
            if (!self) return;
            self->sendAnswered(send, answerTo(result));
            // The post of an ended meeting held nothing of the next one, and has nothing to do.
            if (!token.live()) return;
            self->resyncInFlightIn_ = {};
            if (!replySucceeded(result) || self->localStateFailures_ != failures) {
                // Still down, or a newer change was lost while this one was under way.
                self->scheduleResync();
                return;
            }
            self->logger_.info("Local state posted again");
            self->lastQuestionBeforeChangeAnswered_ = self->roomQuestions_;
            self->lostIn_ = {};
            self->resyncAttempts_ = 0;
            self->fetchCutAWait_ = false;
            self->localStateSettled();
            self->tellHandOnceTaken();
        });
}

bool RoomSync::isStaleLocalRecord(Owner& owner, const KRMeetingParticipant& participant,
                                  std::uint64_t question) const {
    // While a local change is on its way, in a reply to a fetch asked before its answer, and
    // until a lost one is posted again, the service's record of the local user is older than
    // what the app was told.
    const bool changeUnheard =
        hasLostLocalState() || (question != 0 && question <= lastQuestionBeforeChangeAnswered_) ||
        localStateOnItsWay();
    return changeUnheard && isLocalParticipant(owner, participant.participantId);
}

bool RoomSync::isLocalParticipant(Owner& owner, const std::string& participantId) {
    return !participantId.empty() &&
           (participantId == owner.room().userWebRtcId ||
            participantId == owner.participantMerge().getCurrentParticipantId());
}

// ---- The service's records ----

void RoomSync::applyRoomStatus(const KRRoomConnectionStatus& status, const Asked& asked) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    KRCurrentRoom& room = owner->room();
    // Only the reply speaks for the whole room: a push carries participant records alone.
    owner->recordingChanged(status.isRecording,
                            asked.recordingWords.value_or(room.recordingWords()));
    room.isHardMuteEnabled = status.isRoomAudioHardMuted;

    applyParticipantRecords(status.participants, RecordSource::roomStatusReply, asked);

    // The sharer goes by the name the participant list shows for it.
    const std::string sharerName = owner->nameToShow(status.sharingUserAccountId,
                                                     status.screenOrWhiteBoardSharingUserName);
    if (status.isScreenShared) {
        if (const auto uid = status.screenSharedObjectUid()) {
            const bool known = std::any_of(
                room.screenShareMetaData.begin(), room.screenShareMetaData.end(),
                [&](const KRScreenShareInfo& info) { return info.trackID() == *uid; });
            if (!known) {
                room.screenShareMetaData.insert(
                    room.screenShareMetaData.begin(),
                    KRScreenShareInfo(*uid, status.screenOrWhiteBoardSharingUserId, sharerName));
            }
        }
    }
    owner->participantMerge().setScreenShareTrackInfos(room.screenShareMetaData);

    const bool boardStoppedSinceAsked =
        asked.whiteboardStops && *asked.whiteboardStops != room.whiteboardStops();
    if (status.isWhiteBoardShared && !room.isWhiteboardShared && !boardStoppedSinceAsked) {
        owner->startRemoteWhiteboard(sharerName, status.screenOrWhiteBoardSharingUserId);
    }
    owner->roomStatusApplied();
}

void RoomSync::applyParticipantRecords(std::vector<KRMeetingParticipant> records,
                                       RecordSource source, const Asked& asked) {
    KR_DCHECK_RUN_ON(checker_);
    const std::uint64_t question = source == RecordSource::roomStatusReply ? asked.question : 0;
    const auto owner = owner_.lock();
    if (!owner) return;
    std::erase_if(records, [&](const KRMeetingParticipant& participant) {
        if (!isStaleLocalRecord(*owner, participant, question)) return false;
        // Another hand in it may still be the service's own change (a host's lower-all this
        // client did not hear): asked about once the local state settled. After a loss the
        // whole state's post speaks for the hand instead.
        const MeetingSession* session = owner->session();
        if (session && !hasLostLocalState()) {
            hand_.setAside(session->token(), participant.isHandRaise,
                           owner->room().isCurrentUserHandRaised);
        }
        return true;
    });
    // Set aside from a reply asked before the last answer, the record waits for nothing more.
    if (hand_.questionWaits() && !localStateOnItsWay()) localStateSettled();
    for (auto& participant : records) {
        if (isLocalParticipant(*owner, participant.participantId)) {
            takeLocalRecord(*owner, participant, source);
        }
    }
    KRCurrentRoom& room = owner->room();
    const bool toMerge = owner->recordsGoToMerge();
    if (!toMerge) {
        // Where the engine brings the participants, it alone moves them between the audience and
        // the speakers: a record shows the role the list shows.
        for (auto& participant : records) {
            if (const auto user = room.matchingUser(participant.participantId)) {
                participant.participantType = user->isSpeaker()
                                                  ? KRMeetingParticipantType::speaker
                                                  : KRMeetingParticipantType::audience;
            }
        }
    }
    const MeetingSession* session = owner->session();
    const auto askAt = holds_.applyTo(
        records, remoteUsers(*owner),
        {.question = question,
         .meeting = session ? session->token() : MeetingSession::Token{},
         .at = queue_->clock()->now(),
         .questionsAsked = roomQuestions_});
    if (askAt) askOnceHoldsPassed(*askAt);
    for (auto& participant : records) {
        participant.participantName =
            owner->nameToShow(participant.userId, std::move(participant.participantName));
    }
    MeetingParticipantsManager& merge = owner->participantMerge();
    // First the records: the room store's list (a push's records go to the panel one by one, a
    // status reply's do not) and the merge, which reports only where it holds the
    // participants. A participant the engine saw leave stays out until the engine brings it
    // back: a record the service has not updated yet must not put it back in the panel. The
    // offline ids are read afresh, as the hooks may change them.
    for (const auto& participant : records) {
        if (isOffline(room, participant.participantId)) continue;
        room.updateParticipantsList(participant, source == RecordSource::roomSocketPush
                                                     ? KRCurrentRoom::PanelNotice::tell
                                                     : KRCurrentRoom::PanelNotice::silent);
        merge.upsertParticipantMetaData(participant,
                                        {.reportChanges = toMerge, .keepRecord = true});
    }
    // Then the users, once every record is in. Where the engine makes the users, a record only
    // names one the engine brought; the store itself leaves offline ids alone.
    for (const auto& participant : records) {
        if (toMerge || room.matchingUser(participant.participantId)) {
            room.upsertNewParticipantFromKivDB(participant);
        }
    }
}

void RoomSync::takeLocalRecord(Owner& owner, KRMeetingParticipant& record, RecordSource source) {
    const bool otherHand = record.isHandRaise != owner.room().isCurrentUserHandRaised;
    if (source == RecordSource::roomStatusReply) {
        const MeetingSession* session = owner.session();
        const bool started = session && session->state() == MeetingSession::State::inMeeting;
        if (otherHand && started) {
            // The flag changes with the lists, or the next push, own post or merge would bring
            // the old hand back. Before the records, so that the merge finds nothing to report.
            changeLocalHand(record.isHandRaise, HandChange::byService);
        } else if (otherHand) {
            // Until the meeting starts the hand is the one the join posts; the service's word on
            // it counts from then on.
            record.isHandRaise = owner.room().isCurrentUserHandRaised;
        }
        // Values that crossed and wait to go again may be the older send's at the service, and a
        // post that waits carries newer ones: the record shows the client's until they went.
        if (sends_.crossed().any() || hand_.postWaiting()) keepLocalState(owner, record);
        return;
    }
    // A push does not say when the service composed it: one composed before a local change
    // reached the service may come after the change's answer, and after later replies. The local
    // user's own state in it stays the client's; the rest of the record (rights, name) counts as
    // usual. Another hand in it may also be the service's own change (a host's lower-all the
    // client did not hear): a reply, ordered against the local changes, tells which.
    const auto showed = hand_.pushShowed(record.isHandRaise, owner.room().isCurrentUserHandRaised);
    if (showed == LocalHand::PushShowed::otherHand) askAboutLocalHand();
    if (showed == LocalHand::PushShowed::settledDoubt) tellHandOnceTaken();
    keepLocalState(owner, record);
}

void RoomSync::askAboutLocalHand() {
    const auto owner = owner_.lock();
    const MeetingSession* session = owner ? owner->session() : nullptr;
    const MeetingSession::Token token = session ? session->token() : MeetingSession::Token{};
    if (!hand_.ask(token)) return;
    fetchRoomStatus([weak = weak_from_this(), token](bool replied) {
        auto self = weak.lock();
        if (!self) return;
        const LocalHand::Answered answered = self->hand_.answered(token, replied);
        if (answered == LocalHand::Answered::askAgain) {
            self->askAboutLocalHand();
        } else if (answered == LocalHand::Answered::failed) {
            self->awaitOwnPush();  // asked again after the wait, unless a push settles it
        } else if (answered == LocalHand::Answered::settled) {
            self->localStateSettled();
            self->tellHandOnceTaken();
        }
    });
}

void RoomSync::engineReportedRole(const std::string& participantId) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner || participantId.empty()) return;
    holdRemote(meetingUser(*owner, participantId), ParticipantHolds::Field::inAudience);
}

void RoomSync::holdAnnouncedHand(const std::shared_ptr<KRMeetingUser>& user) {
    KR_DCHECK_RUN_ON(checker_);
    holdRemote(user, ParticipantHolds::Field::handRaised);
}

void RoomSync::holdRemote(const std::shared_ptr<KRMeetingUser>& user,
                          ParticipantHolds::Field field) {
    const auto owner = owner_.lock();
    MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session || !user || isLocalParticipant(*owner, user->id())) return;
    holds_.hold(session->token(), user,
                {.field = field, .questionsAsked = roomQuestions_, .at = queue_->clock()->now()});
}

void RoomSync::askOnceHoldsPassed(platform::Clock::time_point at) {
    const auto owner = owner_.lock();
    MeetingSession* session = owner ? owner->session() : nullptr;
    if (!session) return;
    if (holdsQuestionAt_ && *holdsQuestionAt_ >= at && holdsQuestionIn_.sameSession(session->token())) {
        return;
    }
    holdsQuestionDue_.cancel();
    holdsQuestionAt_ = at;
    holdsQuestionIn_ = session->token();
    holdsQuestionDue_ = queue_->postAt(
        at, [weak = weak_from_this(), syncForNews = whileTakingNews(session->token())] {
            if (auto self = weak.lock()) self->holdsQuestionAt_.reset();
            const auto self = syncForNews();
            const auto meeting = self ? self->owner_.lock() : nullptr;
            // Her next change's message, or a host's lower-all, may have shown what the pushes
            // set aside showed: nothing is left to ask then.
            if (meeting && self->holds_.takeDoubts(remoteUsers(*meeting))) {
                self->fetchRoomStatus({});
            }
        });
}

void RoomSync::keepLocalState(Owner& owner, KRMeetingParticipant& record) {
    const KRCurrentRoom& room = owner.room();
    record.isHandRaise = room.isCurrentUserHandRaised;
    record.isMicOn = !room.isCurrentUserAudioMuted;
    record.isVideoOn = !room.isCurrentUserVideoMuted;
    record.participantType = owner.isLocalUserInAudienceMode() ? KRMeetingParticipantType::audience
                                                               : KRMeetingParticipantType::speaker;
}

ParticipantHolds::CurrentUser RoomSync::remoteUsers(Owner& owner) {
    return [&owner](const std::string& participantId) {
        return isLocalParticipant(owner, participantId) ? nullptr
                                                        : meetingUser(owner, participantId);
    };
}

std::shared_ptr<KRMeetingUser> RoomSync::meetingUser(Owner& owner,
                                                     const std::string& participantId) {
    return owner.recordsGoToMerge() ? owner.participantMerge().getMeetingUser(participantId)
                                    : owner.room().matchingUser(participantId);
}

void RoomSync::applyUserLeft(const std::string& userId) {
    KR_DCHECK_RUN_ON(checker_);
    const auto owner = owner_.lock();
    if (!owner) return;
    if (const auto record = owner->room().reportUserLeft(userId)) {
        // A media uid outlives its login: a participant back under the same uid is a new login,
        // and a late frame about the old one must not take it away again.
        MeetingParticipantsManager& merge = owner->participantMerge();
        const auto user = merge.getMeetingUser(record->participantId);
        if (user && user->userId() == userId) {
            merge.removeParticipantData(record->participantId, false);
        }
    }
    // Whether or not anyone matched, the service has the full picture.
    fetchRoomStatus({});
}

}  // namespace kr
