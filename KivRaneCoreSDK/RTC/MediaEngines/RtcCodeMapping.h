#pragma once

#include <optional>
#include <string>

#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"
#include "KivRaneCoreSDK/Model/Media/KRAudioRouteType.h"
#include "KivRaneCoreSDK/Model/Media/KRNetworkQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"

namespace kr {

// How the media engine's integer codes (platform::MediaCodes) become the values the library
// reports. Shared by every engine wrapper so they agree. Pure functions; any thread.

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

}  // namespace kr
