#pragma once

#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "platform/Media/MediaEngine.h"

namespace kr {

// How the media engine's integer codes (platform::MediaCodes) become the values the library
// reports, and the library's settings the codes the engine is given. Shared by every engine
// wrapper so they agree. Pure functions (but for those named for setting the engine up, which only
// call the engine they are given); any thread.

/// One engine quality grade: 1-2 good, 3 low, 4-5 bad, anything else detecting.
KRNetworkQuality networkQualityFromEngine(int quality);
/// The worse of the sending and receiving grades; `detecting` only when both are.
KRNetworkQuality networkQualityFromEngine(int txQuality, int rxQuality);

/// The route for an engine routing value, or nullopt when the value names no route we know
/// (the caller keeps its previous route).
std::optional<KRAudioRouteType> audioRouteFromEngine(int routing);

/// The connection state for an engine state; unknown states count as connected.
KRConnectionState connectionStateFromEngine(int state);
/// The connection state for an engine state, or nullopt for a state the engine does not define
/// (a wrapper that must not claim a connection it has not seen reports nothing then).
std::optional<KRConnectionState> knownConnectionStateFromEngine(int state);

/// The reason reported for a remote user who went offline with an engine reason: quit, dropped,
/// became audience; any other number gives `none`.
KRUserLeftReason userLeftReasonFromEngine(int reason);

/// Class and text of a local microphone error; unknown numbers give `unknown` and the number.
KRAudioVideoErrorType audioErrorType(int error);
std::string audioErrorDescription(int error);

/// Class and text of a local camera error; unknown numbers give `unknown` and the number.
KRAudioVideoErrorType videoErrorType(int error);
std::string videoErrorDescription(int error);

/// Gives a freshly made engine the meeting profile: live broadcasting with dual streams, speech
/// audio through the speakerphone, audio-only fallback, denoising, video on, and volume reports
/// every `volumeIndicationIntervalMs` (local volume included).
void setUpMeetingEngine(platform::MediaEngine& engine, int volumeIndicationIntervalMs);

/// The engine's client role for an audience member or a broadcaster.
int engineRole(bool isAudience);

/// Switches the engine's virtual background to `background`, or off when it asks for none.
void setUpEngineVirtualBackground(platform::MediaEngine& engine,
                                  const KRVirtualBackgroundType& background);

/// Gives the engine the settings of one audio output: the speaker and the device play every
/// remote stream at full volume (through the speakerphone or not); `none` silences them all.
void setUpEngineAudioDevice(platform::MediaEngine& engine, KRAudioDeviceType type);

}  // namespace kr
