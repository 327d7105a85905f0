#pragma once

#include <utility>

#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"

namespace kr {

/// How the host app joins: role and initial microphone and camera state. Screen-share and
/// whiteboard rights are always false. Immutable value.
class KRJoinMeetingConfig {
public:
    KRJoinMeetingConfig(KRUserRole userRole, bool isInitialAudioOn, bool isInitialVideoOn)
        : userRole_(std::move(userRole)),
          isInitialAudioOn_(isInitialAudioOn),
          isInitialVideoOn_(isInitialVideoOn) {}

    const KRUserRole& userRole() const noexcept { return userRole_; }
    bool isInitialAudioOn() const noexcept { return isInitialAudioOn_; }
    bool isInitialVideoOn() const noexcept { return isInitialVideoOn_; }
    bool canShareScreen() const noexcept { return false; }
    bool canShareWhiteBoard() const noexcept { return false; }

private:
    KRUserRole userRole_;
    bool isInitialAudioOn_;
    bool isInitialVideoOn_;
};

}  // namespace kr
