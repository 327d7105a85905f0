#include "support/RoadMeeting.h"

#include <chrono>
#include <optional>

#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/LocalMeetingDependencies.h"
#include "testing/KRClientTestSeam.h"
#include "testing/Media/KrMediaTestEngine.h"

namespace kr::test {

using namespace std::chrono_literals;

const char* roadName(Road road) {
    const char* const names[] = {"default engine", "agora", "kr-media"};
    return names[static_cast<int>(road)];
}

void PrintTo(Road road, std::ostream* os) { *os << roadName(road); }

std::string roadTestName(const ::testing::TestParamInfo<Road>& info) {
    const char* const names[] = {"DefaultEngine", "Agora", "KrMedia"};
    return names[static_cast<int>(info.param)];
}

std::string RoadMember::uid() const {
    return internals(client).currentRoom().userWebRtcId;
}

RoadMeeting::~RoadMeeting() { members.clear(); }

std::shared_ptr<EngineTestDelegate> RoadMeeting::makeDelegate() {
    return std::make_shared<EngineTestDelegate>(main);
}

void RoadMeeting::meet(Road road, const std::vector<bool>& hosts) {
    members.clear();
    service.clearFaults();
    room = MeetingRoomSetup{};
    room.meetingId = std::to_string(7100000000 + ++rooms);
    room.roomId = "room-" + room.meetingId;
    room.mediaEngine = road == Road::krMedia ? "kr-media" : "agora";
    service.addRoom(room);
    const std::size_t logins = service.roomSocket().loginCount();
    for (const bool host : hosts) {
        KRDependencies deps = localMeetingDependencies(main, storage, service, bus, messaging);
        deps.extensionNotifications = std::make_shared<platform::DarwinNotifyCenter>();
        Member& m = members.emplace_back(Member{KRClient::create(deps), makeDelegate()});
        m.client->setMultiMediaEngineIntegration(road != Road::defaultEngine);
        if (road == Road::krMedia) m.client->setRtcEngineManager(KrMediaTestEngine::create(deps));
        join(m, host);
    }
    EXPECT_TRUE(main->runUntil(
        [&] {
            return everyoneListsEveryone() &&
                   service.roomSocket().loginCount() >= logins + members.size();
        },
        10s));
    main->runFor(200ms);  // the joins' own status calls are answered
}

void RoadMeeting::join(Member& m, bool host) {
    m.client->joinMeeting(
        KRJoinMeetingData(room.meetingId, room.pin, "Name"),
        KRJoinMeetingConfig(host ? KRUserRole::host(room.hostToken) : KRUserRole::speaker(), true,
                            true),
        m.heard);
}

bool RoadMeeting::everyoneListsEveryone() const {
    for (const Member& m : members)
        for (const Member& other : members)
            if (&m != &other && !m.client->getUser(other.uid())) return false;
    return true;
}

bool RoadMeeting::statusReplied(Member& m) {
    std::optional<bool> answered;
    internals(m.client).roomSync().fetchRoomStatus([&](bool ok) { answered = ok; });
    return main->runUntil([&] { return answered.has_value(); }, 5s) && *answered;
}

bool RoadMeeting::everyoneReplied() {
    for (Member& m : members)
        if (!statusReplied(m)) return false;
    return true;
}

}  // namespace kr::test
