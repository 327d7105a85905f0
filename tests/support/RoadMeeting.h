#pragma once

// A host and others in a fresh room of the local meeting service (real HTTPS, real clock), all on
// one engine road, each listing the others: the fixture of the rows that compare what every list
// and every app shows of one participant.

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Messaging/MessagingService.h"
#include "support/EngineTestDelegate.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/ScopedTempDirectory.h"

namespace kr::test {

enum class Road { defaultEngine, agora, krMedia };
const char* roadName(Road road);
void PrintTo(Road road, std::ostream* os);
/// The name of a row's road in a parameterised test's name.
std::string roadTestName(const ::testing::TestParamInfo<Road>& info);

/// A client in the meeting and what its app heard.
struct RoadMember {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<EngineTestDelegate> heard;
    std::string uid() const;
};

class RoadMeeting : public ::testing::Test {
protected:
    using Member = RoadMember;

    ~RoadMeeting() override;

    /// One member per entry of `hosts` (true: a host) joins a fresh room on `road`; returns once
    /// each lists the others and its room socket logged in, and the joins' own status calls were
    /// answered.
    void meet(Road road, const std::vector<bool>& hosts = {true, false, false});
    /// `m` joins the room again, as a host or a speaker.
    void join(Member& m, bool host);
    bool everyoneListsEveryone() const;
    /// `m` fetched the room status and applied the reply.
    bool statusReplied(Member& m);
    bool everyoneReplied();
    /// The delegate each member's app gets.
    virtual std::shared_ptr<EngineTestDelegate> makeDelegate();

    std::shared_ptr<platform::MainQueue> main =
        platform::MainQueue::create(platform::SteadyClock::instance());
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    ScopedTempDirectory storage;
    LocalMeetingService service;
    std::deque<Member> members;
    MeetingRoomSetup room;
    int rooms = 0;
};

}  // namespace kr::test
