#include <utility>

#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/Meeting/Backends/DefaultEngine/DefaultEngineBackend.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingNetworkStats.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "KivRaneCoreSDK/RTC/Protocols/KRRtcManagerDelegate.h"
#include "KivRaneCoreSDK/RTM/Managers/KRRtmManager.h"
#include "KivRaneCoreSDK/RTM/Protocols/KRRtmManagerDelegate.h"

// The default engine's receivers: what each report of the engine wrapper about the local user,
// the speakers and the roles changes in the room and tells the host app, and the messaging
// session's messages handed to the meeting. The remote streams are in DefaultEngineStreams.cpp.

namespace kr {

/// Hands the messaging session's messages to the meeting, whose control-message table acts on
/// them, without keeping it alive: the session holds its delegate weakly and the backend this.
/// Made for one join: once that meeting ended, what the session still carries does nothing.
class DefaultEngineBackend::MessagingEvents final : public KRRtmManagerDelegate {
public:
    MessagingEvents(std::weak_ptr<MeetingPort> port, MeetingPort::SessionToken session)
        : port_(std::move(port)), session_(std::move(session)) {}

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        if (auto port = current()) {
            port->handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::channel,
                                       message);
        }
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        if (auto port = current()) {
            port->handleControlMessage(MediaBackend::Kind::defaultEngine, ControlMessageRoute::peer,
                                       message);
        }
    }

private:
    std::shared_ptr<MeetingPort> current() const {
        auto port = port_.lock();
        return port && session_.live() ? port : nullptr;
    }

    std::weak_ptr<MeetingPort> port_;
    MeetingPort::SessionToken session_;
};

// ---- The adapter the engine wrapper reports to ----

/// Made for one join, like the messaging receiver: reports of a meeting that ended do nothing.
class DefaultEngineBackend::EngineEvents final : public KRRtcManagerDelegate {
public:
    /// `backend` belongs to the core behind `port`, so it is there whenever the port still is.
    EngineEvents(std::weak_ptr<MeetingPort> port, MeetingPort::SessionToken session,
                 DefaultEngineBackend& backend)
        : port_(std::move(port)), session_(std::move(session)), backend_(backend) {}

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
        toCore([&](MeetingPort& c) { c.events().sendNetworkQualityUpdateEvent(quality); });
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        toCore([&](MeetingPort& c) {
            c.events().sendNetworkStatsEvent(KRMeetingNetworkStats(
                latency, loss.uplinkLoss, loss.downlinkLoss, rate.uplinkRate, rate.downlinkRate,
                bandwidth.totalSent, bandwidth.totalRecieved));
        });
    }
    void didDetectLoudestSpeaker(const std::shared_ptr<KRRtcParticipant>& speaker) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineLoudestSpeaker(speaker); });
    }
    void didRtcParticipantsDataUpdated() override {}
    void didLocalSpeakerVolumeLevelChanges(std::int64_t level, bool speaking) override {
        toCore([&](MeetingPort& c) {
            c.events().sendLocalSpeakerVolumeEvent(static_cast<int>(level), speaking);
        });
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        toCore([&](MeetingPort& c) { c.events().sendAudioRouteChangeEvent(route); });
    }
    void didCurrentUserClientRoleChanged(bool isAudience) override {
        toCore([&](MeetingPort& c) { c.localRoleConfirmed(isAudience); });
    }
    void didDetectTopActiveSpeakers(
        const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) override {
        toBackend([&](DefaultEngineBackend& b) { b.onEngineTopSpeakers(speakers); });
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        toCore([&](MeetingPort& c) { c.events().sendLocalMediaFailedEvent(true, type, desc); });
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        toCore([&](MeetingPort& c) { c.events().sendLocalMediaFailedEvent(false, type, desc); });
    }
    void didLocalUserFallBackToAudioOnlyMode(bool isFallback) override {
        toCore([&](MeetingPort& c) { c.events().sendLocalAudioOnlyFallbackEvent(isFallback); });
    }
    void didRemoteUserFallBackToAudioOnlyMode(
        bool isFallback, const std::shared_ptr<KRRtcParticipant>& p) override {
        toCore([&](MeetingPort& c) {
            if (!p) return;
            const auto user = c.room().matchingUser(std::to_string(p->uid()));
            if (user) c.events().sendRemoteAudioOnlyFallbackEvent(isFallback, user);
        });
    }
    void didLocalParticipantConnectionChangedTo(KRConnectionState state) override {
        toCore([&](MeetingPort& c) { c.engineConnectionChanged(state); });
    }

private:
    template <class Action>
    void toCore(Action&& action) {
        // The core may be gone, or its meeting these reports are about may have ended.
        if (auto port = port_.lock(); port && session_.live()) {
            action(*port);
        }
    }
    template <class Action>
    void toBackend(Action&& action) {
        toCore([&](MeetingPort&) { action(backend_); });
    }

    std::weak_ptr<MeetingPort> port_;
    MeetingPort::SessionToken session_;
    DefaultEngineBackend& backend_;
};

std::shared_ptr<KRRtcManagerDelegate> DefaultEngineBackend::makeEngineEvents() {
    return std::make_shared<EngineEvents>(port_.weakPort(), port_.sessionToken(), *this);
}

std::shared_ptr<KRRtmManagerDelegate> DefaultEngineBackend::makeMessagingEvents() {
    return std::make_shared<MessagingEvents>(port_.weakPort(), port_.sessionToken());
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
    if (!port_.isJoining()) return;
    KRCurrentRoom& room = port_.room();
    const auto& participants = rtcManager_->getRtcParticipants();
    const auto byUid = [&](const std::string& text) -> std::shared_ptr<KRRtcParticipant> {
        for (const auto& p : participants) {
            if (p && std::to_string(p->uid()) == text) return p;
        }
        return nullptr;
    };
    // The engine may have joined under another uid than the room gave; the join end then takes
    // the one it confirmed.
    auto local = byUid(room.userWebRtcId);
    if (!local) local = byUid(std::to_string(rtcManager_->localUserUid()));
    if (!local) {
        port_.completeLocalMediaJoin("");  // nobody to join as: the join fails
        return;
    }
    rtcManager_->setUpLocalRtcParticipantView(local);
    rtcManager_->startPreview();
    confirmedLocal_ = stateOf(*local);
    port_.completeLocalMediaJoin(std::to_string(local->uid()));
}

void DefaultEngineBackend::onEngineLocalMediaState(
    const std::shared_ptr<KRRtcParticipant>& participant, bool audio) {
    if (!participant) return;
    KRCurrentRoom& room = port_.room();
    if (audio) {
        room.isCurrentUserAudioMuted = participant->isAudioMuted();
    } else {
        room.isCurrentUserVideoMuted = participant->isVideoMuted();
    }
    room.upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        port_.events().sendLocalUserMicUpdateEvent();
    } else {
        port_.events().sendLocalUserVideoUpdateEvent();
    }
}

void DefaultEngineBackend::onEngineLocalLeft() {
    forgetRemoteStreams();
    const auto state = port_.meetingState();
    if (state != MeetingPort::MeetingState::inMeeting &&
        state != MeetingPort::MeetingState::leaving) {
        // Reports come only while their session lives, so this is the channel of a join that
        // failed or was abandoned, left while the next join runs: nothing to tell anyone, and
        // that join's channel request and reports stay connected.
        return;
    }
    detachFromChannel();
    port_.handleLocalMediaLeft();
}

// ---- Remote participants' media and roles ----

void DefaultEngineBackend::onEngineRemoteMediaState(
    const std::shared_ptr<KRRtcParticipant>& participant, bool audio) {
    if (!participant || screenShareFor(participant->uid())) return;
    const auto user = port_.room().upsertNewParticipantFromRtcDB(stateOf(*participant));
    if (audio) {
        port_.events().sendRemoteUserMicStatusUpdateEvent(user);
    } else {
        port_.events().sendRemoteUserVideoStatusUpdateEvent(user);
    }
}

void DefaultEngineBackend::onEngineMovedToAudience(std::uint64_t uid) {
    const auto user = port_.room().trackUser(std::to_string(uid));
    if (!user) return;
    remoteAudienceUids_.insert(uid);
    user->setIsSharingScreen(false);
    // The one writer of a remote role here; the room store tells of the move.
    port_.room().changeRole(user, false);
}

// ---- Speakers and the local role ----

void DefaultEngineBackend::onEngineLoudestSpeaker(
    const std::shared_ptr<KRRtcParticipant>& speaker) {
    if (!port_.engineSetUp().reportsLoudestSpeaker) return;
    for (const auto& user : port_.room().meetingUsers()) {
        user->audioTrack()->setIsLoudest(false);
    }
    std::shared_ptr<KRMeetingUser> loudest;
    if (speaker) {
        loudest = port_.room().matchingUser(std::to_string(speaker->uid()));
        if (loudest) loudest->audioTrack()->setIsLoudest(true);
    }
    port_.events().sendLoudestSpeakerEvent(loudest);
}

void DefaultEngineBackend::onEngineTopSpeakers(
    const std::vector<std::shared_ptr<KRRtcParticipant>>& speakers) {
    std::vector<std::shared_ptr<KRMeetingUser>> users;
    for (const auto& speaker : speakers) {
        users.push_back(speaker ? port_.room().matchingUser(std::to_string(speaker->uid()))
                                : nullptr);
    }
    port_.events().sendActiveSpeakersEvent(users);
}

void DefaultEngineBackend::markLocalRole(bool isAudience) {
    if (const auto local = port_.getMeetingLocalUser()) local->setIsSpeaker(!isAudience);
}

}  // namespace kr
