// Both engine wrappers driven through the same few calls: what stops the retry of a refused
// broadcaster role, what happens to refusals after the retries gave up, and a receiver that
// releases the wrapper from inside a report made before a host call returns (run under asan).

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcManager.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/KRRtcManger.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaCodes.h"
#include "platform/Media/MediaEngineFactory.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/NotificationCenter.h"
#include "support/RtcDelegateRecorder.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using platform::MediaCodes;
using platform::MediaEngineDelegate;
using platform::MediaOperation;

struct World {
    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    std::shared_ptr<platform::MediaEngineFactory> factory =
        std::make_shared<platform::MediaEngineFactory>(bus, queue);

    void advance(std::chrono::milliseconds d) {
        clock->advance(d);
        queue->runPending();
    }
};

/// One wrapper as its owner sees it; `onLocalMediaReport` runs inside every report of the local
/// microphone or camera.
class Wrapper {
public:
    virtual ~Wrapper() = default;
    virtual void join(bool audience) = 0;
    virtual void switchRole(bool audience) = 0;
    virtual void muteAudio(bool muted) = 0;
    virtual void muteVideo(bool muted) = 0;
    virtual void leave() = 0;
    virtual std::int64_t refusals() const = 0;
    virtual bool isRetryScheduled() const = 0;
    virtual int role() const = 0;
    virtual std::shared_ptr<platform::MediaEngine> engine() const = 0;
    /// Drops the owner's reference; released() is true once that ended the wrapper.
    virtual void release() = 0;
    virtual bool released() const = 0;

    std::function<void()> onLocalMediaReport;
    void localMediaReported() {
        if (onLocalMediaReport) onLocalMediaReport();
    }
    std::vector<std::string> roleRequests() const {
        return engine()->callArguments(MediaOperation::setClientRole);
    }
};

/// The calls both wrappers name alike.
template <typename Rtc>
class WrapperOf : public Wrapper {
public:
    void switchRole(bool audience) override { rtc_->switchClientRole(audience); }
    void muteAudio(bool muted) override { rtc_->muteUnmuteLocalAudio(muted); }
    void muteVideo(bool muted) override { rtc_->muteUnmuteLocalVideo(muted); }
    std::int64_t refusals() const override { return rtc_->counterForRetryingSwitchingClientRole(); }
    bool isRetryScheduled() const override { return rtc_->isRoleRetryScheduled(); }
    int role() const override { return rtc_->currentUserRole(); }
    std::shared_ptr<platform::MediaEngine> engine() const override { return rtc_->rtcEngine(); }
    void release() override { rtc_.reset(); }
    bool released() const override { return weak_.expired(); }

protected:
    WrapperOf(World& world, std::shared_ptr<Rtc> rtc)
        : world_(world), rtc_(std::move(rtc)), weak_(rtc_) {}

    World& world_;
    std::shared_ptr<Rtc> rtc_;
    std::weak_ptr<Rtc> weak_;
};

class DefaultWrapper final : public WrapperOf<KRRtcManger> {
public:
    explicit DefaultWrapper(World& world)
        : WrapperOf(world, KRRtcManger::create(world.queue, world.factory,
                                               std::make_shared<test::RecordingLogger>())) {
        receiver_->owner = this;
    }
    void join(bool audience) override {
        rtc_->configureRTCEngine("app", receiver_, 0);
        rtc_->joinRoom(1, "token", "room", audience, std::nullopt);
        world_.queue->runPending();
    }
    void leave() override { rtc_->leaveMeetingRoom(); }

private:
    struct Receiver final : test::RtcDelegateRecorder {
        Wrapper* owner = nullptr;
        void didLocalParticipantAudioStatusUpdated(
            const std::shared_ptr<KRRtcParticipant>& p) override {
            RtcDelegateRecorder::didLocalParticipantAudioStatusUpdated(p);
            owner->localMediaReported();
        }
        void didLocalParticipantVideoStatusUpdated(
            const std::shared_ptr<KRRtcParticipant>& p) override {
            RtcDelegateRecorder::didLocalParticipantVideoStatusUpdated(p);
            owner->localMediaReported();
        }
    };
    std::shared_ptr<Receiver> receiver_ = std::make_shared<Receiver>();
};

std::shared_ptr<AgoraRtcManager> multiMediaWrapperIn(World& world) {
    KRDependencies dependencies;
    dependencies.queue = world.queue;
    dependencies.mediaBus = world.bus;
    dependencies.messagingService = world.messaging;
    return AgoraRtcManager::create(dependencies, world.factory,
                                   std::make_shared<platform::NotificationCenter>(),
                                   std::make_shared<ContactSyncManager>());
}

class MultiMediaWrapper final : public WrapperOf<AgoraRtcManager> {
public:
    explicit MultiMediaWrapper(World& world) : WrapperOf(world, multiMediaWrapperIn(world)) {
        receiver_->owner = this;
    }
    void join(bool audience) override {
        rtc_->configureRtcEngine({{"web_rtc_app_id", "app"}}, receiver_);
        AgoraRtcJoinData data;
        data.channelId = "room";
        data.userUid = "1";
        data.rtcToken = "rtc-token";
        data.rtmToken = "rtm-token";
        data.role = audience ? KRUserRole::audience() : KRUserRole::speaker();
        data.initialAudioOn = true;
        data.initialVideoOn = true;
        rtc_->joinRoom(data.toObject());
        world_.queue->runPending();
    }
    void leave() override { rtc_->leaveRtcChannel(); }

private:
    struct Receiver final : RtcManagerDelegate {
        Wrapper* owner = nullptr;
        void didLocalParticipantAudioStatusUpdated(const Peer&, bool) override {
            owner->localMediaReported();
        }
        void didLocalParticipantVideoStatusUpdated(const Peer&, bool) override {
            owner->localMediaReported();
        }
    };
    std::shared_ptr<Receiver> receiver_ = std::make_shared<Receiver>();
};

struct Backend {
    const char* name;
    std::function<std::unique_ptr<Wrapper>(World&)> make;
};

const Backend kBackends[] = {
    {"default",
     [](World& w) -> std::unique_ptr<Wrapper> { return std::make_unique<DefaultWrapper>(w); }},
    {"multimedia",
     [](World& w) -> std::unique_ptr<Wrapper> { return std::make_unique<MultiMediaWrapper>(w); }},
};

/// A wrapper of `backend` in the audience of a channel without room for a broadcaster, whose first
/// request to become one was just refused.
std::unique_ptr<Wrapper> refusedOnce(const Backend& backend, World& world) {
    world.bus->setBroadcasterLimit(0);
    auto wrapper = backend.make(world);
    wrapper->join(/*audience=*/true);
    wrapper->switchRole(false);
    world.queue->runPending();
    return wrapper;
}

TEST(EngineWrappersTest, GoingToTheAudienceOrLeavingDropsAPendingRetry) {
    const struct {
        const char* name;
        std::function<void(Wrapper&, World&)> stop;
    } stops[] = {
        {"host moves the user to the audience", [](Wrapper& w, World&) { w.switchRole(true); }},
        {"engine confirms the audience role",
         [](Wrapper& w, World& world) {
             w.engine()->inject([](MediaEngineDelegate& d) {
                 d.didClientRoleChanged(MediaCodes::kRoleBroadcaster, MediaCodes::kRoleAudience);
             });
             world.queue->runPending();
         }},
        {"user leaves", [](Wrapper& w, World&) { w.leave(); }},
    };
    for (const Backend& backend : kBackends) {
        for (const auto& stop : stops) {
            SCOPED_TRACE(std::string(backend.name) + ": " + stop.name);
            World world;
            auto wrapper = refusedOnce(backend, world);
            ASSERT_TRUE(wrapper->isRetryScheduled());
            const auto engine = wrapper->engine();  // the leave may release it
            const std::size_t requests = engine->callArguments(MediaOperation::setClientRole).size();

            stop.stop(*wrapper, world);
            EXPECT_FALSE(wrapper->isRetryScheduled());
            // Room for a broadcaster now: a retry that still fired would take it.
            world.bus->setBroadcasterLimit(std::nullopt);
            world.advance(10s);
            const auto after = engine->callArguments(MediaOperation::setClientRole);
            for (std::size_t i = requests; i < after.size(); ++i) {
                EXPECT_NE(after[i], "1") << "broadcaster asked for again";
            }
        }
    }
}

TEST(EngineWrappersTest, AfterGivingUpEveryRefusalGoesToTheAudienceUntilAConfirmation) {
    for (const Backend& backend : kBackends) {
        SCOPED_TRACE(backend.name);
        World world;
        auto wrapper = refusedOnce(backend, world);
        world.advance(500ms);
        world.advance(2000ms);
        world.advance(5000ms);
        ASSERT_EQ(wrapper->refusals(), 4);
        ASSERT_EQ(wrapper->roleRequests().back(), "2") << "the fourth refusal gives up";

        // Asked again: refused, and back to the audience at once instead of a new series.
        const std::size_t requests = wrapper->roleRequests().size();
        wrapper->switchRole(false);
        world.queue->runPending();
        EXPECT_EQ(wrapper->refusals(), 5);
        EXPECT_FALSE(wrapper->isRetryScheduled());
        const auto all = wrapper->roleRequests();
        EXPECT_EQ(std::vector(all.begin() + static_cast<std::ptrdiff_t>(requests), all.end()),
                  (std::vector<std::string>{"1", "2"}));

        // Only the engine's confirmation of the broadcaster role starts a fresh series.
        world.bus->setBroadcasterLimit(std::nullopt);
        wrapper->switchRole(false);
        world.queue->runPending();
        EXPECT_EQ(wrapper->role(), MediaCodes::kRoleBroadcaster);
        EXPECT_EQ(wrapper->refusals(), 0);
    }
}

TEST(EngineWrappersTest, AReceiverMayReleaseTheWrapperFromInsideALocalMediaReport) {
    const struct {
        const char* name;
        std::function<void(Wrapper&)> call;
    } calls[] = {
        {"mute microphone", [](Wrapper& w) { w.muteAudio(true); }},
        {"mute camera", [](Wrapper& w) { w.muteVideo(true); }},
        {"switch to the audience", [](Wrapper& w) { w.switchRole(true); }},
    };
    for (const Backend& backend : kBackends) {
        for (const auto& call : calls) {
            SCOPED_TRACE(std::string(backend.name) + ": " + call.name);
            World world;
            auto wrapper = backend.make(world);
            wrapper->join(/*audience=*/false);
            int reports = 0;
            wrapper->onLocalMediaReport = [&] {
                ++reports;
                wrapper->release();
            };
            call.call(*wrapper);
            EXPECT_GE(reports, 1);
            EXPECT_TRUE(wrapper->released());
            world.advance(1s);
        }
    }
}

}  // namespace
}  // namespace kr
