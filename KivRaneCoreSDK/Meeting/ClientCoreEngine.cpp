#include <algorithm>
#include <charconv>
#include <utility>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingNetworkStats.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngineFactory.h"

// The default road's media engine seen from the client: set-up and join from the room store,
// leave, and what each report of the engine wrapper changes in the room and tells the host app.

namespace kr {

namespace {

constexpr const char* kRemoteOverrideReason = "Remote User has override your screen share.";
constexpr const char* kMovedToAudienceReason = "You have been moved to audience.";
constexpr int kRenderHidden = 1;  // participants fill their view
constexpr int kRenderFit = 2;     // a shared screen is shown whole

/// A media uid is plain decimal text; anything else (empty, signs, spaces, overflow) names none.
std::optional<std::uint64_t> mediaUid(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

KRRtcParticipantState stateOf(const KRRtcParticipant& participant) {
    KRRtcParticipantState state;
    state.uid = participant.uid();
    state.isAudioMuted = participant.isAudioMuted();
    state.isVideoMuted = participant.isVideoMuted();
    state.isLoudest = participant.isLoudest();
    state.isAudience = participant.isAudience();
    state.view = participant.getRtcCanvasView();
    return state;
}

/// The first track of the room holding this id, whatever its kind.
std::shared_ptr<KRMediaTrack> firstTrack(const KRCurrentRoom& room, const std::string& id) {
    for (const auto& track : room.allMediaTracks) {
        if (track && track->id() == id) return track;
    }
    return nullptr;
}

// What the published streams use where the server's configuration says nothing.
constexpr const KRRtcVideoEncoderConfig& kHighDefaults = kKRHighStreamEncoderDefaults;
constexpr const KRRtcVideoEncoderConfig& kLowDefaults = kKRLowStreamEncoderDefaults;

KRRtcVideoEncoderConfig encoderSettings(const KRVideoConfiguration& config,
                                        const KRRtcVideoEncoderConfig& defaults) {
    KRRtcVideoEncoderConfig settings = defaults;
    settings.width = config.width.value_or(defaults.width);
    settings.height = config.height.value_or(defaults.height);
    settings.bitRate = config.bitrate.value_or(defaults.bitRate);
    settings.frameRate = config.fps.value_or(defaults.frameRate);
    settings.orientation = config.orientation.value_or(defaults.orientation);
    return settings;
}

}  // namespace

// ---- The adapter the engine wrapper reports to ----

class ClientCore::EngineEvents final : public KRRtcManagerDelegate {
public:
    explicit EngineEvents(std::weak_ptr<ClientCore> client) : client_(std::move(client)) {}

    void didLocalParticipantJoinedChannel() override {
        with([](ClientCore& c) { c.onEngineLocalJoined(); });
    }
    void didLocalParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        with([&](ClientCore& c) { c.onEngineLocalMediaState(p, false); });
    }
    void didLocalParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        with([&](ClientCore& c) { c.onEngineLocalMediaState(p, true); });
    }
    void didLocalParticipantLeaveChannel() override {
        with([](ClientCore& c) { c.onEngineLocalLeft(); });
    }
    void didRemoteStreamAddedToChannel(std::uint64_t uid) override {
        with([&](ClientCore& c) { c.onEngineStreamAdded(uid); });
    }
    void didRemoteStreamRemovedFromChannel(std::uint64_t uid,
                                           const KRUserLeftReason& reason) override {
        with([&](ClientCore& c) { c.onEngineStreamRemoved(uid, reason); });
    }
    void didRemoteParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        with([&](ClientCore& c) { c.onEngineRemoteMediaState(p, false); });
    }
    void didRemoteParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        with([&](ClientCore& c) { c.onEngineRemoteMediaState(p, true); });
    }
    void didRemoteParticipantMovedToAudience(std::uint64_t uid) override {
        with([&](ClientCore& c) { c.onEngineMovedToAudience(uid); });
    }
    void didNetworkQualityChange(KRNetworkQuality quality) override {
        with([&](ClientCore& c) { c.sendNetworkQualityUpdateEvent(quality); });
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        with([&](ClientCore& c) {
            const KRMeetingNetworkStats stats(latency, loss.uplinkLoss, loss.downlinkLoss,
                                              rate.uplinkRate, rate.downlinkRate,
                                              bandwidth.totalSent, bandwidth.totalRecieved);
            const KRMeeting meeting = c.getCurrentMeetingData();
            c.forMainDelegate(
                [&](KRClientDelegate& d) { d.didMeetingNetworkStatsUpdated(meeting, stats); });
        });
    }
    void didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) override {
        with([&](ClientCore& c) { c.onEngineLoudestSpeaker(speaker); });
    }
    void didRtcParticipantsDataUpdated() override {}
    void didLocalSpeakerVolumeLevelChanges(std::int64_t level, bool speaking) override {
        with([&](ClientCore& c) {
            if (!c.useLocalSpeakerSpeakingOnMuteCallback_) return;
            const KRMeeting meeting = c.getCurrentMeetingData();
            c.forMainDelegate([&](KRClientDelegate& d) {
                d.didLocalSpeakerVolumeChanges(meeting, static_cast<int>(level), speaking);
            });
        });
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        with([&](ClientCore& c) { c.sendAudioRouteChangeEvent(route); });
    }
    void didCurrentUserClientRoleChanged(bool isAudience) override {
        with([&](ClientCore& c) { c.onEngineRoleChanged(isAudience); });
    }
    void didDetectTopActiveSpeakers(
        const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) override {
        with([&](ClientCore& c) { c.onEngineTopSpeakers(speakers); });
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalAudioStateChangeFailed(m, type, desc);
        });
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalVideoStateChangeFailed(m, type, desc);
        });
    }
    void didLocalUserFallBackToAudioOnlyMode(bool isFallback) override {
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalUserFallBackToAudioOnlyMode(m, isFallback);
        });
    }
    void didRemoteUserFallBackToAudioOnlyMode(
        bool isFallback, const std::shared_ptr<KRRtcParticipant>& p) override {
        with([&](ClientCore& c) {
            if (!p) return;
            const auto user = c.currentRoom_.matchingUser(std::to_string(p->uid()));
            if (!user) return;
            const KRMeeting meeting = c.getCurrentMeetingData();
            c.forMainDelegate([&](KRClientDelegate& d) {
                d.didRemoteUserFallBackToAudioOnlyMode(meeting, isFallback, user);
            });
        });
    }
    void didLocalParticipantConnectionChangedTo(KRConnectionState state) override {
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalParticipantConnectionChangedTo(m, state);
        });
    }

private:
    template <class Action>
    void with(Action&& action) {
        // The client may be gone, or may no longer be in the meeting these reports are about.
        if (auto client = client_.lock(); client && client->wantsEngineReports()) {
            action(*client);
        }
    }
    template <class Call>
    void mainOnly(Call&& call) {
        with([&](ClientCore& c) {
            const KRMeeting meeting = c.getCurrentMeetingData();
            c.forMainDelegate([&](KRClientDelegate& d) { call(d, meeting); });
        });
    }

    std::weak_ptr<ClientCore> client_;
};

// ---- Set-up, join, leave ----

void ClientCore::wireEngine() {
    engineFactory_ = std::make_shared<platform::MediaEngineFactory>(deps_.mediaBus, queue_);
    rtcManager_ = KRRtcManger::create(
        queue_, engineFactory_,
        std::make_shared<KivRaneRealTimeLogger2>("KivRaneRTC", deps_.logCollector));
    engineEvents_ = std::make_shared<EngineEvents>(weak_from_this());
}

void ClientCore::configureEngineAndJoin() {
    const auto uid = mediaUid(currentRoom_.userWebRtcId);
    if (!uid) {
        // Joining as uid 0 would let the engine pick an id nobody else knows this user by.
        logger_.error("Media join refused: unusable media uid \"" + currentRoom_.userWebRtcId +
                      "\"");
        const SessionToken session = sessionToken();
        std::weak_ptr<ClientCore> weak = weak_from_this();
        queue_->post([weak, session] {
            auto self = weak.lock();
            if (self && session.live()) {
                self->failJoin(KRMeetingJoinError::other("The room gave no usable media uid"));
            }
        });
        return;
    }
    pendingStreamUids_.clear();
    unaskedStreamUids_.clear();
    remoteAudienceUids_.clear();
    rtcManager_->configureRTCEngine(currentRoom_.webRtcAppId, engineEvents_,
                                    static_cast<int>(activeSpeakerCallbackInterval_));
    rtcManager_->configureVideoEncoderConfiguration(highQualityEncoderSettings());
    if (const auto low = lowQualityEncoderSettings()) {
        rtcManager_->configureLowQualityVideoStream(*low);
    }
    // Before the join, so the channel never hears a microphone or camera the user kept off.
    rtcManager_->muteUnmuteLocalAudio(currentRoom_.isCurrentUserAudioMuted);
    rtcManager_->muteUnmuteLocalVideo(currentRoom_.isCurrentUserVideoMuted);
    engineChannelRequested_ = true;
    rtcManager_->joinRoom(*uid, currentRoom_.userWebRtcToken, currentRoom_.roomID,
                          isLocalUserInAudienceMode_, virtualBackgroundType_);
}

KRRtcVideoEncoderConfig ClientCore::highQualityEncoderSettings() const {
    return highQualityVideoConfig_ ? encoderSettings(*highQualityVideoConfig_, kHighDefaults)
                                   : kHighDefaults;
}

std::optional<KRRtcVideoEncoderConfig> ClientCore::lowQualityEncoderSettings() const {
    if (!lowQualityVideoConfig_ || !lowQualityVideoConfig_->isEnabled.value_or(false)) {
        return std::nullopt;
    }
    return encoderSettings(*lowQualityVideoConfig_, kLowDefaults);
}

void ClientCore::leaveEngine() {
    const auto& engine = rtcManager_->rtcEngine();
    const bool inChannel =
        engineChannelRequested_ && engine &&
        engine->getConnectionState() != platform::MediaCodes::kConnectionDisconnected;
    if (!inChannel) {
        // No channel to leave, so no report of leaving one will come.
        engineChannelRequested_ = false;
        rtcManager_->setDelegate({});
        handleLocalMediaLeft();
        return;
    }
    rtcManager_->leaveMeetingRoom();
}

void ClientCore::cancelEngineJoin() {
    pendingStreamUids_.clear();
    unaskedStreamUids_.clear();
    remoteAudienceUids_.clear();
    if (engineChannelRequested_) {
        rtcManager_->leaveMeetingRoom();
    }
}

void ClientCore::switchLocalMediaInEngine(bool audio, bool isMute) {
    if (audio) {
        rtcManager_->muteUnmuteLocalAudio(isMute);
    } else {
        rtcManager_->muteUnmuteLocalVideo(isMute);
    }
}

// ---- Local participant ----

void ClientCore::onEngineLocalJoined() {
    if (!isJoining()) return;
    const auto& participants = rtcManager_->getRtcParticipants();
    const auto byUid = [&](const std::string& text) -> std::shared_ptr<KRRtcParticipant> {
        for (const auto& p : participants) {
            if (p && std::to_string(p->uid()) == text) return p;
        }
        return nullptr;
    };
    auto local = byUid(currentRoom_.userWebRtcId);
    std::optional<std::uint64_t> confirmed;
    if (!local) {
        // The engine joined under another uid than the room gave: carry on under the one it
        // confirmed rather than leave the host waiting for a join that happened.
        local = byUid(std::to_string(rtcManager_->localUserUid()));
        if (!local) {
            completeLocalMediaJoin(std::nullopt, std::nullopt);
            return;
        }
        logger_.warn("Local uid \"" + currentRoom_.userWebRtcId +
                     "\" unknown to the media channel; using the confirmed uid " +
                     std::to_string(local->uid()));
        currentRoom_.userWebRtcId = std::to_string(local->uid());
        confirmed = local->uid();
    }
    rtcManager_->setUpLocalRtcParticipantView(local);
    rtcManager_->startPreview();
    completeLocalMediaJoin(stateOf(*local), confirmed ? confirmed : local->uid());
}

void ClientCore::onEngineLocalMediaState(const std::shared_ptr<KRRtcParticipant>& participant,
                                       bool audio) {
    if (!participant) return;
    if (audio) {
        currentRoom_.isCurrentUserAudioMuted = participant->isAudioMuted();
    } else {
        currentRoom_.isCurrentUserVideoMuted = participant->isVideoMuted();
    }
    currentRoom_.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        sendLocalUserMicUpdateEvent();
    } else {
        sendLocalUserVideoUpdateEvent();
    }
}

void ClientCore::onEngineLocalLeft() {
    pendingStreamUids_.clear();
    unaskedStreamUids_.clear();
    remoteAudienceUids_.clear();
    if (meetingState() != MeetingState::inMeeting && meetingState() != MeetingState::leaving) {
        // The channel of a join that failed or was abandoned: nothing to tell anyone. A new
        // join may already wait for its own channel, so the reports stay connected.
        if (!isJoining()) engineChannelRequested_ = false;
        return;
    }
    engineChannelRequested_ = false;
    rtcManager_->setDelegate({});
    handleLocalMediaLeft();
}

// ---- Remote streams ----

std::optional<KRScreenShareInfo> ClientCore::screenShareFor(std::uint64_t uid) const {
    for (const auto& info : currentRoom_.screenShareMetaData) {
        if (info.trackID() == uid) return info;
    }
    // Polling may have dropped the entry while the share track still stands.
    const auto track = firstTrack(currentRoom_, std::to_string(uid));
    if (track && track->sourceType() == KRMediaTrackSourceType::screenShare) {
        const auto share = std::dynamic_pointer_cast<KRScreenShareTrack>(track);
        return KRScreenShareInfo(uid, share ? share->sharingUserId() : "",
                                 share ? share->sharingUserName() : "");
    }
    return std::nullopt;
}

void ClientCore::onEngineStreamAdded(std::uint64_t uid) {
    const auto track = firstTrack(currentRoom_, std::to_string(uid));
    if (track && track->sourceType() == KRMediaTrackSourceType::user) {
        addParticipantStream(uid, true);
        return;
    }
    if (const auto share = screenShareFor(uid)) {
        addScreenShareStream(*share);
        return;
    }
    askServerForStream(uid);
}

void ClientCore::askServerForStream(std::uint64_t uid) {
    // One question per stream: a second report of the same uid waits for the first answer.
    if (!pendingStreamUids_.insert(uid).second) return;
    unaskedStreamUids_.push_back(uid);
    // Streams reported while a question is out are asked about together once it is answered:
    // in a room that fills up, one question per stream would fetch the whole room per stream.
    if (streamQuestion_.live()) return;
    askServerForUnaskedStreams();
}

void ClientCore::askServerForUnaskedStreams() {
    const SessionToken session = sessionToken();
    streamQuestion_ = session;
    std::weak_ptr<ClientCore> weak = weak_from_this();
    getRoomConnectionStatus([weak, session, asked = std::exchange(unaskedStreamUids_, {})](bool) {
        auto self = weak.lock();
        if (!self) return;
        if (self->streamQuestion_.sameSession(session)) self->streamQuestion_ = {};
        for (const std::uint64_t uid : asked) {
            // An answer after a leave, a new join or the stream's own departure changes nothing.
            if (!session.live() || self->pendingStreamUids_.erase(uid) == 0 ||
                !self->wantsEngineReports()) {
                continue;
            }
            if (const auto share = self->screenShareFor(uid)) {
                self->addScreenShareStream(*share);
                continue;
            }
            self->addParticipantStream(uid, false);
        }
        if (session.live() && !self->streamQuestion_.live() &&
            !self->unaskedStreamUids_.empty()) {
            self->askServerForUnaskedStreams();
        }
    });
}

void ClientCore::addParticipantStream(std::uint64_t uid, bool knownTrack) {
    const auto participant = rtcManager_->setUpRemoteVideo(uid, kRenderHidden);
    if (!participant) return;
    participant->setIsAudience(false);
    // Read before the update, which makes the user a speaker again.
    const auto previous = knownTrack ? currentRoom_.trackUser(std::to_string(uid)) : nullptr;
    const bool movedByEngine = remoteAudienceUids_.erase(uid) != 0;
    const bool wasInAudience = previous && (movedByEngine || !previous->isSpeaker());
    const auto user = currentRoom_.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (!user) return;
    if (wasInAudience) {
        sendRemoteUserMovedToParticipants(user);
        return;
    }
    user->setIsSpeaker(true);
    sendRemoteUserJoinMeetingEvent(user);
    if (getMeetingLocalUser()->isCoHost()) {
        rtcManager_->playChimeOnUserJoin();
    }
}

void ClientCore::addScreenShareStream(const KRScreenShareInfo& info) {
    const std::string id = std::to_string(info.trackID());
    rtcManager_->muteUnmuteUserVideoStream(false, id);
    const auto participant = rtcManager_->setUpRemoteVideo(info.trackID(), kRenderFit);
    auto track = std::make_shared<KRScreenShareTrack>(
        id, std::make_shared<KRAudioTrack>(id, true),
        std::make_shared<KRVideoTrack>(id, false,
                                       participant ? participant->getRtcCanvasView() : nullptr),
        info.sharingUserID(), info.sharingUserName());
    auto& tracks = currentRoom_.allMediaTracks;
    std::erase_if(tracks, [](const auto& t) {
        return t && t->sourceType() == KRMediaTrackSourceType::screenShare;
    });
    std::vector<std::shared_ptr<KRMediaTrack>> ordered;
    ordered.reserve(tracks.size() + 1);
    ordered.push_back(track);
    ordered.insert(ordered.end(), tracks.begin(), tracks.end());
    tracks = std::move(ordered);
    const std::uint64_t localShare = currentRoom_.localScreenShareTrackUid;
    if (localShare != 0 && info.trackID() == localShare) {
        sendLocalScreenShareEvent(KRScreenShareState::started(track));
        return;
    }
    if (localShare != 0) {
        const std::string localId = currentRoom_.userWebRtcId;
        std::erase_if(currentRoom_.screenShareMetaData,
                      [&](const KRScreenShareInfo& e) { return e.sharingUserID() == localId; });
        postForceStopScreenShareDarwinNotification(kRemoteOverrideReason);
    }
    sendRemoteScreenShareEvent(KRScreenShareState::started(track));
}

void ClientCore::onEngineStreamRemoved(std::uint64_t uid, const KRUserLeftReason& reason) {
    if (pendingStreamUids_.erase(uid) != 0) {
        // Gone before anyone was told it came: nothing to report either way.
        return;
    }
    if (const auto share = screenShareFor(uid)) {
        removeScreenShareStream(*share, reason);
        return;
    }
    const std::string id = std::to_string(uid);
    auto user = currentRoom_.trackUser(id);
    if (!user) user = std::make_shared<KRMeetingUser>();
    auto departing = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = user->id(),
        .userId = user->userId(),
        .displayName = user->displayName(),
        .isSpeaker = false,
        .isCoHost = user->isCoHost(),
        .isHandRaised = false,
        .isSharingScreen = false,
        .isHost = user->isHost()});
    if (reason.kind() != KRUserLeftReason::Kind::becomeAudience) {
        remoteAudienceUids_.erase(uid);
        currentRoom_.removeMediaTrack(id);
    } else if (!user->id().empty()) {  // a known participant, now listening only
        remoteAudienceUids_.insert(uid);
    }
    sendRemoteUserLeftMeetingEvent(departing, reason);
    if (getMeetingLocalUser()->isCoHost()) {
        rtcManager_->playChimeOnUserLeave();
    }
}

void ClientCore::removeScreenShareStream(const KRScreenShareInfo& info,
                                       const KRUserLeftReason& reason) {
    const std::string id = std::to_string(info.trackID());
    std::erase_if(currentRoom_.allMediaTracks,
                  [&](const auto& t) { return t && t->id() == id; });
    std::erase_if(currentRoom_.screenShareMetaData,
                  [&](const KRScreenShareInfo& e) { return e.trackID() == info.trackID(); });
    if (currentRoom_.localScreenShareTrackUid != 0 &&
        info.trackID() == currentRoom_.localScreenShareTrackUid) {
        endLocalShare(reason);
        return;
    }
    // The stream of an own share that already ended (the capture stops before the stream
    // goes): that end was told, and the share was never a remote one.
    if (!currentRoom_.userWebRtcId.empty() && info.sharingUserID() == currentRoom_.userWebRtcId) {
        return;
    }
    sendRemoteScreenShareEvent(KRScreenShareState::stopped(reason, info.trackID()));
}

void ClientCore::onEngineRemoteMediaState(const std::shared_ptr<KRRtcParticipant>& participant,
                                        bool audio) {
    if (!participant || screenShareFor(participant->uid())) return;
    const auto user = currentRoom_.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        sendRemoteUserMicStatusUpdateEvent(user);
    } else {
        sendRemoteUserVideoStatusUpdateEvent(user);
    }
}

void ClientCore::onEngineMovedToAudience(std::uint64_t uid) {
    const auto user = currentRoom_.trackUser(std::to_string(uid));
    if (!user) return;
    remoteAudienceUids_.insert(uid);
    user->setIsSpeaker(false);
    user->setIsSharingScreen(false);
    // Each delegate gets its own snapshot, taken as it is called.
    std::vector<std::shared_ptr<KRClientDelegate>> targets;
    if (auto main = delegate_.lock()) targets.push_back(std::move(main));
    for (const auto& entry : clientDelegates_) {
        if (auto extra = entry.second.lock()) targets.push_back(std::move(extra));
    }
    for (const auto& target : targets) {
        target->didUserMovedToAudience(getCurrentMeetingData(), user);
    }
}

// ---- Speakers and role ----

void ClientCore::onEngineLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) {
    if (!userActiveSpeakerCallback_) return;
    for (const auto& user : currentRoom_.meetingUsers()) {
        user->audioTrack()->setIsLoudest(false);
    }
    std::shared_ptr<KRMeetingUser> loudest;
    if (speaker) {
        loudest = currentRoom_.matchingUser(std::to_string(speaker->uid()));
        if (loudest) loudest->audioTrack()->setIsLoudest(true);
    }
    sendLoudestSpeakerEvent(loudest);
}

void ClientCore::onEngineTopSpeakers(
    const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) {
    std::vector<std::shared_ptr<KRMeetingUser>> users;
    for (const auto& speaker : speakers) {
        auto user = speaker ? currentRoom_.matchingUser(std::to_string(speaker->uid())) : nullptr;
        if (!user) return;  // a partial list would misrank the speakers
        users.push_back(std::move(user));
    }
    const KRMeeting meeting = getCurrentMeetingData();
    forMainDelegate([&](KRClientDelegate& d) { d.didDetectActiveSpeakers(meeting, users); });
}

void ClientCore::onEngineRoleChanged(bool isAudience) {
    isLocalUserInAudienceMode_ = isAudience;
    currentRoom_.isCurrentUserInAudienceMode = isAudience;
    const auto local = getMeetingLocalUser();
    local->setIsSpeaker(!isAudience);
    if (!shouldByPassAPICalls_) {
        postUserRoomConnectionStatus(true, false, {});
    }
    if (!isAudience) {
        sendLocalUserRoleChangedEvent(local, false);
        return;
    }
    currentRoom_.isCurrentUserAudioMuted = true;
    currentRoom_.isCurrentUserVideoMuted = true;
    sendLocalUserRoleChangedEvent(local, true);
    postForceStopScreenShareDarwinNotification(kMovedToAudienceReason);
}

// ---- Host operations on the engine ----

void ClientCore::setAudioFilePathForUserJoin(const std::string& filePath) {
    rtcManager_->setAudioFilePathForUserJoin(filePath);
}

void ClientCore::setAudioFilePathForUserLeft(const std::string& filePath) {
    rtcManager_->setAudioFilePathForUserLeft(filePath);
}

void ClientCore::setVideoConfiguration(const KRRtcVideoEncoderConfig& config) {
    rtcManager_->configureVideoEncoderConfiguration(config);
}

void ClientCore::setLowQualityVideoStream(const KRRtcVideoEncoderConfig& config) {
    rtcManager_->configureLowQualityVideoStream(config);
}

void ClientCore::setUpDualStream(bool enable) { rtcManager_->setUpDualStream(enable); }

void ClientCore::applyVirtualBackground(const KRVirtualBackgroundType& background) {
    KR_DCHECK_RUN_ON(checker_);
    virtualBackgroundType_ = background;
    mediaBackend().applyVirtualBackground(background);
}

void ClientCore::startPreview() { mediaBackend().startPreview(); }

void ClientCore::stopPreview() { mediaBackend().stopPreview(); }

void ClientCore::switchCamera() { mediaBackend().switchCamera(); }

void ClientCore::getVideoPreview(const std::shared_ptr<platform::View>& placeholderView) {
    rtcManager_->setLocalCanvas(placeholderView);
    rtcManager_->startPreview();
}

void ClientCore::switchAudioDevice(KRAudioDeviceType type) { mediaBackend().switchAudioDevice(type); }

void ClientCore::switchLocalUserRole(const KRUserRole& newRole) {
    KR_DCHECK_RUN_ON(checker_);
    if (newRole.kind() == KRUserRole::Kind::host) return;
    mediaBackend().switchClientRole(newRole.kind() == KRUserRole::Kind::audience);
}

void ClientCore::subscribeRemoteUserAudio(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(true, id, true);
}

void ClientCore::unsubscribeRemoteUserAudio(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(true, id, false);
}

void ClientCore::subscribeRemoteUserVideo(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(false, id, true);
}

void ClientCore::unsubscribeRemoteUserVideo(const std::string& id) {
    mediaBackend().subscribeRemoteMedia(false, id, false);
}

void ClientCore::setVideoStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) {
    mediaBackend().setRemoteStreamQuality(quality, uid);
}

void ClientCore::setRemoteUsersVolume(int value) { rtcManager_->setRemoteUsersVolume(value); }

void ClientCore::blockRemoteAudioVideo(std::uint64_t uid) {
    rtcManager_->blockRemoteAudioVideo(uid);
}

void ClientCore::removeBlockedRemoteAudioVideo(std::uint64_t uid) {
    rtcManager_->removeBlockedRemoteAudioVideo(uid);
}

bool ClientCore::hasHeadphones(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasHeadphones(route);
}

bool ClientCore::hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route) {
    return KRRtcManger::hasBluetoothConnecte(route);
}

}  // namespace kr
