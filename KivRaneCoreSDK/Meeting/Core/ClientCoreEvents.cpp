#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

// The client's side of its reports: what they read of the meeting. The reports themselves, and
// the room store changes they follow, are `MeetingEvents`'.

namespace kr {

std::unique_ptr<MeetingEvents::Meeting> ClientCore::meetingForEvents() {
    // Holds the client by reference: it is owned by the client's own `events_`.
    class ClientMeeting final : public MeetingEvents::Meeting {
    public:
        explicit ClientMeeting(ClientCore& core) : core_(core) {}
        KRMeeting snapshot() const override { return core_.getCurrentMeetingData(); }
        std::shared_ptr<KRMeetingUser> localUser() const override {
            return core_.getMeetingLocalUser();
        }
        std::shared_ptr<KRMeetingUser> userById(
            const std::optional<std::string>& id) const override {
            return core_.userById(id);
        }
        std::string whiteboardUrl() const override { return core_.whiteboardUrl(); }
        bool wantsLocalSpeakerLevel() const override {
            return core_.settings_.useLocalSpeakerSpeakingOnMuteCallback;
        }
        void postReport(std::function<void(MeetingEvents&)> report) override {
            core_.queue_->post([weak = core_.weak_from_this(), session = core_.sessionToken(),
                                report = std::move(report)] {
                const auto self = weak.lock();
                if (self && session.live()) report(self->events());
            });
        }

    private:
        ClientCore& core_;
    };
    return std::make_unique<ClientMeeting>(*this);
}

}  // namespace kr
