#include <algorithm>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCoreRequests.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Network/Requests/StartScreenShareRequest.h"
#include "KivRaneCoreSDK/Network/Requests/StopScreenShareRequest.h"

// The core's side of the local screen share (`LocalScreenShare`): the host's calls forward to
// it, and the share reaches the meeting through what follows.

namespace kr {

void ClientCore::shareScreenAPICall(Completion completion) {
    KR_DCHECK_RUN_ON(checker_);
    localScreenShare_.start(std::move(completion));
}

void ClientCore::stopLocalScreenShare() {
    KR_DCHECK_RUN_ON(checker_);
    localScreenShare_.stop();
}

void ClientCore::addNotificationsObservers() {
    localScreenShare_.beginMeeting();
    addApplicationObservers();
}

void ClientCore::removeNotificationsObservers() {
    localScreenShare_.endMeeting();
    removeApplicationObservers();
}

// ---- LocalScreenShare::Owner ----

class ClientCore::ShareOwner final : public LocalScreenShare::Owner {
public:
    explicit ShareOwner(ClientCore& core) : c_(core) {}

    bool localShareMayStart() const override {
        return c_.meetingState() == MeetingState::inMeeting;
    }
    MeetingSession::Token shareSessionToken() const override { return c_.sessionToken(); }
    bool shareBypassesServer() const override { return c_.settings_.shouldByPassAPICalls; }

    void requestShareStream(std::function<void(const LocalScreenShare::StreamReply&)> done) override {
        const KRCurrentRoom& room = c_.currentRoom_;
        c_.send(StartScreenShareRequest(room.meetingId, room.userWebRtcId),
                [done = std::move(done)](ClientCore&, const auto& result) {
                    LocalScreenShare::StreamReply reply;
                    reply.granted = result.ok() && result.value().success();
                    if (reply.granted) {
                        reply.uid = result.value().agoraUid();
                        reply.token = result.value().agoraToken().value_or("");
                    } else {
                        reply.error = replyErrorMessage(result);
                    }
                    done(reply);
                });
    }

    void requestShareStop() override {
        const KRCurrentRoom& room = c_.currentRoom_;
        c_.send(StopScreenShareRequest(room.meetingId, room.userWebRtcId),
                [](ClientCore&, const auto&) {});
    }

    void sendShareMessage(KRControlMessage message, Completion completion) override {
        c_.sendControlMessage(message, nullptr, std::move(completion));
    }

    bool meetingShowsAnotherShare() const override {
        // The meeting's tracks as its backend holds them: the room store's with the default
        // engine, the participant merge's share tracks with the room's engine. Both show the
        // local share's own stream as a share track too, by its stream or by its sharer.
        const auto local = c_.mediaBackend().localUser();
        const std::string localId = local ? local->id() : c_.currentRoom_.userWebRtcId;
        const auto tracks = c_.mediaBackend().mediaTracks();
        return std::any_of(tracks.begin(), tracks.end(), [&](const auto& track) {
            if (!track || track->sourceType() != KRMediaTrackSourceType::screenShare) return false;
            if (c_.localScreenShare_.isOwnStream(uintValue(track->id()))) return false;
            const auto share = std::dynamic_pointer_cast<KRScreenShareTrack>(track);
            return !share || share->sharingUserId() != localId;
        });
    }
    bool roomShowsLocalShare() const override { return c_.currentRoom_.isLocalUserSharingScreen(); }
    bool backendShowsLocalShare() const override {
        return c_.mediaBackend().knowsLocalShareWithoutTrack();
    }
    void reportLocalShare(const KRScreenShareState& state, MeetingEvents::Reach reach) override {
        c_.events_.sendLocalScreenShareEvent(state, reach);
    }
    std::string shareAppGroup() const override { return c_.settings_.currentAppGroupName; }
    std::weak_ptr<const void> shareLifetime() const override { return c_.weak_from_this(); }

private:
    ClientCore& c_;
};

LocalScreenShare::Owner& ClientCore::makeShareOwner() {
    shareOwner_ = std::make_unique<ShareOwner>(*this);
    return *shareOwner_;
}

}  // namespace kr
