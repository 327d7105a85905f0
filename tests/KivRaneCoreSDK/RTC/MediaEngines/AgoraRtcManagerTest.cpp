#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"

#include <gtest/gtest.h>

#include <boost/json/object.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngineFactory.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/NotificationCenter.h"
#include "testing/Media/ScreenShareBroadcast.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using platform::AudioVolumeInfo;
using platform::MediaCodes;
using platform::MediaEngineDelegate;
using platform::MediaOperation;
using Texts = std::vector<std::string>;
using Peer = std::shared_ptr<RtcPeerMetaData>;

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
    "enableAudioVolumeIndication(500, 5, true)",
    "enableDeepLearningDenoise(true)",
    "enableVideo()",
};

/// "7:ml" — id, then audio and video, m for muted and l for live; "+L" when loudest.
std::string flags(const RtcPeerMetaData& p) {
    return p.id() + ":" + (p.isAudioMuted() ? "m" : "l") + (p.isVideoMuted() ? "m" : "l") +
           (p.isLoudest() ? "+L" : "");
}

std::string reasonText(const KRUserLeftReason& r) {
    switch (r.kind()) {
        case KRUserLeftReason::Kind::leaveMeeting:
            return "leave";
        case KRUserLeftReason::Kind::networkDropped:
            return "dropped";
        case KRUserLeftReason::Kind::becomeAudience:
            return "audience";
        case KRUserLeftReason::Kind::removedFromMeeting:
            return "removed";
        case KRUserLeftReason::Kind::none:
            return "none";
    }
    return "?";
}

/// Writes every report down as a short text. By default it answers every question at once the
/// way the facade does (a stream is a participant unless `classify` says otherwise) and calls
/// every completion; it can hold questions and the leave completion instead.
class Receiver final : public RtcManagerDelegate, public RtmManagerDelegate {
public:
    Texts events;
    std::function<RtcRemoteStreamType(const std::string&)> classify;
    bool holdQuestions = false;
    std::vector<std::pair<std::string, StreamTypeCompletion>> questions;
    bool holdLeave = false;
    Completion leaveCompletion;
    std::function<void(const Peer&)> onRemoteJoin;
    std::vector<KRRtmMessage> messages;

    /// The engine reports volumes every 500 ms; tests that let time pass and are not about
    /// volumes leave those reports out.
    bool ignoreVolumes = false;

    Texts take() { return std::exchange(events, {}); }

    void didLocalParticipantJoinChannel(const Peer& peer, Completion completion) override {
        events.push_back("localJoin(" + flags(*peer) + ")");
        completion();
    }
    void didLocalParticipantAudioStatusUpdated(const Peer& peer, bool muted) override {
        events.push_back("localAudio(" + flags(*peer) + (muted ? ", muted)" : ", live)"));
    }
    void didLocalParticipantVideoStatusUpdated(const Peer& peer, bool muted) override {
        events.push_back("localVideo(" + flags(*peer) + (muted ? ", muted)" : ", live)"));
    }
    void didLocalParticipantLeaveChannel(const KRUserLeftReason& reason,
                                         Completion completion) override {
        events.push_back("localLeave(" + reasonText(reason) + ")");
        if (holdLeave) {
            leaveCompletion = std::move(completion);
        } else {
            completion();
        }
    }
    void didRemoteParticipantJoinChannel(const Peer& peer, Completion completion) override {
        events.push_back("remoteJoin(" + flags(*peer) + ")");
        if (onRemoteJoin) {
            onRemoteJoin(peer);
        }
        completion();
    }
    void didRemoteParticipantAudioStatusUpdated(const Peer& peer, bool muted) override {
        events.push_back("remoteAudio(" + flags(*peer) + (muted ? ", muted)" : ", live)"));
    }
    void didRemoteParticipantVideoStatusUpdated(const Peer& peer, bool muted) override {
        events.push_back("remoteVideo(" + flags(*peer) + (muted ? ", muted)" : ", live)"));
    }
    void didRemoteParticipantLeaveChannel(const std::string& id,
                                          const KRUserLeftReason& reason) override {
        events.push_back("remoteLeave(" + id + ", " + reasonText(reason) + ")");
    }
    void didDetectLoudestParticipant(const Peer& peer) override {
        if (!ignoreVolumes) {
            events.push_back("loudest(" + (peer ? peer->id() : std::string("none")) + ")");
        }
    }
    void didLocalSpeakerVolumeLevelChanges(std::uint64_t level, bool speaking) override {
        if (!ignoreVolumes) {
            events.push_back("localLevel(" + std::to_string(level) +
                             (speaking ? ", speaking)" : ")"));
        }
    }
    void didCurrentParticipantRoleChanged(bool isAudience) override {
        events.push_back(isAudience ? "role(audience)" : "role(broadcaster)");
    }
    void didAudioRouteChanged(KRAudioRouteType route) override {
        static const char* const kNames[] = {"speaker",  "blueTooth", "audioHandset",
                                             "headPhone", "audioOff", "other"};
        events.push_back("route(" + std::string(kNames[rawValue(route)]) + ")");
    }
    void didDetectTopActiveSpeakersPeers(const std::vector<Peer>& peers) override {
        if (ignoreVolumes) {
            return;
        }
        std::string text = "top(";
        for (const auto& p : peers) {
            text += (text.size() > 4 ? " " : "") + p->id();
        }
        events.push_back(text + ")");
    }
    void didLocalAudioStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        events.push_back("audioFailed(" + std::to_string(static_cast<int>(type)) + ", " + desc +
                         ")");
    }
    void didLocalVideoStateChangeFailed(KRAudioVideoErrorType type,
                                        const std::string& desc) override {
        events.push_back("videoFailed(" + std::to_string(static_cast<int>(type)) + ", " + desc +
                         ")");
    }
    void didLocalParticicpantFallBacktoAudioOnlyMode(bool on) override {
        events.push_back(std::string("localFallback(") + (on ? "on" : "off") + ")");
    }
    void didRemoteParticipantFallBackToAudioOnlyMode(bool on, const Peer& peer) override {
        events.push_back("remoteFallback(" + peer->id() + (on ? ", on)" : ", off)"));
    }
    void didConnectionStateChanged(KRConnectionState state) override {
        events.push_back("connection(" + std::to_string(static_cast<int>(state)) + ")");
    }
    void didNetworkQualityChanged(KRNetworkQuality quality) override {
        static const char* const kNames[] = {"good", "low", "bad", "detecting"};
        events.push_back("quality(" + std::string(kNames[rawValue(quality)]) + ")");
    }
    void didRecieveNetworkStats(std::int64_t latency, const KRRtcPacketLossData& loss,
                                const KRRtcTransmissionRateData& rate,
                                const KRRtcBandwidthData& bandwidth) override {
        events.push_back("stats(" + std::to_string(latency) + " " +
                         std::to_string(loss.uplinkLoss) + "/" + std::to_string(loss.downlinkLoss) +
                         " " + std::to_string(rate.uplinkRate) + "/" +
                         std::to_string(rate.downlinkRate) + " " +
                         std::to_string(bandwidth.totalSent) + "/" +
                         std::to_string(bandwidth.totalRecieved) + ")");
    }
    void didAuxiliaryVideoTrackAdded(const Peer& owner,
                                     const std::shared_ptr<RtcAuxiliaryTrack>& track) override {
        events.push_back("shareAdded(" + owner->id() + ", " + track->id() + ")");
    }
    void didAuxiliaryVideoTrackRemoved(const Peer& owner) override {
        events.push_back("shareRemoved(" + owner->id() + ")");
    }
    void didRequestToGetStreamSourceType(const std::string& streamId,
                                         StreamTypeCompletion completion) override {
        if (holdQuestions) {
            questions.emplace_back(streamId, std::move(completion));
            return;
        }
        completion(classify ? classify(streamId) : RtcRemoteStreamType::user(streamId));
    }

    void didRecievePublicMessage(const KRRtmMessage& message) override {
        messages.push_back(message);
        events.push_back("public(" + message.senderName + ")");
    }
    void didRecievePrivateMessage(const KRRtmMessage& message) override {
        messages.push_back(message);
        events.push_back("private(" + message.senderName + ")");
    }
};

class AgoraRtcManagerTest : public ::testing::Test {
protected:
    struct Client {
        std::shared_ptr<platform::MediaEngineFactory> factory;
        std::shared_ptr<Receiver> receiver = std::make_shared<Receiver>();
        std::shared_ptr<AgoraRtcManager> rtc;

        std::shared_ptr<platform::MediaEngine> engine() const { return rtc->rtcEngine(); }
        Texts take() { return receiver->take(); }
    };

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> service = platform::MessagingService::create();
    std::shared_ptr<ContactSyncManager> contacts = std::make_shared<ContactSyncManager>();
    Client a = makeClient();
    AgoraRtcManager& rtc = *a.rtc;

    Client makeClient() {
        KRDependencies dependencies;
        dependencies.queue = queue;
        dependencies.mediaBus = bus;
        dependencies.messagingService = service;
        Client client;
        client.factory = std::make_shared<platform::MediaEngineFactory>(bus, queue);
        client.rtc = AgoraRtcManager::create(dependencies, client.factory,
                                             std::make_shared<platform::NotificationCenter>(),
                                             contacts);
        return client;
    }

    void run() { queue->runPending(); }
    void advance(std::chrono::milliseconds d) {
        clock->advance(d);
        queue->runPending();
    }
    static boost::json::object joinData(const std::string& uid, bool audioOn = false,
                                        bool videoOn = false,
                                        KRUserRole role = KRUserRole::speaker()) {
        AgoraRtcJoinData data;
        data.channelId = "room";
        data.userUid = uid;
        data.rtcToken = "rtc-token";
        data.rtmToken = "rtm-token";
        data.role = std::move(role);
        data.initialAudioOn = audioOn;
        data.initialVideoOn = videoOn;
        return data.toObject();
    }
    /// Configured and joined as `uid`; the join's reports are taken.
    void join(Client& client, const std::string& uid, bool audioOn = false, bool videoOn = false,
              KRUserRole role = KRUserRole::speaker()) {
        client.rtc->configureRtcEngine({{"web_rtc_app_id", "app"}}, client.receiver);
        client.rtc->setRtmDelegate(client.receiver);
        client.rtc->joinRoom(joinData(uid, audioOn, videoOn, std::move(role)));
        run();
        client.take();
    }
    void inject(std::function<void(MediaEngineDelegate&)> callback) {
        a.engine()->inject(std::move(callback));
        run();
    }
    /// A remote uid that joined and was classified as a participant.
    void remote(std::uint64_t uid) {
        inject([uid](MediaEngineDelegate& d) { d.didJoinedOfUid(uid, 0); });
        a.take();
    }
    void volumes(std::vector<AudioVolumeInfo> speakers) {
        inject([speakers](MediaEngineDelegate& d) {
            d.reportAudioVolumeIndicationOfSpeakers(speakers, 0);
        });
    }
    Texts peerFlags() const {
        Texts out;
        for (const auto& p : rtc.peers()) {
            out.push_back(flags(*p));
        }
        return out;
    }
};

// ---- set-up and join ------------------------------------------------------------------------

TEST_F(AgoraRtcManagerTest, SetUpRunsTheFixedSequenceAndReleasesAHeldEngineWhenRepeated) {
    rtc.configureRtcEngine({}, a.receiver);
    ASSERT_TRUE(a.engine());
    EXPECT_EQ(a.engine()->appId(), "");
    EXPECT_EQ(a.engine()->callTexts(), kSetUpCalls);

    join(a, "5");
    const auto first = a.engine();
    ASSERT_TRUE(first->isInChannel());
    remote(7);
    EXPECT_EQ(peerFlags(), (Texts{"5:mm", "7:mm"}));

    // Set up again while the old meeting's engine is still held: it goes, with its peers.
    rtc.configureRtcEngine({{"web_rtc_app_id", "other"}}, a.receiver);
    EXPECT_TRUE(first->isDestroyed());
    ASSERT_TRUE(a.engine());
    EXPECT_NE(a.engine(), first);
    EXPECT_EQ(a.engine()->appId(), "other");
    EXPECT_EQ(a.engine()->callTexts(), kSetUpCalls);
    EXPECT_TRUE(rtc.peers().empty());
    EXPECT_EQ(rtc.localUserId(), "");
}

TEST_F(AgoraRtcManagerTest, JoinReadsItsDictionaryWithDefaults) {
    struct Row {
        const char* name;
        boost::json::object data;
        std::string join;
        std::string role;
        std::string messagingUser;
    };
    const std::vector<Row> rows = {
        {"empty", {}, "joinChannelByToken(, , , 0, {autoSubscribeAudio: false, autoSubscribeVideo: "
                      "false, publishLocalAudio: false, publishLocalVideo: false})",
         "1", "0"},
        {"full",
         joinData("42", true, true, KRUserRole::audience()),
         "joinChannelByToken(rtc-token, room, , 42, {autoSubscribeAudio: false, "
         "autoSubscribeVideo: false, publishLocalAudio: true, publishLocalVideo: true})",
         "2", "42"},
        {"host and mistyped values",
         {{"rtc_room_channel_id", "room"},
          {"rtc_room_user_uid", "abc"},
          {"rtc_room_user_role", "host"},
          {"rtc_room_initial_audio_on", "yes"},
          {"rtc_room_initial_video_on", 1}},
         "joinChannelByToken(, room, , 0, {autoSubscribeAudio: false, autoSubscribeVideo: "
         "false, publishLocalAudio: false, publishLocalVideo: false})",
         "1", "abc"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto client = makeClient();
        client.rtc->configureRtcEngine({}, client.receiver);
        client.engine()->clearCallLog();
        client.rtc->joinRoom(row.data);
        EXPECT_EQ(client.engine()->callArguments(MediaOperation::setClientRole), Texts{row.role});
        ASSERT_EQ(client.engine()->callTexts().size(), 2u);
        EXPECT_EQ(client.engine()->callTexts()[1], row.join);
        run();
        EXPECT_TRUE(service->isOnline(row.messagingUser));
        client.rtc->leaveRtcChannel();
        run();
    }
}

TEST_F(AgoraRtcManagerTest, JoinAppliesTheBackgroundFirstAndTheLocalPeerShowsWhatGoesOut) {
    rtc.configureRtcEngine({}, a.receiver);
    a.engine()->clearCallLog();
    auto data = joinData("5", true, false);
    data[AgoraRtcJoinData::kVirtualBackground] =
        AgoraRtcJoinData::backgroundValue(KRVirtualBackgroundType::blur(
            KRVirtaulBackgroundBlurIntensity::medium));
    rtc.joinRoom(data);
    const auto calls = a.engine()->callTexts();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0], "setClientRole(1)");
    EXPECT_EQ(calls[1].rfind("enableVirtualBackground(true, ", 0), 0u) << calls[1];
    run();
    EXPECT_EQ(a.take(), (Texts{"connection(1)", "connection(2)", "localJoin(5:lm)",
                               "route(speaker)"}));
    EXPECT_FALSE(rtc.isLocalAudioMuted());
    EXPECT_TRUE(rtc.isLocalVideoMuted());
    EXPECT_TRUE(rtc.isConnectedToRtcServer());
}

TEST_F(AgoraRtcManagerTest, ControlsBeforeTheJoinOrWithoutAnEngineReportNothing) {
    // No engine yet: nothing is called, flags still follow, nobody is told.
    rtc.muteUnmuteLocalAudio(false);
    rtc.setUpLocalRtcVideoView();
    EXPECT_FALSE(rtc.isLocalAudioMuted());
    EXPECT_FALSE(rtc.isConnectedToRtcServer());
    EXPECT_FALSE(rtc.getPeerData("1"));
    EXPECT_FALSE(rtc.getVideoStreamView("1"));

    rtc.configureRtcEngine({}, a.receiver);
    a.engine()->clearCallLog();
    rtc.muteUnmuteLocalVideo(false);
    EXPECT_EQ(a.engine()->callTexts(),
              (Texts{"muteLocalVideoStream(false)", "enableLocalVideo(true)"}));
    EXPECT_EQ(a.take(), Texts{});
}

// ---- peers and screen shares ----------------------------------------------------------------

TEST_F(AgoraRtcManagerTest, TwoWrappersSeeEachOtherJoinMuteAndLeave) {
    auto b = makeClient();
    // Like the facade: a joining peer gets a view and its streams are received.
    const auto subscribe = [](AgoraRtcManager& self) {
        return [&self](const Peer& peer) {
            self.setUpRemoteStreamVideoView(peer->id(), VideoRenderMode::scaleAspectFill);
            self.muteUnmuteUserAudioStream(false, peer->id());
            self.muteUnmuteUserVideoStream(false, peer->id());
        };
    };
    a.receiver->onRemoteJoin = subscribe(*a.rtc);
    b.receiver->onRemoteJoin = subscribe(*b.rtc);
    join(a, "1", true, true);
    join(b, "2", true, false);
    run();
    EXPECT_EQ(a.take(), (Texts{"remoteJoin(2:mm)", "remoteAudio(2:lm, live)"}));
    // B heard of A while joining, and receives what A sends.
    ASSERT_TRUE(b.rtc->getPeerData("1"));
    EXPECT_EQ(flags(*b.rtc->getPeerData("1")), "1:ll");
    ASSERT_TRUE(rtc.getVideoStreamView("2"));
    EXPECT_EQ(a.engine()->remoteView(2), rtc.getVideoStreamView("2"));

    b.rtc->muteUnmuteLocalAudio(true);
    EXPECT_EQ(b.take(), Texts{"localAudio(2:mm, muted)"});
    run();
    EXPECT_EQ(a.take(), Texts{"remoteAudio(2:mm, muted)"});

    b.rtc->leaveRtcChannel();
    run();
    EXPECT_EQ(a.take(), Texts{"remoteLeave(2, leave)"});
    EXPECT_EQ(b.take(), (Texts{"connection(0)", "localLeave(leave)"}));
    EXPECT_FALSE(rtc.getPeerData("2"));
    EXPECT_FALSE(b.engine());
}

TEST_F(AgoraRtcManagerTest, ScreenSharesBecomeTheOwnersTrackAndALateLeaveKeepsTheNewerShare) {
    auto b = makeClient();
    a.receiver->classify = [](const std::string& id) {
        return id.size() == 4 ? RtcRemoteStreamType::screenShare("2")
                              : RtcRemoteStreamType::user(id);
    };
    join(a, "1");
    join(b, "2", true);
    run();
    a.take();
    test::ScreenShareBroadcast first(bus, queue);
    test::ScreenShareBroadcast second(bus, queue);

    first.start("room", 9001);
    run();
    EXPECT_EQ(a.take(), Texts{"shareAdded(2, 9001)"});
    const auto owner = rtc.getPeerData("2");
    ASSERT_TRUE(owner->getAuxiliaryTrack());
    const auto firstView = owner->getAuxiliaryTrack()->getVideoCanvas()->getVideoStreamView();
    EXPECT_EQ(a.engine()->remoteView(9001), firstView);
    EXPECT_FALSE(rtc.getPeerData("9001"));

    second.start("room", 9002);
    run();
    EXPECT_EQ(a.take(), (Texts{"shareRemoved(2)", "shareAdded(2, 9002)"}));

    // The first share's leave arrives after the second one replaced it.
    first.stop();
    run();
    EXPECT_EQ(a.take(), Texts{});
    ASSERT_TRUE(owner->getAuxiliaryTrack());
    EXPECT_EQ(owner->getAuxiliaryTrack()->id(), "9002");

    second.stop();
    run();
    EXPECT_EQ(a.take(), Texts{"shareRemoved(2)"});
    EXPECT_FALSE(owner->getAuxiliaryTrack());
    EXPECT_TRUE(rtc.getPeerData("2"));
}

TEST_F(AgoraRtcManagerTest, AnUnansweredJoinIsCancelledByTheUidsLeave) {
    join(a, "1");
    a.receiver->holdQuestions = true;
    inject([](MediaEngineDelegate& d) {
        d.didJoinedOfUid(7, 0);
        d.didOfflineOfUid(7, MediaCodes::kOfflineQuit);
    });
    ASSERT_EQ(a.receiver->questions.size(), 1u);
    a.receiver->questions[0].second(RtcRemoteStreamType::user("7"));
    EXPECT_FALSE(rtc.getPeerData("7"));
    EXPECT_EQ(a.take(), Texts{});

    // An answer that comes twice adds the peer once.
    inject([](MediaEngineDelegate& d) { d.didJoinedOfUid(8, 0); });
    ASSERT_EQ(a.receiver->questions.size(), 2u);
    a.receiver->questions[1].second(RtcRemoteStreamType::user("8"));
    a.receiver->questions[1].second(RtcRemoteStreamType::user("8"));
    EXPECT_EQ(a.take(), Texts{"remoteJoin(8:mm)"});

    // An answer after the meeting ended changes nothing.
    inject([](MediaEngineDelegate& d) { d.didJoinedOfUid(9, 0); });
    rtc.leaveRtcChannel();
    run();
    a.receiver->questions.back().second(RtcRemoteStreamType::user("9"));
    EXPECT_TRUE(rtc.peers().empty());
}

TEST_F(AgoraRtcManagerTest, AnUnansweredLeaveIsDroppedWhenTheUidComesBack) {
    join(a, "1");
    remote(7);
    a.receiver->holdQuestions = true;
    inject([](MediaEngineDelegate& d) {
        d.didOfflineOfUid(7, MediaCodes::kOfflineQuit);
        d.didJoinedOfUid(7, 0);
    });
    ASSERT_EQ(a.receiver->questions.size(), 2u);
    a.receiver->questions[1].second(RtcRemoteStreamType::user("7"));
    EXPECT_EQ(a.take(), Texts{"remoteJoin(7:mm)"});
    // The question about the earlier leave is answered last: the uid is back in the channel.
    a.receiver->questions[0].second(RtcRemoteStreamType::user("7"));
    EXPECT_EQ(a.take(), Texts{});
    EXPECT_TRUE(rtc.getPeerData("7"));

    // A leave answered twice is reported once.
    inject([](MediaEngineDelegate& d) { d.didOfflineOfUid(7, MediaCodes::kOfflineQuit); });
    ASSERT_EQ(a.receiver->questions.size(), 3u);
    a.receiver->questions[2].second(RtcRemoteStreamType::user("7"));
    a.receiver->questions[2].second(RtcRemoteStreamType::user("7"));
    EXPECT_EQ(a.take(), Texts{"remoteLeave(7, leave)"});
    EXPECT_FALSE(rtc.getPeerData("7"));
}

TEST_F(AgoraRtcManagerTest, RemoteLeavesCarryTheEnginesReason) {
    join(a, "1");
    const std::vector<std::pair<int, std::string>> rows = {
        {0, "leave"}, {1, "dropped"}, {2, "audience"}, {3, "none"}, {-1, "none"}};
    for (const auto& [reason, text] : rows) {
        remote(7);
        inject([reason = reason](MediaEngineDelegate& d) { d.didOfflineOfUid(7, reason); });
        EXPECT_EQ(a.take(), Texts{"remoteLeave(7, " + text + ")"});
        EXPECT_FALSE(rtc.getPeerData("7"));
    }
    // A uid that rejoins moves to the end, freshly muted.
    remote(8);
    remote(9);
    remote(8);
    EXPECT_EQ(peerFlags(), (Texts{"1:mm", "9:mm", "8:mm"}));
}

// ---- media state, volumes and frozen video ---------------------------------------------------

TEST_F(AgoraRtcManagerTest, VolumesPickTheLoudestAboveTheThreshold) {
    join(a, "1", true);
    remote(7);
    remote(8);

    volumes({{7, 15, 0}, {8, 20, 0}});
    EXPECT_EQ(a.take(), (Texts{"top(7 8)", "loudest(none)"}));

    volumes({{7, 30, 1}, {8, 90, 1}, {6, 200, 1}});
    EXPECT_EQ(a.take(), (Texts{"top(7 8)"})) << "the loudest, uid 6, has no peer";
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(6), 200u);

    volumes({{7, 30, 1}, {8, 90, 1}});
    EXPECT_EQ(a.take(), (Texts{"top(7 8)", "loudest(8)"}));
    EXPECT_EQ(peerFlags(), (Texts{"1:lm", "7:mm", "8:mm+L"}));

    // The local report: level and voice, then the local user is the loudest.
    volumes({{0, 120, 1}});
    EXPECT_EQ(a.take(), (Texts{"localLevel(120, speaking)", "loudest(1)"}));
    // Muting the loudest local user takes it out of the choice at once.
    rtc.muteUnmuteLocalAudio(true);
    EXPECT_EQ(a.take(), Texts{"localAudio(1:mm, muted)"});
    EXPECT_EQ(rtc.localUserAudioLevel(), 0u);
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(1), 0u);
    volumes({{0, 120, 1}});
    EXPECT_EQ(a.take(), (Texts{"localLevel(120, speaking)", "loudest(8)"}));

    // A report under the local uid's own number is both a speaker list and the local entry.
    volumes({{1, 10, 0}, {7, 40, 1}});
    EXPECT_EQ(a.take(), (Texts{"top(1 7)", "localLevel(10)", "loudest(8)"}));

    // A remote's audio stopping zeroes its level until the next remote report.
    inject([](MediaEngineDelegate& d) {
        d.remoteAudioStateChangedOfUid(8, MediaCodes::kRemoteStateStopped, 5, 0);
    });
    EXPECT_EQ(a.take(), Texts{"remoteAudio(8:mm, muted)"});
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(8), 0u);
}

TEST_F(AgoraRtcManagerTest, AUserMutedWhileNotTheLoudestCannotBecomeItOnAnOldLevel) {
    join(a, "1", true);
    remote(8);
    volumes({{8, 90, 1}});
    volumes({{0, 30, 1}});
    EXPECT_EQ(a.take(), (Texts{"top(8)", "loudest(8)", "localLevel(30, speaking)", "loudest(8)"}));

    // Muted while 8 is the loudest: the local level of before the mute drops out of the choice.
    rtc.muteUnmuteLocalAudio(true);
    EXPECT_EQ(rtc.localUserAudioLevel(), 0u);
    EXPECT_EQ(rtc.remoteUsersVolumeLevel().at(1), 0u);
    inject([](MediaEngineDelegate& d) {
        d.remoteAudioStateChangedOfUid(8, MediaCodes::kRemoteStateStopped, 5, 0);
    });
    a.take();
    volumes({{0, 30, 0}});
    EXPECT_EQ(a.take(), (Texts{"localLevel(30)", "loudest(none)"}));
    EXPECT_EQ(peerFlags(), (Texts{"1:mm", "8:mm"}));
}

TEST_F(AgoraRtcManagerTest, AFrozenVideoIsReportedMutedOnceWhenItLasts) {
    a.receiver->ignoreVolumes = true;
    join(a, "1");
    remote(7);
    remote(8);
    const auto freeze = [this](std::uint64_t uid, int reason = 0) {
        inject([uid, reason](MediaEngineDelegate& d) {
            d.remoteVideoStateChangedOfUid(uid, MediaCodes::kRemoteStateFrozen, reason, 0);
        });
    };
    const auto decode = [this](std::uint64_t uid) {
        inject([uid](MediaEngineDelegate& d) {
            d.remoteVideoStateChangedOfUid(uid, MediaCodes::kRemoteStateDecoding, 0, 0);
        });
    };

    // Frozen for 3.4 s, then decoding again: nothing at the check.
    freeze(7);
    advance(3400ms);
    decode(7);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(7:ml, live)"});
    advance(600ms);
    EXPECT_EQ(a.take(), Texts{});

    // Congestion and fallback recovery are not recorded.
    freeze(7, MediaCodes::kRemoteReasonNetworkCongestion);
    freeze(7, MediaCodes::kRemoteReasonAudioFallbackRecovery);
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());

    // A lasting freeze is reported once, also when another uid's check runs later.
    freeze(7);
    advance(1000ms);
    freeze(8);
    advance(3000ms);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(7:mm, muted)"});
    advance(1000ms);
    EXPECT_EQ(a.take(), Texts{"remoteVideo(8:mm, muted)"});

    // A uid that leaves takes its record with it.
    inject([](MediaEngineDelegate& d) { d.didOfflineOfUid(8, MediaCodes::kOfflineQuit); });
    EXPECT_EQ(rtc.usersVideoFrozenData().size(), 1u);
    // And the meeting's end clears the rest.
    rtc.leaveRtcChannel();
    run();
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());
}

TEST_F(AgoraRtcManagerTest, RemoteMediaStatesOfKnownPeersOnly) {
    join(a, "1");
    remote(7);
    inject([](MediaEngineDelegate& d) {
        d.remoteAudioStateChangedOfUid(7, MediaCodes::kRemoteStateDecoding, 6, 0);
        d.remoteAudioStateChangedOfUid(7, MediaCodes::kRemoteStateStarting, 6, 0);
        d.remoteVideoStateChangedOfUid(7, MediaCodes::kRemoteStateDecoding, 6, 0);
        d.remoteVideoStateChangedOfUid(7, MediaCodes::kRemoteStateFailed, 0, 0);
        d.remoteAudioStateChangedOfUid(99, MediaCodes::kRemoteStateDecoding, 6, 0);
        d.remoteVideoStateChangedOfUid(99, MediaCodes::kRemoteStateFrozen, 0, 0);
        d.didRemoteSubscribeFallbackToAudioOnly(true, 7);
        d.didRemoteSubscribeFallbackToAudioOnly(true, 99);
        d.didLocalPublishFallbackToAudioOnly(false);
    });
    EXPECT_EQ(a.take(), (Texts{"remoteAudio(7:lm, live)", "remoteVideo(7:ll, live)",
                               "remoteVideo(7:lm, muted)", "remoteFallback(7, on)",
                               "localFallback(off)"}));
    EXPECT_TRUE(rtc.usersVideoFrozenData().empty());
}

// ---- roles ------------------------------------------------------------------------------------

TEST_F(AgoraRtcManagerTest, ARefusedBroadcasterRoleIsRetriedAfterItsWaitsThenGivesUp) {
    bus->setBroadcasterLimit(1);
    a.receiver->ignoreVolumes = true;
    auto b = makeClient();
    join(b, "2", true);
    join(a, "1", false, false, KRUserRole::audience());
    const auto roleRequests = [this] {
        return a.engine()->callArguments(MediaOperation::setClientRole).size();
    };
    rtc.switchClientRole(false);
    run();
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 1);
    EXPECT_EQ(roleRequests(), 2u);

    const std::vector<std::chrono::milliseconds> waits = {500ms, 2000ms, 5000ms};
    for (std::size_t i = 0; i < waits.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rtc.intervalForRetryingSwitchingClientRole(), waits[i]);
        advance(waits[i] - 1ms);
        EXPECT_EQ(roleRequests(), 2 + i);
        advance(1ms);
        // The last retry is refused too, and the give-up asks for the audience at once.
        EXPECT_EQ(roleRequests(), 3 + i + (i + 1 == waits.size() ? 1 : 0));
    }
    // The fourth refusal gives up: the user goes to the audience, muted; the count stays.
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 4);
    EXPECT_FALSE(rtc.isRoleRetryScheduled());
    EXPECT_EQ(a.engine()->callArguments(MediaOperation::setClientRole).back(), "2");
    EXPECT_EQ(rtc.currentUserRole(), 2);

    // The next refusal goes straight back to the audience; a confirmed broadcaster role ends
    // the series.
    rtc.switchClientRole(false);
    run();
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 5);
    EXPECT_FALSE(rtc.isRoleRetryScheduled());
    EXPECT_EQ(rtc.currentUserRole(), 2);
    a.take();
    bus->setBroadcasterLimit(std::nullopt);
    rtc.switchClientRole(false);
    run();
    EXPECT_EQ(rtc.counterForRetryingSwitchingClientRole(), 0);
    EXPECT_EQ(a.take(), (Texts{"role(broadcaster)", "localAudio(1:mm, muted)",
                               "localVideo(1:mm, muted)"}));
    EXPECT_FALSE(rtc.getPeerData("1")->isAudiencePeer());
}

TEST_F(AgoraRtcManagerTest, GoingToTheAudienceMutesFirstAndARoleChangeWithoutLocalPeerOnlyStoresIt) {
    rtc.configureRtcEngine({}, a.receiver);
    a.engine()->inject([](MediaEngineDelegate& d) { d.didClientRoleChanged(1, 2); });
    run();
    EXPECT_EQ(a.take(), Texts{});
    EXPECT_EQ(rtc.currentUserRole(), 2);

    join(a, "1", true, true);
    rtc.switchClientRole(true);
    EXPECT_EQ(a.take(), (Texts{"localAudio(1:ml, muted)", "localVideo(1:mm, muted)"}));
    run();
    EXPECT_EQ(a.take(), Texts{"role(audience)"});
    EXPECT_TRUE(rtc.getPeerData("1")->isAudiencePeer());
}

// ---- reports and mappings ----------------------------------------------------------------------

TEST_F(AgoraRtcManagerTest, EngineCodesMapToReports) {
    join(a, "1");
    inject([](MediaEngineDelegate& d) {
        for (int state : {0, 1, 2, 3, 4, 5, 6}) {
            d.connectionChangedToState(state, 0);
        }
        for (int routing : {0, 1, 2, 3, 4, 5, 6, -1}) {
            d.didAudioRouteChanged(routing);
        }
        d.networkQuality(0, 8, 1);
        d.networkQuality(0, 3, 5);
        d.networkQuality(0, 0, 6);
        d.networkQuality(7, 1, 1);
        d.localAudioStateChange(MediaCodes::kLocalStateRecording, 0);
        d.localVideoStateChange(MediaCodes::kLocalStateFailed, MediaCodes::kVideoErrorNoPermission);
        platform::ChannelStats stats;
        stats.lastmileDelay = 40;
        stats.txPacketLossRate = 1;
        stats.rxPacketLossRate = 2;
        stats.txKBitrate = 300;
        stats.rxKBitrate = 400;
        stats.txBytes = 5000;
        stats.rxBytes = 6000;
        d.reportRtcStats(stats);
    });
    EXPECT_EQ(a.take(),
              (Texts{// Unknown states (0 and 6) report nothing.
                     "connection(0)", "connection(1)", "connection(2)", "connection(3)",
                     "connection(4)", "route(headPhone)", "route(audioHandset)",
                     "route(headPhone)", "route(speaker)", "route(speaker)", "route(blueTooth)",
                     "route(blueTooth)", "route(blueTooth)", "quality(good)", "quality(bad)",
                     "quality(detecting)",
                     "audioFailed(" + std::to_string(static_cast<int>(KRAudioVideoErrorType::ok)) +
                         ", OK)",
                     "videoFailed(" + std::to_string(static_cast<int>(
                                          KRAudioVideoErrorType::permissionError)) +
                         ", LocalVideoStreamErrorDeviceNoPermission)",
                     "stats(40 1/2 300/400 5000/6000)"}));
}

TEST_F(AgoraRtcManagerTest, ControlsReachTheEngine) {
    join(a, "1");
    a.engine()->clearCallLog();
    rtc.setUpRemoteStreamVideoView("7", VideoRenderMode::scaleAspectFit);
    rtc.setUpRemoteStreamVideoView("8", VideoRenderMode::scaleToFill);
    rtc.setRemoteStreamQuality(KRRemoteStreamQuality::low, "7");
    rtc.enableDisableAudioOnlyMode(true);
    rtc.switchAudioDevice(KRAudioDeviceType::audioOff);
    rtc.switchAudioDevice(KRAudioDeviceType::speaker);
    rtc.applyVirtualBackground(KRVirtualBackgroundType::none());
    rtc.playChimeOnUserJoin();  // no file: nothing to play
    rtc.setAudioFileForUserLeftChime("/no/such/chime.wav");
    rtc.playChimeOnUserLeave();
    const auto calls = a.engine()->callTexts();
    const Texts expected = {
        "setupRemoteVideo({uid: 7, view: " + calls[0].substr(calls[0].find("view: ") + 6),
        R"(setParameters({"che.video.render_background_color":{"uid":7,"r":43,"g":43,"b":43}}))",
        calls[2],
        "setRemoteVideoStream(7, 1)",
        "muteAllRemoteVideoStreams(true)",
        "muteAllRemoteAudioStreams(true)",
        "setEnableSpeakerphone(false)",
        "adjustPlaybackSignalVolume(0)",
        "muteAllRemoteAudioStreams(false)",
        "setEnableSpeakerphone(true)",
        "adjustPlaybackSignalVolume(100)",
        "enableVirtualBackground(false, none)",
        "startAudioMixing(/no/such/chime.wav, true, false, 1, 0)",
    };
    EXPECT_EQ(calls, expected);
    EXPECT_EQ(calls[2].rfind("setupRemoteVideo({uid: 8,", 0), 0u);
    EXPECT_NE(calls[2].find("renderMode: 4"), std::string::npos);
}

// ---- leave and completions ------------------------------------------------------------------

TEST_F(AgoraRtcManagerTest, TheLocalLeaveEndsMessagingAtOnceAndTheEngineWithTheCompletion) {
    auto b = makeClient();
    join(a, "1");
    join(b, "2");
    a.take();
    rtc.setUpLocalRtcVideoView();
    const auto view = rtc.getVideoStreamView("1");
    ASSERT_TRUE(view);
    const auto engine = a.engine();
    a.receiver->holdLeave = true;
    rtc.leaveRtcChannel();
    run();
    EXPECT_EQ(a.take(), (Texts{"connection(0)", "localLeave(leave)"}));
    // Messaging is over and nothing is reported any more, but the engine waits for the facade.
    EXPECT_FALSE(service->isOnline("1"));
    EXPECT_FALSE(rtc.rtcDelegate());
    EXPECT_FALSE(rtc.rtmDelegate());
    EXPECT_FALSE(engine->isDestroyed());
    EXPECT_EQ(rtc.peers().size(), 2u);
    KRRtmMessage message;
    message.message = KRRtmMessageEvent::participantRaiseHand;
    message.senderUserId = "u2";
    b.rtc->sendPublicMessage(message);
    run();
    EXPECT_EQ(a.take(), Texts{});

    a.receiver->leaveCompletion();
    EXPECT_TRUE(engine->isDestroyed());
    EXPECT_FALSE(a.engine());
    EXPECT_TRUE(rtc.peers().empty());
    // A second call finds nothing left to release.
    a.receiver->leaveCompletion();
    EXPECT_TRUE(rtc.peers().empty());
}

TEST_F(AgoraRtcManagerTest, ALeaveWithoutADelegateStillReleasesTheEngine) {
    join(a, "1");
    remote(7);
    const auto engine = a.engine();
    a.receiver.reset();
    rtc.leaveRtcChannel();
    run();
    EXPECT_TRUE(engine->isDestroyed());
    EXPECT_TRUE(rtc.peers().empty());
    EXPECT_FALSE(rtc.isConnectedToRtcServer());
}

TEST_F(AgoraRtcManagerTest, ALateLeaveCompletionDoesNotTouchTheNextMeeting) {
    join(a, "1");
    a.receiver->holdLeave = true;
    rtc.leaveRtcChannel();
    run();
    auto stale = std::move(a.receiver->leaveCompletion);
    a.receiver->holdLeave = false;
    join(a, "1");
    ASSERT_TRUE(a.engine());
    stale();
    EXPECT_TRUE(a.engine());
    EXPECT_EQ(peerFlags(), Texts{"1:mm"});
}

TEST_F(AgoraRtcManagerTest, MessagesAreRelayedWithTheContactsName) {
    contacts->setContactsArray({{{"userId", "u2"}, {"name", "Bea"}}});
    auto b = makeClient();
    join(a, "1");
    join(b, "2");
    a.take();
    KRRtmMessage message;
    message.message = KRRtmMessageEvent::participantRaiseHand;
    message.senderName = "sent name";
    message.senderUserId = "u2";
    b.rtc->sendPublicMessage(message);
    message.senderUserId = "u3";
    b.rtc->sendPublicMessage(message);
    message.messageType = KRRtmMessageType::peerToPeer;
    message.targetParticipantId = "1";
    b.rtc->sendPrivateMessage(message);
    run();
    EXPECT_EQ(a.take(), (Texts{"public(Bea)", "public(sent name)", "private(sent name)"}));
}

TEST_F(AgoraRtcManagerTest, AWrapperReleasedFromInsideAReportGoesCleanly) {
    auto b = makeClient();
    join(a, "1");
    std::weak_ptr<AgoraRtcManager> weak = a.rtc;
    a.receiver->onRemoteJoin = [this](const Peer&) { a.rtc.reset(); };
    join(b, "2", true);
    run();
    EXPECT_TRUE(weak.expired());
    // Its engine left with it; the other side saw it go.
    EXPECT_FALSE(b.rtc->getPeerData("1"));
    EXPECT_EQ(bus->members("room"), std::vector<std::uint64_t>{2});
}

}  // namespace
}  // namespace kr
