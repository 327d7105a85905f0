#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"
#include "platform/Media/MediaEngineFactory.h"

namespace kr::test {

/// A host-supplied engine for rooms whose media engine is "kr-media", as a host app would write
/// one against RtcManagerProtocol: here over the media stand-in, so tests and the example host
/// can run meetings on both engines. It takes the facade's "kr-media" dictionaries (an empty
/// set-up dictionary; a join dictionary of "meetingId", "meetingPin", "displayName",
/// "serverEnvironment") and meets the other engines of its bus in the channel "kr-media-<id>"
/// under its own uid. Peers, reports and control messages work as with the library's own
/// engine, whose implementation it reuses on its own engine factory and messaging session.
///
/// A join while connected (the facade may join again when the network returns) is a no-op.
///
/// Threading: confined to the queue of its dependencies, like the library's engine.
class KrMediaTestEngine : public RtcManagerProtocol {
public:
    struct Options {
        /// The engine uid, also the messaging user id; 0 picks the next of a process counter.
        std::uint64_t uid = 0;
        std::string appId = "kr-media";
        /// What goes out from the start (the "kr-media" join dictionary does not say).
        bool initialAudioOn = false;
        bool initialVideoOn = false;
    };

    /// `dependencies` must carry the queue, media bus and messaging service to meet in.
    static std::shared_ptr<KrMediaTestEngine> create(const KRDependencies& dependencies,
                                                     Options options);
    static std::shared_ptr<KrMediaTestEngine> create(const KRDependencies& dependencies) {
        return create(dependencies, Options{});
    }

    std::uint64_t uid() const { return uid_; }
    /// The channel of a meeting id.
    static std::string channelFor(const std::string& meetingId) { return "kr-media-" + meetingId; }
    /// What the facade handed over, in order.
    const std::vector<boost::json::object>& configureData() const { return configureData_; }
    const std::vector<boost::json::object>& joinData() const { return joinData_; }
    /// The engine underneath (for the stand-in's call log and injected callbacks).
    std::shared_ptr<platform::MediaEngine> mediaEngine() const { return inner_->rtcEngine(); }
    const std::shared_ptr<AgoraRtcManager>& inner() const { return inner_; }

    // ---- RtcManagerProtocol ----
    void configureRtcEngine(const boost::json::object& data,
                            std::weak_ptr<RtcManagerDelegate> delegate) override;
    void setUpLocalRtcVideoView() override { inner_->setUpLocalRtcVideoView(); }
    void startPreview() override { inner_->startPreview(); }
    void stopPreview() override { inner_->stopPreview(); }
    void joinRoom(const boost::json::object& data) override;
    void muteUnmuteLocalAudio(bool isMuted) override { inner_->muteUnmuteLocalAudio(isMuted); }
    void muteUnmuteLocalVideo(bool isMuted) override { inner_->muteUnmuteLocalVideo(isMuted); }
    void switchCamera() override { inner_->switchCamera(); }
    void leaveRtcChannel() override { inner_->leaveRtcChannel(); }
    void setUpRemoteStreamVideoView(const std::string& id, VideoRenderMode renderMode) override {
        inner_->setUpRemoteStreamVideoView(id, renderMode);
    }
    void muteUnmuteUserAudioStream(bool isMute, const std::string& uid) override {
        inner_->muteUnmuteUserAudioStream(isMute, uid);
    }
    void muteUnmuteUserVideoStream(bool isMute, const std::string& uid) override {
        inner_->muteUnmuteUserVideoStream(isMute, uid);
    }
    bool isConnectedToRtcServer() const override { return inner_->isConnectedToRtcServer(); }
    std::shared_ptr<RtcVideoCanvas> getRtcCanvas(const std::string& peerId) const override {
        return inner_->getRtcCanvas(peerId);
    }
    std::shared_ptr<platform::View> getVideoStreamView(const std::string& peerId) const override {
        return inner_->getVideoStreamView(peerId);
    }
    void switchClientRole(bool isAudience) override { inner_->switchClientRole(isAudience); }
    std::shared_ptr<RtcPeerMetaData> getPeerData(const std::string& peerId) const override {
        return inner_->getPeerData(peerId);
    }
    void setRemoteParticipantsVolume(std::int64_t value) override {
        inner_->setRemoteParticipantsVolume(value);
    }
    void switchAudioDevice(KRAudioDeviceType type) override { inner_->switchAudioDevice(type); }
    void setRtmDelegate(std::weak_ptr<RtmManagerDelegate> delegate) override {
        inner_->setRtmDelegate(std::move(delegate));
    }
    void sendPublicMessage(const KRRtmMessage& message) override {
        inner_->sendPublicMessage(message);
    }
    void sendPrivateMessage(const KRRtmMessage& message) override {
        inner_->sendPrivateMessage(message);
    }
    void enableDisableAudioOnlyMode(bool isEnabled) override {
        inner_->enableDisableAudioOnlyMode(isEnabled);
    }
    void setRemoteStreamQuality(KRRemoteStreamQuality quality, const std::string& uid) override {
        inner_->setRemoteStreamQuality(quality, uid);
    }

private:
    KrMediaTestEngine(std::shared_ptr<AgoraRtcManager> inner, Options options,
                      std::uint64_t uid);

    const std::shared_ptr<AgoraRtcManager> inner_;
    const Options options_;
    const std::uint64_t uid_;
    std::vector<boost::json::object> configureData_;
    std::vector<boost::json::object> joinData_;
};

}  // namespace kr::test
