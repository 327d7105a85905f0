#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"

// The core's side of the incoming control messages (IncomingControlMessages): what its handlers
// may ask of the meeting and tell it.

namespace kr {

/// The meeting as the incoming control messages see it: each call goes to the core unchanged.
class ClientCore::IncomingMessagesLink final : public IncomingControlMessages::Meeting {
public:
    explicit IncomingMessagesLink(ClientCore& core) : core_(core) {}

    KRCurrentRoom& currentRoom() override { return core_.currentRoom_; }
    MeetingParticipantsManager& meetingUsersManager() override {
        return core_.meetingUsersManager_;
    }
    std::shared_ptr<KRMeetingUser> userById(const std::string& id) const override {
        return core_.userById(id);
    }
    std::shared_ptr<KRMeetingUser> getUser(const std::string& id) const override {
        return core_.getUser(id);
    }
    std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const override {
        return core_.getMeetingLocalUser();
    }
    KRMeeting getCurrentMeetingData() const override { return core_.getCurrentMeetingData(); }

    void muteLocalAudio(bool isMute) override { core_.muteLocalAudio(isMute); }
    void leaveMeeting(KRUserLeftReason reason) override {
        core_.leaveCurrentMeeting(std::move(reason));
    }
    void startWhitebboard(bool remote, const std::string& userName,
                          const std::string& userId) override {
        core_.startWhitebboard(remote, userName, userId);
    }
    void stopWhiteboard() override {
        core_.stopWhiteboard([](bool) {});
    }
    void postForceStopScreenShareDarwinNotification(const std::string& reason) override {
        core_.localScreenShare_.forceStop(reason);
    }
    void switchClientRole(bool isAudience) override {
        core_.mediaBackend().switchClientRole(isAudience);
    }
    void takeHostRoleMove(bool isAudience) override {
        core_.roomEngine().takeHostRoleMove(isAudience);
    }
    void remoteShareAnnounced() override { core_.mediaBackend().remoteShareAnnounced(); }
    void changeMeetingLock(bool locked, const std::optional<std::string>& by) override {
        core_.events().changeMeetingLock(locked, by);
    }
    void changeRecording(bool on, const std::optional<std::string>& by) override {
        core_.events().changeRecording(on, by);
    }
    void closeWhiteboard(const std::optional<std::string>& by) override {
        core_.events().closeWhiteboard(by);
    }
    void holdAnnouncedHand(const std::shared_ptr<KRMeetingUser>& user) override {
        core_.roomSync_->holdAnnouncedHand(user);
    }
    void lowerLocalHandForHost() override {
        core_.roomSync_->changeLocalHand(false, RoomSync::HandChange::byHostLowerAll);
    }

    void sendHostRequestToStartAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                               bool isAudioRequest) override {
        core_.events().sendHostRequestToStartAudioVideoEvent(host, isAudioRequest);
    }
    void sendHostRequestToStopAudioVideoEvent(const std::shared_ptr<KRMeetingUser>& host,
                                              bool isAudioRequest) override {
        core_.events().sendHostRequestToStopAudioVideoEvent(host, isAudioRequest);
    }
    void sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                         bool isAudioDecline) override {
        core_.events().sendStartAudioVideoDeclineEvent(user, isAudioDecline);
    }
    void sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer) override {
        core_.events().sendHardMuteEnabledEvent(performer);
    }
    void sendHardMuteDisabledEvent(const std::shared_ptr<KRMeetingUser>& performer) override {
        core_.events().sendHardMuteDisabledEvent(performer);
    }
    void sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer,
                                       MeetingEvents::Reach reach) override {
        core_.events().sendSoftAudioMuteEnabledEvent(performer, reach);
    }
    void sendHostLoweredAllHandsEvent(const std::shared_ptr<KRMeetingUser>& performer) override {
        core_.events().sendHostLoweredAllHandsEvent(performer);
    }
    void sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user, bool isCoHost,
                                      const std::string& targetParticipantId,
                                      MeetingEvents::Reach reach) override {
        core_.events().sendCoHostRightsChangedEvent(user, isCoHost, targetParticipantId, reach);
    }
    void sendReactionReceivedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                   const std::string& reactionsType) override {
        core_.events().sendReactionReceivedEvent(user, reactionsType);
    }
    void warn(const std::string& text) override { core_.logger_.warn(text); }

private:
    ClientCore& core_;
};

std::unique_ptr<IncomingControlMessages::Meeting> ClientCore::incomingMessagesLink() {
    return std::make_unique<IncomingMessagesLink>(*this);
}

}  // namespace kr
