// Every kind of control message the client sends: where it goes, which event it carries, whom it
// names, and the exact text that leaves (compared with the key order the others parse).

#include "KivRaneCoreSDK/Meeting/ControlMessages/KRControlMessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kr {
namespace {

using K = KRControlMessage;
using E = KRRtmMessageEvent;
using T = KRRtmMessageType;

enum class Target { none, user, userAccount, whiteboardSharer };

struct Row {
    K kind;
    T route;
    E event;
    Target target;
    bool hostId;
};

KRCurrentRoom localRoom() {
    KRCurrentRoom room;
    room.userWebRtcId = "100";
    room.userDisplayName = "Hana";
    room.guestUserId = "acct-100";
    room.whiteboardSharingId = "300";
    room.whiteboardShareBy = "Wen";
    return room;
}

std::shared_ptr<KRMeetingUser> bob() {
    return std::make_shared<KRMeetingUser>(
        KRMeetingUser::Parameters{.id = "200", .userId = "acct-200", .displayName = "Bob"});
}

TEST(KRControlMessageTest, EachKindHasItsRouteEventTargetAndHostId) {
    const Row rows[] = {
        {K::handRaised, T::publicChat, E::participantRaiseHand, Target::none, false},
        {K::handLowered, T::publicChat, E::lowerParticipantHand, Target::none, false},
        {K::hardMuteEnabled, T::publicChat, E::hardMuteEnabled, Target::none, true},
        {K::hardMuteDisabled, T::publicChat, E::hardMuteDisabled, Target::none, true},
        {K::softMuteEnabled, T::publicChat, E::softMuteEnabled, Target::none, true},
        {K::lowerAllHands, T::publicChat, E::hostLowerAllHands, Target::none, true},
        {K::participantStartScreenShare, T::publicChat, E::participantStartScreenShare,
         Target::none, true},
        {K::participantStopScreenShare, T::publicChat, E::participantStopScreenShare, Target::none,
         true},
        {K::forceStopScreenShare, T::peerToPeer, E::participantStopScreenShare, Target::user, true},
        {K::screenShareOverride, T::publicChat, E::participantOverrideScreenShare, Target::none,
         true},
        {K::requestToStartAudio, T::peerToPeer, E::requestToStartAudio, Target::user, false},
        {K::stopParticipantAudio, T::peerToPeer, E::stopParticipantAudio, Target::user, false},
        {K::requestToStartVideo, T::peerToPeer, E::requestToStartVideo, Target::user, false},
        {K::stopParticipantVideo, T::peerToPeer, E::stopParticipantVideo, Target::user, false},
        {K::micDecline, T::peerToPeer, E::micDecline, Target::user, false},
        {K::videoDecline, T::peerToPeer, E::videoDecline, Target::user, false},
        {K::removeParticipant, T::peerToPeer, E::hostRemoveParticipant, Target::user, false},
        {K::downgradeToAudience, T::peerToPeer, E::participantDowngradeToAudience, Target::user,
         false},
        {K::upgradeToParticipant, T::peerToPeer, E::audienceUpgradeToParticipant, Target::user,
         false},
        {K::recordingStarted, T::publicChat, E::recordingStarted, Target::none, false},
        {K::recordingStopped, T::publicChat, E::recordingStopped, Target::none, false},
        {K::lockMeeting, T::publicChat, E::lockMeeting, Target::none, false},
        {K::unLockMeeting, T::publicChat, E::unLockMeeting, Target::none, false},
        {K::makeCoHost, T::publicChat, E::makeCoHost, Target::userAccount, false},
        {K::removeCoHost, T::publicChat, E::removeCoHost, Target::userAccount, false},
        {K::startWhiteboard, T::publicChat, E::startWhiteboard, Target::none, false},
        {K::stopWhiteboard, T::publicChat, E::stopwhiteboard, Target::none, false},
        {K::reaction, T::publicChat, E::reactionShare, Target::none, false},
        {K::stopSharePrivate, T::peerToPeer, E::participantStopScreenShare,
         Target::whiteboardSharer, false},
    };
    const KRCurrentRoom room = localRoom();
    const auto target = bob();
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.event)));
        const auto message = makeControlMessage(row.kind, room, 0, target.get(), "7");
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->messageType, row.route);
        EXPECT_EQ(message->message, row.event);
        EXPECT_EQ(message->senderParticipantId, "100");
        EXPECT_EQ(message->senderName, "Hana");
        EXPECT_EQ(message->senderUserId, "acct-100");
        EXPECT_EQ(message->targetHostUserId, row.hostId ? "acct-100" : "");
        std::string id, name;
        switch (row.target) {
            case Target::none:
                break;
            case Target::user:
                id = "200", name = "Bob";
                break;
            case Target::userAccount:
                id = "acct-200", name = "Bob";
                break;
            case Target::whiteboardSharer:
                id = "300", name = "Wen";
                break;
        }
        EXPECT_EQ(message->targetParticipantId, id);
        EXPECT_EQ(message->targetParticipantName, name);
        EXPECT_EQ(message->agoraShareUid.has_value(), row.kind == K::participantStartScreenShare);
        EXPECT_EQ(message->reactionsType, row.kind == K::reaction ? "7" : "");
    }
}

TEST(KRControlMessageTest, TextsLeaveByteForByte) {
    const KRCurrentRoom room = localRoom();
    const auto target = bob();
    struct Case {
        K kind;
        std::string text;
    };
    const Case cases[] = {
        // The host id never travels; the share uid does, even when it is 0.
        {K::participantStartScreenShare,
         R"({"sender":{"name":"Hana","participantId":"100","userId":"acct-100"},)"
         R"("type":"PublicChat","message":"KJHEGUYGTUYGJHGBMABJIHJKJANMB@START_SHARE",)"
         R"("targetParticipantId":"","targetParticipantName":"","agoraShareUid":0})"},
        {K::reaction, R"({"sender":{"name":"Hana","participantId":"100","userId":"acct-100"},)"
                      R"("reactionsType":"7","type":"PublicChat",)"
                      R"("message":"PEERVGHSVXHSGVGPQRJHBSOUYSDQ@REACTION_SHARE",)"
                      R"("targetParticipantId":"","targetParticipantName":""})"},
        {K::removeParticipant,
         R"({"sender":{"name":"Hana","participantId":"100","userId":"acct-100"},)"
         R"("type":"PrivateChat","message":"BODSRTTOERJJDFBNDJKSFBNDFMNSDBBGNBRYERQW@END",)"
         R"("targetParticipantId":"200","targetParticipantName":"Bob"})"},
    };
    for (const Case& c : cases) {
        const auto message = makeControlMessage(c.kind, room, 0, target.get(), "7");
        ASSERT_TRUE(message.has_value());
        const auto text = message->encode();
        ASSERT_TRUE(text.ok());
        EXPECT_EQ(text.value(), c.text);
    }
}

TEST(KRControlMessageTest, APeerMessageWithNobodyToSendItToIsNotBuilt) {
    KRCurrentRoom room = localRoom();
    for (K kind : {K::requestToStartAudio, K::stopParticipantVideo, K::micDecline,
                   K::removeParticipant, K::downgradeToAudience, K::forceStopScreenShare}) {
        EXPECT_FALSE(makeControlMessage(kind, room, 0, nullptr).has_value());
    }
    room.whiteboardSharingId.clear();
    EXPECT_FALSE(makeControlMessage(K::stopSharePrivate, room, 0, nullptr).has_value());
    // Channel messages need no target.
    EXPECT_TRUE(makeControlMessage(K::lockMeeting, room, 0, nullptr).has_value());
}

}  // namespace
}  // namespace kr
