#include <utility>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/DefaultEngineBackend.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingNetworkStats.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"
#include "platform/Media/MediaEngineFactory.h"

// The default engine's receivers: what each report of the engine wrapper about the local user,
// the speakers and the roles changes in the room and tells the host app, and the messaging
// session's messages handed to the core. The remote streams are in DefaultEngineStreams.cpp.

namespace kr {

namespace {

constexpr const char* kMovedToAudienceReason = "You have been moved to audience.";

/// Hands the messaging session's messages to the core, whose control-message table acts on
/// them, without keeping it alive: the session holds its delegate weakly and the backend this.
class MessagingEvents final : public KRRtmManagerDelegate {
public:
    explicit MessagingEvents(std::weak_ptr<ClientCore> core) : core_(std::move(core)) {}

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto core = core_.lock()) core->didRecievePublicMessage(message);
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto core = core_.lock()) core->didRecievePrivateMessage(message);
    }

private:
    std::weak_ptr<ClientCore> core_;
};

}  // namespace

// ---- The adapter the engine wrapper reports to ----

class DefaultEngineBackend::EngineEvents final : public KRRtcManagerDelegate {
public:
    /// `backend` belongs to `core`, so it is there whenever the core still is.
    EngineEvents(std::weak_ptr<ClientCore> core, DefaultEngineBackend& backend)
        : core_(std::move(core)), backend_(backend) {}

    void didLocalParticipantJoinedChannel() override {
        toBackend([](DefaultEngineBackend& b) { b.onEngineLocalJoined(); });
    }
    void didLocalParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineLocalMediaState(p, false); });
    }
    void didLocalParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineLocalMediaState(p, true); });
    }
    void didLocalParticipantLeaveChannel() override {
        toBackend([](DefaultEngineBackend& b) { b.onEngineLocalLeft(); });
    }
    void didRemoteStreamAddedToChannel(std::uint64_t uid) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineStreamAdded(uid); });
    }
    void didRemoteStreamRemovedFromChannel(std::uint64_t uid,
                                           const KRUserLeftReason& reason) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineStreamRemoved(uid, reason); });
    }
    void didRemoteParticipantVideoStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineRemoteMediaState(p, false); });
    }
    void didRemoteParticipantAudioStatusUpdated(
        const std::shared_ptr<KRRtcParticipant>& p) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineRemoteMediaState(p, true); });
    }
    void didRemoteParticipantMovedToAudience(std::uint64_t uid) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineMovedToAudience(uid); });
    }
    void didNetworkQualityChange(KRNetworkQuality quality) override {
        toCore([&](ClientCore& c) { c.sendNetworkQualityUpdateEvent(quality); });
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        toCore([&](ClientCore& c) {
            c.sendNetworkStatsEvent(KRMeetingNetworkStats(
                latency, loss.uplinkLoss, loss.downlinkLoss, rate.uplinkRate, rate.downlinkRate,
                bandwidth.totalSent, bandwidth.totalRecieved));
        });
    }
    void didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineLoudestSpeaker(speaker); });
    }
    void didRtcParticipantsDataUpdated() override {}
    void didLocalSpeakerVolumeLevelChanges(std::int64_t level, bool speaking) override {
        toCore([&](ClientCore& c) {
            c.sendLocalSpeakerVolumeEvent(static_cast<int>(level), speaking);
        });
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        toCore([&](ClientCore& c) { c.sendAudioRouteChangeEvent(route); });
    }
    void didCurrentUserClientRoleChanged(bool isAudience) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineRoleChanged(isAudience); });
    }
    void didDetectTopActiveSpeakers(
        const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineTopSpeakers(speakers); });
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        toCore([&](ClientCore& c) { c.sendLocalMediaFailedEvent(true, type, desc); });
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        toCore([&](ClientCore& c) { c.sendLocalMediaFailedEvent(false, type, desc); });
    }
    void didLocalUserFallBackToAudioOnlyMode(bool isFallback) override {
        toCore([&](ClientCore& c) { c.sendLocalAudioOnlyFallbackEvent(isFallback); });
    }
    void didRemoteUserFallBackToAudioOnlyMode(
        bool isFallback, const std::shared_ptr<KRRtcParticipant>& p) override {
        toCore([&](ClientCore& c) {
            if (!p) return;
            const auto user = c.currentRoom().matchingUser(std::to_string(p->uid()));
            if (user) c.sendRemoteAudioOnlyFallbackEvent(isFallback, user);
        });
    }
    void didLocalParticipantConnectionChangedTo(KRConnectionState state) override {
        mainOnly([&](KRClientDelegate& d, const KRMeeting& m) {
            d.didLocalParticipantConnectionChangedTo(m, state);
        });
    }

private:
    template <class Action>
    void toCore(Action&& action) {
        // The core may be gone, or may no longer be in the meeting these reports are about.
        if (auto core = core_.lock(); core && core->wantsEngineReports()) {
            action(*core);
        }
    }
    template <class Action>
    void toBackend(Action&& action) {
        toCore([&](ClientCore&) { action(backend_); });
    }
    template <class Call>
    void mainOnly(Call&& call) {
        toCore([&](ClientCore& c) {
            const KRMeeting meeting = c.getCurrentMeetingData();
            c.forMainDelegate([&](KRClientDelegate& d) { call(d, meeting); });
        });
    }

    std::weak_ptr<ClientCore> core_;
    DefaultEngineBackend& backend_;
};

void DefaultEngineBackend::wire() {
    rtcManager_ = KRRtcManger::create(
        core_.queue_, core_.mediaEngineFactory(),
        std::make_shared<KivRaneRealTimeLogger2>("KivRaneRTC", core_.deps_.logCollector));
    engineEvents_ = std::make_shared<EngineEvents>(core_.weak_from_this(), *this);
    messagingEvents_ = std::make_shared<MessagingEvents>(core_.weak_from_this());
}

KRRtcParticipantState DefaultEngineBackend::stateOf(const KRRtcParticipant& participant) {
    KRRtcParticipantState state;
    state.uid = participant.uid();
    state.isAudioMuted = participant.isAudioMuted();
    state.isVideoMuted = participant.isVideoMuted();
    state.isLoudest = participant.isLoudest();
    state.isAudience = participant.isAudience();
    state.view = participant.getRtcCanvasView();
    return state;
}

// ---- Local participant ----

void DefaultEngineBackend::onEngineLocalJoined() {
    if (!core_.isJoining()) return;
    KRCurrentRoom& room = core_.currentRoom_;
    const auto& participants = rtcManager_->getRtcParticipants();
    const auto byUid = [&](const std::string& text) -> std::shared_ptr<KRRtcParticipant> {
        for (const auto& p : participants) {
            if (p && std::to_string(p->uid()) == text) return p;
        }
        return nullptr;
    };
    // The engine may have joined under another uid than the room gave; the core then takes the
    // one it confirmed.
    auto local = byUid(room.userWebRtcId);
    if (!local) local = byUid(std::to_string(rtcManager_->localUserUid()));
    if (!local) {
        core_.completeLocalMediaJoin(std::nullopt, std::nullopt);
        return;
    }
    rtcManager_->setUpLocalRtcParticipantView(local);
    rtcManager_->startPreview();
    core_.completeLocalMediaJoin(stateOf(*local), std::nullopt);
}

void DefaultEngineBackend::onEngineLocalMediaState(
    const std::shared_ptr<KRRtcParticipant>& participant, bool audio) {
    if (!participant) return;
    KRCurrentRoom& room = core_.currentRoom_;
    if (audio) {
        room.isCurrentUserAudioMuted = participant->isAudioMuted();
    } else {
        room.isCurrentUserVideoMuted = participant->isVideoMuted();
    }
    room.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        core_.sendLocalUserMicUpdateEvent();
    } else {
        core_.sendLocalUserVideoUpdateEvent();
    }
}

void DefaultEngineBackend::onEngineLocalLeft() {
    forgetRemoteStreams();
    const auto state = core_.meetingState();
    if (state != ClientCore::MeetingState::inMeeting &&
        state != ClientCore::MeetingState::leaving) {
        // Reports come only while a session is active, so this is the channel of a join that
        // failed or was abandoned, left while the next join runs: nothing to tell anyone, and
        // that join's channel request and reports stay connected.
        return;
    }
    engineChannelRequested_ = false;
    rtcManager_->setDelegate({});
    core_.handleLocalMediaLeft();
}

// ---- Remote participants' media and roles ----

void DefaultEngineBackend::onEngineRemoteMediaState(
    const std::shared_ptr<KRRtcParticipant>& participant, bool audio) {
    if (!participant || screenShareFor(participant->uid())) return;
    const auto user = core_.currentRoom_.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        core_.sendRemoteUserMicStatusUpdateEvent(user);
    } else {
        core_.sendRemoteUserVideoStatusUpdateEvent(user);
    }
}

void DefaultEngineBackend::onEngineMovedToAudience(std::uint64_t uid) {
    const auto user = core_.currentRoom_.trackUser(std::to_string(uid));
    if (!user) return;
    remoteAudienceUids_.insert(uid);
    user->setIsSpeaker(false);
    user->setIsSharingScreen(false);
    // Each delegate gets its own snapshot, taken as it is called.
    core_.forEachDelegate([&](KRClientDelegate& d) {
        d.didUserMovedToAudience(core_.getCurrentMeetingData(), user);
    });
}

// ---- Speakers and the local role ----

void DefaultEngineBackend::onEngineLoudestSpeaker(
    const std::shared_ptr<KRRtcParticipant>& speaker) {
    if (!core_.userActiveSpeakerCallback_) return;
    for (const auto& user : core_.currentRoom_.meetingUsers()) {
        user->audioTrack()->setIsLoudest(false);
    }
    std::shared_ptr<KRMeetingUser> loudest;
    if (speaker) {
        loudest = core_.currentRoom_.matchingUser(std::to_string(speaker->uid()));
        if (loudest) loudest->audioTrack()->setIsLoudest(true);
    }
    core_.sendLoudestSpeakerEvent(loudest);
}

void DefaultEngineBackend::onEngineTopSpeakers(
    const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) {
    std::vector<std::shared_ptr<KRMeetingUser>> users;
    for (const auto& speaker : speakers) {
        auto user =
            speaker ? core_.currentRoom_.matchingUser(std::to_string(speaker->uid())) : nullptr;
        if (!user) return;  // a partial list would misrank the speakers
        users.push_back(std::move(user));
    }
    const KRMeeting meeting = core_.getCurrentMeetingData();
    core_.forMainDelegate([&](KRClientDelegate& d) { d.didDetectActiveSpeakers(meeting, users); });
}

void DefaultEngineBackend::onEngineRoleChanged(bool isAudience) {
    KRCurrentRoom& room = core_.currentRoom_;
    core_.isLocalUserInAudienceMode_ = isAudience;
    room.isCurrentUserInAudienceMode = isAudience;
    const auto local = core_.getMeetingLocalUser();
    local->setIsSpeaker(!isAudience);
    if (!core_.shouldByPassAPICalls_) {
        core_.postUserRoomConnectionStatus(true, false, {});
    }
    if (!isAudience) {
        core_.sendLocalUserRoleChangedEvent(local, false);
        return;
    }
    room.isCurrentUserAudioMuted = true;
    room.isCurrentUserVideoMuted = true;
    core_.sendLocalUserRoleChangedEvent(local, true);
    core_.postForceStopScreenShareDarwinNotification(kMovedToAudienceReason);
}

}  // namespace kr
