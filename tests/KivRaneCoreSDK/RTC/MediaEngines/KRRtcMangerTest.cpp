#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngineFactory.h"
#include "platform/UI/Color.h"
#include "support/RtcDelegateRecorder.h"
#include "testing/ScopedTempDirectory.h"
#include "testing/Media/ScreenShareBroadcast.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using platform::AudioVolumeInfo;
using platform::MediaCodes;
using platform::MediaEngine;
using platform::MediaEngineDelegate;
using platform::MediaOperation;
using Texts = std::vector<std::string>;

const Texts kSetUpCalls = {
    "enableDualStreamMode(true)",
    "setChannelProfile(1)",
    "setDefaultAudioRouteToSpeakerphone(true)",
    "setRemoteSubscribeFallbackOption(1)",
    "setAudioProfile(1, 7)",
    "setAudioProfile(1, 1)",
    "setAudioSessionOperationRestriction(4)",
    R"(setParameters({"che.audio.use.callkit":true}))",
    R"(setParameters({"che.audio.force_report_local_volume":true}))",
    R"(setParameters({"che.audio.restartWhenInterrupted":true}))",
    "enableAudioVolumeIndication(200, 5, true)",
    "enableDeepLearningDenoise(true)",
    "enableVideo()",
};

/// One client's engine world: a wrapper on a factory of its own, reporting to a recorder.
struct RtcClient {
    std::shared_ptr<platform::MediaEngineFactory> factory;
    std::shared_ptr<test::RecordingLogger> logger = std::make_shared<test::RecordingLogger>();
    std::shared_ptr<test::RtcDelegateRecorder> recorder =
        std::make_shared<test::RtcDelegateRecorder>();
    std::shared_ptr<KRRtcManger> rtc;

    RtcClient(const std::shared_ptr<platform::MediaBus>& bus,
              const std::shared_ptr<platform::MainQueue>& queue)
        : factory(std::make_shared<platform::MediaEngineFactory>(bus, queue)),
          rtc(KRRtcManger::create(queue, factory, logger)) {}

    std::shared_ptr<MediaEngine> engine() const { return rtc->rtcEngine(); }
    Texts take() { return recorder->take(); }
    void configure(int volumeInterval = 0) {
        rtc->configureRTCEngine("app", recorder, volumeInterval);
    }
    /// Receives what the client would: sets up every added stream and subscribes to it.
    void actLikeTheClient(int renderMode = MediaCodes::kRenderHidden) {
        recorder->onRemoteAdded = [rtc = std::weak_ptr(rtc), renderMode](std::uint64_t uid) {
            auto self = rtc.lock();
            self->setUpRemoteVideo(uid, renderMode);
            self->muteUnmuteUserAudioStream(false, std::to_string(uid));
            self->muteUnmuteUserVideoStream(false, std::to_string(uid));
        };
    }
};

class KRRtcMangerTest : public ::testing::Test {
protected:
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    RtcClient a{bus, queue};
    KRRtcManger& rtc = *a.rtc;

    void run() { queue->runPending(); }
    void advance(std::chrono::milliseconds d) {
        clock->advance(d);
        queue->runPending();
    }
    void inject(std::function<void(MediaEngineDelegate&)> callback) {
        a.engine()->inject(std::move(callback));
        run();
    }
    /// Configured and joined as `uid`; the join's reports are taken.
    void join(std::uint64_t uid, bool audience = false) {
        a.configure();
        rtc.joinRoom(uid, "token", "room", audience, std::nullopt);
        run();
        a.take();
    }
    std::shared_ptr<KRRtcParticipant> remote(std::uint64_t uid) {
        auto p = rtc.setUpRemoteVideo(uid, MediaCodes::kRenderHidden);
        a.take();
        return p;
    }
    void volumes(std::vector<AudioVolumeInfo> speakers) {
        inject([speakers](MediaEngineDelegate& d) {
            d.reportAudioVolumeIndicationOfSpeakers(speakers, 0);
        });
    }
};

// ---- set-up, join, leave ---------------------------------------------------------------------

TEST_F(KRRtcMangerTest, SetUpRunsItsSequenceOnceAndAgainAfterTheLeave) {
    rtc.configureRTCEngine("app", a.recorder, 200);
    const auto first = a.engine();
    ASSERT_TRUE(first);
    EXPECT_EQ(first->callTexts(), kSetUpCalls);
    EXPECT_EQ(a.logger->lines, Texts{"RTC Engine Configured"});

    // Configured again with the same app id: only the delegate changes.
    auto other = std::make_shared<test::RtcDelegateRecorder>();
    rtc.configureRTCEngine("app", other, 0);
    EXPECT_EQ(first->callTexts().size(), kSetUpCalls.size());
    EXPECT_EQ(rtc.delegate(), other);
    EXPECT_EQ(a.logger->lines.size(), 1u);

    rtc.configureRTCEngine("app", a.recorder, 200);
    rtc.joinRoom(5, "token", "room", false, std::nullopt);
    run();
    EXPECT_TRUE(rtc.isConnected());
    first->clearCallLog();
    rtc.leaveMeetingRoom();
    run();
    EXPECT_EQ(first->callTexts(),
              (Texts{"leaveChannel()", "stopPreview()", "setupLocalVideo(none)",
                     "setDelegate(none)", "disableVideo()"}));
    EXPECT_TRUE(first->isDestroyed());
    EXPECT_FALSE(rtc.rtcEngine());
    EXPECT_FALSE(rtc.isConnected());
    EXPECT_EQ(a.logger->lines.back(), "Destroying RTC Engine Instance");

    rtc.configureRTCEngine("app", a.recorder, 200);
    ASSERT_TRUE(a.engine());
    EXPECT_NE(a.engine(), first);
    EXPECT_EQ(a.engine()->callTexts(), kSetUpCalls);
}

TEST_F(KRRtcMangerTest, ANewAppIdRecreatesTheEngine) {
    rtc.configureRTCEngine("app-1", a.recorder, 0);
    const auto first = a.engine();
    rtc.configureRTCEngine("app-2", a.recorder, 0);
    EXPECT_TRUE(first->isDestroyed());
    ASSERT_TRUE(a.engine());
    EXPECT_EQ(a.engine()->appId(), "app-2");
    EXPECT_EQ(rtc.rtcEngineAppId(), "app-2");
    EXPECT_EQ(a.engine()->callTexts().size(), kSetUpCalls.size());
}

TEST_F(KRRtcMangerTest, ANewAppIdInAChannelKeepsTheEngineUntilTheLeave) {
    RtcClient b{bus, queue};
    b.configure();
    b.rtc->joinRoom(2, "token", "room", false, std::nullopt);
    join(5);
    b.take();
    const auto first = a.engine();

    rtc.configureRTCEngine("app-2", a.recorder, 0);
    run();
    EXPECT_EQ(a.engine(), first);
    EXPECT_FALSE(first->isDestroyed());
    EXPECT_TRUE(rtc.isConnected());
    EXPECT_EQ(rtc.rtcEngineAppId(), "app-2");
    EXPECT_EQ(rtc.getRtcParticipants().size(), 1u) << "the local participant stays listed";
    EXPECT_TRUE(a.take().empty());
    EXPECT_TRUE(b.take().empty()) << "the others must not see the user quit";

    // The new app id applies to the engine made after the leave.
    rtc.leaveMeetingRoom();
    run();
    EXPECT_EQ(a.take(), (Texts{"connection(0)", "localLeft"}));
    rtc.configureRTCEngine("app-2", a.recorder, 0);
    ASSERT_TRUE(a.engine());
    EXPECT_NE(a.engine(), first);
    EXPECT_EQ(a.engine()->appId(), "app-2");
}

TEST_F(KRRtcMangerTest, JoinSetsTheRoleAndBackgroundBeforeJoiningWithoutAutoSubscribe) {
    // Without an engine nothing reaches one, but the role is still kept.
    rtc.joinRoom(5, "token", "room", true, KRVirtualBackgroundType::none());
    EXPECT_EQ(rtc.currentUserRole(), MediaCodes::kRoleAudience);
    EXPECT_FALSE(rtc.isConnected());

    a.configure();
    a.engine()->clearCallLog();
    rtc.joinRoom(5, "token", "room", true,
                 KRVirtualBackgroundType::blur(KRVirtaulBackgroundBlurIntensity::medium));
    EXPECT_EQ(a.engine()->callTexts(),
              (Texts{"setClientRole(2)",
                     "enableVirtualBackground(true, {type: 3, color: 16777215, source: , "
                     "blurDegree: 2})",
                     "joinChannelByToken(token, room, , 5, {autoSubscribeAudio: false, "
                     "autoSubscribeVideo: false, publishLocalAudio: true, publishLocalVideo: "
                     "true})"}));
    EXPECT_EQ(a.logger->lines.back(), "Local Participant Joining RTC Channel room");

    RtcClient b{bus, queue};
    b.configure();
    b.engine()->clearCallLog();
    b.rtc->joinRoom(6, "token", "room", false, std::nullopt);
    EXPECT_EQ(b.engine()->callArguments(MediaOperation::enableVirtualBackground).size(), 0u);
    EXPECT_EQ(b.rtc->currentUserRole(), MediaCodes::kRoleBroadcaster);
}

TEST_F(KRRtcMangerTest, VirtualBackgroundKinds) {
    a.configure();
    const struct {
        KRVirtualBackgroundType background;
        std::string arguments;
    } cases[] = {
        {KRVirtualBackgroundType::none(), "false, none"},
        {KRVirtualBackgroundType::blur(KRVirtaulBackgroundBlurIntensity::low),
         "true, {type: 3, color: 16777215, source: , blurDegree: 1}"},
        {KRVirtualBackgroundType::blur(KRVirtaulBackgroundBlurIntensity::high),
         "true, {type: 3, color: 16777215, source: , blurDegree: 3}"},
        {KRVirtualBackgroundType::image("/tmp/bg.png"),
         "true, {type: 2, color: 16777215, source: /tmp/bg.png, blurDegree: 3}"},
        {KRVirtualBackgroundType::color(std::make_shared<platform::Color>(1.0, 0.0, 0.0)),
         "true, {type: 1, color: 16711680, source: , blurDegree: 3}"},
    };
    for (const auto& c : cases) {
        a.engine()->clearCallLog();
        rtc.applyVirtualBackground(c.background);
        EXPECT_EQ(a.engine()->callArguments(MediaOperation::enableVirtualBackground),
                  Texts{c.arguments});
    }
}

TEST_F(KRRtcMangerTest, EncoderSettingsAndTheLowStreamText) {
    a.configure();
    a.engine()->clearCallLog();
    rtc.configureVideoEncoderConfiguration({.width = 640, .height = 360, .bitRate = 800,
                                            .frameRate = 15, .orientation = 1});
    rtc.configureLowQualityVideoStream({.width = 160, .height = 90, .bitRate = 65,
                                        .frameRate = 7, .orientation = 0});
    const auto texts = a.engine()->callTexts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], "setVideoEncoderConfiguration({width: 640, height: 360, frameRate: 15, "
                        "bitrate: 800, orientationMode: 1})");
    const auto parameters = a.engine()->callArguments(MediaOperation::setParameters);
    ASSERT_EQ(parameters.size(), 1u);
    const auto json = boost::json::parse(parameters[0]).as_object();
    ASSERT_EQ(json.size(), 1u);
    const auto& stream = json.at("che.video.lowBitRateStreamParameter").as_object();
    EXPECT_EQ(stream.size(), 4u);
    EXPECT_EQ(stream.at("width").to_number<int>(), 160);
    EXPECT_EQ(stream.at("height").to_number<int>(), 90);
    EXPECT_EQ(stream.at("frameRate").to_number<int>(), 7);
    EXPECT_EQ(stream.at("bitRate").to_number<int>(), 65);

}

TEST_F(KRRtcMangerTest, AnUnusableEncoderValueIsReplacedByItsDefaultAndTheRestKept) {
    a.configure();
    using C = KRRtcVideoEncoderConfig;
    const auto highText = [](const C& c) {
        return "setVideoEncoderConfiguration({width: " + std::to_string(c.width) +
               ", height: " + std::to_string(c.height) + ", frameRate: " +
               std::to_string(c.frameRate) + ", bitrate: " + std::to_string(c.bitRate) +
               ", orientationMode: " + std::to_string(c.orientation) + "})";
    };
    const struct {
        C given;
        C high;  // what the main stream's encoder is handed
        C low;   // the low stream's parameters (no orientation)
        std::size_t replaced;
    } cases[] = {
        {{640, 360, 800, 0, 1}, {640, 360, 800, 15, 1}, {640, 360, 800, 7, 0}, 1},
        {{0, 360, 800, 24, 0}, {480, 360, 800, 24, 0}, {160, 360, 800, 24, 0}, 1},
        {{640, -1, 0, -5, 2}, {640, 360, 0, 15, 2}, {640, 90, 0, 7, 0}, 2},
        {{640, 360, 1LL << 40, 30, -(1LL << 40)}, {640, 360, 640, 30, 0}, {640, 360, 64, 30, 0}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(highText(c.given));
        a.engine()->clearCallLog();
        a.logger->warnings.clear();
        rtc.configureVideoEncoderConfiguration(c.given);
        rtc.configureLowQualityVideoStream(c.given);
        ASSERT_FALSE(a.engine()->callTexts().empty());
        EXPECT_EQ(a.engine()->callTexts()[0], highText(c.high));
        const auto parameters = a.engine()->callArguments(MediaOperation::setParameters);
        ASSERT_EQ(parameters.size(), 1u);
        const auto json = boost::json::parse(parameters[0]).as_object();
        const auto& stream = json.at("che.video.lowBitRateStreamParameter").as_object();
        EXPECT_EQ((C{stream.at("width").to_number<std::int64_t>(),
                     stream.at("height").to_number<std::int64_t>(),
                     stream.at("bitRate").to_number<std::int64_t>(),
                     stream.at("frameRate").to_number<std::int64_t>(), 0}),
                  c.low);
        EXPECT_EQ(a.logger->warnings.size(), 2 * c.replaced) << "one warning per replaced value";
    }
}

TEST_F(KRRtcMangerTest, LocalCanvasAndParticipantView) {
    a.configure();
    auto view = platform::View::create();
    rtc.setLocalCanvas(view);
    EXPECT_EQ(a.engine()->localView(), view);
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::setupLocalVideo).back(),
              "{uid: 0, view: view, renderMode: 1}");
    rtc.setLocalCanvas(nullptr);
    EXPECT_EQ(a.engine()->localView(), nullptr);
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::setupLocalVideo).back(), "none");

    auto participant = std::make_shared<KRRtcParticipant>(9, MediaCodes::kRenderHidden);
    rtc.setUpLocalRtcParticipantView(participant);
    EXPECT_EQ(a.engine()->localView(), participant->getRtcCanvasView());
    rtc.startPreview();
    EXPECT_TRUE(a.engine()->isPreviewing());
    rtc.stopPreview();
    EXPECT_FALSE(a.engine()->isPreviewing());
}

// ---- media controls --------------------------------------------------------------------------

TEST_F(KRRtcMangerTest, LocalMuteReportsFollowTheJoinReport) {
    a.configure();
    rtc.muteUnmuteLocalAudio(true);
    rtc.muteUnmuteLocalVideo(true);
    EXPECT_TRUE(a.take().empty()) << "no local participant yet";
    EXPECT_TRUE(a.engine()->isLocalAudioMuted());
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::enableLocalVideo), Texts{"false"});

    rtc.joinRoom(5, "token", "room", false, std::nullopt);
    run();
    EXPECT_EQ(a.take(), (Texts{"connection(1)", "connection(2)", "localJoined", "localAudio(5:mm)",
                               "localVideo(5:mm)", "route(Built in Speaker)"}));
    ASSERT_EQ(rtc.getRtcParticipants().size(), 1u);
    EXPECT_FALSE(rtc.getRtcParticipants()[0]->isAudience());

    rtc.muteUnmuteLocalVideo(false);
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::muteLocalVideoStream).back(), "false");
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::enableLocalVideo).back(), "true");
    rtc.muteUnmuteLocalAudio(false);
    EXPECT_EQ(a.take(), (Texts{"localVideo(5:ml)", "localAudio(5:ll)"}));
}

TEST_F(KRRtcMangerTest, JoinWithoutMutesReportsOnlyTheJoin) {
    join(5);
    rtc.leaveMeetingRoom();
    run();
    a.take();
    a.configure();
    rtc.joinRoom(5, "token", "room", true, std::nullopt);
    run();
    const auto events = a.take();
    EXPECT_EQ(std::count(events.begin(), events.end(), "localJoined"), 1);
    EXPECT_EQ(std::count_if(events.begin(), events.end(),
                            [](const std::string& e) { return e.starts_with("local") &&
                                                              e != "localJoined"; }),
              0);
    EXPECT_TRUE(rtc.getRtcParticipants()[0]->isAudience());
}

TEST_F(KRRtcMangerTest, AudioDeviceTable) {
    a.configure();
    const struct {
        KRAudioDeviceType type;
        Texts calls;
    } rows[] = {
        {KRAudioDeviceType::audioOff,
         {"muteAllRemoteAudioStreams(true)", "setEnableSpeakerphone(false)",
          "adjustPlaybackSignalVolume(0)"}},
        {KRAudioDeviceType::speaker,
         {"muteAllRemoteAudioStreams(false)", "setEnableSpeakerphone(true)",
          "adjustPlaybackSignalVolume(100)"}},
        {KRAudioDeviceType::device,
         {"muteAllRemoteAudioStreams(false)", "setEnableSpeakerphone(false)",
          "adjustPlaybackSignalVolume(100)"}},
    };
    for (const auto& row : rows) {
        a.engine()->clearCallLog();
        rtc.switchAudioDevice(row.type);
        EXPECT_EQ(a.engine()->callTexts(), row.calls) << rawValue(row.type);
    }
    EXPECT_EQ(rtc.currentRTCAudioRoute(), KRAudioRouteType::speaker) << "only the engine sets it";
}

TEST_F(KRRtcMangerTest, RemoteUidTextThatIsNoNumberMakesNoEngineCall) {
    a.configure();
    a.engine()->clearCallLog();
    rtc.muteUnmuteUserAudioStream(true, "abc");
    rtc.muteUnmuteUserVideoStream(true, "");
    rtc.setRemoteStreamQuality(KRRemoteStreamQuality::low, "abc");
    EXPECT_TRUE(a.engine()->callTexts().empty());
    EXPECT_NE(std::find(a.logger->lines.begin(), a.logger->lines.end(),
                        "Setting Remote User Video Quality of UID abc to ::: Low"),
              a.logger->lines.end());

    rtc.muteUnmuteUserAudioStream(true, "7");
    rtc.muteUnmuteUserVideoStream(false, "7");
    rtc.setRemoteStreamQuality(KRRemoteStreamQuality::low, "7");
    rtc.setRemoteStreamQuality(KRRemoteStreamQuality::high, "7");
    rtc.setRemoteUsersVolume(55);
    EXPECT_EQ(a.engine()->callTexts(),
              (Texts{"muteRemoteAudioStream(7, true)", "muteRemoteVideoStream(7, false)",
                     "setRemoteVideoStream(7, 1)", "setRemoteVideoStream(7, 0)",
                     "adjustPlaybackSignalVolume(55)"}));
    EXPECT_EQ(a.logger->lines.back(), "Setting Remote User Video Quality of UID 7 to ::: High");
}

TEST_F(KRRtcMangerTest, RemoteVideoSetUpKeepsOneParticipantPerUid) {
    a.configure();
    a.engine()->clearCallLog();
    const auto first = rtc.setUpRemoteVideo(7, MediaCodes::kRenderHidden);
    const auto second = rtc.setUpRemoteVideo(7, MediaCodes::kRenderFit);
    ASSERT_EQ(rtc.getRtcParticipants().size(), 1u);
    EXPECT_EQ(rtc.getRtcParticipants()[0], second);
    EXPECT_FALSE(second->isAudience());
    EXPECT_EQ(a.engine()->remoteView(7), second->getRtcCanvasView());
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::setParameters),
              Texts{R"({"che.video.render_background_color":{"uid":7, "r":43, "g":43, "b":43}})"});
}

TEST_F(KRRtcMangerTest, BlockedUidIsRefusedAtItsJoinAndNeverReported) {
    join(5);
    rtc.blockRemoteAudioVideo(9);
    rtc.blockRemoteAudioVideo(9);
    EXPECT_EQ(rtc.blockedUids(), std::vector<std::uint64_t>{9});
    a.engine()->clearCallLog();
    inject([](MediaEngineDelegate& d) { d.didJoinedOfUid(9, 0); });
    EXPECT_EQ(a.engine()->callTexts(),
              (Texts{"muteRemoteAudioStream(9, true)", "muteRemoteVideoStream(9, true)"}));
    EXPECT_TRUE(a.take().empty());
    inject([](MediaEngineDelegate& d) { d.didOfflineOfUid(9, 0); });
    EXPECT_EQ(a.take(), Texts{"remoteRemoved(9, leaveMeeting)"});

    rtc.removeBlockedRemoteAudioVideo(4);
    rtc.removeBlockedRemoteAudioVideo(9);
    EXPECT_TRUE(rtc.blockedUids().empty());
    inject([](MediaEngineDelegate& d) { d.didJoinedOfUid(9, 0); });
    EXPECT_EQ(a.take(), Texts{"remoteAdded(9)"});
}

TEST_F(KRRtcMangerTest, SwitchToAudienceMutesFirstThenChangesTheRole) {
    join(5);
    a.engine()->clearCallLog();
    rtc.switchClientRole(true);
    EXPECT_EQ(a.take(), (Texts{"localAudio(5:ml)", "localVideo(5:mm)"}));
    EXPECT_EQ(a.engine()->callTexts(),
              (Texts{"muteLocalAudioStream(true)", "muteLocalVideoStream(true)",
                     "enableLocalVideo(false)", "setClientRole(2)"}));
    EXPECT_EQ(rtc.currentUserRole(), MediaCodes::kRoleAudience);
}

// ---- engine callbacks: participants and media state ------------------------------------------

TEST_F(KRRtcMangerTest, RemoteLeaveByReason) {
    const struct {
        int reason;
        Texts events;
        bool stays;
    } cases[] = {
        {0, {"remoteRemoved(7, leaveMeeting)"}, false},
        {1, {"remoteRemoved(7, networkDropped)"}, false},
        {2, {"movedToAudience(7)"}, false},
        {3, {}, true},
    };
    join(5);
    for (const auto& c : cases) {
        auto participant = remote(7);
        a.recorder->events.clear();
        inject([&, reason = c.reason](MediaEngineDelegate& d) { d.didOfflineOfUid(7, reason); });
        EXPECT_EQ(a.take(), c.events) << c.reason;
        EXPECT_EQ(participant->canvasVideoView(), nullptr) << c.reason;
        EXPECT_EQ(participant->getRtcCanvas()->view, nullptr) << c.reason;
        EXPECT_EQ(a.engine()->remoteView(7), nullptr) << c.reason;
        EXPECT_EQ(rtc.getRtcParticipants().size(), c.stays ? 2u : 1u) << c.reason;
        EXPECT_EQ(a.logger->lines.back(), "Remote Participant has Left RTC Channel with UID - 7");
    }
}

TEST_F(KRRtcMangerTest, MovedToAudienceIsReportedWhileTheParticipantIsStillListed) {
    join(5);
    remote(7);
    bool listed = false;
    struct Probe : test::RtcDelegateRecorder {
        std::function<void()> onMoved;
        void didRemoteParticipantMovedToAudience(std::uint64_t uid) override {
            RtcDelegateRecorder::didRemoteParticipantMovedToAudience(uid);
            onMoved();
        }
    };
    auto probe = std::make_shared<Probe>();
    probe->onMoved = [&] {
        for (const auto& p : rtc.getRtcParticipants()) listed = listed || p->uid() == 7;
    };
    rtc.setDelegate(probe);
    inject([](MediaEngineDelegate& d) { d.didOfflineOfUid(7, 2); });
    EXPECT_TRUE(listed);
    EXPECT_EQ(rtc.getRtcParticipants().size(), 1u);
}

TEST_F(KRRtcMangerTest, RemoteMediaStates) {
    join(5);
    const struct {
        bool video;
        int state;
        std::string event;
    } cases[] = {
        {true, 2, "remoteVideo(7:ml)"},  {true, 0, "remoteVideo(7:mm)"},
        {true, 2, "remoteVideo(7:ml)"},  {true, 4, "remoteVideo(7:mm)"},
        {true, 1, "remoteVideo(7:mm)"},  {true, 9, "remoteVideo(7:mm)"},
        {false, 2, "remoteAudio(7:lm)"}, {false, 3, "remoteAudio(7:lm)"},
        {false, 1, "remoteAudio(7:lm)"}, {false, 0, "remoteAudio(7:mm)"},
        {false, 2, "remoteAudio(7:lm)"}, {false, 4, "remoteAudio(7:mm)"},
    };
    const auto participant = remote(7);
    for (const auto& c : cases) {
        participant->setIsLoudest(true);
        inject([c](MediaEngineDelegate& d) {
            if (c.video) {
                d.remoteVideoStateChangedOfUid(7, c.state, 0, 0);
            } else {
                d.remoteAudioStateChangedOfUid(7, c.state, 0, 0);
            }
        });
        EXPECT_EQ(a.take(), Texts{c.event}) << c.video << " " << c.state;
        if (!c.video && (c.state == 0 || c.state == 4)) {
            EXPECT_FALSE(participant->isLoudest());
            EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(7), 0u);
        }
    }
    // Reports about a uid without a participant change nothing.
    inject([](MediaEngineDelegate& d) {
        d.remoteVideoStateChangedOfUid(8, 3, 3, 0);
        d.remoteAudioStateChangedOfUid(8, 2, 0, 0);
        d.didRemoteSubscribeFallbackToAudioOnly(true, 8);
    });
    EXPECT_TRUE(a.take().empty());
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());

    inject([](MediaEngineDelegate& d) {
        d.didLocalPublishFallbackToAudioOnly(true);
        d.didRemoteSubscribeFallbackToAudioOnly(false, 7);
        d.connectionChangedToState(4, 2);
        d.connectionChangedToState(0, 0);
        d.didOccurError(17);
        d.activeSpeaker(7);
        d.virtualBackgroundSourceEnabled(true, 0);
    });
    EXPECT_EQ(a.take(), (Texts{"localFallback(true)", "remoteFallback(false, 7)", "connection(3)",
                               "connection(2)"}));
}

// ---- volumes and speakers --------------------------------------------------------------------

TEST_F(KRRtcMangerTest, TopSpeakersAndLoudest) {
    join(5);
    remote(7);
    remote(9);
    volumes({{7, 40, 0}, {9, 30, 0}});
    EXPECT_EQ(a.take(), (Texts{"topSpeakers(7 9)", "loudest(7)"}));
    volumes({{9, 50, 0}, {8, 60, 0}});
    EXPECT_EQ(a.take(), Texts{}) << "8 is no participant: no top speakers, and 8 is loudest";
    volumes({{9, 50, 0}, {8, 10, 0}});
    EXPECT_EQ(a.take(), Texts{"loudest(9)"});
    volumes({{7, 20, 0}, {9, 20, 0}});
    EXPECT_EQ(a.take(), (Texts{"topSpeakers(7 9)", "loudest(none)"}));
    volumes({{7, 21, 0}});
    EXPECT_EQ(a.take(), (Texts{"topSpeakers(7)", "loudest(7)"}));
    volumes({});
    EXPECT_EQ(a.take(), (Texts{"topSpeakers()", "loudest(none)"}));
}

TEST_F(KRRtcMangerTest, LocalVolumeCanMakeTheLocalUserLoudestUntilMuted) {
    join(5);
    remote(7);
    volumes({{0, 30, 1}});
    EXPECT_EQ(a.take(), (Texts{"localLevel(30, speaking)", "loudest(5)"}));
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(5), 30u);
    volumes({{7, 25, 0}});
    EXPECT_EQ(a.take(), (Texts{"topSpeakers(7)", "loudest(5)"})) << "local 30 kept over 25";

    // Muting zeroes the local entry, so the muted user is not the loudest.
    rtc.muteUnmuteLocalAudio(true);
    a.take();
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(5), 0u);
    EXPECT_EQ(rtc.localUserAudioVolume(), 0u);
    volumes({{0, 30, 0}});
    EXPECT_EQ(a.take(), (Texts{"localLevel(30, quiet)", "loudest(7)"}));
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(5), 0u);
}

TEST_F(KRRtcMangerTest, EngineVolumeReportsReachTheDelegate) {
    rtc.configureRTCEngine("app", a.recorder, 200);
    rtc.joinRoom(5, "token", "room", false, std::nullopt);
    run();
    a.take();
    a.engine()->setVoiceLevel(90, true);
    advance(200ms);
    const auto events = a.take();
    EXPECT_NE(std::find(events.begin(), events.end(), "localLevel(90, speaking)"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "loudest(5)"), events.end());
}

// ---- frozen video ----------------------------------------------------------------------------

TEST_F(KRRtcMangerTest, FrozenVideoIsReportedMutedOnceAfterFourSeconds) {
    join(5);
    remote(7);
    remote(8);
    const auto frozen = [&](std::uint64_t uid, int reason) {
        inject([=](MediaEngineDelegate& d) { d.remoteVideoStateChangedOfUid(uid, 3, reason, 0); });
    };
    frozen(7, 1);
    frozen(7, 9);
    EXPECT_TRUE(a.take().empty());
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());

    inject([](MediaEngineDelegate& d) { d.remoteVideoStateChangedOfUid(7, 2, 0, 0); });
    a.take();
    frozen(7, 3);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(7:ml)"});
    ASSERT_EQ(rtc.usersVideoFrozenData().size(), 1u);
    EXPECT_EQ(rtc.usersVideoFrozenData()[0].frozenAt, clock->now());
    advance(1000ms);
    frozen(7, 3);
    EXPECT_TRUE(a.take().empty()) << "already recorded";
    advance(2999ms);
    EXPECT_TRUE(a.take().empty());
    advance(1ms);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(7:mm)"});

    // Another uid's freeze schedules another check; 7 is not reported again.
    inject([](MediaEngineDelegate& d) { d.remoteVideoStateChangedOfUid(8, 2, 0, 0); });
    frozen(8, 3);
    a.take();
    advance(4000ms);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(8:mm)"});

    // Recovery and going offline drop the records.
    inject([](MediaEngineDelegate& d) { d.remoteVideoStateChangedOfUid(7, 2, 0, 0); });
    EXPECT_EQ(rtc.usersVideoFrozenData().size(), 1u);
    inject([](MediaEngineDelegate& d) { d.didOfflineOfUid(8, 1); });
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());
}

TEST_F(KRRtcMangerTest, LeaveClearsThePerMeetingStateButNotTheBlockList) {
    join(5);
    remote(7);
    rtc.blockRemoteAudioVideo(3);
    volumes({{0, 30, 1}});
    inject([](MediaEngineDelegate& d) {
        d.remoteVideoStateChangedOfUid(7, 3, 3, 0);
        d.didAudioRouteChanged(5);
        d.didClientRoleChangeFailed(1, 2);
    });
    a.take();
    EXPECT_TRUE(rtc.isRoleRetryScheduled());
    rtc.leaveMeetingRoom();
    run();
    EXPECT_EQ(a.take(), (Texts{"connection(0)", "localLeft"}));
    EXPECT_TRUE(rtc.getRtcParticipants().empty());
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());
    EXPECT_TRUE(rtc.remoteUsersVolumeLevel().empty());
    EXPECT_EQ(rtc.localUserAudioVolume(), 0u);
    EXPECT_EQ(rtc.localUserUid(), 0u);
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 0);
    EXPECT_FALSE(rtc.isRoleRetryScheduled());
    EXPECT_EQ(rtc.currentRTCAudioRoute(), KRAudioRouteType::speaker);
    EXPECT_EQ(rtc.blockedUids(), std::vector<std::uint64_t>{3});
    EXPECT_FALSE(rtc.isLocalUserAudioMuted());
    advance(6000ms);
    EXPECT_TRUE(a.take().empty()) << "no frozen check or role retry after the leave";
}

// ---- routes, roles, quality, statistics, devices, mixing -------------------------------------

TEST_F(KRRtcMangerTest, AudioRouteReports) {
    join(5);
    const struct {
        int routing;
        const char* route;
    } cases[] = {
        {0, "External Device: Wired Headset"}, {5, "Externel Device: BlueTooth"},
        {-1, "Externel Device: BlueTooth"},    {2, "External Device: Wired Headset"},
        {1, "Built in Reciever"},              {6, "Built in Reciever"},
        {3, "Built in Speaker"},               {4, "Built in Speaker"},
    };
    for (const auto& c : cases) {
        inject([c](MediaEngineDelegate& d) { d.didAudioRouteChanged(c.routing); });
        EXPECT_EQ(a.take(), Texts{std::string("route(") + c.route + ")"}) << c.routing;
    }
}

TEST_F(KRRtcMangerTest, RoleChangeReports) {
    join(5, /*audience=*/true);
    inject([](MediaEngineDelegate& d) { d.didClientRoleChanged(2, 1); });
    EXPECT_EQ(a.take(), (Texts{"roleChanged(broadcaster)", "localAudio(5:ml)", "localVideo(5:mm)"}));
    EXPECT_FALSE(rtc.getRtcParticipants()[0]->isAudience());
    EXPECT_EQ(rtc.currentUserRole(), 1);
    rtc.muteUnmuteLocalAudio(false);
    rtc.muteUnmuteLocalVideo(false);
    a.take();
    inject([](MediaEngineDelegate& d) { d.didClientRoleChanged(1, 2); });
    EXPECT_EQ(a.take(), Texts{"roleChanged(audience)"});
    EXPECT_EQ(test::RtcDelegateRecorder::flags(*rtc.getRtcParticipants()[0]), "5:mm");
}

TEST_F(KRRtcMangerTest, RefusedBroadcasterRoleIsRetriedAfterRealWaitsThenGivesUp) {
    bus->setBroadcasterLimit(0);  // the engine refuses every broadcaster
    join(5, /*audience=*/true);
    const auto roleCalls = [&] { return a.engine()->callArguments(MediaOperation::setClientRole); };
    inject([](MediaEngineDelegate& d) { d.didClientRoleChangeFailed(2, 2); });
    EXPECT_FALSE(rtc.isRoleRetryScheduled()) << "only too many broadcasters is retried";

    rtc.switchClientRole(false);
    run();
    const std::chrono::milliseconds waits[] = {500ms, 2000ms, 5000ms};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), i + 1);
        EXPECT_EQ(rtc.intervalForRetryingSwitchingClientRole(), waits[i]);
        a.engine()->clearCallLog();
        advance(waits[i] - 1ms);
        EXPECT_TRUE(roleCalls().empty()) << "retry " << i << " came early";
        advance(1ms);
        ASSERT_FALSE(roleCalls().empty()) << "retry " << i;
        EXPECT_EQ(roleCalls()[0], "1") << "retry " << i;
    }
    // The fourth refusal gives up: audience, with microphone and camera off. The count stays
    // until the engine confirms the broadcaster role.
    EXPECT_EQ(roleCalls(), (Texts{"1", "2"}));
    EXPECT_EQ(rtc.currentUserRole(), MediaCodes::kRoleAudience);
    EXPECT_TRUE(rtc.isLocalUserAudioMuted());
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 4);
    EXPECT_FALSE(rtc.isRoleRetryScheduled());
    inject([](MediaEngineDelegate& d) { d.didClientRoleChanged(2, 1); });
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 0);

    // A confirmed broadcaster role cancels a pending retry.
    rtc.switchClientRole(false);
    run();
    EXPECT_TRUE(rtc.isRoleRetryScheduled());
    inject([](MediaEngineDelegate& d) { d.didClientRoleChanged(2, 1); });
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 0);
    EXPECT_FALSE(rtc.isRoleRetryScheduled());
    a.engine()->clearCallLog();
    advance(1000ms);
    EXPECT_TRUE(roleCalls().empty());
}

TEST_F(KRRtcMangerTest, NetworkQualityAndStatisticsFromTheEngine) {
    join(5);
    const struct {
        int tx, rx;
        KRNetworkQuality quality;
    } cases[] = {
        {2, 0, KRNetworkQuality::good},
        {1, 4, KRNetworkQuality::bad},
        {0, 8, KRNetworkQuality::detecting},
        {3, 1, KRNetworkQuality::low},
    };
    for (const auto& c : cases) {
        a.engine()->reportNetworkQuality(c.tx, c.rx);
        run();
        EXPECT_EQ(a.take(), Texts{"quality(" + std::to_string(rawValue(c.quality)) + ")"});
    }
    inject([](MediaEngineDelegate& d) { d.networkQuality(7, 5, 5); });
    EXPECT_TRUE(a.take().empty()) << "only the local user's quality counts";
    a.engine()->reportStatistics({.lastmileDelay = 40, .txPacketLossRate = 1,
                                  .rxPacketLossRate = 2, .txKBitrate = 300, .rxKBitrate = 400,
                                  .txBytes = 5000, .rxBytes = 6000});
    run();
    EXPECT_EQ(a.take(), Texts{"stats(40, 1/2, 300/400, 5000/6000)"});
}

TEST_F(KRRtcMangerTest, LocalDeviceStatesAreAlwaysReported) {
    join(5);
    inject([](MediaEngineDelegate& d) {
        d.localAudioStateChange(1, 0);
        d.localAudioStateChange(3, 2);
        d.localVideoStateChange(3, 8);
    });
    EXPECT_EQ(a.take(), (Texts{"audioDevice(4, OK)",
                               "audioDevice(2, AudioLocalErrorDeviceNoPermission)",
                               "videoDevice(0, LocalVideoStreamErrorCaptureNoDeviceFound)"}));
    a.engine()->failNext(MediaOperation::switchCamera, 3);
    rtc.switchCamera();
    run();
    EXPECT_EQ(a.take(), Texts{"videoDevice(1, LocalVideoStreamErrorDeviceBusy)"});
}

TEST_F(KRRtcMangerTest, ChimesPlayExistingFilesAndLogTheEnginesRefusal) {
    test::ScopedTempDirectory dir;
    const auto chime = dir.path() / "join.wav";
    std::ofstream(chime) << "RIFF";
    join(5);
    a.engine()->clearCallLog();
    rtc.playChimeOnUserLeave();
    EXPECT_TRUE(a.engine()->callTexts().empty()) << "no path set";
    rtc.setAudioFilePathForUserJoin(chime.string());
    rtc.setAudioFilePathForUserLeft((dir.path() / "missing.wav").string());
    rtc.playChimeOnUserJoin();
    rtc.playChimeOnUserLeave();
    run();
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::startAudioMixing),
              (Texts{chime.string() + ", true, false, 1, 0",
                     (dir.path() / "missing.wav").string() + ", true, false, 1, 0"}));
    const Texts tail(a.logger->lines.end() - 2, a.logger->lines.end());
    EXPECT_EQ(tail, (Texts{"LOGS ::: Rtc Engine ::: reason = 701",
                           "LOGS ::: Rtc Engine ::: state = 714"}));
}

// ---- several engines, lifetimes --------------------------------------------------------------

TEST_F(KRRtcMangerTest, TwoWrappersOnOneBusSeeEachOtherJoinMuteAndLeave) {
    RtcClient b{bus, queue};
    a.actLikeTheClient();
    b.actLikeTheClient();
    a.configure();
    b.configure();
    rtc.joinRoom(1, "token", "room", false, std::nullopt);
    run();
    b.rtc->joinRoom(2, "token", "room", false, std::nullopt);
    run();
    a.take();
    b.take();
    ASSERT_EQ(rtc.getRtcParticipants().size(), 2u);
    ASSERT_EQ(b.rtc->getRtcParticipants().size(), 2u);
    EXPECT_EQ(test::RtcDelegateRecorder::flags(*rtc.getRtcParticipants()[1]), "2:ll");
    EXPECT_EQ(a.engine()->remoteView(2), rtc.getRtcParticipants()[1]->getRtcCanvasView());

    b.rtc->muteUnmuteLocalAudio(true);
    run();
    EXPECT_EQ(a.take(), Texts{"remoteAudio(2:ml)"});
    b.rtc->muteUnmuteLocalVideo(true);
    run();
    EXPECT_EQ(a.take(), Texts{"remoteVideo(2:mm)"});

    b.rtc->leaveMeetingRoom();
    run();
    EXPECT_EQ(a.take(), Texts{"remoteRemoved(2, leaveMeeting)"});
    EXPECT_EQ(rtc.getRtcParticipants().size(), 1u);
    EXPECT_FALSE(b.rtc->rtcEngine());
}

TEST_F(KRRtcMangerTest, ScreenShareArrivesAsAnotherStreamOfTheChannel) {
    a.actLikeTheClient(MediaCodes::kRenderFit);
    join(1);
    test::ScreenShareBroadcast share(bus, queue);
    share.start("room", 77);
    run();
    EXPECT_EQ(a.take(), (Texts{"remoteAdded(77)", "remoteVideo(77:ml)"}));
    share.stop();
    run();
    EXPECT_EQ(a.take(), Texts{"remoteRemoved(77, leaveMeeting)"});
}

TEST_F(KRRtcMangerTest, DelegateIsHeldWeakly) {
    join(5);
    std::weak_ptr<test::RtcDelegateRecorder> weak = a.recorder;
    a.recorder.reset();
    EXPECT_TRUE(weak.expired());
    rtc.setUpRemoteVideo(7, MediaCodes::kRenderHidden);
    inject([](MediaEngineDelegate& d) {
        d.remoteAudioStateChangedOfUid(7, 2, 0, 0);
        d.didOfflineOfUid(7, 0);
    });
    EXPECT_EQ(rtc.getRtcParticipants().size(), 1u) << "state still changes";
}

TEST_F(KRRtcMangerTest, WrapperReleasedFromInsideItsLeaveReportStillEndsTheEngine) {
    // The facade stand-in owns the wrapper and drops it when told the local user left.
    struct Facade {
        std::shared_ptr<KRRtcManger> rtc;
        std::shared_ptr<test::RtcDelegateRecorder> recorder =
            std::make_shared<test::RtcDelegateRecorder>();
    };
    auto facade = std::make_shared<Facade>();
    facade->rtc = KRRtcManger::create(queue, a.factory, a.logger);
    std::weak_ptr<KRRtcManger> weakRtc = facade->rtc;
    facade->recorder->onLocalLeft = [&facade] { facade.reset(); };
    facade->rtc->configureRTCEngine("app", facade->recorder, 0);
    const auto engine = facade->rtc->rtcEngine();
    facade->rtc->joinRoom(5, "token", "room", false, std::nullopt);
    run();
    facade->rtc->leaveMeetingRoom();
    run();
    EXPECT_FALSE(facade);
    EXPECT_TRUE(weakRtc.expired());
    EXPECT_TRUE(engine->isDestroyed());
    EXPECT_FALSE(a.factory->engine());
}

TEST_F(KRRtcMangerTest, WrapperReleasedFromInsideARemoteReport) {
    RtcClient b{bus, queue};
    b.configure();
    b.rtc->joinRoom(2, "token", "room", false, std::nullopt);
    a.configure();
    std::weak_ptr<KRRtcManger> weakRtc = a.rtc;
    a.recorder->onRemoteAdded = [this](std::uint64_t) { a.rtc.reset(); };
    a.rtc->joinRoom(1, "token", "room", false, std::nullopt);
    run();
    EXPECT_TRUE(weakRtc.expired());
    advance(5000ms);
}

TEST_F(KRRtcMangerTest, SetUpAgainFromInsideTheLeaveReportKeepsTheNewEngine) {
    join(5);
    const auto first = a.engine();
    a.recorder->onLocalLeft = [this] {
        a.configure();
        rtc.joinRoom(5, "token", "room", false, std::nullopt);
    };
    rtc.leaveMeetingRoom();
    run();
    EXPECT_TRUE(first->isDestroyed());
    ASSERT_TRUE(a.engine());
    EXPECT_NE(a.engine(), first);
    EXPECT_TRUE(rtc.isConnected());
    EXPECT_EQ(rtc.getRtcParticipants().size(), 1u);
}

}  // namespace
}  // namespace kr
