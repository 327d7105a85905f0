#include "KivRaneCoreSDK/Model/Meeting/Participant.h"

#include <gtest/gtest.h>

#include <vector>

#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

namespace kr {
namespace {

KRMeetingParticipant serverRecord() {
    KRMeetingParticipant p;
    p.userId = "user";
    p.participantId = "server-id";
    p.participantName = "Ann";
    p.isMicOn = true;
    p.isVideoOn = true;
    p.isHandRaise = true;
    p.isHost = true;
    p.isCoHost = false;
    p.isSharingScreen = true;
    p.participantJoinTime = "t0";
    p.participantType = KRMeetingParticipantType::speaker;
    return p;
}

/// A peer whose flags come from overridden getters, as an engine may provide.
class LoudPeer : public RtcPeerMetaData {
public:
    LoudPeer() : RtcPeerMetaData("", false, false, false) {}
    bool isLoudest() const override { return true; }
};

TEST(ParticipantTest, MergeTakesLiveMediaFromThePeerAndTheRestFromTheServer) {
    const KRMeetingParticipant server = serverRecord();

    const Participant withPeer(server, RtcPeerMetaData("42", true, false, true));
    EXPECT_EQ(withPeer.id, "42");
    EXPECT_EQ(withPeer.userId, "user");
    EXPECT_EQ(withPeer.displayName, "Ann");
    EXPECT_TRUE(withPeer.isAudioMuted);  // mic on at the server, muted at the engine
    EXPECT_FALSE(withPeer.isVideoMuted);
    EXPECT_TRUE(withPeer.isLoudestVolume);
    EXPECT_TRUE(withPeer.isHandRaised);
    EXPECT_TRUE(withPeer.isHost);
    EXPECT_FALSE(withPeer.isCoHost);
    EXPECT_TRUE(withPeer.isSharingScreen);
    EXPECT_FALSE(withPeer.isSharingWhiteBoard);
    EXPECT_FALSE(withPeer.isAudience);
    EXPECT_EQ(withPeer.joinTime, "t0");

    const Participant noPeer(server, RtcPeerMetaData());
    EXPECT_EQ(noPeer.id, "server-id");
    EXPECT_TRUE(noPeer.isAudioMuted);
    EXPECT_TRUE(noPeer.isVideoMuted);
    EXPECT_FALSE(noPeer.isLoudestVolume);

    KRMeetingParticipant audience = server;
    audience.participantType = KRMeetingParticipantType::audience;
    audience.participantId = "";
    const Participant overridden(audience, LoudPeer());
    EXPECT_TRUE(overridden.isAudience);
    EXPECT_TRUE(overridden.isLoudestVolume);
    EXPECT_EQ(overridden.id, "");
}

TEST(ParticipantTest, ChangeListFollowsTheFixedOrder) {
    const Participant base(serverRecord(), RtcPeerMetaData("1", false, false, false));
    struct Case {
        const char* what;
        void (*change)(Participant&);
        std::vector<ParticipantUpdateType> expected;
    };
    using T = ParticipantUpdateType;
    const Case cases[] = {
        {"nothing", [](Participant&) {}, {}},
        {"audio, name, role",
         [](Participant& p) {
             p.isAudience = true;
             p.displayName = "Bob";
             p.isAudioMuted = true;
         },
         {T::audio, T::name, T::role}},
        {"all nine",
         [](Participant& p) {
             p.isAudience = !p.isAudience;
             p.isSharingScreen = !p.isSharingScreen;
             p.isHost = !p.isHost;
             p.isCoHost = !p.isCoHost;
             p.isHandRaised = !p.isHandRaised;
             p.displayName += "x";
             p.isLoudestVolume = !p.isLoudestVolume;
             p.isVideoMuted = !p.isVideoMuted;
             p.isAudioMuted = !p.isAudioMuted;
         },
         {T::audio, T::video, T::loudestVolume, T::name, T::handRaise, T::coHostRight, T::hostRight,
          T::screenShare, T::role}},
        {"name case only", [](Participant& p) { p.displayName = "ann"; }, {T::name}},
        {"fields that are not compared",
         [](Participant& p) {
             p.id = "2";
             p.userId = "other";
             p.joinTime = "t1";
             p.isSharingWhiteBoard = true;
         },
         {}},
    };
    for (const auto& c : cases) {
        Participant changed = base;
        c.change(changed);
        EXPECT_EQ(changed.getDataUpdateType(base), c.expected) << c.what;
    }

    Participant joinTimeOnly = base;
    joinTimeOnly.joinTime = "later";
    EXPECT_TRUE(joinTimeOnly.getDataUpdateType(base).empty());
    EXPECT_FALSE(joinTimeOnly == base);
    Participant whiteboardOnly = base;
    whiteboardOnly.isSharingWhiteBoard = true;
    EXPECT_FALSE(whiteboardOnly == base);
    EXPECT_TRUE(base == Participant(serverRecord(), RtcPeerMetaData("1", false, false, false)));
}

}  // namespace
}  // namespace kr
