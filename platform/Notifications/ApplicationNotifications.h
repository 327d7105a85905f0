#pragma once

namespace kr::platform {

/// Names of the application life-cycle notifications a host posts on the notification centre it
/// hands to the library (no sender, no user info). Linux has no application object of its own,
/// so the host tells the library when its app comes to the foreground and when it leaves it.
struct ApplicationNotifications {
    /// The app became active (again): connections paused for the background may resume.
    static constexpr const char* didBecomeActive = "kr.application.did.become.active";
    /// The app is about to become inactive (a call, the app switcher, the background).
    static constexpr const char* willResignActive = "kr.application.will.resign.active";
};

}  // namespace kr::platform
