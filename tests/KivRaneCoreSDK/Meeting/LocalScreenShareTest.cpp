// The local screen share on its own, through a recording owner: starting it with the extension,
// the messages that tell the others, every way it ends (each reported once, the host's own
// stops as tasks of their own), and the stream it leaves behind.

#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/ManualClock.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using Lines = std::vector<std::string>;
using Reply = LocalScreenShare::StreamReply;
using K = KRControlMessage;

constexpr const char* kGroup = "group.kr.share.test";

const char* nameOf(K message) {
    switch (message) {
        case K::participantStartScreenShare: return "start message";
        case K::participantStopScreenShare: return "stop message";
        case K::screenShareOverride: return "override message";
        default: return "other message";
    }
}

const char* nameOf(KRUserLeftReason::Kind kind) {
    switch (kind) {
        case KRUserLeftReason::Kind::leaveMeeting: return "left";
        case KRUserLeftReason::Kind::networkDropped: return "dropped";
        default: return "other";
    }
}

/// Records everything the share asks of its meeting.
class RecordingOwner : public LocalScreenShare::Owner {
public:
    explicit RecordingOwner(std::shared_ptr<platform::DispatchQueue> queue)
        : session(std::make_unique<MeetingSession>(std::move(queue))) {}

    bool localShareMayStart() const override { return mayStart; }
    MeetingSession::Token shareSessionToken() const override { return session->token(); }
    bool shareBypassesServer() const override { return bypass; }
    void requestShareStream(std::function<void(const Reply&)> done) override {
        log.push_back("start request");
        pendingStarts.push_back(std::move(done));
    }
    void requestShareStop() override { log.push_back("stop request"); }
    void sendShareMessage(KRControlMessage message, LocalScreenShare::Completion done) override {
        log.push_back(nameOf(message));
        if (done) pendingSends.push_back(std::move(done));
    }
    bool meetingShowsAnotherShare() const override { return someoneShares; }
    bool roomShowsLocalShare() const override { return roomShows; }
    bool backendShowsLocalShare() const override { return backendShows; }
    void reportLocalShare(const KRScreenShareState& state, MeetingEvents::Reach reach) override {
        const auto* stopped = state.asStopped();
        log.push_back(stopped ? "stopped " + std::to_string(stopped->mediaTrackId) + " " +
                                    nameOf(stopped->reason.kind())
                              : std::string("started"));
        heardBy.push_back((stopped ? "stopped " + std::to_string(stopped->mediaTrackId)
                                   : std::string("started")) +
                          (reach == MeetingEvents::Reach::mainDelegate     ? " main"
                           : reach == MeetingEvents::Reach::extraDelegates ? " extras"
                                                                           : " every"));
        if (onReport) onReport();
    }
    std::string shareAppGroup() const override { return group; }
    std::weak_ptr<const void> shareLifetime() const override { return life; }

    /// Answers the oldest start request.
    void answer(const Reply& reply) {
        auto done = std::move(pendingStarts.front());
        pendingStarts.erase(pendingStarts.begin());
        done(reply);
    }

    bool mayStart = true;
    bool bypass = false;
    bool someoneShares = false;
    bool roomShows = false;
    bool backendShows = false;
    std::string group = kGroup;
    std::shared_ptr<int> life = std::make_shared<int>(0);
    std::unique_ptr<MeetingSession> session;
    std::vector<std::function<void(const Reply&)>> pendingStarts;
    std::vector<LocalScreenShare::Completion> pendingSends;
    std::function<void()> onReport;
    Lines log;
    /// Each report with who hears it.
    Lines heardBy;
};

class LocalScreenShareTest : public ::testing::Test {
protected:
    LocalScreenShareTest() {
        for (const char* name : {LocalScreenShare::kCredentialsReadyNotification,
                                 LocalScreenShare::kForceStopNotification}) {
            (void)extension->addObserver(name, [this](const std::string& n) {
                heard.push_back(n == LocalScreenShare::kForceStopNotification ? "told to stop"
                                                                              : "credentials");
            });
        }
        share.beginMeeting();
    }
    KRDependencies dependencies() const {
        KRDependencies d;
        d.queue = queue;
        d.extensionNotifications = extension;
        d.storageDirectory = storage.path();
        return d;
    }
    std::shared_ptr<platform::UserDefaults> suite() const {
        return platform::UserDefaults::suite(kGroup, storage.path());
    }
    std::optional<std::string> stopReason() const {
        return suite()->string(LocalScreenShare::kStopReasonKey);
    }
    /// A share running on stream `uid`, with the log cleared.
    void running(std::uint64_t uid = 900) {
        share.adoptStream(uid, "tok");
        owner.log.clear();
        heard.clear();
    }

    std::shared_ptr<platform::ManualClock> clock = platform::ManualClock::create();
    std::shared_ptr<platform::MainQueue> queue = platform::MainQueue::create(clock);
    std::shared_ptr<platform::DarwinNotifyCenter> extension =
        std::make_shared<platform::DarwinNotifyCenter>();
    test::ScopedTempDirectory storage;
    RecordingOwner owner{queue};
    LocalScreenShare share{owner, dependencies()};
    Lines heard;
};

TEST_F(LocalScreenShareTest, AStartHandsAUsableStreamToTheExtensionAndFailsOtherwise) {
    struct Row {
        const char* name;
        Reply reply;
        bool started;
    };
    const Row rows[] = {
        {"a granted stream", {true, 77, "tok", ""}, true},
        {"no uid", {true, 0, "tok", ""}, false},
        {"no token", {true, 77, "", ""}, false},
        {"refused", {false, 0, "", "The server refused the request"}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        share.beginMeeting();
        suite()->set(LocalScreenShare::kStopReasonKey, "none yet");
        heard.clear();
        std::optional<bool> result;
        share.start([&](bool ok) { result = ok; });
        ASSERT_EQ(owner.pendingStarts.size(), 1u);
        owner.answer(row.reply);
        EXPECT_EQ(result, row.started);
        if (row.started) {
            EXPECT_EQ(share.streamUid(), 77u);
            EXPECT_EQ(share.streamToken(), "tok");
            EXPECT_EQ(suite()->integer(LocalScreenShare::kShareUidKey), 77);
            EXPECT_EQ(suite()->string(LocalScreenShare::kShareTokenKey), "tok");
            EXPECT_EQ(heard, Lines{"credentials"});
            EXPECT_EQ(stopReason(), "none yet");
        } else {
            EXPECT_EQ(share.streamUid(), 0u);
            EXPECT_EQ(heard, Lines{"told to stop"});
            EXPECT_EQ(stopReason(), LocalScreenShare::kStartFailedReason);
        }
    }
}

TEST_F(LocalScreenShareTest, NoStreamIsAskedForOrHandedOverOnceTheMeetingIsNotThere) {
    const auto leaveBegan = [](RecordingOwner& o) { o.mayStart = false; };
    const auto meetingEnded = [](RecordingOwner& o) {
        o.session->end(MeetingSession::EndReason::left);
    };
    const Reply granted{true, 77, "tok", ""};
    const Reply refused{false, 0, "", "The server refused the request"};
    const Reply unusable{true, 0, "tok", ""};
    struct Row {
        const char* name;
        bool mayStartAtCall;
        std::function<void(RecordingOwner&)> beforeReply;  // null: no request is sent
        Reply reply;
        /// What the completion says: the server's answer once a request went out.
        bool completes;
    };
    const Row rows[] = {
        {"the leave began before the call", false, nullptr, {}, false},
        {"the leave began before a granted reply", true, leaveBegan, granted, true},
        {"the leave began before a refusal", true, leaveBegan, refused, false},
        {"the meeting ended before a granted reply", true, meetingEnded, granted, true},
        {"the meeting ended before a refusal", true, meetingEnded, refused, false},
        {"the meeting ended before a stream without uid", true, meetingEnded, unusable, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        owner.session = std::make_unique<MeetingSession>(queue);
        owner.mayStart = row.mayStartAtCall;
        owner.log.clear();
        heard.clear();
        suite()->remove(LocalScreenShare::kShareUidKey);
        std::optional<bool> result;
        share.start([&](bool ok) { result = ok; });
        if (row.beforeReply) {
            row.beforeReply(owner);
            owner.answer(row.reply);
        } else {
            EXPECT_EQ(result, std::nullopt) << "completed inside the call";
            queue->runPending();
        }
        EXPECT_EQ(result, row.completes);
        EXPECT_EQ(owner.log, row.beforeReply ? Lines{"start request"} : Lines{});
        // Nothing of the meeting changes: no stream, no credentials, no stop for the extension.
        EXPECT_EQ(share.streamUid(), 0u);
        EXPECT_EQ(suite()->integer(LocalScreenShare::kShareUidKey), std::nullopt);
        EXPECT_TRUE(heard.empty());
    }
    // The extension's own capture report during a leave asks for nothing either.
    owner.session = std::make_unique<MeetingSession>(queue);
    owner.mayStart = false;
    owner.log.clear();
    extension->post(LocalScreenShare::kCaptureStartedNotification);
    queue->runPending();
    EXPECT_TRUE(owner.log.empty());
    EXPECT_TRUE(heard.empty());
}

TEST_F(LocalScreenShareTest, AStartedStreamTellsTheOthersAfterAnOverrideWhenAShareStands) {
    struct Row {
        const char* name;
        std::function<void(RecordingOwner&)> arrange;
        Lines sent;
        bool granted = true;  // this meeting granted the share its stream
    };
    const Row rows[] = {
        {"nobody shares", [](RecordingOwner&) {}, {"start message"}},
        {"a share stands", [](RecordingOwner& o) { o.someoneShares = true; },
         {"override message", "start message"}},
        {"without the server calls", [](RecordingOwner& o) { o.bypass = true; }, {}},
        {"outside the meeting", [](RecordingOwner& o) { o.mayStart = false; }, {}},
        {"no stream was granted", [](RecordingOwner&) {}, {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingOwner fresh(queue);
        LocalScreenShare s(fresh, dependencies());
        s.beginMeeting();
        row.arrange(fresh);
        if (row.granted) s.adoptStream(7, "share-token");
        extension->post(LocalScreenShare::kStreamStartedNotification);
        queue->runPending();
        // The start waits for the override's answer, whatever it says.
        for (auto& done : std::exchange(fresh.pendingSends, {})) done(false);
        EXPECT_EQ(fresh.log, row.sent);
    }
    // An owner gone before the override is answered sends nothing more.
    owner.log.clear();
    owner.someoneShares = true;
    share.adoptStream(7, "share-token");
    extension->post(LocalScreenShare::kStreamStartedNotification);
    queue->runPending();
    ASSERT_EQ(owner.pendingSends.size(), 1u);
    owner.life.reset();
    owner.pendingSends.front()(true);
    EXPECT_EQ(owner.log, Lines{"override message"});
}

TEST_F(LocalScreenShareTest, EveryEndIsToldOnceAndTheHostsOwnStopsLater) {
    struct Row {
        const char* name;
        std::function<void(LocalScreenShare&, platform::DarwinNotifyCenter&)> end;
        Lines inside;  // what happens inside the call
        Lines later;   // what the queue adds
        std::optional<std::string> reason;  // told to the extension through the app group
    };
    const Row rows[] = {
        {"the capture stopped",
         [](auto&, auto& ext) { ext.post(LocalScreenShare::kCaptureStoppedNotification); },
         {},
         {"stop message", "stop request", "stopped 900 left"},
         std::nullopt},
        {"the host stopped it", [](auto& s, auto&) { s.stop(); },
         {"stop message", "stop request"},
         {"stopped 900 left"},
         ""},
        {"another share took over",
         [](auto& s, auto&) { s.forceStop("Remote User has override your screen share."); },
         {"stop request", "stopped 900 left"},
         {},
         "Remote User has override your screen share."},
        {"the leave", [](auto& s, auto&) { s.leave(); },
         {"stop request"},
         {"stopped 900 left"},
         LocalScreenShare::kLeftMeetingReason},
        {"its stream left the channel",
         [](auto& s, auto&) { EXPECT_TRUE(s.streamLeft(900, KRUserLeftReason::networkDropped())); },
         {"stop request", "stopped 900 dropped"},
         {},
         std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        suite()->set(LocalScreenShare::kStopReasonKey, "untouched");
        running();
        row.end(share, *extension);
        EXPECT_EQ(owner.log, row.inside);
        queue->runPending();
        EXPECT_EQ(share.streamUid(), 0u);
        EXPECT_TRUE(share.streamToken().empty());
        Lines all = row.inside;
        all.insert(all.end(), row.later.begin(), row.later.end());
        EXPECT_EQ(owner.log, all);
        EXPECT_EQ(stopReason(), row.reason.value_or("untouched"));
        // A second end of any kind tells neither the server nor the host app again.
        owner.log.clear();
        share.forceStop("again");
        extension->post(LocalScreenShare::kCaptureStoppedNotification);
        share.leave();
        queue->runPending();
        EXPECT_EQ(owner.log, Lines{});
    }
}

TEST_F(LocalScreenShareTest, EachDelegateHearsOfTheStopOnceWhenTheEngineClosesTheShareTrackToo) {
    using R = MeetingEvents::Reach;
    const auto track = std::make_shared<KRScreenShareTrack>(
        "900", std::make_shared<KRAudioTrack>("900", true),
        std::make_shared<KRVideoTrack>("900", false, nullptr), "me", "Me");
    struct Row {
        const char* name;
        std::function<void(LocalScreenShare&, platform::DarwinNotifyCenter&)> steps;
        Lines heardBy;
        std::uint64_t runningAfter;
    };
    const Row rows[] = {
        {"closed, then the host stops",
         [&](auto& s, auto&) { s.trackShown(track, R::mainDelegate); s.trackClosed(900, R::mainDelegate); s.stop(); },
         {"started main", "stopped 900 main", "stopped 900 extras"}, 0},
        {"closed twice, then the capture stops",
         [&](auto& s, auto& ext) {
             s.trackShown(track, R::mainDelegate);
             s.trackClosed(900, R::mainDelegate);
             s.trackClosed(900, R::mainDelegate);
             ext.post(LocalScreenShare::kCaptureStoppedNotification);
         },
         {"started main", "stopped 900 main", "stopped 900 extras"}, 0},
        {"closed and shown again, then the leave",
         [&](auto& s, auto&) {
             s.trackShown(track, R::mainDelegate);
             s.trackClosed(900, R::mainDelegate);
             s.trackShown(track, R::mainDelegate);
             s.leave();
         },
         {"started main", "stopped 900 main", "started main", "stopped 900 every"}, 0},
        {"the host stops, then the track closes",
         [&](auto& s, auto&) { s.trackShown(track, R::mainDelegate); s.stop(); s.trackClosed(900, R::mainDelegate); },
         {"started main", "stopped 900 every"}, 0},
        {"every delegate heard the close",
         [&](auto& s, auto&) { s.trackShown(track, R::everyDelegate); s.trackClosed(900, R::everyDelegate); s.stop(); },
         {"started every", "stopped 900 every"}, 0},
        {"a track the share never had",
         [&](auto& s, auto&) { s.trackClosed(777, R::mainDelegate); },
         {"stopped 777 main"}, 900},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        share.beginMeeting();
        running();
        owner.heardBy.clear();
        row.steps(share, *extension);
        queue->runPending();
        EXPECT_EQ(owner.heardBy, row.heardBy);
        EXPECT_EQ(share.streamUid(), row.runningAfter);
    }
}

TEST_F(LocalScreenShareTest, AStopReportWaitingForItsTaskKeepsItsPlaceAndMeetsTheTeardownFirst) {
    // Reported from within the host's call: a delegate would run inside it.
    bool insideCall = false;
    bool reportedInside = false;
    owner.onReport = [&] { reportedInside = reportedInside || insideCall; };
    running();
    insideCall = true;
    share.stop();
    insideCall = false;
    EXPECT_FALSE(reportedInside);
    // A report the meeting brings meanwhile comes after the waiting one.
    share.adoptStream(901, "tok");
    share.forceStop("Screen share is overriden with Whiteboard.");
    EXPECT_EQ(owner.log, (Lines{"stop message", "stop request", "stop request"}));
    queue->runPending();
    EXPECT_EQ(owner.log, (Lines{"stop message", "stop request", "stop request",
                                "stopped 900 left", "stopped 901 left"}));

    // A teardown that runs before the task (a leave that finished at once) delivers the report
    // itself, before its own, and the task finds nothing more.
    running(902);
    share.leave();
    share.endMeeting();
    owner.log.push_back("teardown's report");
    queue->runPending();
    EXPECT_EQ(owner.log, (Lines{"stop request", "stopped 902 left", "teardown's report"}));

    // An owner that is going away hears nothing.
    running(903);
    share.leave();
    owner.life.reset();
    share.endMeeting();
    queue->runPending();
    EXPECT_EQ(owner.log, Lines{"stop request"});
}

TEST_F(LocalScreenShareTest, TheLeaveEndsAShareKnownWithoutStreamAtTheServer) {
    struct Row {
        const char* name;
        std::function<void(RecordingOwner&)> arrange;
        Lines expected;
    };
    const Row rows[] = {
        {"nothing shared", [](RecordingOwner&) {}, {}},
        {"the room store shows it", [](RecordingOwner& o) { o.roomShows = true; },
         {"stop request"}},
        {"the backend knows it", [](RecordingOwner& o) { o.backendShows = true; },
         {"stop request"}},
        {"without the server calls",
         [](RecordingOwner& o) { o.roomShows = o.backendShows = o.bypass = true; }, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        RecordingOwner fresh(queue);
        LocalScreenShare s(fresh, dependencies());
        row.arrange(fresh);
        heard.clear();
        s.leave();
        queue->runPending();
        EXPECT_EQ(fresh.log, row.expected);
        // The extension is told whether or not anything was shared.
        EXPECT_EQ(heard, Lines{"told to stop"});
    }
    // The host's stop looks at the room store only.
    RecordingOwner fresh(queue);
    LocalScreenShare s(fresh, dependencies());
    fresh.backendShows = true;
    s.stop();
    EXPECT_TRUE(fresh.log.empty());
    fresh.roomShows = true;
    s.stop();
    EXPECT_EQ(fresh.log, Lines{"stop message"});
}

TEST_F(LocalScreenShareTest, TheStreamOfAnEndedShareIsNeverAnotherUsers) {
    running(900);
    share.forceStop("Remote User has override your screen share.");
    owner.log.clear();
    // Another share's stream is not the local share's; the old one is, once, and is not
    // reported again.
    EXPECT_FALSE(share.streamLeft(901, KRUserLeftReason::leaveMeeting()));
    EXPECT_TRUE(share.streamLeft(900, KRUserLeftReason::leaveMeeting()));
    EXPECT_FALSE(share.streamLeft(900, KRUserLeftReason::leaveMeeting()));
    EXPECT_FALSE(share.streamLeft(0, KRUserLeftReason::leaveMeeting()));
    EXPECT_TRUE(owner.log.empty());
    // A new meeting keeps nothing of the last one's share.
    running(904);
    share.stop();
    share.beginMeeting();
    EXPECT_EQ(share.streamUid(), 0u);
    EXPECT_FALSE(share.streamLeft(904, KRUserLeftReason::leaveMeeting()));
    running(905);
    share.beginMeeting();
    EXPECT_EQ(share.streamUid(), 0u);
    EXPECT_TRUE(share.streamToken().empty());
}

TEST_F(LocalScreenShareTest, TheExtensionIsHeardOnTheQueueOnlyDuringTheMeeting) {
    // Posted from the extension's own thread: acted on when the queue runs, not before.
    std::thread poster([&] { extension->post(LocalScreenShare::kCaptureStartedNotification); });
    poster.join();
    EXPECT_TRUE(owner.pendingStarts.empty());
    queue->runPending();
    EXPECT_EQ(owner.pendingStarts.size(), 1u);
    // After the teardown, or once the owner went, the extension is not heard.
    share.endMeeting();
    extension->post(LocalScreenShare::kCaptureStartedNotification);
    queue->runPending();
    EXPECT_EQ(owner.pendingStarts.size(), 1u);
    share.beginMeeting();
    extension->post(LocalScreenShare::kCaptureStartedNotification);
    owner.life.reset();
    queue->runPending();
    EXPECT_EQ(owner.pendingStarts.size(), 1u);
}

}  // namespace
}  // namespace kr
