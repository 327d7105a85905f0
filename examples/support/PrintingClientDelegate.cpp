#include "examples/support/PrintingClientDelegate.h"

#include <array>
#include <cstddef>
#include <utility>

#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"

namespace kr::example {

namespace {

const char* onOff(bool isOn) {
    return isOn ? "on" : "off";
}

const char* mutedText(bool isMuted) {
    return isMuted ? "muted" : "unmuted";
}

template <class Enum, std::size_t N>
using TextTable = std::array<std::pair<Enum, const char*>, N>;

template <class Enum, std::size_t N>
const char* lookUp(const TextTable<Enum, N>& table, Enum value) {
    for (const auto& [key, words] : table) {
        if (key == value)
            return words;
    }
    return "unknown";
}

constexpr TextTable<KRNetworkQuality, 4> kQualityTexts{{
    {KRNetworkQuality::good, "good"},
    {KRNetworkQuality::low, "low"},
    {KRNetworkQuality::bad, "bad"},
    {KRNetworkQuality::detecting, "detecting"},
}};

constexpr TextTable<KRConnectionState, 5> kConnectionTexts{{
    {KRConnectionState::disconnected, "disconnected"},
    {KRConnectionState::connecting, "connecting"},
    {KRConnectionState::connected, "connected"},
    {KRConnectionState::reconnecting, "reconnecting"},
    {KRConnectionState::failed, "failed"},
}};

constexpr TextTable<KRAudioVideoErrorType, 6> kDeviceErrorTexts{{
    {KRAudioVideoErrorType::reconnectError, "reconnect error"},
    {KRAudioVideoErrorType::deviceBusyError, "device busy"},
    {KRAudioVideoErrorType::permissionError, "no permission"},
    {KRAudioVideoErrorType::multipleAppsOrBackground, "used by another app"},
    {KRAudioVideoErrorType::ok, "ok"},
    {KRAudioVideoErrorType::unknown, "unknown"},
}};

constexpr TextTable<AudioVideoState, 4> kRequestTexts{{
    {AudioVideoState::startAudio, "start the microphone"},
    {AudioVideoState::stopAudio, "stop the microphone"},
    {AudioVideoState::startVideo, "start the camera"},
    {AudioVideoState::stopVideo, "stop the camera"},
}};

const char* text(KRNetworkQuality quality) {
    return lookUp(kQualityTexts, quality);
}
const char* text(KRConnectionState state) {
    return lookUp(kConnectionTexts, state);
}
const char* text(KRAudioVideoErrorType error) {
    return lookUp(kDeviceErrorTexts, error);
}
const char* text(AudioVideoState state) {
    return lookUp(kRequestTexts, state);
}

std::string describeShare(const KRScreenShareState& state) {
    if (const auto* started = state.asStarted()) {
        if (started->mediaTrack) {
            return "started by " + started->mediaTrack->sharingUserName() + " (uid " +
                   started->mediaTrack->id() + ")";
        }
        return "started";
    }
    if (const auto* stopped = state.asStopped()) {
        return "stopped (uid " + std::to_string(stopped->mediaTrackId) + ", " +
               PrintingClientDelegate::describe(stopped->reason) + ")";
    }
    return "changed";
}

}  // namespace

PrintingClientDelegate::PrintingClientDelegate(std::string name, Printer print)
    : name_(std::move(name)), print_(std::move(print)) {}

void PrintingClientDelegate::print(const std::string& text) const {
    if (print_) {
        print_("[" + name_ + "] " + text);
    }
}

std::string PrintingClientDelegate::describe(const std::shared_ptr<KRMeetingUser>& user) {
    if (!user) {
        return "someone";
    }
    const std::string name = user->displayName().empty() ? "(no name)" : user->displayName();
    return name + " (uid " + user->id() + ")";
}

std::string PrintingClientDelegate::describe(const KRUserLeftReason& reason) {
    switch (reason.kind()) {
        case KRUserLeftReason::Kind::removedFromMeeting:
            return "removed by " +
                   (reason.byHost().empty() ? std::string("the host") : reason.byHost());
        case KRUserLeftReason::Kind::leaveMeeting:
            return "left";
        case KRUserLeftReason::Kind::networkDropped:
            return "network dropped";
        case KRUserLeftReason::Kind::becomeAudience:
            return "moved to the audience";
        case KRUserLeftReason::Kind::none:
            return "no reason";
    }
    return "unknown reason";
}

std::string PrintingClientDelegate::describe(const KRMeetingJoinError& error) {
    using Kind = KRMeetingJoinError::Kind;
    switch (error.kind) {
        case Kind::invalidConfiguration:
            return "invalid configuration";
        case Kind::maxParticipantsLimit:
            return "the meeting is full";
        case Kind::failedToRegisterUser:
            return "could not register the user";
        case Kind::meetingNotFound:
            return "meeting not found";
        case Kind::meetingEnded:
            return "the meeting has ended";
        case Kind::meetingLocked:
            return "the meeting is locked";
        case Kind::other:
            return error.message.empty() ? "failed" : error.message;
    }
    return "failed";
}

// ---- Local user ----

void PrintingClientDelegate::didLocalUserJoinedMeeting(const KRMeeting& meeting,
                                                       const std::shared_ptr<KRMeetingUser>& user) {
    print("joined meeting " + meeting.meetingID() + " as " + describe(user) +
          (user && user->isHost() ? ", host" : ""));
}

void PrintingClientDelegate::didLocalUserMicStatusUpdated(const KRMeeting&, bool isMuted) {
    print(std::string("my microphone is ") + mutedText(isMuted));
}

void PrintingClientDelegate::didLocalUserVideoStatusUpdated(const KRMeeting&, bool isMuted) {
    print(std::string("my camera is ") + mutedText(isMuted));
}

void PrintingClientDelegate::didLocalUserLeftMeeting(const KRMeeting& meeting,
                                                     const KRUserLeftReason& reason) {
    print("left meeting " + meeting.meetingID() + ": " + describe(reason));
}

void PrintingClientDelegate::didLocalUserMovedToAudience(const KRMeeting&,
                                                         const std::shared_ptr<KRMeetingUser>&) {
    print("I was moved to the audience");
}

void PrintingClientDelegate::didLocalUserMovedToParticipant(const KRMeeting&,
                                                            const std::shared_ptr<KRMeetingUser>&) {
    print("I was moved to the participants");
}

void PrintingClientDelegate::didLocalUserHandRaiseStatusUpdated(const KRMeeting&, bool isRaised) {
    print(std::string("my hand is ") + (isRaised ? "raised" : "lowered"));
}

void PrintingClientDelegate::didLocalScreenShareStateChanged(const KRMeeting&,
                                                             const KRScreenShareState& state) {
    print("my screen share " + describeShare(state));
}

void PrintingClientDelegate::didLocalSpeakerVolumeChanges(const KRMeeting&, int level,
                                                          bool localUserSpeaking) {
    print("my volume " + std::to_string(level) + (localUserSpeaking ? ", speaking" : ""));
}

void PrintingClientDelegate::didLocalAudioStateChangeFailed(const KRMeeting&,
                                                            KRAudioVideoErrorType error,
                                                            const std::string& errorDesc) {
    print(std::string("my microphone failed: ") + text(error) + " " + errorDesc);
}

void PrintingClientDelegate::didLocalVideoStateChangeFailed(const KRMeeting&,
                                                            KRAudioVideoErrorType error,
                                                            const std::string& errorDesc) {
    print(std::string("my camera failed: ") + text(error) + " " + errorDesc);
}

void PrintingClientDelegate::didLocalUserFallBackToAudioOnlyMode(const KRMeeting&,
                                                                 bool isFallback) {
    print(std::string("audio-only fallback ") + onOff(isFallback));
}

void PrintingClientDelegate::didLocalParticipantConnectionChangedTo(const KRMeeting&,
                                                                    KRConnectionState state) {
    print(std::string("my connection is ") + text(state));
}

// ---- Remote users ----

void PrintingClientDelegate::didRemoteUserJoinedMeeting(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user) {
    print("remote user joined: " + describe(user));
}

void PrintingClientDelegate::didRemoteUserLeftMeeting(const KRMeeting&,
                                                      const std::shared_ptr<KRMeetingUser>& user,
                                                      const KRUserLeftReason& reason) {
    print("remote user left: " + describe(user) + ", " + describe(reason));
}

void PrintingClientDelegate::didRemoteUserMicStatusUpdated(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user, bool isMuted) {
    print("microphone of " + describe(user) + " is " + mutedText(isMuted));
}

void PrintingClientDelegate::didRemoteUserVideoStatusUpdated(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user, bool isMuted) {
    print("camera of " + describe(user) + " is " + mutedText(isMuted));
}

void PrintingClientDelegate::didUserMovedToParticipants(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user) {
    print(describe(user) + " moved to the participants");
}

void PrintingClientDelegate::didUserMovedToAudience(const KRMeeting&,
                                                    const std::shared_ptr<KRMeetingUser>& user) {
    print(describe(user) + " moved to the audience");
}

void PrintingClientDelegate::didRemoteUserHandRaiseStatusUpdated(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user, bool isRaised) {
    print("hand of " + describe(user) + " is " + (isRaised ? "raised" : "lowered"));
}

void PrintingClientDelegate::didRemoteScreenShareStateChanged(const KRMeeting&,
                                                              const KRScreenShareState& state) {
    print("remote screen share " + describeShare(state));
}

void PrintingClientDelegate::didRemoteUserFallBackToAudioOnlyMode(
    const KRMeeting&, bool isFallback, const std::shared_ptr<KRMeetingUser>& user) {
    print("audio-only fallback of " + describe(user) + " " + onOff(isFallback));
}

void PrintingClientDelegate::didCoHostRightsChanged(const KRMeeting&,
                                                    const std::shared_ptr<KRMeetingUser>& user,
                                                    bool isCoHost) {
    print(describe(user) + (isCoHost ? " is now a co-host" : " is no longer a co-host"));
}

void PrintingClientDelegate::didRecieveReaction(const KRMeeting&,
                                                const std::shared_ptr<KRMeetingUser>& user,
                                                const std::string& reactionsType) {
    print("reaction \"" + reactionsType + "\" from " + describe(user));
}

// ---- Speakers and network ----

void PrintingClientDelegate::didLoudestSpeakerUpdated(const KRMeeting&,
                                                      const std::shared_ptr<KRMeetingUser>& user) {
    print("loudest speaker: " + describe(user));
}

void PrintingClientDelegate::didDetectActiveSpeakers(
    const KRMeeting&, const std::vector<std::shared_ptr<KRMeetingUser>>& users) {
    std::string list;
    for (const auto& user : users) {
        list += (list.empty() ? "" : ", ") + describe(user);
    }
    print("active speakers: " + (list.empty() ? std::string("none") : list));
}

void PrintingClientDelegate::didNetworkQualityUpdated(const KRMeeting&, KRNetworkQuality quality) {
    print(std::string("network quality: ") + text(quality));
}

void PrintingClientDelegate::didMeetingNetworkStatsUpdated(const KRMeeting&,
                                                           const KRMeetingNetworkStats& stats) {
    print("network: latency " + std::to_string(stats.latency()) + " ms, up " +
          std::to_string(stats.uplinkRate()) + " kbit/s, down " +
          std::to_string(stats.downlinkRate()) + " kbit/s");
}

void PrintingClientDelegate::didAudioOutputRouteChanged(const KRMeeting&, KRAudioRouteType route) {
    print("audio output: " + description(route));
}

// ---- Meeting state ----

void PrintingClientDelegate::didRecordingStarted(const KRMeeting&,
                                                 const std::shared_ptr<KRMeetingUser>& startedBy) {
    print("recording started by " + describe(startedBy));
}

void PrintingClientDelegate::didRecordingStopped(const KRMeeting&,
                                                 const std::shared_ptr<KRMeetingUser>& stoppedBy) {
    print("recording stopped by " + describe(stoppedBy));
}

void PrintingClientDelegate::didMeetingLocked(const KRMeeting&,
                                              const std::shared_ptr<KRMeetingUser>& lockedBy) {
    print("meeting locked by " + describe(lockedBy));
}

void PrintingClientDelegate::didMeetingUnLocked(const KRMeeting&,
                                                const std::shared_ptr<KRMeetingUser>& unLockedBy) {
    print("meeting unlocked by " + describe(unLockedBy));
}

void PrintingClientDelegate::didWhiteboardStarted(const KRMeeting&, const std::string& startedBy,
                                                  const std::string& whiteboardUrl,
                                                  const std::string& senderName) {
    print("whiteboard started by " + senderName + " (" + startedBy + ") at " + whiteboardUrl);
}

void PrintingClientDelegate::didWhiteboardStopped(const KRMeeting&,
                                                  const std::shared_ptr<KRMeetingUser>& stoppedBy) {
    print("whiteboard stopped by " + describe(stoppedBy));
}

// ---- Host actions ----

void PrintingClientDelegate::didHostRequestToChangeAudioVideoState(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& host, AudioVideoState state) {
    print(describe(host) + " asks me to " + text(state));
}

void PrintingClientDelegate::didUserDeclineToChangeAudioVideoState(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& user, AudioVideoState state) {
    print(describe(user) + " declined to " + text(state));
}

void PrintingClientDelegate::didHostEnableHardAudioMute(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& performer) {
    print("everyone muted (hard) by " + describe(performer));
}

void PrintingClientDelegate::didHostDisableHardAudioMute(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& performer) {
    print("hard mute lifted by " + describe(performer));
}

void PrintingClientDelegate::didHostEnableSoftAudioMute(
    const KRMeeting&, const std::shared_ptr<KRMeetingUser>& performer) {
    print("everyone muted (soft) by " + describe(performer));
}

void PrintingClientDelegate::didHostLowerAllHands(const KRMeeting&,
                                                  const std::shared_ptr<KRMeetingUser>& performer) {
    print("all hands lowered by " + describe(performer));
}

// ---- Failures ----

void PrintingClientDelegate::didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) {
    print("could not join: " + describe(error));
}

void PrintingClientDelegate::didErrorOccured(const KRMeetingError& error) {
    const char* what = error.kind == KRMeetingError::Kind::recordingStartFailed
                           ? "starting the recording failed"
                           : "stopping the recording failed";
    print(std::string(what) + (error.message.empty() ? "" : ": " + error.message));
}

}  // namespace kr::example
