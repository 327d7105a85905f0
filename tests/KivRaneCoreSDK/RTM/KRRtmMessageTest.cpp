#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace kr {
namespace {

using Event = KRRtmMessageEvent;

// The identifiers as other participants' clients send them, written out independently of the
// library's table so that a slip in either shows.
struct EventText {
    Event event;
    const char* text;
};
const std::vector<EventText> kEventTexts = {
    {Event::hardMuteEnabled, "SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTE"},
    {Event::hardMuteDisabled, "SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_UNMUTE"},
    {Event::softMuteEnabled, "CVXVFGRGKMWQEWQIEJUIIOIQWEJOIQWJEOIJQWIEJQ@STOP"},
    {Event::hostLowerAllHands, "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@LOWER_ALL_HANDS"},
    {Event::participantRaiseHand, "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@HAND_RAISE"},
    {Event::stopParticipantVideo, "MOKMJBNJDCBDSNFBSDFMNDSBFNMASDEIWEHDSA@STOP"},
    {Event::stopParticipantAudio, "ZFDSRTTOERJJDFBNDJKSFBNDFMNSDBBGNAERQW@STOP"},
    {Event::lowerParticipantHand, "QSGXVGHSVXHSGVGVSDJHBSOUYIUY@HOST_LOWER_HAND"},
    {Event::hostRemoveParticipant, "BODSRTTOERJJDFBNDJKSFBNDFMNSDBBGNBRYERQW@END"},
    {Event::hostEndsCall, "QWEJKQKWEBKJCBXFCJDFKJSDSFDSFDSFDSFDS@ENDCALL"},
    {Event::requestToStartAudio, "ZFDSRTTOERJJDFBNDJKSFBNDFMNSDBBGNAERQW@START"},
    {Event::requestToStartVideo, "MOKMJBNJDCBDSNFBSDFMNDSBFNMASDEIWEHDSA@START"},
    {Event::participantStartScreenShare, "KJHEGUYGTUYGJHGBMABJIHJKJANMB@START_SHARE"},
    {Event::participantStopScreenShare, "KJHEGUYGTUYGJHGBMABJIHJKJANMB@STOP_SHARE"},
    {Event::participantOverrideScreenShare, "KJHEGUYGTUYGJHGBMABJIHJKJANMB@OVERRIDE"},
    {Event::recordingStarted, "RECSTAHJDKDMNASBMASHWQEQWOECBEIWURGEWFBDSN@START"},
    {Event::recordingStopped, "RECSTAHJDKDMNASBMASHWQEQWOECBEIWURGEWFBDSN@STOP"},
    {Event::micDecline, "ZFDSRTTOERJJDFBNDNDFMNSDBBG@MIC_DECLINE"},
    {Event::videoDecline, "ZFDSRTTOERJJDFBNDNDFMNSDBBG@VIDEO_DECLINE"},
    {Event::participantDowngradeToAudience, "HOSTSTASDDAHJDKDMNASBMADASHW@DOWNGRADE_PARTICIPANT"},
    {Event::audienceUpgradeToParticipant, "HOSTSTASDDAHJDKDMNASBMADASHWE@UPGRADE_AUDIENCE"},
    {Event::lockMeeting, "ASFSDFASIJOIIKIJINBNMBLESIFJDBHHJRBMBNXXZC@LOCK"},
    {Event::unLockMeeting, "POIYGNSGJLEGTBSKDBPEBHFTEKSSALND@UNLOCK"},
    {Event::makeCoHost, "COHEGUYGTUYGJHGBMABJIHJKJANMB@COHOST_GRANT"},
    {Event::removeCoHost, "COHEGUYGTUYGJHGBMABJIHJKJANMB@COHOST_REVOKE"},
    {Event::startWhiteboard, "WHHEGUYGTUYGJHGBMABJIHJKJANRD@START_WHITEBOARD"},
    {Event::stopwhiteboard, "WHHEGUYGTUYGJHGBMABJIHJKJANRD@STOP_WHITEBOARD"},
    {Event::reactionShare, "PEERVGHSVXHSGVGPQRJHBSOUYSDQ@REACTION_SHARE"},
    {Event::unknown, "unknown"},
};

// A message with the given route and event and every other field empty.
KRRtmMessage make(KRRtmMessageType type, Event event) {
    KRRtmMessage message;
    message.messageType = type;
    message.message = event;
    return message;
}

KRRtmMessage decoded(const std::string& text) {
    auto message = KRRtmMessage::decode(text);
    EXPECT_TRUE(message.ok()) << text << ": " << (message ? "" : message.error().describe());
    return message ? message.value() : KRRtmMessage{};
}

TEST(KRRtmMessageEventTest, EveryIdentifierMapsToItsCaseInDeclarationOrderAndBack) {
    ASSERT_EQ(kEventTexts.size(), kKRRtmMessageEventCount);
    for (std::size_t i = 0; i < kEventTexts.size(); ++i) {
        const auto& [event, text] = kEventTexts[i];
        EXPECT_EQ(static_cast<std::size_t>(event), i) << text;
        EXPECT_EQ(rawValue(event), text);
        EXPECT_EQ(krRtmMessageEventFromRaw(text), event) << text;
        auto fromJson = decodeJsonValue<Event>(boost::json::value(text));
        ASSERT_TRUE(fromJson.ok()) << text;
        EXPECT_EQ(fromJson.value(), event);
    }
}

TEST(KRRtmMessageEventTest, OnlyTheWholeTextMatches) {
    for (const char* text :
         {"FORCE_HARD_MUTE", "SAGHKGHJAGJHGAYWTYDTDUY@", "SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTE ",
          " SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTE", "SAGHKGHJAGJHGAYWTYDTDUY@force_hard_mute",
          "HOSTSTASDDAHJDKDMNASBMADASHW@UPGRADE_AUDIENCE", "WHHEGUYGTUYGJHGBMABJIHJKJANRD@STOP_Whiteboard",
          "Unknown", "hardMuteEnabled", ""}) {
        EXPECT_EQ(krRtmMessageEventFromRaw(text), std::nullopt) << text;
        EXPECT_FALSE(decodeJsonValue<Event>(boost::json::value(text)).ok()) << text;
    }
    EXPECT_FALSE(decodeJsonValue<Event>(boost::json::value(3)).ok());
}

TEST(KRRtmMessageTypeTest, RawTextsAreExactAndCaseSensitive) {
    EXPECT_EQ(rawValue(KRRtmMessageType::publicChat), "PublicChat");
    EXPECT_EQ(rawValue(KRRtmMessageType::peerToPeer), "PrivateChat");
    EXPECT_EQ(krRtmMessageTypeFromRaw("PublicChat"), KRRtmMessageType::publicChat);
    EXPECT_EQ(krRtmMessageTypeFromRaw("PrivateChat"), KRRtmMessageType::peerToPeer);
    for (const char* text : {"privatechat", "PRIVATECHAT", "peerToPeer", "publicChat", "Private",
                             "PrivateChat ", ""}) {
        EXPECT_EQ(krRtmMessageTypeFromRaw(text), std::nullopt) << text;
    }
}

TEST(KRRtmMessageTest, EveryEventOnEitherRouteSurvivesARoundTrip) {
    for (const auto& [event, text] : kEventTexts) {
        for (auto type : {KRRtmMessageType::publicChat, KRRtmMessageType::peerToPeer}) {
            KRRtmMessage sent = make(type, event);
            sent.senderParticipantId = "1001";
            sent.senderName = "Ana Lee";
            sent.senderUserId = "u-1";
            sent.targetParticipantId = "2002";
            sent.targetParticipantName = "Bo";
            if (event == Event::reactionShare) sent.reactionsType = "3";
            if (event == Event::participantStartScreenShare) sent.agoraShareUid = 77;
            auto encoded = sent.encode();
            ASSERT_TRUE(encoded.ok());
            EXPECT_NE(encoded.value().find(std::string("\"message\":\"") + text + "\""),
                      std::string::npos)
                << encoded.value();
            EXPECT_EQ(decoded(encoded.value()), sent) << text;
        }
    }
}

TEST(KRRtmMessageTest, WritesKeysInWireOrderAndOnlyTheOptionalOnesThatHoldSomething) {
    KRRtmMessage message = make(KRRtmMessageType::publicChat, Event::participantStartScreenShare);
    message.senderParticipantId = "1001";
    message.senderName = "Ana \"A\" Lee";
    message.senderUserId = "u-1";
    message.targetHostUserId = "host-9";
    message.agoraShareUid = 0;
    EXPECT_EQ(message.encode().value(),
              R"({"sender":{"name":"Ana \"A\" Lee","participantId":"1001","userId":"u-1"},)"
              R"("type":"PublicChat","message":"KJHEGUYGTUYGJHGBMABJIHJKJANMB@START_SHARE",)"
              R"("targetParticipantId":"","targetParticipantName":"","agoraShareUid":0})");

    message.agoraShareUid.reset();
    message.reactionsType = "5";
    message.messageType = KRRtmMessageType::peerToPeer;
    message.message = Event::reactionShare;
    message.senderName = "Zoë";
    message.targetParticipantId = "7";
    EXPECT_EQ(message.encode().value(),
              "{\"sender\":{\"name\":\"Zo\xC3\xAB\",\"participantId\":\"1001\",\"userId\":\"u-1\"},"
              "\"reactionsType\":\"5\",\"type\":\"PrivateChat\","
              "\"message\":\"PEERVGHSVXHSGVGPQRJHBSOUYSDQ@REACTION_SHARE\","
              "\"targetParticipantId\":\"7\",\"targetParticipantName\":\"\"}");

    const KRRtmMessage back = decoded(message.encode().value());
    EXPECT_EQ(back.targetHostUserId, "") << "the host id never travels";
    message.targetHostUserId.clear();
    EXPECT_EQ(back, message);
}

TEST(KRRtmMessageTest, TheLargestShareUidTravelsExactly) {
    KRRtmMessage message = make(KRRtmMessageType::publicChat, Event::participantStartScreenShare);
    message.agoraShareUid = std::numeric_limits<std::uint64_t>::max();
    const std::string text = message.encode().value();
    EXPECT_NE(text.find("\"agoraShareUid\":18446744073709551615}"), std::string::npos) << text;
    EXPECT_EQ(decoded(text).agoraShareUid, std::numeric_limits<std::uint64_t>::max());
}

TEST(KRRtmMessageTest, RefusesToEncodeTextThatIsNotUtf8) {
    for (std::string KRRtmMessage::*field :
         {&KRRtmMessage::senderParticipantId, &KRRtmMessage::senderName,
          &KRRtmMessage::senderUserId, &KRRtmMessage::targetParticipantId,
          &KRRtmMessage::targetParticipantName, &KRRtmMessage::reactionsType}) {
        KRRtmMessage message;
        message.*field = "ok\xFF";
        EXPECT_FALSE(message.encode().ok());
    }
    KRRtmMessage hostOnly;
    hostOnly.targetHostUserId = "\xFF";  // never written, so it cannot spoil the text
    EXPECT_TRUE(hostOnly.encode().ok());
}

TEST(KRRtmMessageTest, TextsThatAreNotAControlMessageFail) {
    for (const char* text : {
             "",
             "not json",
             "[]",
             "\"PublicChat\"",
             R"({"type":"PublicChat"})",
             R"({"type":"PublicChat","sender":null})",
             R"({"type":"PublicChat","sender":"me"})",
             R"({"type":"PublicChat","sender":[]})",
             R"({"sender":{}})",
             R"({"type":null,"sender":{}})",
             R"({"type":1,"sender":{}})",
             R"({"type":"publicchat","sender":{}})",
             R"({"type":"peerToPeer","sender":{}})",
             R"({"type":"PublicChat","sender":{}} trailing)",
             "{\"type\":\"PublicChat\",\"sender\":{\"name\":\"\xFF\"}}",
         }) {
        EXPECT_FALSE(KRRtmMessage::decode(text).ok()) << text;
    }
}

TEST(KRRtmMessageTest, TheSmallestMessageDecodesWithEveryDefault) {
    const KRRtmMessage message = decoded(R"({"type":"PublicChat","sender":{}})");
    EXPECT_EQ(message, KRRtmMessage{});
    EXPECT_EQ(message.message, Event::unknown);
    EXPECT_EQ(message.agoraShareUid, std::nullopt);
}

TEST(KRRtmMessageTest, LenientKeysFallBackOneByOne) {
    struct Case {
        const char* extra;  // members added to {"type":"PrivateChat","sender":{…}
        Event event;
        const char* reactions;
        std::optional<std::uint64_t> uid;
    };
    const std::vector<Case> cases = {
        {R"("message":"SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTEX")", Event::unknown, "", {}},
        {R"("message":"FORCE_HARD_MUTE")", Event::unknown, "", {}},
        {R"("message":12)", Event::unknown, "", {}},
        {R"("message":null)", Event::unknown, "", {}},
        {R"("message":"unknown")", Event::unknown, "", {}},
        {R"("message":"SAGHKGHJAGJHGAYWTYDTDUY@FORCE_HARD_MUTE")", Event::hardMuteEnabled, "", {}},
        {R"("reactionsType":5)", Event::unknown, "5", {}},
        {R"("reactionsType":"5")", Event::unknown, "5", {}},
        {R"("reactionsType":-12)", Event::unknown, "-12", {}},
        {R"("reactionsType":4.0)", Event::unknown, "4", {}},
        {R"("reactionsType":"thumbs up")", Event::unknown, "thumbs up", {}},
        {R"("reactionsType":true)", Event::unknown, "", {}},
        {R"("reactionsType":1.5)", Event::unknown, "", {}},
        {R"("reactionsType":{})", Event::unknown, "", {}},
        {R"("reactionsType":18446744073709551615)", Event::unknown, "", {}},
        {R"("agoraShareUid":42)", Event::unknown, "", 42},
        {R"("agoraShareUid":42.0)", Event::unknown, "", 42},
        {R"("agoraShareUid":-1)", Event::unknown, "", {}},
        {R"("agoraShareUid":"42")", Event::unknown, "", {}},
        {R"("agoraShareUid":4.5)", Event::unknown, "", {}},
        {R"("agoraShareUid":18446744073709551616)", Event::unknown, "", {}},
        {R"("agoraShareUid":null)", Event::unknown, "", {}},
        {R"("agoraShareUid":false)", Event::unknown, "", {}},
    };
    for (const Case& c : cases) {
        const std::string text =
            std::string(R"({"type":"PrivateChat","sender":{"name":"N"},)") + c.extra + "}";
        const KRRtmMessage message = decoded(text);
        EXPECT_EQ(message.messageType, KRRtmMessageType::peerToPeer) << text;
        EXPECT_EQ(message.senderName, "N") << text;
        EXPECT_EQ(message.message, c.event) << text;
        EXPECT_EQ(message.reactionsType, c.reactions) << text;
        EXPECT_EQ(message.agoraShareUid, c.uid) << text;
    }
}

TEST(KRRtmMessageTest, ReadsWhatAnotherPeerWrites) {
    // Pretty-printed, keys in another order, an extra key, the host id present, wrong types
    // for the lenient texts.
    const KRRtmMessage lock = decoded(R"({
        "message" : "ASFSDFASIJOIIKIJINBNMBLESIFJDBHHJRBMBNXXZC@LOCK",
        "targetParticipantName" : "",
        "clientVersion" : "2.4.1",
        "type" : "PublicChat",
        "targetHostUserId" : "host-1",
        "targetParticipantId" : null,
        "sender" : { "userId" : "u-77", "participantId" : "5150", "name" : "Host Person",
                     "avatar" : "x.png" }
    })");
    KRRtmMessage expectedLock = make(KRRtmMessageType::publicChat, Event::lockMeeting);
    expectedLock.senderParticipantId = "5150";
    expectedLock.senderName = "Host Person";
    expectedLock.senderUserId = "u-77";
    expectedLock.targetHostUserId = "host-1";
    EXPECT_EQ(lock, expectedLock);

    const KRRtmMessage removal = decoded(
        R"({"sender":{"name":"H","participantId":1,"userId":false},"type":"PrivateChat",)"
        R"("message":"BODSRTTOERJJDFBNDJKSFBNDFMNSDBBGNBRYERQW@END",)"
        R"("targetParticipantId":"3003","targetParticipantName":"Guest \u00e9"})");
    KRRtmMessage expectedRemoval = make(KRRtmMessageType::peerToPeer, Event::hostRemoveParticipant);
    expectedRemoval.senderName = "H";
    expectedRemoval.targetParticipantId = "3003";
    expectedRemoval.targetParticipantName = "Guest \xC3\xA9";
    EXPECT_EQ(removal, expectedRemoval);

    const KRRtmMessage share = decoded(
        R"({"sender":{"name":"S","participantId":"9","userId":"u9"},"type":"PublicChat",)"
        R"("message":"KJHEGUYGTUYGJHGBMABJIHJKJANMB@START_SHARE","targetParticipantId":"",)"
        R"("targetParticipantName":"","agoraShareUid":123456789012})");
    EXPECT_EQ(share.message, Event::participantStartScreenShare);
    EXPECT_EQ(share.agoraShareUid, 123456789012u);
}

}  // namespace
}  // namespace kr
