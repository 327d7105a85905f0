#include <chrono>

#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"

// The core's side of the room sync: what `RoomSync` may ask of the meeting, and the forwards.

namespace kr {

class ClientCore::SyncOwner final : public RoomSync::Owner {
public:
    explicit SyncOwner(ClientCore& core) : c_(core) {}

    MeetingSession* session() override { return c_.session_.get(); }
    KRCurrentRoom& room() override { return c_.currentRoom_; }
    MeetingParticipantsManager& participantMerge() override { return c_.meetingUsersManager_; }
    bool recordsGoToMerge() const override { return c_.participantsInMerge(); }
    std::string nameToShow(const std::string& userId, std::string givenName) const override {
        return c_.deps_.contacts->nameToShow(userId, std::move(givenName));
    }
    bool isLocalUserInAudienceMode() const override { return c_.isLocalUserInAudienceMode(); }
    std::string deviceId() const override { return c_.networkClient_->getDeviceId(); }
    bool bypassesServer() const override { return c_.settings_.shouldByPassAPICalls; }
    bool allowsRoomCall(std::string_view action, const Completion& completion) override {
        return c_.allowedFromJoinThroughLeave(action, completion);
    }
    void send(const KRAPIRequest<KRAPISuccess>& request,
              std::function<void(const RoomSync::Acknowledgement&)> onReply) override {
        c_.send(request, [onReply = std::move(onReply)](ClientCore&, const auto& result) {
            onReply(result);
        });
    }
    void send(const KRAPIRequest<KRRoomConnectionStatus>& request,
              std::function<void(const RoomSync::RoomStatusReply&)> onReply) override {
        c_.send(request, [onReply = std::move(onReply)](ClientCore&, const auto& result) {
            onReply(result);
        });
    }
    void startSocketService() override { c_.startSocketService(); }
    void stopSocketService() override { c_.stopSocketService(); }
    void recordingChanged(bool on, std::optional<std::uint64_t> replyAskedAtWords) override {
        c_.events().changeRecording(on, std::nullopt, replyAskedAtWords);
    }
    void startRemoteWhiteboard(const std::string& userName, const std::string& userId) override {
        c_.startWhitebboard(true, userName, userId);
    }
    void roomStatusApplied() override { c_.mediaBackend().roomStatusApplied(); }
    void announceLocalHand(bool raised) override {
        c_.sendControlMessage(raised ? ControlMessage::handRaised : ControlMessage::handLowered,
                              nullptr, {});
    }
    bool markLocalHand(bool raised) override {
        KRCurrentRoom& room = c_.currentRoom_;
        if (const auto local = room.matchingUser(room.userWebRtcId)) local->setIsHandRaised(raised);
        return c_.mediaBackend().markLocalHand(raised);
    }
    void reportLocalHandLater() override {
        c_.events_.reportLater([](MeetingEvents& events) { events.sendLocalHandRaiseEvent(); });
    }

private:
    ClientCore& c_;
};

void ClientCore::makeRoomSync() {
    syncOwner_ = std::make_unique<SyncOwner>(*this);
    // The sync holds the core weakly, through the core's own count: once the core is gone its
    // replies and retries do nothing.
    roomSync_ = RoomSync::create(
        std::shared_ptr<RoomSync::Owner>(shared_from_this(), syncOwner_.get()), queue_,
        deps_.logCollector);
}

void ClientCore::setGetPostConnectionTimer() {
    roomSync_->startPolling(std::chrono::duration_cast<platform::Clock::duration>(
        std::chrono::duration<double>(settings_.pollingAPITimeInterval)));
}

void ClientCore::completeLater(Completion completion, bool value) {
    if (!completion) return;
    std::weak_ptr<ClientCore> weak = weak_from_this();
    queue_->post([weak, completion = std::move(completion), value] {
        if (weak.lock()) completion(value);
    });
}

}  // namespace kr
