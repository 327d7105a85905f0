#pragma once

#include <memory>

#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Backends/MeetingPort.h"

// Internal to the core: the meeting as its media backends reach it.

namespace kr {

/// The core's side of `MeetingPort`: each call is the core's own (ClientCorePort.cpp). The core
/// owns it and hands it to the backends it makes, which therefore never see the core.
class ClientCore::Port final : public MeetingPort {
public:
    explicit Port(ClientCore& core) : core_(core) {}

    SessionToken sessionToken() const override;
    MeetingState meetingState() const override;
    bool isJoining() const override;
    bool hasJoinedMeeting() const override;
    std::weak_ptr<MeetingPort> weakPort() override;

    KRCurrentRoom& room() override;
    MeetingParticipantsManager& participants() override;
    KivRaneRealTimeLogger2& logger() override;
    EngineSetUp engineSetUp() const override;
    const KRUserRole& joinRole() const override;
    KRApiServer serverEnvironment() const override;
    bool isLocalUserInAudienceMode() const override;
    void remoteRoleReported(const std::string& participantId) override;

    void runServerJoin(ServerJoin part, std::function<void()> thenMedia) override;
    bool markMediaSetUp() override;
    void completeLocalMediaJoin(const std::string& localId,
                                std::function<void()> finished) override;
    void failJoin(const KRMeetingJoinError& error) override;
    void handleLocalMediaLeft(std::optional<KRUserLeftReason> engineReason) override;

    void localRoleConfirmed(bool isAudience) override;
    void engineConnectionChanged(KRConnectionState state) override;

    void getRoomConnectionStatus(Completion completion) override;
    void completeLater(Completion completion, bool value) override;

    void handleControlMessage(MediaBackend::Kind backend, ControlMessageRoute route,
                              const KRRtmMessage& message) override;

    std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const override;
    MeetingEvents& events() override;

    LocalScreenShare& localShare() override;

private:
    ClientCore& core_;
};

}  // namespace kr
