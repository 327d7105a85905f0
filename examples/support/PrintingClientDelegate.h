#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"

namespace kr::example {

/// A host app's delegate that writes every callback of one client as a readable line, as it
/// happens: "[alice] remote user joined: bob (uid 10002)". The example hosts use it to show what
/// the library reports; override a method and call the base one to act on a report as well.
///
/// Threading: called on the library's main queue only, like every delegate.
class PrintingClientDelegate : public KRClientDelegate {
public:
    using Printer = std::function<void(const std::string& line)>;

    /// `name` tags each line; `print` receives the whole line (without a newline).
    PrintingClientDelegate(std::string name, Printer print);

    const std::string& name() const { return name_; }

    void didLocalUserJoinedMeeting(const KRMeeting& meeting,
                                   const std::shared_ptr<KRMeetingUser>& user) override;
    void didLocalUserMicStatusUpdated(const KRMeeting& meeting, bool isMuted) override;
    void didLocalUserVideoStatusUpdated(const KRMeeting& meeting, bool isMuted) override;
    void didLocalUserLeftMeeting(const KRMeeting& meeting, const KRUserLeftReason& reason) override;
    void didLocalUserMovedToAudience(const KRMeeting& meeting,
                                     const std::shared_ptr<KRMeetingUser>& user) override;
    void didLocalUserMovedToParticipant(const KRMeeting& meeting,
                                        const std::shared_ptr<KRMeetingUser>& user) override;
    void didLocalUserHandRaiseStatusUpdated(const KRMeeting& meeting, bool isRaised) override;
    void didLocalScreenShareStateChanged(const KRMeeting& meeting,
                                         const KRScreenShareState& state) override;
    void didLocalSpeakerVolumeChanges(const KRMeeting& meeting, int level,
                                      bool localUserSpeaking) override;
    void didLocalAudioStateChangeFailed(const KRMeeting& meeting, KRAudioVideoErrorType error,
                                        const std::string& errorDesc) override;
    void didLocalVideoStateChangeFailed(const KRMeeting& meeting, KRAudioVideoErrorType error,
                                        const std::string& errorDesc) override;
    void didLocalUserFallBackToAudioOnlyMode(const KRMeeting& meeting, bool isFallback) override;
    void didLocalParticipantConnectionChangedTo(const KRMeeting& meeting,
                                                KRConnectionState state) override;

    void didRemoteUserJoinedMeeting(const KRMeeting& meeting,
                                    const std::shared_ptr<KRMeetingUser>& user) override;
    void didRemoteUserLeftMeeting(const KRMeeting& meeting,
                                  const std::shared_ptr<KRMeetingUser>& user,
                                  const KRUserLeftReason& reason) override;
    void didRemoteUserMicStatusUpdated(const KRMeeting& meeting,
                                       const std::shared_ptr<KRMeetingUser>& user,
                                       bool isMuted) override;
    void didRemoteUserVideoStatusUpdated(const KRMeeting& meeting,
                                         const std::shared_ptr<KRMeetingUser>& user,
                                         bool isMuted) override;
    void didUserMovedToParticipants(const KRMeeting& meeting,
                                    const std::shared_ptr<KRMeetingUser>& user) override;
    void didUserMovedToAudience(const KRMeeting& meeting,
                                const std::shared_ptr<KRMeetingUser>& user) override;
    void didRemoteUserHandRaiseStatusUpdated(const KRMeeting& meeting,
                                             const std::shared_ptr<KRMeetingUser>& user,
                                             bool isRaised) override;
    void didRemoteScreenShareStateChanged(const KRMeeting& meeting,
                                          const KRScreenShareState& state) override;
    void didRemoteUserFallBackToAudioOnlyMode(const KRMeeting& meeting, bool isFallback,
                                              const std::shared_ptr<KRMeetingUser>& user) override;
    void didCoHostRightsChanged(const KRMeeting& meeting,
                                const std::shared_ptr<KRMeetingUser>& user, bool isCoHost) override;
    void didRecieveReaction(const KRMeeting& meeting, const std::shared_ptr<KRMeetingUser>& user,
                            const std::string& reactionsType) override;

    void didLoudestSpeakerUpdated(const KRMeeting& meeting,
                                  const std::shared_ptr<KRMeetingUser>& user) override;
    void didDetectActiveSpeakers(const KRMeeting& meeting,
                                 const std::vector<std::shared_ptr<KRMeetingUser>>& users) override;
    void didNetworkQualityUpdated(const KRMeeting& meeting, KRNetworkQuality quality) override;
    void didMeetingNetworkStatsUpdated(const KRMeeting& meeting,
                                       const KRMeetingNetworkStats& stats) override;
    void didAudioOutputRouteChanged(const KRMeeting& meeting, KRAudioRouteType route) override;

    void didRecordingStarted(const KRMeeting& meeting,
                             const std::shared_ptr<KRMeetingUser>& startedBy) override;
    void didRecordingStopped(const KRMeeting& meeting,
                             const std::shared_ptr<KRMeetingUser>& stoppedBy) override;
    void didMeetingLocked(const KRMeeting& meeting,
                          const std::shared_ptr<KRMeetingUser>& lockedBy) override;
    void didMeetingUnLocked(const KRMeeting& meeting,
                            const std::shared_ptr<KRMeetingUser>& unLockedBy) override;
    void didWhiteboardStarted(const KRMeeting& meeting, const std::string& startedBy,
                              const std::string& whiteboardUrl,
                              const std::string& senderName) override;
    void didWhiteboardStopped(const KRMeeting& meeting,
                              const std::shared_ptr<KRMeetingUser>& stoppedBy) override;

    void didHostRequestToChangeAudioVideoState(const KRMeeting& meeting,
                                               const std::shared_ptr<KRMeetingUser>& host,
                                               AudioVideoState state) override;
    void didUserDeclineToChangeAudioVideoState(const KRMeeting& meeting,
                                               const std::shared_ptr<KRMeetingUser>& user,
                                               AudioVideoState state) override;
    void didHostEnableHardAudioMute(const KRMeeting& meeting,
                                    const std::shared_ptr<KRMeetingUser>& performer) override;
    void didHostDisableHardAudioMute(const KRMeeting& meeting,
                                     const std::shared_ptr<KRMeetingUser>& performer) override;
    void didHostEnableSoftAudioMute(const KRMeeting& meeting,
                                    const std::shared_ptr<KRMeetingUser>& performer) override;
    void didHostLowerAllHands(const KRMeeting& meeting,
                              const std::shared_ptr<KRMeetingUser>& performer) override;

    void didLocalUserFailedToJoinMeeting(const KRMeetingJoinError& error) override;
    void didErrorOccured(const KRMeetingError& error) override;

    /// "bob (uid 10002)", or "someone" for a report that names nobody.
    static std::string describe(const std::shared_ptr<KRMeetingUser>& user);
    static std::string describe(const KRUserLeftReason& reason);
    static std::string describe(const KRMeetingJoinError& error);

private:
    void print(const std::string& text) const;

    std::string name_;
    Printer print_;
};

}  // namespace kr::example
