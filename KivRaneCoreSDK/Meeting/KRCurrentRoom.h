#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomMediaEngine.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMediaTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareInfo.h"
#include "platform/UI/View.h"

namespace kr {

/// What the media engine says about one of its participants, as the room store reads it. The
/// engine wrapper's participant record converts into this.
struct KRRtcParticipantState {
    std::uint64_t uid = 0;
    bool isAudioMuted = false;
    bool isVideoMuted = false;
    bool isLoudest = false;
    bool isAudience = false;
    std::shared_ptr<platform::View> view;
};

/// The state of the meeting on the default backend: ids, media credentials, the local user's flags,
/// screen-share, whiteboard, recording and lock state, the server's participant records and the
/// media tracks (participants and at most one screen share, first). One per client, for its whole
/// life. Not thread-safe: used on the main queue.
class KRCurrentRoom {
public:
    // Meeting and local user
    std::string meetingId;
    std::string meetingPin;
    std::string roomID;  ///< also names the messaging channel
    std::string userDisplayName;
    std::string guestUserId;   ///< the local user's id on the service (guest or signed in)
    std::string userWebRtcId;  ///< the local engine uid as decimal text
    std::string userWebRtcToken;
    std::string userWebRtmToken;
    std::string webRtcAppId;
    KRRoomMediaEngine mediaEngine = KRRoomMediaEngine::agora;
    std::string meetingOwnerUserId;
    std::string meetingOwnerName;
    std::string meetingTitle;
    std::string historyId;
    bool isGuestHost = false;  ///< the guest login said the local guest is the host

    // Room rules and state
    bool isHardMuteEnabled = false;
    bool isSoftMuteEnabled = false;
    bool isAudioOnJoinAllowed = true;
    bool isVideoOnJoinAllowed = true;
    bool isMeetingLocked = false;
    bool isRecordingOn = false;
    bool isWhiteboardShared = false;
    bool isLocalUserSharingWhiteboard = false;
    std::string whiteboardSharingId;  ///< participant id of the whiteboard's sharer
    std::string whiteboardShareBy;    ///< display name of the whiteboard's sharer
    std::string whiteboardId;
    std::string whiteboardToken;

    // Local user's flags
    bool isCurrentUserAudioMuted = false;
    bool isCurrentUserVideoMuted = false;
    bool isCurrentUserInAudienceMode = false;
    bool isCurrentUserHandRaised = false;

    // Screen share
    std::vector<KRScreenShareInfo> screenShareMetaData;  ///< newest first

    // Participants
    std::vector<std::shared_ptr<KRMediaTrack>> allMediaTracks;
    std::vector<KRMeetingParticipant> allParticipants;
    std::vector<std::string> offlineParticipantsIds;
    std::vector<KRMeetingParticipant> offlineParticipants;

    // Hooks the facade sets so that the host app's participant panel hears of changes. The store
    // calls them itself, where its records change.
    std::function<void(const KRMeetingParticipant&)> onMeetingParticipantRemoved;
    std::function<void(const KRMeetingParticipant&)> onMeetingParticipantUpdate;
    std::function<void(const std::vector<KRMeetingParticipant>&)> onMeetingParticipantsRefreshed;
    /// A user of the store shows another hand, whatever changed it (a message, a push or a
    /// reply): the one place its change is told, once. A host's lower-all is told by its own
    /// report instead.
    std::function<void(const std::shared_ptr<KRMeetingUser>&)> onHandChanged;
    /// The same for a user's role, a speaker's or the audience's (with the default engine only
    /// the engine moves it: records carry the role the store shows).
    std::function<void(const std::shared_ptr<KRMeetingUser>&)> onRoleChanged;

    /// Empties the media tracks; everything else keeps its value.
    void removeAllData();

    /// Clears what belongs to one meeting (lock, recording, mute rules, whiteboard, screen share,
    /// participants and offline lists, the local flags, history id, owner, title, media engine)
    /// so a new join starts clean. Ids and credentials stay: the settings may have given them.
    void resetMeetingState();
    /// The local user's role and the microphone and camera it joins with.
    void setStartingMedia(bool audience, bool audioOn, bool videoOn);

    /// Removes the tracks with this id, marks the id offline, moves its server record to the
    /// offline records, then tells the whole-list hook.
    void removeMediaTrack(const std::string& id);
    /// Removes the tracks with this id and nothing else: a share's, or a stand-in's that turned
    /// out to be one, whose id names no participant who left.
    void removeTracksOnly(const std::string& id);

    /// Creates or updates the participant the engine reports, and returns it. Its name and role
    /// come from the server record of that id (offline records first, then the current ones).
    std::shared_ptr<KRMeetingUser> upsertNewParticipantFromRtcDB(
        const KRRtcParticipantState& participant);

    /// Creates or updates the participant of a server record; nothing (and null) when its id is
    /// offline. An empty server name keeps the old one.
    std::shared_ptr<KRMeetingUser> upsertNewParticipantFromKivDB(
        const KRMeetingParticipant& participant);

    /// Sets the user's hand; tells `onHandChanged` when the list shows another one.
    void changeHand(const std::shared_ptr<KRMeetingUser>& user, bool raised);
    /// Sets the user's role; tells `onRoleChanged` when the list shows another one.
    void changeRole(const std::shared_ptr<KRMeetingUser>& user, bool isSpeaker);

    /// Whether a change of the records is told to the upsert hook.
    enum class PanelNotice { tell, silent };
    /// Replaces every server record with the same participant id, or appends the record; then
    /// tells the upsert hook unless `notice` says not to.
    void updateParticipantsList(const KRMeetingParticipant& participant,
                                PanelNotice notice = PanelNotice::tell);

    /// The service says the user with this login left: the first server record with that user id
    /// goes to the removed hook and is returned. The records stay as they are until the service
    /// next says who is there. Nothing (and no record) when none matches.
    std::optional<KRMeetingParticipant> reportUserLeft(const std::string& userId);

    /// The meeting's lock, its recording and the open whiteboard. Each returns whether the state
    /// changed, so that whoever changed it reports the change exactly once.
    bool applyMeetingLocked(bool locked);
    /// A word on the recording (a control message, the room socket's frame, the client's own start
    /// or stop once the service took it) moves `recordingWords()`, changed or not. A status
    /// reply's state, given with the count its question was asked at, changes nothing when a word
    /// came since (the reply may predate it) and moves nothing, so that crossing polls do not set
    /// each other aside.
    bool applyRecordingOn(bool on, std::optional<std::uint64_t> replyAskedAtWords = std::nullopt);
    /// Moves on with every word on the recording and every new meeting.
    std::uint64_t recordingWords() const { return recordingWords_; }
    /// Nobody shares the whiteboard any more, the local user included: the sharer's fields and
    /// the board's access are cleared rather than left naming someone or a closed board (the
    /// next board's start brings its own). False when none was open.
    bool applyWhiteboardStopped();
    /// Moves on with every stop of the whiteboard (open or not yet) and every new meeting. News
    /// of a board learnt before it moved may be of a board that is gone: it opens nothing.
    std::uint64_t whiteboardStops() const { return whiteboardStops_; }
    /// Numbers a question for a board's access. Answers may come in another order than asked.
    std::uint64_t askWhiteboardAccess() { return ++whiteboardAccessAsked_; }
    /// The answer to access question `asked` is taken for the board; false, taking nothing, when
    /// the remote board `alreadyOpen` came with the answer to a later question: the service may
    /// have closed the board this one names since.
    bool takeWhiteboardAccess(std::uint64_t asked, bool alreadyOpen);

    /// True when a screen-share track of the local participant is in the track list.
    bool isLocalUserSharingScreen() const;

    /// The first participant (screen shares skipped) with the local id, or a fresh empty one.
    std::shared_ptr<KRMeetingUser> getLocalUser() const;

    /// The first track with this id when it is a participant; null otherwise (also when the
    /// first match is a screen share).
    std::shared_ptr<KRMeetingUser> trackUser(const std::string& id) const;

    /// The first participant with this id, other kinds of track skipped.
    std::shared_ptr<KRMeetingUser> matchingUser(const std::string& id) const;

    /// The participants among the tracks, in list order.
    std::vector<std::shared_ptr<KRMeetingUser>> meetingUsers() const;

private:
    std::uint64_t whiteboardStops_ = 0;
    std::uint64_t whiteboardAccessAsked_ = 0;
    std::uint64_t whiteboardAccessTaken_ = 0;  ///< the question the shown board's access answered
    std::uint64_t recordingWords_ = 0;
};

}  // namespace kr
