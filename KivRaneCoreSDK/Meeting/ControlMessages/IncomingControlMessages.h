#pragma once

#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Meeting/ControlMessages/ControlMessageTable.h"
#include "KivRaneCoreSDK/Meeting/MeetingEvents.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

class KRCurrentRoom;
class MeetingParticipantsManager;

/// The control messages that arrive from the others, on either backend: which of them a backend
/// honours and from whom (the table, `rows()`), the sender's authority checked once, and the
/// handlers that change the meeting and tell the host app. It owns no meeting state: it reaches
/// the meeting through `Meeting`, which the client core implements.
///
/// Threading: confined to the client's queue, like the core that owns it.
class IncomingControlMessages {
public:
    /// What the handlers may ask of the meeting and tell it.
    class Meeting {
    public:
        virtual ~Meeting() = default;

        // ---- Asked ----

        /// The room store and the participant merge (the room engine backend's participants).
        virtual KRCurrentRoom& currentRoom() = 0;
        virtual MeetingParticipantsManager& meetingUsersManager() = 0;
        /// The participant the id names among the meeting's tracks (lock, recording and mute
        /// performers), or null.
        virtual std::shared_ptr<KRMeetingUser> userById(const std::string& id) const = 0;
        /// The participant the id names where the meeting's backend keeps them, or null.
        virtual std::shared_ptr<KRMeetingUser> getUser(const std::string& id) const = 0;
        virtual std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const = 0;
        virtual KRMeeting getCurrentMeetingData() const = 0;

        // ---- Told: the meeting's own operations ----

        virtual void muteLocalAudio(bool isMute) = 0;
        virtual void leaveMeeting(KRUserLeftReason reason) = 0;
        virtual void startWhitebboard(bool remote, const std::string& userName,
                                      const std::string& userId) = 0;
        virtual void stopWhiteboard() = 0;
        /// Ends the local screen share (when there is one), telling the extension why.
        virtual void postForceStopScreenShareDarwinNotification(const std::string& reason) = 0;
        /// The meeting's media backend takes the local user to the audience or back.
        virtual void switchClientRole(bool isAudience) = 0;
        /// The room's engine takes a host's move of the local user (nothing without an engine).
        virtual void takeHostRoleMove(bool isAudience) = 0;
        /// The meeting's media backend hears that someone started sharing: a stream it shows as
        /// a participant, because the service could not say what it was, may be that share.
        virtual void remoteShareAnnounced() = 0;
        /// The room's lock, recording and whiteboard: the store first, the report only when the
        /// state changed.
        virtual void changeMeetingLock(bool locked, const std::optional<std::string>& by) = 0;
        virtual void changeRecording(bool on, const std::optional<std::string>& by) = 0;
        virtual void closeWhiteboard(const std::optional<std::string>& by) = 0;
        /// A participant's hand as her own message or a host's command sets it, before the list
        /// shows it: status news the service composed before must not take it back.
        virtual void holdAnnouncedHand(const std::shared_ptr<KRMeetingUser>& user) = 0;
        /// A host lowered every hand: the local one goes down too, also at the service.
        virtual void lowerLocalHandForHost() = 0;

        // ---- Told: reports to the host app ----

        virtual void sendHostRequestToStartAudioVideoEvent(
            const std::shared_ptr<KRMeetingUser>& host, bool isAudioRequest) = 0;
        virtual void sendHostRequestToStopAudioVideoEvent(
            const std::shared_ptr<KRMeetingUser>& host, bool isAudioRequest) = 0;
        virtual void sendStartAudioVideoDeclineEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                     bool isAudioDecline) = 0;
        virtual void sendHardMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer) = 0;
        virtual void sendHardMuteDisabledEvent(
            const std::shared_ptr<KRMeetingUser>& performer) = 0;
        virtual void sendSoftAudioMuteEnabledEvent(const std::shared_ptr<KRMeetingUser>& performer,
                                                   MeetingEvents::Reach reach) = 0;
        virtual void sendHostLoweredAllHandsEvent(
            const std::shared_ptr<KRMeetingUser>& performer) = 0;
        virtual void sendCoHostRightsChangedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                                  bool isCoHost,
                                                  const std::string& targetParticipantId,
                                                  MeetingEvents::Reach reach) = 0;
        virtual void sendReactionReceivedEvent(const std::shared_ptr<KRMeetingUser>& user,
                                               const std::string& reactionsType) = 0;
        /// A message dropped, and why.
        virtual void warn(const std::string& text) = 0;
    };

    explicit IncomingControlMessages(std::unique_ptr<Meeting> meeting);
    IncomingControlMessages(const IncomingControlMessages&) = delete;
    IncomingControlMessages& operator=(const IncomingControlMessages&) = delete;

    /// One message as `backend` delivered it on `route`: a peer message must name the local
    /// participant as that backend knows it; then the message's row gives the backend's rule, the
    /// sender's authority is checked against the server's record, and the handler runs.
    void handleControlMessage(MediaBackend::Kind backend, ControlMessageRoute route,
                              const KRRtmMessage& message);
    /// A command of the room channel this client sent and the service carried out: the meeting
    /// takes it as the others do, from the local participant, where `backend` honours it.
    void applyOwnCommand(MediaBackend::Kind backend, KRRtmMessageEvent event);

    /// Every control message the client honours on some backend, one row per event and route (the
    /// table is in ControlMessageTable.cpp). An event not listed on a route (a channel event
    /// arriving from one peer, a reserved or unknown event) does nothing.
    static std::span<const ControlMessageRow> rows();
    static const ControlMessageRow* find(ControlMessageRoute route, KRRtmMessageEvent event);

private:
    /// The local participant's id as `backend` knows it; empty before the join set it.
    const std::string& localParticipantId(MediaBackend::Kind backend);
    /// True (and logged) when the server's record, as this backend holds it, lists the sender as
    /// neither host nor co-host.
    bool isFromKnownNonHost(MediaBackend::Kind backend, const KRRtmMessage& message);

    /// What a soft mute does on either backend: the room's flag and the local microphone; gives
    /// the user who asked for it.
    std::shared_ptr<KRMeetingUser> applySoftMute(const KRRtmMessage& message);

    // Handlers both backends share.
    void onRecordingMessage(const KRRtmMessage& message);
    void onMeetingLockMessage(const KRRtmMessage& message);
    void onWhiteboardStopMessage(const KRRtmMessage& message);
    void onAudioVideoRequestMessage(const KRRtmMessage& message);
    void onAudioVideoDeclineMessage(const KRRtmMessage& message);
    void onRemovalMessage(const KRRtmMessage& message);
    void onRemoteShareAnnounced(const KRRtmMessage& message);
    // Handlers of the default backend: the room store holds the participants.
    void onHardMuteInRoomStore(const KRRtmMessage& message);
    void onHardUnmuteInRoomStore(const KRRtmMessage& message);
    void onSoftMuteToEveryDelegate(const KRRtmMessage& message);
    void onLowerAllHandsInRoomStore(const KRRtmMessage& message);
    void onHandInRoomStore(const KRRtmMessage& message);
    /// Closes the whiteboard the local user shares, then as `onRemoteShareAnnounced`.
    void onRemoteShareStopsLocalWhiteboard(const KRRtmMessage& message);
    void onCoHostRightToEveryDelegate(const KRRtmMessage& message);
    void onWhiteboardStartStopsLocalShare(const KRRtmMessage& message);
    void onReaction(const KRRtmMessage& message);
    void onStopShareOrWhiteboard(const KRRtmMessage& message);
    void onRoleInDefaultEngine(const KRRtmMessage& message);
    // Handlers of the room engine backend: the participant merge holds the participants.
    void onHardMuteInMerge(const KRRtmMessage& message);
    void onHardUnmuteInMerge(const KRRtmMessage& message);
    void onSoftMuteToMainDelegate(const KRRtmMessage& message);
    void onLowerAllHandsInMerge(const KRRtmMessage& message);
    void onHandInMerge(const KRRtmMessage& message);
    void onCoHostRightInMerge(const KRRtmMessage& message);
    void onWhiteboardStartOverridesShare(const KRRtmMessage& message);
    void onForceStopShare(const KRRtmMessage& message);
    void onRoleInRoomEngine(const KRRtmMessage& message);

    platform::SequenceChecker checker_;
    std::unique_ptr<Meeting> meeting_;
};

}  // namespace kr
