// Screen shares seen by the clients of one meeting when something goes wrong around them: a
// stream-started notice for a stream nobody granted, a share stream that appears while the
// service cannot say what it is (the sharer's own stream among them), and a sharer whose media
// drops before its share's stream; and the share start, which overrides only another
// participant's share. On the default engine and on both room engines, against the local meeting
// service and the stand-in media bus and messaging service.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/json.hpp>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Meeting/LocalScreenShare.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "platform/Defaults/UserDefaults.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Media/MediaBus.h"
#include "platform/Media/MediaEngine.h"
#include "platform/Messaging/MessagingService.h"
#include "platform/Notifications/DarwinNotifyCenter.h"
#include "support/LocalMeetingDependencies.h"
#include "support/EngineTestDelegate.h"
#include "support/MultiMediaMeeting.h"
#include "testing/KRClientTestSeam.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"
#include "testing/Media/ScreenShareBroadcast.h"
#include "testing/ScopedTempDirectory.h"

namespace kr {
namespace {

using namespace std::chrono_literals;
using R = test::MeetingServiceRoute;
using test::MeetingServiceFault;

constexpr const char* kMeetingId = "1234567890";

/// The share stops a client heard, with the stream each named, and the leaves with their kind.
template <class Base>
class ShareDetails : public Base {
public:
    using Base::Base;
    std::vector<std::uint64_t> shareStops;
    std::vector<std::string> leaves;  // "<id> <kind>"

    void didRemoteScreenShareStateChanged(const KRMeeting& m, const KRScreenShareState& s) override {
        Base::didRemoteScreenShareStateChanged(m, s);
        if (const auto* stopped = s.asStopped()) shareStops.push_back(stopped->mediaTrackId);
    }
    void didRemoteUserLeftMeeting(const KRMeeting& m, const std::shared_ptr<KRMeetingUser>& u,
                                  const KRUserLeftReason& r) override {
        Base::didRemoteUserLeftMeeting(m, u, r);
        leaves.push_back(u->id() + " " + std::to_string(static_cast<int>(r.kind())));
    }
};

std::string leaveLine(const std::string& id, KRUserLeftReason::Kind kind) {
    return id + " " + std::to_string(static_cast<int>(kind));
}

/// The token of the `n`th client (from 0) to post its own status to the service, which each
/// client does as it joins.
std::string tokenOfJoiner(const test::LocalMeetingService& service, std::size_t n) {
    std::vector<std::string> tokens;
    for (const auto& request : service.requests(R::postRoomConnectionStatus)) {
        const auto token = request.header("authorization");
        if (token && std::find(tokens.begin(), tokens.end(), *token) == tokens.end()) {
            tokens.push_back(*token);
        }
    }
    return n < tokens.size() ? tokens[n] : std::string();
}

/// When the service last saw a room status ask made with `token` (refused ones included).
std::optional<std::chrono::steady_clock::time_point> lastAskWith(
    const test::LocalMeetingService& service, const std::string& token) {
    std::optional<std::chrono::steady_clock::time_point> last;
    for (const auto& request : service.requests(R::getRoomConnectionStatus)) {
        if (request.header("authorization") == token) last = request.receivedAt;
    }
    return last;
}

/// Waits for the next refused room status ask made with `token`, and for its refusal to reach
/// the client. Called after a client's stand-in retry has waited a few times, this leaves the
/// retry at the start of a wait of 2 s or more (its third wait or a later one).
bool awaitRefusedAsk(const test::LocalMeetingService& service, platform::MainQueue& main,
                     const std::string& token) {
    const auto before = lastAskWith(service, token);
    if (!main.runUntil([&] { return lastAskWith(service, token) != before; }, 10s)) return false;
    main.runFor(100ms);
    return true;
}

/// An announced share shows well before a stand-in's retry, waiting 2 s or more, would ask.
constexpr auto kPromptAfterAnnounce = 1s;

// ---- The default engine ----

/// The host app's participant panel: how often it was told to reload the whole list.
class PanelRefreshes final : public KRParticipantsListUpdateDelegate {
public:
    int refreshes = 0;
    void didParticipantUpserted(const KRMeetingParticipant&) override {}
    void didParticipantRemoved(const KRMeetingParticipant&) override {}
    void didParticipantDataRefreshed(const std::vector<KRMeetingParticipant>&) override {
        ++refreshes;
    }
};

struct Member {
    std::shared_ptr<KRClient> client;
    std::shared_ptr<ShareDetails<test::EngineTestDelegate>> delegate;
    std::shared_ptr<platform::DarwinNotifyCenter> extension;
    std::string uid() const { return internals(client).currentRoom().userWebRtcId; }
};

/// How a client's media and control messages travel: the default engine, or the engine the
/// room names.
enum class Road { defaultEngine, agora, krMedia };

class KRClientShareFaultsIntegrationTest : public ::testing::Test {
protected:
    ~KRClientShareFaultsIntegrationTest() override { members.clear(); }

    Member& joined(KRUserRole role = KRUserRole::speaker(), Road road = Road::defaultEngine,
                   const std::string& meetingId = kMeetingId) {
        KRDependencies deps = test::localMeetingDependencies(main, storage, service, bus, messaging);
        deps.extensionNotifications = std::make_shared<platform::DarwinNotifyCenter>();
        members.push_back({KRClient::create(deps),
                           std::make_shared<ShareDetails<test::EngineTestDelegate>>(main),
                           deps.extensionNotifications});
        Member& member = members.back();
        if (road != Road::defaultEngine) member.client->setMultiMediaEngineIntegration(true);
        if (road == Road::krMedia) {
            member.client->setRtcEngineManager(test::KrMediaTestEngine::create(deps));
        }
        member.client->joinMeeting(KRJoinMeetingData(meetingId, "4321", "Name"),
                                   KRJoinMeetingConfig(std::move(role), true, true),
                                   member.delegate);
        EXPECT_TRUE(runUntil([&] { return member.delegate->has("joined " + member.uid()); }));
        return member;
    }

    bool runUntil(const std::function<bool()>& done) { return main->runUntil(done, 10s); }
    bool await(const std::function<void(KRClient::Completion)>& call) {
        std::optional<bool> result;
        main->post([&] { call([&](bool ok) { result = ok; }); });
        EXPECT_TRUE(runUntil([&] { return result.has_value(); }));
        return result.value_or(false);
    }
    /// The share messages `member` sent since the log was cleared, in order: "override" and
    /// "start" (to the room's channel, "@" and the peer for one sent to a peer).
    std::vector<std::string> shareStartsFrom(const Member& member) const {
        std::vector<std::string> sent;
        for (const auto& record : messaging->sentMessages()) {
            const auto message = KRRtmMessage::decode(record.text);
            if (record.from != member.uid() || !message) continue;
            const std::string to = record.route == platform::MessagingRecord::Route::peer
                                       ? " @" + record.to
                                       : std::string();
            if (message->message == KRRtmMessageEvent::participantOverrideScreenShare) {
                sent.push_back("override" + to);
            } else if (message->message == KRRtmMessageEvent::participantStartScreenShare) {
                sent.push_back("start" + to);
            }
        }
        return sent;
    }
    std::size_t shareStartsSentBy(const Member& member) const {
        return shareStartsFrom(member).size();
    }

    std::shared_ptr<platform::MainQueue> main =
        platform::MainQueue::create(platform::SteadyClock::instance());
    std::shared_ptr<platform::MediaBus> bus = platform::MediaBus::create();
    std::shared_ptr<platform::MessagingService> messaging = platform::MessagingService::create();
    test::ScopedTempDirectory storage;
    test::LocalMeetingService service;
    std::deque<Member> members;
};

TEST_F(KRClientShareFaultsIntegrationTest, AStreamStartedNoticeWithoutAGrantedStreamChangesNothing) {
    Member& host = joined(KRUserRole::host(test::kHostToken));
    Member& a = joined();
    ASSERT_TRUE(runUntil([&] { return host.delegate->has("remote joined " + a.uid()); }));
    ASSERT_TRUE(await(
        [&](auto done) { host.client->startWhitebboard(false, "Hostess", host.uid(), done); }));
    struct Case {
        const char* name;
        /// Leaves a without a share stream of this meeting.
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"no share was asked for", [] {}},
        {"the service refused the stream",
         [&] {
             service.injectFault(R::shareScreen, MeetingServiceFault::withStatus(503).times(1));
             EXPECT_FALSE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
         }},
        {"the share was stopped before the notice came",
         [&] {
             ASSERT_TRUE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
             main->post([&] { a.client->stopLocalScreenShare(); });
             ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share stopped"); }));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.arrange();
        messaging->clearSentMessages();
        a.extension->post(KRClient::kStreamStartedNotification);
        main->runFor(400ms);  // a start message would have reached the host by now
        EXPECT_EQ(shareStartsSentBy(a), 0u);
        EXPECT_TRUE(internals(host.client).currentRoom().isLocalUserSharingWhiteboard);
        EXPECT_FALSE(host.delegate->has("remote share started"));
    }
    // A stream this meeting granted is still announced.
    ASSERT_TRUE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
    a.extension->post(KRClient::kStreamStartedNotification);
    EXPECT_TRUE(runUntil([&] { return shareStartsSentBy(a) == 1; }));
}

TEST_F(KRClientShareFaultsIntegrationTest, AShareStreamSeenWhileTheServiceFailsBecomesTheShare) {
    Member& a = joined();
    Member& b = joined();
    const std::string aToken = tokenOfJoiner(service, 0);
    const std::string bToken = tokenOfJoiner(service, 1);
    ASSERT_FALSE(aToken.empty());
    ASSERT_FALSE(bToken.empty());
    const auto panel = std::make_shared<PanelRefreshes>();
    b.client->setParticipantsListDelegate(panel);
    ASSERT_TRUE(runUntil([&] {
        return b.delegate->has("remote joined " + a.uid()) &&
               internals(b.client).pendingStreamQuestions().empty();
    }));
    struct Case {
        const char* name;
        bool announced;  // the sharer's start message reaches b once the service is back
    };
    for (const Case& c : {Case{"a later question names it", false},
                          Case{"the share-start message", true}}) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(await([&](auto done) { a.client->shareScreenAPICall(done); }));
        const std::uint64_t shareUid = internals(a.client).localScreenShare().streamUid();
        const std::string shareId = std::to_string(shareUid);
        service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
        const auto asksBy = [&](const std::string& token) {
            return service.requestCount(R::getRoomConnectionStatus, token);
        };
        const std::size_t aAsksBefore = asksBy(aToken);
        const std::size_t bAsksBefore = asksBy(bToken);
        test::ScreenShareBroadcast broadcast(bus, main);
        broadcast.start(internals(a.client).currentRoom().roomID, shareUid);
        // Shown as a participant while the service cannot answer.
        ASSERT_TRUE(runUntil([&] { return b.delegate->has("remote joined " + shareId); }));
        main->runFor(2500ms);
        // Asked again, at a bounded rate, over 2.5 s of refusals: by b alone, as the sharer's
        // client knows its own stream and asks nothing about it.
        EXPECT_EQ(asksBy(aToken) - aAsksBefore, 0u);
        const std::size_t bAsks = asksBy(bToken) - bAsksBefore;
        EXPECT_GE(bAsks, 2u);
        EXPECT_LE(bAsks, 5u);
        EXPECT_FALSE(b.delegate->has("remote share started"));

        if (c.announced) {
            ASSERT_TRUE(awaitRefusedAsk(service, *main, bToken));
        }
        panel->refreshes = 0;
        service.clearFaults();
        if (c.announced) {
            const auto announcedAt = std::chrono::steady_clock::now();
            a.extension->post(KRClient::kStreamStartedNotification);
            ASSERT_TRUE(runUntil([&] { return b.delegate->has("remote share started"); }));
            EXPECT_LT(std::chrono::steady_clock::now() - announcedAt, kPromptAfterAnnounce);
        }
        ASSERT_TRUE(runUntil([&] {
            return b.delegate->has("remote share started") && a.delegate->has("local share started");
        }));
        main->runFor(300ms);  // a second report would come by now
        EXPECT_EQ(b.delegate->count("remote joined " + shareId), 1u);
        EXPECT_EQ(b.delegate->count("remote left " + shareId), 1u);
        EXPECT_EQ(b.delegate->count("remote share started"), 1u);
        EXPECT_EQ(b.client->getMeetingUsers().size(), 2u);
        EXPECT_EQ(a.delegate->count("local share started"), 1u);
        EXPECT_EQ(a.client->getMeetingUsers().size(), 2u);
        // The stand-in was a share, not a participant who left: the panel, which never listed
        // it, has nothing to reload, and its id is not kept out of the participants.
        EXPECT_EQ(panel->refreshes, 0);
        const auto& offline = internals(b.client).currentRoom().offlineParticipantsIds;
        EXPECT_EQ(std::count(offline.begin(), offline.end(), shareId), 0);

        main->post([&] { a.client->stopLocalScreenShare(); });
        main->post([&] { broadcast.stop(); });
        ASSERT_TRUE(runUntil([&] { return b.delegate->has("remote share stopped"); }));
        main->runFor(300ms);
        EXPECT_EQ(b.delegate->count("remote share stopped"), 1u);
        EXPECT_EQ(b.delegate->count("remote left " + shareId), 1u);
        a.delegate->lines.clear();
        b.delegate->lines.clear();
    }
}

// ---- The local user's own share ----

/// The host app's broadcast extension: when the client says the share's stream is ready, it reads
/// the stream's uid from the app group and broadcasts under it; told to stop, it stops. It notes
/// the uid the client held at the moment it could first learn the uid itself.
class BroadcastExtension {
public:
    static constexpr const char* kGroup = "group.kr.share-faults";

    BroadcastExtension(Member& member, const std::shared_ptr<platform::MediaBus>& bus,
                       const std::shared_ptr<platform::MainQueue>& main,
                       std::filesystem::path storage)
        : member_(member), broadcast_(bus, main), storage_(std::move(storage)) {
        member_.client->setParameters(boost::json::object{{"kr_app_group_name", kGroup}});
        tokens_.push_back(member_.extension->addObserver(
            KRClient::kCredentialsReadyNotification,
            [this](const std::string&) { credentialsReady(); }));
        tokens_.push_back(member_.extension->addObserver(
            LocalScreenShare::kForceStopNotification, [this](const std::string&) { stop(); }));
    }
    ~BroadcastExtension() {
        for (const auto token : tokens_) member_.extension->removeObserver(token);
    }
    BroadcastExtension(const BroadcastExtension&) = delete;
    BroadcastExtension& operator=(const BroadcastExtension&) = delete;

    /// The capture starts: the client is asked for a share stream.
    void startCapture() { member_.extension->post(KRClient::kCaptureStartedNotification); }
    /// The capture stops by itself: the client hears of it, then the stream goes.
    void stopCapture() {
        member_.extension->post(KRClient::kCaptureStoppedNotification);
        stop();
    }
    /// The stream goes without a word to the client (the extension ended).
    void stop() {
        broadcast_.stop();
        uid = 0;
    }

    std::uint64_t uid = 0;  ///< the uid broadcast under; 0 while not broadcasting
    /// The media channel broadcast in; empty: the room's own.
    std::string channel;
    /// The host app ends the share as its credentials arrive, and this extension, slow to hear
    /// of it, still broadcasts under them.
    bool shareEndsBeforeTheBroadcast = false;
    /// For each hand-over: the uid the client held as its share's stream, and the one in the
    /// app group.
    std::vector<std::pair<std::uint64_t, std::optional<std::int64_t>>> handOvers;

private:
    void credentialsReady() {
        const auto suite = platform::UserDefaults::suite(kGroup, storage_);
        const auto shared = suite ? suite->integer(KRClient::kShareUidKey) : std::nullopt;
        handOvers.emplace_back(internals(member_.client).localScreenShare().streamUid(), shared);
        if (!shared) return;
        if (shareEndsBeforeTheBroadcast) member_.client->stopLocalScreenShare();
        uid = static_cast<std::uint64_t>(*shared);
        broadcast_.start(
            channel.empty() ? internals(member_.client).currentRoom().roomID : channel, uid);
    }

    Member& member_;
    test::ScreenShareBroadcast broadcast_;
    std::filesystem::path storage_;
    std::vector<platform::ObserverToken> tokens_;
};

TEST_F(KRClientShareFaultsIntegrationTest,
       TheLocalShareIsNeverARemoteOneWhileTheServiceCannotNameIt) {
    Member& a = joined();
    BroadcastExtension extension(a, bus, main, storage.path());
    // What the service said of the room before anything was shared: a status naming no share.
    const std::string statusWithoutShare =
        boost::json::serialize(service.room(kMeetingId)->statusJson());
    enum class End { streamGoes, captureStopsFirst, hostAppStops };
    struct Case {
        const char* name;
        MeetingServiceFault outage;  // on every room status question while the share runs
        End end;
    };
    const MeetingServiceFault refused = MeetingServiceFault::withStatus(503);
    const MeetingServiceFault unaware = MeetingServiceFault::withStatus(200, statusWithoutShare);
    const Case cases[] = {
        {"refused, the stream goes", refused, End::streamGoes},
        {"refused, the capture stops first", refused, End::captureStopsFirst},
        {"refused, the host app stops it", refused, End::hostAppStops},
        {"no share known, the stream goes", unaware, End::streamGoes},
        {"no share known, the capture stops first", unaware, End::captureStopsFirst},
        {"no share known, the host app stops it", unaware, End::hostAppStops},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        a.delegate->lines.clear();
        service.injectFault(R::getRoomConnectionStatus, c.outage);
        extension.startCapture();
        ASSERT_TRUE(runUntil([&] { return extension.uid != 0; }));
        const std::uint64_t shareUid = extension.uid;
        const std::string shareId = std::to_string(shareUid);
        // The client held the share's stream before the extension could broadcast under it.
        ASSERT_FALSE(extension.handOvers.empty());
        EXPECT_EQ(extension.handOvers.back().first, shareUid);

        // Arrival: the local share, never a participant.
        ASSERT_TRUE(runUntil([&] {
            return a.delegate->has("local share started") ||
                   a.delegate->has("remote joined " + shareId);
        }));
        EXPECT_TRUE(a.delegate->has("local share started"));
        EXPECT_FALSE(a.delegate->has("remote joined " + shareId));
        EXPECT_TRUE(internals(a.client).pendingStreamQuestions().empty());

        // Departure.
        switch (c.end) {
            case End::streamGoes:
                extension.stop();
                break;
            case End::captureStopsFirst:
                extension.stopCapture();
                break;
            case End::hostAppStops:
                main->post([&] { a.client->stopLocalScreenShare(); });
                break;
        }
        const auto showsShareStream = [&] {
            const auto tracks = a.client->getCurrentMeetingData().allMediaTracks();
            return std::any_of(tracks.begin(), tracks.end(),
                               [&](const auto& t) { return t->id() == shareId; });
        };
        ASSERT_TRUE(runUntil([&] {
            return a.delegate->has("local share stopped") && extension.uid == 0 &&
                   !showsShareStream();
        }));
        main->runFor(300ms);  // a late report would come by now

        EXPECT_EQ(a.delegate->count("local share started"), 1u);
        EXPECT_EQ(a.delegate->count("local share stopped"), 1u);
        for (const std::string& line : a.delegate->lines) {
            EXPECT_NE(line.rfind("remote", 0), 0u) << line;
        }
        EXPECT_EQ(a.client->getMeetingUsers().size(), 1u);
        EXPECT_TRUE(internals(a.client).pendingStreamQuestions().empty());
        service.clearFaults();
        ASSERT_TRUE(runUntil([&] { return service.room(kMeetingId)->screenSharerUri.empty(); }));
    }
}

TEST_F(KRClientShareFaultsIntegrationTest, AStreamOfAShareThatAlreadyEndedIsNobodysShare) {
    Member& a = joined();
    BroadcastExtension extension(a, bus, main, storage.path());
    extension.shareEndsBeforeTheBroadcast = true;
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    extension.startCapture();
    ASSERT_TRUE(runUntil([&] { return extension.uid != 0; }));
    const std::string shareId = std::to_string(extension.uid);
    ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share stopped"); }));
    main->runFor(1s);  // the stream has reached the engine, and a question would be out
    extension.stop();
    main->runFor(300ms);
    for (const std::string& line : a.delegate->lines) {
        EXPECT_NE(line.rfind("remote", 0), 0u) << line;
    }
    EXPECT_EQ(a.client->getMeetingUsers().size(), 1u);
    EXPECT_TRUE(internals(a.client).pendingStreamQuestions().empty());
}

TEST_F(KRClientShareFaultsIntegrationTest, AShareStartOverridesOnlyAnotherParticipantsShare) {
    struct Case {
        const char* name;
        Road road;
        bool anotherShares;  // b's share stands when a starts
    };
    const Case cases[] = {
        {"default engine, nobody else shares", Road::defaultEngine, false},
        {"default engine, another share stands", Road::defaultEngine, true},
        {"agora room, nobody else shares", Road::agora, false},
        {"agora room, another share stands", Road::agora, true},
        {"kr-media room, nobody else shares", Road::krMedia, false},
        {"kr-media room, another share stands", Road::krMedia, true},
    };
    int meetings = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::MeetingRoomSetup room;
        room.meetingId = "55500099" + std::to_string(++meetings);
        room.roomId = "room-override-" + std::to_string(meetings);
        room.mediaEngine = c.road == Road::krMedia ? "kr-media" : "agora";
        service.addRoom(room);
        const std::string channel = c.road == Road::krMedia
                                        ? test::KrMediaTestEngine::channelFor(room.meetingId)
                                        : room.roomId;
        Member& a = joined(KRUserRole::speaker(), c.road, room.meetingId);
        Member& b = joined(KRUserRole::speaker(), c.road, room.meetingId);
        ASSERT_TRUE(runUntil([&] {
            return a.delegate->has("remote joined " + b.uid()) &&
                   b.delegate->has("remote joined " + a.uid());
        }));
        test::ScreenShareBroadcast bBroadcast(bus, main);
        if (c.anotherShares) {
            ASSERT_TRUE(await([&](auto done) { b.client->shareScreenAPICall(done); }));
            bBroadcast.start(channel, internals(b.client).localScreenShare().streamUid());
            b.extension->post(KRClient::kStreamStartedNotification);
            ASSERT_TRUE(runUntil([&] { return a.delegate->has("remote share started"); }));
        }
        messaging->clearSentMessages();

        // The usual order: the extension streams, the sharer shows its own stream as its
        // share, and only then does the extension report the stream started.
        BroadcastExtension extension(a, bus, main, storage.path());
        extension.channel = channel;
        extension.startCapture();
        ASSERT_TRUE(runUntil([&] { return a.delegate->has("local share started"); }));
        a.extension->post(KRClient::kStreamStartedNotification);
        const auto heard = c.anotherShares ? std::vector<std::string>{"override", "start"}
                                           : std::vector<std::string>{"start"};
        EXPECT_TRUE(runUntil([&] { return shareStartsSentBy(a) >= heard.size(); }));
        main->runFor(300ms);  // a further message would have been sent by now
        EXPECT_EQ(shareStartsFrom(a), heard);
    }
}

// ---- The room engines ----

class KRClientRoomEngineShareTest : public test::MultiMediaMeetingTest,
                                    public ::testing::WithParamInterface<const char*> {
protected:
    using Recorder = ShareDetails<test::RoomEngineRecorder>;
    struct Sharer {
        test::Member member;
        std::shared_ptr<Recorder> recorder;
        std::shared_ptr<platform::DarwinNotifyCenter> extension;
    };

    KRClientRoomEngineShareTest() {
        room_.meetingId = isKrMedia() ? "5550007777" : "5550008888";
        room_.roomId = isKrMedia() ? "room-kr-share" : "room-ag-share";
        room_.mediaEngine = GetParam();
        service.addRoom(room_);
    }

    bool isKrMedia() const { return std::string(GetParam()) == "kr-media"; }
    std::string channel() const {
        return isKrMedia() ? test::KrMediaTestEngine::channelFor(room_.meetingId) : room_.roomId;
    }

    Sharer& enter(const std::string& name, KRUserRole role = KRUserRole::speaker()) {
        const KRDependencies d = deps();
        auto recorder = std::make_shared<Recorder>();
        test::Member member{KRClient::create(d), recorder};
        member.client->setMultiMediaEngineIntegration(true);
        if (isKrMedia()) member.client->setRtcEngineManager(test::KrMediaTestEngine::create(d));
        member.client->joinMeeting(KRJoinMeetingData(room_.meetingId, "4321", name),
                                   KRJoinMeetingConfig(std::move(role), true, true), recorder);
        members.push_back(member);
        sharers.push_back({member, recorder, d.extensionNotifications});
        EXPECT_TRUE(main->runUntil([&] { return recorder->has("joined"); }, 10s)) << name;
        return sharers.back();
    }

    /// Host, Ann and Ben, each seeing the others and holding an engine peer for each.
    void meet() {
        host = &enter("Hostess", KRUserRole::host(test::kHostToken));
        ann = &enter("Ann");
        ben = &enter("Ben");
        ASSERT_TRUE(main->runUntil(
            [&] {
                for (Sharer* viewer : {host, ann, ben})
                    for (Sharer* other : {host, ann, ben})
                        if (viewer != other &&
                            !viewer->member.client->rtcEngineManager()->getPeerData(
                                other->member.uid()))
                            return false;
                return true;
            },
            10s));
    }

    std::uint64_t grantShare(Sharer& sharer) {
        std::optional<bool> granted;
        sharer.member.client->shareScreenAPICall([&](bool ok) { granted = ok; });
        EXPECT_TRUE(main->runUntil([&] { return granted.has_value(); }, 10s));
        EXPECT_EQ(granted, true);
        return internals(sharer.member.client).localScreenShare().streamUid();
    }

    /// Ann's granted share broadcast on `broadcast` until Host and Ben both show it; its uid, or
    /// 0 when that did not happen.
    std::uint64_t annSharesWithTheOthers(test::ScreenShareBroadcast& broadcast) {
        const std::uint64_t shareUid = grantShare(*ann);
        if (shareUid == 0) return 0;
        broadcast.start(channel(), shareUid);
        const std::string started = "remote share started by " + ann->member.uid();
        const bool shown = main->runUntil(
            [&] { return host->recorder->has(started) && ben->recorder->has(started); }, 10s);
        return shown ? shareUid : 0;
    }

    std::shared_ptr<platform::MediaEngine> mediaEngineOf(const Sharer& sharer) const {
        const auto engine = sharer.member.client->rtcEngineManager();
        if (const auto kr = std::dynamic_pointer_cast<test::KrMediaTestEngine>(engine)) {
            return kr->mediaEngine();
        }
        const auto own = std::dynamic_pointer_cast<AgoraRtcManager>(engine);
        return own ? own->rtcEngine() : nullptr;
    }

    /// The screen shares among the media tracks `viewer`'s meeting shows.
    static std::size_t sharesShownTo(const Sharer& viewer) {
        const auto tracks = viewer.member.client->getCurrentMeetingData().allMediaTracks();
        return static_cast<std::size_t>(std::count_if(tracks.begin(), tracks.end(), [](const auto& t) {
            return t->sourceType() == KRMediaTrackSourceType::screenShare;
        }));
    }

    test::MeetingRoomSetup room_;
    std::deque<Sharer> sharers;
    Sharer* host = nullptr;
    Sharer* ann = nullptr;
    Sharer* ben = nullptr;
};

TEST_P(KRClientRoomEngineShareTest, AShareStreamSeenWhileTheServiceFailsBecomesTheShare) {
    meet();
    const std::string benToken = tokenOfJoiner(service, 2);
    ASSERT_FALSE(benToken.empty());
    const std::uint64_t shareUid = grantShare(*ann);
    ASSERT_NE(shareUid, 0u);
    const std::string shareId = std::to_string(shareUid);
    const std::string started = "remote share started by " + ann->member.uid();
    service.injectFault(R::getRoomConnectionStatus, MeetingServiceFault::withStatus(503));
    test::ScreenShareBroadcast broadcast(bus, main);
    broadcast.start(channel(), shareUid);
    // After its few quick questions failed, the stream is shown as a participant.
    ASSERT_TRUE(main->runUntil([&] { return ben->recorder->has("remote joined " + shareId); }, 10s));
    const std::size_t asksBefore = service.requestCount(R::getRoomConnectionStatus);
    main->runFor(3s);
    // Still asked about, at a bounded rate (three clients, over 3 s of refusals).
    const std::size_t asks = service.requestCount(R::getRoomConnectionStatus) - asksBefore;
    EXPECT_GE(asks, 3u);
    EXPECT_LE(asks, 12u);
    EXPECT_FALSE(ben->recorder->has(started));

    ASSERT_TRUE(awaitRefusedAsk(service, *main, benToken));
    service.clearFaults();
    const auto announcedAt = std::chrono::steady_clock::now();
    ann->extension->post(KRClient::kStreamStartedNotification);
    ASSERT_TRUE(main->runUntil([&] { return ben->recorder->has(started); }, 10s));
    EXPECT_LT(std::chrono::steady_clock::now() - announcedAt, kPromptAfterAnnounce);
    ASSERT_TRUE(main->runUntil(
        [&] { return host->recorder->has(started) && ben->recorder->has(started); }, 10s));
    main->runFor(300ms);  // a second report would come by now
    for (Sharer* viewer : {host, ben}) {
        EXPECT_EQ(viewer->recorder->count("remote joined " + shareId), 1u);
        EXPECT_EQ(viewer->recorder->count("remote left " + shareId), 1u);
        EXPECT_EQ(viewer->recorder->count(started), 1u);
        EXPECT_EQ(viewer->member.client->getMeetingUsers().size(), 3u);
    }

    // The share's stream leaving ends the share, once, by its own id.
    broadcast.stop();
    ASSERT_TRUE(main->runUntil(
        [&] { return !host->recorder->shareStops.empty() && !ben->recorder->shareStops.empty(); },
        10s));
    main->runFor(300ms);
    for (Sharer* viewer : {host, ben}) {
        EXPECT_EQ(viewer->recorder->shareStops, std::vector<std::uint64_t>{shareUid});
        EXPECT_EQ(viewer->recorder->count("remote left " + shareId), 1u);
    }
}

TEST_P(KRClientRoomEngineShareTest, ASharerWhoseMediaDropsTakesItsShareDownOnce) {
    meet();
    test::ScreenShareBroadcast broadcast(bus, main);
    const std::uint64_t shareUid = annSharesWithTheOthers(broadcast);
    ASSERT_NE(shareUid, 0u);

    // Ann's engine drops; the broadcast extension's stream stays a while.
    const auto engine = mediaEngineOf(*ann);
    ASSERT_TRUE(engine);
    engine->simulateNetworkDrop();
    const std::string annLeft = leaveLine(ann->member.uid(), KRUserLeftReason::Kind::networkDropped);
    ASSERT_TRUE(main->runUntil(
        [&] {
            return !host->recorder->shareStops.empty() && !ben->recorder->shareStops.empty() &&
                   std::count(ben->recorder->leaves.begin(), ben->recorder->leaves.end(), annLeft) == 1;
        },
        10s));
    // Then the share's stream goes, and Ann leaves the meeting at the service.
    broadcast.stop();
    main->post([&] { ann->member.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    main->runFor(1500ms);
    for (Sharer* viewer : {host, ben}) {
        EXPECT_EQ(viewer->recorder->shareStops, std::vector<std::uint64_t>{shareUid});
        EXPECT_EQ(std::count(viewer->recorder->leaves.begin(), viewer->recorder->leaves.end(), annLeft), 1);
        EXPECT_TRUE(viewer->member.client->getCurrentMeetingData().allMediaTracks().size() == 2u);
    }
}

TEST_P(KRClientRoomEngineShareTest, ASharerWhoseMediaReturnsShowsItsShareAgain) {
    meet();
    test::ScreenShareBroadcast broadcast(bus, main);
    const std::uint64_t shareUid = annSharesWithTheOthers(broadcast);
    ASSERT_NE(shareUid, 0u);
    const std::string started = "remote share started by " + ann->member.uid();

    // Ann's engine drops while the broadcast extension's stream stays: the others close her
    // share, as before.
    const auto engine = mediaEngineOf(*ann);
    ASSERT_TRUE(engine);
    engine->simulateNetworkDrop();
    ASSERT_TRUE(main->runUntil(
        [&] { return !host->recorder->shareStops.empty() && !ben->recorder->shareStops.empty(); },
        10s));

    // Her media comes back: the share still runs, and shows again, once.
    engine->simulateNetworkReturn();
    ASSERT_TRUE(main->runUntil(
        [&] { return host->recorder->count(started) == 2 && ben->recorder->count(started) == 2; },
        10s));
    main->runFor(500ms);  // a second report would come by now
    for (Sharer* viewer : {host, ben}) {
        EXPECT_EQ(viewer->recorder->count(started), 2u);
        EXPECT_EQ(viewer->recorder->shareStops, std::vector<std::uint64_t>{shareUid});
        EXPECT_EQ(sharesShownTo(*viewer), 1u);
    }

    // The broadcast stops: one more stop, and nothing shows again after that.
    broadcast.stop();
    ASSERT_TRUE(main->runUntil(
        [&] {
            return host->recorder->shareStops.size() == 2 && ben->recorder->shareStops.size() == 2;
        },
        10s));
    main->runFor(500ms);
    const std::string shareId = std::to_string(shareUid);
    for (Sharer* viewer : {host, ben}) {
        EXPECT_EQ(viewer->recorder->shareStops, (std::vector<std::uint64_t>{shareUid, shareUid}));
        EXPECT_EQ(viewer->recorder->count(started), 2u);
        EXPECT_EQ(sharesShownTo(*viewer), 0u);
        // The share's stream was never taken for a participant.
        EXPECT_EQ(viewer->recorder->count("remote joined " + shareId), 0u);
        EXPECT_EQ(viewer->recorder->count("remote left " + shareId), 0u);
        EXPECT_EQ(viewer->member.client->getMeetingUsers().size(), 3u);
    }
}

TEST_P(KRClientRoomEngineShareTest, EachDelegateHearsTheLocalShareStopOnceWhicheverEndComesFirst) {
    Sharer& sharer = enter("Ann");
    Recorder& heard = *sharer.recorder;
    const auto extra = std::make_shared<Recorder>();
    sharer.member.client->addDelegate("extra", extra);
    const auto starts = [](const Recorder& r) {
        return std::count_if(r.lines.begin(), r.lines.end(), [](const std::string& l) {
            return l.rfind("local share started", 0) == 0;
        });
    };
    enum class First { engine, hostApp, trackReturnsThenCapture };
    for (const First first : {First::engine, First::hostApp, First::trackReturnsThenCapture}) {
        SCOPED_TRACE(first == First::engine ? "the engine closes the track first"
                     : first == First::hostApp ? "the host app stops first"
                                            : "the track returns, then the capture stops");
        heard.lines.clear();
        extra->lines.clear();
        const std::uint64_t shareUid = grantShare(sharer);
        ASSERT_NE(shareUid, 0u);
        test::ScreenShareBroadcast broadcast(bus, main);
        broadcast.start(channel(), shareUid);
        ASSERT_TRUE(main->runUntil([&] { return starts(heard) == 1; }, 10s));
        if (first == First::hostApp) {
            main->post([&] { sharer.member.client->stopLocalScreenShare(); });
            ASSERT_TRUE(main->runUntil([&] { return heard.has("local share stopped"); }, 10s));
            broadcast.stop();
        } else {
            broadcast.stop();
            ASSERT_TRUE(main->runUntil([&] { return heard.has("local share stopped"); }, 10s));
            if (first == First::engine) {
                main->post([&] { sharer.member.client->stopLocalScreenShare(); });
            } else {
                broadcast.start(channel(), shareUid);
                ASSERT_TRUE(main->runUntil([&] { return starts(heard) == 2; }, 10s));
                sharer.extension->post(KRClient::kCaptureStoppedNotification);
                broadcast.stop();
            }
        }
        main->runFor(500ms);  // the engine's close and a second report would have come by now
        // The main delegate hears a stop for each start; the extra one, which hears no start
        // from this engine, hears the share's end once.
        EXPECT_EQ(heard.count("local share stopped"), static_cast<std::size_t>(starts(heard)));
        EXPECT_EQ(extra->count("local share stopped"), 1u);
        EXPECT_EQ(internals(sharer.member.client).localScreenShare().streamUid(), 0u);
    }
    heard.lines.clear();
    main->post([&] { sharer.member.client->leaveMeeting(KRUserLeftReason::leaveMeeting()); });
    ASSERT_TRUE(main->runUntil([&] { return heard.startsWith("left"); }, 10s));
    EXPECT_EQ(heard.count("local share stopped"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Engines, KRClientRoomEngineShareTest, ::testing::Values("agora", "kr-media"),
                         [](const ::testing::TestParamInfo<const char*>& engine) {
                             return std::string(engine.param) == "agora" ? "Agora" : "KrMedia";
                         });

}  // namespace
}  // namespace kr
