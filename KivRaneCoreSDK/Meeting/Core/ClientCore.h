#pragma once

#include <boost/json/object.hpp>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Meeting/ControlMessages/IncomingControlMessages.h"
#include "KivRaneCoreSDK/Meeting/ControlMessages/KRControlMessage.h"
#include "KivRaneCoreSDK/Chat/KRChatManager.h"
#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "KivRaneCoreSDK/Meeting/KRMeetingJoinError.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/MediaBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"
#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Meeting/MeetingSession.h"
#include "KivRaneCoreSDK/Meeting/RoomSync.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientSettings.h"
#include "KivRaneCoreSDK/Meeting/ScreenShareExtensionNames.h"
#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"
#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"
#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingConfig.h"
#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingData.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"
#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Common/RetryBackOff.h"
#include "KivRaneCoreSDK/Logger/KivRaneRealTimeLogger2.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

class DefaultEngineBackend;
class KRNetworkClient;
class KRRtcManger;
class KRRtmManager;
class KRWebSocketManager;
class RoomEngineBackend;

/// Everything behind the `KRClient` the host app holds: settings, the join, the meeting's
/// operations and every report to the host app through `KRClientDelegate`. Owns the room store, the
/// participant merge, one network client and its logger ("krclient") for its whole life. Library
/// code and tests reach it; the host app only through `KRClient`. Threading: confined to the queue
/// of its dependencies; every host call, completion, timer and callback runs there. Completions
/// hold the client weakly: after it is gone they do nothing.
class ClientCore : public std::enable_shared_from_this<ClientCore>, public ScreenShareExtensionNames {
public:
    using Completion = std::function<void(bool success)>;

    /// A join that has not reached the meeting after this long ends with other("timed out").
    static constexpr std::chrono::seconds kJoinTimeout{60};
    /// A leave asks the media engine out of its channel once the server answered the leave and
    /// the disconnected status, or after this long without their answers.
    static constexpr std::chrono::seconds kLeaveServerWait{3};
    /// A leave finishes this long after the media engine was asked out of its channel, even
    /// when the engine never reports leaving it.
    static constexpr std::chrono::seconds kLeaveReportWait{3};
    /// The room status polling interval when the configuration gives no usable one.
    static constexpr double kDefaultPollingSeconds = ClientSettings::kDefaultPollingSeconds;
    /// No configuration can make the polls more frequent than this.
    static constexpr double kMinimumPollingSeconds = 1.0;

    /// `dependencies` must be complete: `KRClient::create` fills in every member left empty.
    static std::shared_ptr<ClientCore> create(KRDependencies dependencies);

    /// The polling interval a configured value stands for: zero, negative or not finite gives the
    /// default, and nothing below the minimum.
    static double pollingIntervalFor(double configuredSeconds);
    ~ClientCore();
    ClientCore(const ClientCore&) = delete;
    ClientCore& operator=(const ClientCore&) = delete;

    // The host calls, documented on `KRClient`, which forwards each one here unchanged; then
    // what library code and tests use.

    // ---- Settings ----

    void setParameters(const boost::json::object& params);

    // ---- Delegates and every report to them ----

    MeetingEvents& events() { return events_; }
    const MeetingEvents& events() const { return events_; }

    // ---- Join and leave ----

    void joinMeeting(const KRJoinMeetingData& data, const KRJoinMeetingConfig& config,
                     std::weak_ptr<KRClientDelegate> delegate);
    /// The host app's leave: the later word, so a join waiting for the leave under way is given
    /// up (see `KRClient::leaveMeeting`).
    void leaveMeeting(KRUserLeftReason reason);
    /// Leaves the meeting under way, if any (a removal by the meeting's host); a join the host
    /// app asked for meanwhile still waits for it.
    void leaveCurrentMeeting(KRUserLeftReason reason);

    // ---- Local user ----

    void muteLocalAudio(bool isMute);
    void muteLocalVideo(bool isMute);
    void raiseHand();
    void lowerHand();

    // ---- Host controls: the server first; the others are told only after it agreed ----

    void lockMeeting(Completion completion = {});
    void unLockMeeting(Completion completion = {});
    void startRecording(Completion completion = {});
    void stopRecording(Completion completion = {});
    void hardMuteUnmuteUsersAudio(bool isMute, Completion completion = {});
    void softMuteUsersAudio(Completion completion = {});
    void lowerAllUsersHands(Completion completion = {});
    void changeUserAudioState(const std::string& userId, bool isOn, Completion completion = {});
    void changeUserVideoState(const std::string& userId, bool isOn, Completion completion = {});
    void removeUserFromMeeting(const std::string& userId, Completion completion = {});
    void removeUserFromMeeting(const std::shared_ptr<KRMeetingUser>& user,
                               Completion completion = {});
    void changeUserRole(const std::string& userId, const KRUserRole& newRole,
                        Completion completion = {});
    void changeUserRole(const std::shared_ptr<KRMeetingUser>& user, const KRUserRole& newRole,
                        Completion completion = {});
    void updateUserCoHostRights(const std::shared_ptr<KRMeetingUser>& user, bool makeCoHost,
                                Completion completion = {});
    void stopUserScreenShare(const std::shared_ptr<KRMeetingUser>& user,
                             Completion completion = {});

    // ---- Local screen share (with the broadcast extension) ----

    void shareScreenAPICall(Completion completion = {});
    void stopLocalScreenShare();
    LocalScreenShare& localScreenShare() { return localScreenShare_; }
    const LocalScreenShare& localScreenShare() const { return localScreenShare_; }

    // ---- Whiteboard ----

    void startWhitebboard(bool remote, const std::string& userName, const std::string& userId,
                          Completion completion = {});
    void stopWhiteboard(Completion completion = {});
    std::string whiteboardUrl() const;

    // ---- Queries ----

    KRMeeting getCurrentMeetingData() const;
    std::vector<std::shared_ptr<KRMeetingUser>> getMeetingUsers() const;
    std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const;
    std::shared_ptr<KRMeetingUser> getUser(const std::string& id) const;
    KRApiServer getServerEnvironment() const;

    KRCurrentRoom& currentRoom() { return currentRoom_; }
    const KRCurrentRoom& currentRoom() const { return currentRoom_; }
    MeetingParticipantsManager& meetingUsersManager() { return meetingUsersManager_; }
    const std::shared_ptr<KRNetworkClient>& networkClient() const { return networkClient_; }

    /// Which backend the next join picks: the room's engine (true) or the default one. A meeting
    /// keeps the backend its join picked; outside a meeting the setting applies at once.
    bool isMultiMediaEngineIntegration() const {
        return nextJoinBackend_ == MediaBackend::Kind::roomEngine;
    }
    void setMultiMediaEngineIntegration(bool value) {
        nextJoinBackend_ = value ? MediaBackend::Kind::roomEngine : MediaBackend::Kind::defaultEngine;
    }
    /// The media backend of the current meeting, from its join until it ended; outside a meeting
    /// the one the next join picks.
    MediaBackend& mediaBackend() const;
    /// True on the room engine's backend: the participant merge holds the meeting's participants
    /// and its changes are what the host hears; otherwise the room store holds them.
    bool participantsInMerge() const {
        return mediaBackend().kind() == MediaBackend::Kind::roomEngine;
    }
    /// Makes the backend of each following join (tests put a stand-in here); empty: the client's
    /// own.
    void setMediaBackendFactory(MediaBackendFactory factory) { backendFactory_ = std::move(factory); }
    const ClientSettings& settings() const { return settings_; }
    // Read from the room store, which alone holds them: from the join on, as they stand now.
    bool isLocalUserInAudienceMode() const { return currentRoom_.isCurrentUserInAudienceMode; }
    bool isInitialAudioOn() const { return !currentRoom_.isCurrentUserAudioMuted; }
    bool isInitialVideoOn() const { return !currentRoom_.isCurrentUserVideoMuted; }
    const KRUserLeftReason& localUserLeftReason() const { return localUserLeftReason_; }
    using MeetingState = MeetingSession::State;
    /// Where the meeting of the latest join is; `ended` before the first join.
    MeetingState meetingState() const { return session_ ? session_->state() : MeetingState::ended; }
    /// True from the start of a join until it reached the meeting, failed or was left.
    bool isJoining() const { return session_ && session_->isJoining(); }
    /// True once the server calls of the join are done and the join waits for the media channel.
    bool isAwaitingMediaJoin() const { return meetingState() == MeetingState::awaitingMedia; }
    bool hasPollingTimers() const { return session_ && session_->hasPollingTimers(); }
    bool hasConnectionCheckTimer() const { return session_ && session_->hasWatchdog(); }

    // ---- Media engines (the host's other engine calls go from `KRClient` to the backends) ----

    const std::shared_ptr<KRRtcManger>& rtcManager() const;
    /// The client's own room engine backend (never the stand-in a factory made).
    RoomEngineBackend& roomEngine() const;
    void applyVirtualBackground(const KRVirtualBackgroundType& background);
    void switchLocalUserRole(const KRUserRole& newRole);
    /// Remote streams whose kind is still being asked of the server.
    const std::set<std::uint64_t>& pendingStreamQuestions() const;

    // ---- Called by the engine and messaging wiring ----

    /// The join's media channel was asked to join (its server part, if any, is done): the join now
    /// awaits the channel's confirmation. Nothing outside the server part of a join.
    void mediaJoinRequested() { if (session_) session_->awaitMedia(); }

    /// The one join end of both backends (see `MeetingPort::completeLocalMediaJoin`): an id other
    /// than the room's local id becomes the local id (logged); an empty one fails the join.
    void completeLocalMediaJoin(const std::string& localId, std::function<void()> finished = {});
    /// The one teardown of both backends (see `MeetingPort::handleLocalMediaLeft`): ends the
    /// session, releases what the meeting held, and reports the leave once.
    void handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason = {});
    /// Ends the join with this failure (once per join).
    void failJoin(const KRMeetingJoinError& error);

    /// The room's sync with the service: own status posts, status fetches, the records' applier.
    using OwnStatus = RoomSync::OwnStatus;
    RoomSync& roomSync() { return *roomSync_; }

private:
    /// The messages the facade sends to the others in the meeting.
    using ControlMessage = KRControlMessage;

    explicit ClientCore(KRDependencies dependencies);
    void wireHooks();
    /// The published streams' encoder settings: the server's, else ours; the low stream only when
    /// the server enables it.
    KRRtcVideoEncoderConfig highQualityEncoderSettings() const;
    std::optional<KRRtcVideoEncoderConfig> lowQualityEncoderSettings() const;
    /// True from a join until its meeting ended: the meeting's backend answers.
    bool hasActiveSession() const { return session_ && session_->isActive(); }

    /// Sends a control message through the meeting's backend.
    void sendControlMessage(ControlMessage message, const std::shared_ptr<KRMeetingUser>& target,
                            Completion completion, const std::string& reactionsType = {});
    void startSocketService();
    void stopSocketService();

    // Join
    /// The server's part of a join, asked by the meeting's backend (see `MeetingPort`).
    void runServerJoin(MeetingPort::ServerJoin part, std::function<void()> thenMedia);
    /// The join end once the media and, on a backend that posts afterwards, the server agreed: the
    /// watchdog, the local record, the meeting reached and reported.
    void enterMeeting(const MeetingSession::Token& session, const std::function<void()>& finished);
    /// The join's server steps (ClientCoreJoin.cpp).
    struct JoinSteps;
    void getConfigurations(std::function<void(bool)> completion);
    void applyConfiguration(const KRConfiguration& configuration);
    void resetForJoin();
    /// Fails a join asked while another meeting is still active (or given up for a later leave,
    /// `reason`), on that join's own delegate, as a task of its own.
    void refuseJoin(std::weak_ptr<KRClientDelegate> delegate,
                    const char* reason = KRMeetingJoinError::kMeetingStillActive);
    /// Starts the join asked during the leave that just finished, as a task of its own.
    void startJoinWaitingForLeave();
    /// Tells the service that the local user is gone (the leave call and the disconnected status,
    /// both sent now); only `completion` (if any) waits for both answers, given the post's.
    void leaveServerWithoutWaiting(Completion completion = {});
    /// The media part of the leave, with the wait for the engine's report.
    void leaveMedia(const std::shared_ptr<MediaBackend>& backend, const MeetingSession::Token& session);

    /// The room sync's polls, at the room's interval.
    void setGetPostConnectionTimer();

    // Server calls without join semantics
    /// Calls `completion(value)` later on the queue (never inside the caller's call).
    void completeLater(Completion completion, bool value);
    /// True while the meeting is joined, or only its media channel is awaited (never from its leave
    /// on); otherwise `action` is logged as refused and `completion` is called later with false.
    bool allowedOnceJoinedUntilLeave(std::string_view action, const Completion& completion = {});
    /// The same for the room status calls, which the join and the leave make themselves: allowed
    /// through the whole of a meeting, its join and its leave included, and never outside one.
    bool allowedFromJoinThroughLeave(std::string_view action, const Completion& completion = {});
    /// The meeting's observers: the local share's (of the broadcast extension) and the
    /// application's; removing them also delivers a share report still waiting.
    void addNotificationsObservers();
    void removeNotificationsObservers();
    void applySettingsValue(std::string_view key, const boost::json::value& value);
    void selectBypassJoin(const boost::json::object& params);

    /// A notification observer's callback, run on any thread: it posts `action` and looks at the
    /// client only on its queue, so the poster's thread never drops the last reference to it.
    std::function<void()> actionOnQueue(void (*action)(ClientCore&));
    using SessionToken = MeetingSession::Token;
    /// The token of the current meeting; outside one a token that is never live.
    SessionToken sessionToken() const { return session_ ? session_->token() : SessionToken{}; }
    /// The join reached the meeting, which has not ended (its leave may be under way).
    bool hasJoinedMeeting() const { return session_ && session_->hasJoined(); }
    /// Ends the current meeting once (see `MeetingSession::end`); false when none was active.
    bool endSession(MeetingSession::EndReason reason, const std::function<void()>& children);
    /// The participant (among the tracks) the id names, for lock/recording events.
    std::shared_ptr<KRMeetingUser> userById(const std::optional<std::string>& id) const;
    void withTarget(const std::string& userId, Completion completion,
                    const std::function<void(const std::shared_ptr<KRMeetingUser>&)>& action);

    /// Sends `request` and calls `onResult(client, result)` on the client's queue while the client
    /// lives (defined in ClientCoreRequests.h).
    template <class Request, class OnResult>
    void send(const Request& request, OnResult onResult);
    /// A join step's server call failed: logged as `action`'s error, and the join ends with the
    /// step's failure (a refusal without an error is `other`, with its message).
    template <class T>
    void failJoinAt(KRJoinStep step, const char* action, const Result<T, KRApiRequestError>& result);
    /// A join step's server call, whose reply counts only while that join is under way: a failed or
    /// refused one ends the join (`failJoinAt`), a good one goes to `onReply(client, value)`.
    template <class Request, class OnReply>
    void sendJoinCall(const Request& request, KRJoinStep step, const char* action, OnReply onReply);
    /// An operation the server carries out (host controls, recording, whiteboard): the request,
    /// then the completion with the server's answer. Only while the meeting the call was made in
    /// goes on, a success first runs `onSuccess(client)` or `onSuccess(client, reply)` and a
    /// failure `onFailure(client, message)`; a failure is logged either way. A success step
    /// `onSuccess(client, completion)` is handed the completion and calls it itself.
    struct NoFailureAction { void operator()(ClientCore&, const std::string&) const {} };
    template <class Request, class OnSuccess, class OnFailure = NoFailureAction>
    void sendHostRequest(const Request& request, const char* action, Completion completion,
                         OnSuccess onSuccess, OnFailure onFailure = {});
    /// Recording start or stop: the request, then the control message and the recording event on
    /// success, or the error event on failure (defined in ClientCoreHostControls.cpp).
    template <class Request>
    void sendRecordingRequest(const Request& request, bool start, Completion completion);
    /// Tells `target` of a command the server carried out (`action` names it in the log); true once
    /// the message went out. A refused send is tried again after a `RetryBackOff` wait, up to
    /// `kTargetMessageTries` tries, while its meeting goes on; else false, the log says why.
    void tellTargetOfCommand(ControlMessage message, std::shared_ptr<KRMeetingUser> target,
                             std::string action, Completion completion, int attempt = 1);
    static constexpr int kTargetMessageTries = 3;
    RetryBackOff targetMessageBackOff_;

    platform::SequenceChecker checker_;
    KRDependencies deps_;
    std::shared_ptr<platform::DispatchQueue> queue_;
    KivRaneRealTimeLogger2 logger_{"krclient", deps_.logCollector};
    KRCurrentRoom currentRoom_;
    MeetingParticipantsManager meetingUsersManager_;
    std::shared_ptr<KRNetworkClient> networkClient_;

    /// What the reports read and change, answered by this client (ClientCoreEvents.cpp).
    std::unique_ptr<MeetingEvents::Meeting> meetingForEvents();
    MeetingEvents events_{currentRoom_, meetingForEvents()};

    // Settings
    MediaBackend::Kind nextJoinBackend_ = MediaBackend::Kind::defaultEngine;

    // Media backends: the client's own two, and the one the current meeting's join picked;
    // each reaches the meeting through the port (ClientCorePort.h).
    class Port;
    std::unique_ptr<Port> port_;
    std::shared_ptr<DefaultEngineBackend> defaultEngineBackend_;
    std::shared_ptr<RoomEngineBackend> roomEngineBackend_;
    std::shared_ptr<MediaBackend> meetingBackend_;
    MediaBackendFactory backendFactory_;
    /// Picks the join's backend; outside a meeting `mediaBackend()` reads the setting too.
    void pickMediaBackend();
    ClientSettings settings_;

    // Join
    KRUserRole userRole_ = KRUserRole::speaker();
    KRUserLeftReason localUserLeftReason_ = KRUserLeftReason::none();
    /// Set once this join's connected status went out, cleared if the service refused it: a
    /// failed join then tells the service the user is gone.
    bool connectedStatusSent_ = false;
    /// The meeting of the latest join: its state, timers and safety token.
    std::unique_ptr<MeetingSession> session_;
    /// A join asked while the meeting was being left; it starts once the leave finished, unless a
    /// leave asked before it started gives it up, or another join starts first.
    struct WaitingJoin {
        KRJoinMeetingData data;
        KRJoinMeetingConfig config;
        std::weak_ptr<KRClientDelegate> delegate;
    };
    std::optional<WaitingJoin> joinAfterLeave_;

    /// The room's sync with the service, and what it asks of the core (ClientCoreRoomStatus.cpp).
    class SyncOwner;
    std::unique_ptr<RoomSync::Owner> syncOwner_;
    std::shared_ptr<RoomSync> roomSync_;
    void makeRoomSync();
    /// The local share (after `deps_`, whose members it takes); its owner: ClientCoreScreenShare.cpp.
    class ShareOwner;
    std::unique_ptr<LocalScreenShare::Owner> shareOwner_;
    LocalScreenShare localScreenShare_{makeShareOwner(), deps_};
    LocalScreenShare::Owner& makeShareOwner();

    // ---- Messaging: control messages to and from the others (ClientCoreMessaging.cpp) ----
public:
    // Host calls (documented on `KRClient`).
    void sendReactionType(const std::string& type);
    void declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host);
    void declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host);
    /// Where the backends' message receivers hand what arrived (through the port).
    IncomingControlMessages& incomingMessages() { return incomingMessages_; }
    const std::shared_ptr<KRRtmManager>& rtmManager() const;

private:
    // ---- Incoming control messages: a room of their own (IncomingControlMessages.h) ----

    /// The core's side of what the incoming messages ask and tell (ClientCoreControlMessages.cpp).
    class IncomingMessagesLink;
    std::unique_ptr<IncomingControlMessages::Meeting> incomingMessagesLink();
    IncomingControlMessages incomingMessages_{incomingMessagesLink()};

    // ---- Room socket and chat (ClientCoreSocket.cpp, ClientCoreChat.cpp) ----
public:
    /// A chat message the room socket pushed: cached, then told to the chat observers.
    void addChatMessageRecievedThrougSocket(const KRChatMessage& message);
    /// Hands the chat manager the network client and the current meeting's ids (the join does this
    /// once the room's first status has been read).
    void configureChatClient();
    /// Leaves the meeting's main chat thread without waiting for the answer.
    void leaveChatThread();
    /// The client's one chat manager (a host call, documented on `KRClient`).
    const std::shared_ptr<KRChatManager>& chatClient() const { return chatClient_; }
    /// The room socket of the current meeting; null outside a meeting.
    const std::shared_ptr<KRWebSocketManager>& webSocketManager() const { return webSocketManager_; }

private:
    /// Hands the socket manager's room news to the sync and its chat to the client, for the
    /// current meeting, replacing earlier hooks.
    void handleSocketCallBacks();
    /// Application became active: reconnects the socket (only when the meeting was joined).
    void reconnectSocket();
    /// Application resigns active: closes the socket until the next start or reconnect.
    void disconnectSocketOnInterruption();
    /// After a guest login: a socket of the client's own, logged in with `authToken`.
    void openGuestSocket(const std::string& authToken);
    /// Signed-in users: a socket manager fed by the frames the host app forwards.
    void openForwardedSocket();
    /// Ends the meeting's socket: stopped and released.
    void releaseSocketManager();
    void addApplicationObservers();
    void removeApplicationObservers();

    // Declared after `deps_`, so made from the resolved dependencies.
    std::shared_ptr<KRChatManager> chatClient_ = KRChatManager::create(deps_.queue);
    std::shared_ptr<KRWebSocketManager> webSocketManager_;
    std::vector<platform::ObserverToken> applicationObservers_;
};

}  // namespace kr
