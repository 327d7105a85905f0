#include "testing/Media/KrMediaTestEngine.h"

#include <atomic>
#include <utility>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"

namespace kr::test {

namespace {

/// Uids far from the ones the bus hands out, so engines made without one never collide.
std::uint64_t nextUid() {
    static std::atomic<std::uint64_t> next{70001};
    return next++;
}

std::string textAt(const boost::json::object& data, const char* key) {
    const auto* value = data.if_contains(key);
    return value && value->is_string() ? std::string(value->get_string()) : std::string();
}

}  // namespace

std::shared_ptr<KrMediaTestEngine> KrMediaTestEngine::create(const KRDependencies& dependencies,
                                                             Options options) {
    // The engine of its own factory: a host engine is a world of its own beside the library's.
    auto factory = std::make_shared<platform::MediaEngineFactory>(dependencies.mediaBus,
                                                                  dependencies.queue);
    auto inner = AgoraRtcManager::create(dependencies, std::move(factory));
    const std::uint64_t uid = options.uid != 0 ? options.uid : nextUid();
    return std::shared_ptr<KrMediaTestEngine>(
        new KrMediaTestEngine(std::move(inner), std::move(options), uid));
}

KrMediaTestEngine::KrMediaTestEngine(std::shared_ptr<AgoraRtcManager> inner, Options options,
                                     std::uint64_t uid)
    : inner_(std::move(inner)), options_(std::move(options)), uid_(uid) {}

void KrMediaTestEngine::configureRtcEngine(const boost::json::object& data,
                                           std::weak_ptr<RtcManagerDelegate> delegate) {
    configureData_.push_back(data);
    boost::json::object setUp;
    setUp[AgoraRtcJoinData::kAppId] = options_.appId;
    inner_->configureRtcEngine(setUp, std::move(delegate));
}

void KrMediaTestEngine::joinRoom(const boost::json::object& data) {
    joinData_.push_back(data);
    if (inner_->isConnectedToRtcServer()) {
        return;
    }
    AgoraRtcJoinData join;
    join.channelId = channelFor(textAt(data, "meetingId"));
    join.userUid = sringValue(uid_);
    join.role = KRUserRole::speaker();
    join.initialAudioOn = options_.initialAudioOn;
    join.initialVideoOn = options_.initialVideoOn;
    inner_->joinRoom(join.toObject());
}

}  // namespace kr::test
