#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// The in-meeting control events participants exchange. Each raw text is shared byte for byte
/// with every other participant's client, so the texts (odd prefixes, the extra "E" of
/// `audienceUpgradeToParticipant`, the lower-case "w" of `stopwhiteboard`) must never be
/// "corrected". Only a whole text names an event; compare and hash by case.
enum class KRRtmMessageEvent {
    hardMuteEnabled,
    hardMuteDisabled,
    softMuteEnabled,
    hostLowerAllHands,
    participantRaiseHand,
    stopParticipantVideo,
    stopParticipantAudio,
    lowerParticipantHand,
    hostRemoveParticipant,
    hostEndsCall,  // reserved: never sent, ignored by receivers
    requestToStartAudio,
    requestToStartVideo,
    participantStartScreenShare,
    participantStopScreenShare,
    participantOverrideScreenShare,
    recordingStarted,
    recordingStopped,
    micDecline,
    videoDecline,
    participantDowngradeToAudience,
    audienceUpgradeToParticipant,
    lockMeeting,
    unLockMeeting,
    makeCoHost,
    removeCoHost,
    startWhiteboard,
    stopwhiteboard,
    reactionShare,
    unknown,  // a missing or unrecognised event; never sent, ignored by receivers
};

/// Number of cases, `unknown` included.
inline constexpr std::size_t kKRRtmMessageEventCount = 29;

/// The case whose raw text equals `raw` exactly (case-sensitive, no trimming, no prefix
/// matching); nullopt for anything else. "unknown" names `unknown`.
std::optional<KRRtmMessageEvent> krRtmMessageEventFromRaw(std::string_view raw);
std::string_view rawValue(KRRtmMessageEvent value) noexcept;

/// Strict: a JSON string holding one of the raw texts; anything else is an error. The control
/// message itself reads its event leniently (see KRRtmMessage).
template <>
struct JsonValueDecoder<KRRtmMessageEvent> {
    static Result<KRRtmMessageEvent, JsonDecodingError> decode(const boost::json::value& v);
};

}  // namespace kr
