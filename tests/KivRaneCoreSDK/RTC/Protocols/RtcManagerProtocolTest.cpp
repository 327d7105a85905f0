#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Media/KRMediaEngineVideoCanvas.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerDelegate.h"
#include "KivRaneCoreSDK/RTM/Protocols/RtmManagerDelegate.h"

namespace kr {
namespace {

// A host engine that implements only what the contract requires. It finishes its local join,
// remote join and local leave only once the receiver calls the completion, and asks about
// every stream it does not know, the way an engine relies on those completions.
class MinimalEngine final : public RtcManagerProtocol {
public:
    void configureRtcEngine(const boost::json::object& data,
                            std::weak_ptr<RtcManagerDelegate> delegate) override {
        config_ = data;
        delegate_ = std::move(delegate);
    }
    void setUpLocalRtcVideoView() override {}
    void startPreview() override {}
    void stopPreview() override {}
    void joinRoom(const boost::json::object& /*data*/) override {
        auto local = std::make_shared<RtcPeerMetaData>("1", false, false, false);
        if (auto delegate = delegate_.lock()) {
            delegate->didLocalParticipantJoinChannel(local, [this, local] {
                peers_[local->id()] = local;
                log.push_back("local joined");
            });
        }
    }
    void muteUnmuteLocalAudio(bool /*isMuted*/) override {}
    void muteUnmuteLocalVideo(bool /*isMuted*/) override {}
    void switchCamera() override {}
    void leaveRtcChannel() override {
        if (auto delegate = delegate_.lock()) {
            delegate->didLocalParticipantLeaveChannel(KRUserLeftReason::leaveMeeting(), [this] {
                peers_.clear();
                log.push_back("left");
            });
        }
    }
    void setUpRemoteStreamVideoView(const std::string& id, VideoRenderMode mode) override {
        canvases_[id] = std::make_shared<KRMediaEngineVideoCanvas>(id, mode);
    }
    void muteUnmuteUserAudioStream(bool /*isMute*/, const std::string& /*uid*/) override {}
    void muteUnmuteUserVideoStream(bool /*isMute*/, const std::string& /*uid*/) override {}
    bool isConnectedToRtcServer() const override { return !peers_.empty(); }
    std::shared_ptr<RtcVideoCanvas> getRtcCanvas(const std::string& peerId) const override {
        auto it = canvases_.find(peerId);
        return it == canvases_.end() ? nullptr : it->second;
    }
    std::shared_ptr<platform::View> getVideoStreamView(const std::string& peerId) const override {
        auto canvas = getRtcCanvas(peerId);
        return canvas ? canvas->getVideoStreamView() : nullptr;
    }
    std::shared_ptr<RtcPeerMetaData> getPeerData(const std::string& peerId) const override {
        auto it = peers_.find(peerId);
        return it == peers_.end() ? nullptr : it->second;
    }
    void switchAudioDevice(KRAudioDeviceType /*type*/) override {}
    void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> /*delegate*/) override {}
    void sendPublicMessage(const KRRtmMessage& /*message*/) override {}
    void sendPrivateMessage(const KRRtmMessage& /*message*/) override {}
    void enableDisableAudioOnlyMode(bool /*isEnabled*/) override {}
    void setRemoteStreamQuality(KRRemoteStreamQuality /*quality*/,
                                const std::string& /*uid*/) override {}

    // The media service announced the stream `streamId`.
    void remoteStreamAppeared(const std::string& streamId) {
        auto delegate = delegate_.lock();
        if (!delegate) {
            return;
        }
        delegate->didRequestToGetStreamSourceType(streamId, [this,
                                                             delegate](RtcRemoteStreamType type) {
            if (type.kind() == RtcRemoteStreamType::Kind::screenShare) {
                log.push_back("share of " + type.participantId());
                return;
            }
            auto peer = std::make_shared<RtcPeerMetaData>(type.participantId(), true, true, false);
            delegate->didRemoteParticipantJoinChannel(peer, [this, peer] {
                peers_[peer->id()] = peer;
                log.push_back("remote joined " + peer->id());
            });
        });
    }

    std::vector<std::string> log;

private:
    boost::json::object config_;
    std::weak_ptr<RtcManagerDelegate> delegate_;
    std::map<std::string, std::shared_ptr<RtcPeerMetaData>> peers_;
    std::map<std::string, std::shared_ptr<KRMediaEngineVideoCanvas>> canvases_;
};

// Overrides nothing: every report gets the contract's defaults.
class SilentReceiver final : public RtcManagerDelegate {};

// Answers the stream question itself and keeps the join completions for later.
class DeferringReceiver final : public RtcManagerDelegate {
public:
    void didRemoteParticipantJoinChannel(const Peer& /*peer*/, Completion completion) override {
        held.push_back(std::move(completion));
    }
    void didRequestToGetStreamSourceType(const std::string& streamId,
                                         StreamTypeCompletion completion) override {
        completion(streamId == "9001" ? RtcRemoteStreamType::screenShare("7")
                                      : RtcRemoteStreamType::user(streamId));
    }
    std::vector<Completion> held;
};

TEST(RtcManagerProtocolTest, AReceiverThatOverridesNothingNeverLeavesTheEngineWaiting) {
    auto engine = std::make_shared<MinimalEngine>();
    auto receiver = std::make_shared<SilentReceiver>();
    engine->configureRtcEngine({{"rtc_room_channel_id", "room"}}, receiver);
    engine->joinRoom({});
    engine->remoteStreamAppeared("42");
    engine->leaveRtcChannel();
    EXPECT_EQ(engine->log, (std::vector<std::string>{"local joined", "remote joined 42", "left"}));
    EXPECT_FALSE(engine->isConnectedToRtcServer());

    // Completions that are empty are not called.
    receiver->didLocalParticipantJoinChannel(nullptr, nullptr);
    receiver->didLocalParticipantLeaveChannel(KRUserLeftReason::none(), nullptr);
    receiver->didRemoteParticipantJoinChannel(nullptr, nullptr);
    receiver->didRequestToGetStreamSourceType("1", nullptr);
}

TEST(RtcManagerProtocolTest, AReceiverMayAnswerLaterAndClassifyStreams) {
    auto engine = std::make_shared<MinimalEngine>();
    auto receiver = std::make_shared<DeferringReceiver>();
    engine->configureRtcEngine({}, receiver);
    engine->remoteStreamAppeared("42");
    engine->remoteStreamAppeared("9001");
    EXPECT_EQ(engine->log, std::vector<std::string>{"share of 7"});
    ASSERT_EQ(receiver->held.size(), 1u);
    EXPECT_FALSE(engine->getPeerData("42"));
    receiver->held[0]();
    EXPECT_TRUE(engine->getPeerData("42"));
}

TEST(RtcManagerProtocolTest, TheOptionalOperationsNeedNoBodyAndDoNothing) {
    MinimalEngine engine;
    RtcManagerProtocol& contract = engine;
    contract.configureVideoEncoderConfiguration({640, 360, 800, 15, 0});
    contract.configureLowQualityVideoStream({320, 180, 140, 15, 0});
    contract.setAudioFileForUserJoinChime("/join.wav");
    contract.setAudioFileForUserLeftChime("/left.wav");
    contract.playChimeOnUserJoin();
    contract.playChimeOnUserLeave();
    contract.switchClientRole(true);
    contract.setRemoteParticipantsVolume(50);
    contract.applyVirtualBackground(KRVirtualBackgroundType::none());
    contract.setUpDualStream(true);
    contract.startScreenShare("group.app");
    contract.stopScreenShare();
    EXPECT_TRUE(engine.log.empty());

    contract.setUpRemoteStreamVideoView("5", VideoRenderMode::scaleAspectFill);
    ASSERT_TRUE(contract.getRtcCanvas("5"));
    EXPECT_EQ(contract.getVideoStreamView("5"), contract.getRtcCanvas("5")->getVideoStreamView());
    EXPECT_FALSE(contract.getVideoStreamView("6"));
}

}  // namespace
}  // namespace kr
