#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "KivRaneCoreSDK/Meeting/KRCurrentRoom.h"
#include "platform/UI/View.h"

namespace kr::test {

/// An engine participant's state as the room store takes it, flags off unless given.
inline KRRtcParticipantState peer(std::uint64_t uid, bool audioMuted = false,
                                  bool videoMuted = false, bool loudest = false,
                                  bool audience = false,
                                  std::shared_ptr<platform::View> view = nullptr) {
    KRRtcParticipantState state;
    state.uid = uid;
    state.isAudioMuted = audioMuted;
    state.isVideoMuted = videoMuted;
    state.isLoudest = loudest;
    state.isAudience = audience;
    state.view = std::move(view);
    return state;
}

}  // namespace kr::test
