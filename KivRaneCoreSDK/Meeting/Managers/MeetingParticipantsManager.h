#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeetingUser.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareInfo.h"
#include "KivRaneCoreSDK/Model/Meeting/KRScreenShareTrack.h"
#include "KivRaneCoreSDK/Model/Meeting/Participant.h"
#include "KivRaneCoreSDK/Model/Meeting/ParticipantUpdateType.h"
#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

namespace kr {

/// Merges the server's participant records with the media engine's peers on the room engine
/// backend: one `Participant` and one `KRMeetingUser` per id (the peer's id, else the record's
/// participant id). The engine decides the live media flags, the server everything else. Hooks
/// report new users, per-kind changes and leaves. Not thread-safe: used on the main queue.
class MeetingParticipantsManager {
public:
    std::function<void(const std::shared_ptr<KRMeetingUser>&)> onNewUserJoined;
    std::function<void(const std::shared_ptr<KRMeetingUser>&, ParticipantUpdateType)>
        onUserDataUpdated;
    /// Gets a copy of the user who left (the store's own object is gone by then) and why.
    std::function<void(const std::shared_ptr<KRMeetingUser>&, const KRUserLeftReason&)> onUserLeft;

    /// Adds (or replaces) an engine peer and merges it; a new user fires `onNewUserJoined`.
    /// Takes back a participant that had left.
    void addNewParticipantRtcData(const std::shared_ptr<RtcPeerMetaData>& data);
    /// Adds or updates an engine peer; every changed kind fires `onUserDataUpdated`.
    void upsertParticipantRtcMetaData(const std::shared_ptr<RtcPeerMetaData>& data);
    /// How a server record is merged: `keepRecord` first stores it among the server's records,
    /// `reportChanges` raises the hooks of what it changed.
    struct RecordMerge {
        bool reportChanges = true;
        bool keepRecord = true;
    };
    /// Merges a server record as `how` says.
    void upsertParticipantMetaData(const KRMeetingParticipant& data, RecordMerge how);
    /// With `isMovedToAudience` false: forgets the participant and fires `onUserLeft` with a copy;
    /// with true: the same as `moveParticipantToAudience`. Nothing for an unknown id, nor for the
    /// local participant (it leaves only with the meeting, through `clearAllData`). A forgotten
    /// participant stays out: later records and peer updates of it are dropped until the engine
    /// reports it joining again (`addNewParticipantRtcData`).
    void removeParticipantData(const std::string& participantId, bool isMovedToAudience,
                               const KRUserLeftReason& reason = KRUserLeftReason::leaveMeeting());
    /// Drops the participant's engine peer and marks its record audience (events sent).
    void moveParticipantToAudience(const std::string& participantId);
    /// The engine brought back a participant it had moved to the audience: its record becomes a
    /// speaker's and the peer is merged with it, as `addNewParticipantRtcData` does (events sent).
    void moveParticipantBackFromAudience(const std::shared_ptr<RtcPeerMetaData>& data);
    /// The meeting confirmed the local participant a speaker again: its record says so at once
    /// (events sent), as `moveParticipantToAudience` does for the other way.
    void moveLocalParticipantBackFromAudience();

    void addScreenShareTrack(const std::shared_ptr<KRScreenShareTrack>& track);
    void removeScreenShareTrack(const std::string& owner);
    /// Takes out the one share track with this id (a newer share of the same sharer stays).
    void removeScreenShareTrackWithId(const std::string& trackId);
    std::vector<std::shared_ptr<KRScreenShareTrack>> getScreenShareTracks() const;
    const std::vector<KRScreenShareInfo>& getScreenShareTrackInfos() const { return shareInfos_; }
    void setScreenShareTrackInfos(std::vector<KRScreenShareInfo> infos);
    /// Whether the participant shares its screen, by its server record or by a share track the
    /// engine brought for it.
    bool isSharingScreen(const std::string& participantId) const;

    /// Empties every list (the local participant id stays).
    void clearAllData();

    std::vector<std::shared_ptr<KRMeetingUser>> getAllMeetingUser() const { return users_; }
    std::shared_ptr<KRMeetingUser> getMeetingUser(const std::string& id) const;
    /// Whether the server's records of the merge hold one with this participant id.
    bool hasRecord(const std::string& id) const { return record(id) != nullptr; }
    /// The user with the local id, or a fresh empty user.
    std::shared_ptr<KRMeetingUser> getLocalUser() const;
    void setCurrentParticipantId(std::string id) { currentParticipantId_ = std::move(id); }
    const std::string& getCurrentParticipantId() const { return currentParticipantId_; }

    /// Marks this participant loudest (none: nobody) and clears the previous one.
    void setLoudestParticipant(const std::optional<std::string>& participantId);
    void lowerAllParticipantsHands();
    /// Without `reportChange`, the hand changes with no hook raised (its caller tells the host).
    void updateParticipantHandRaiseStatus(const std::string& participantId, bool isHandRaised,
                                          bool reportChange = true);
    void updateParticipantCoHostRight(const std::string& participantId, bool isCoHost);
    void updateParticipantsHardMuteStatus(bool isHardMuted);

    const std::vector<std::shared_ptr<RtcPeerMetaData>>& rtcParticipants() const {
        return rtcParticipants_;
    }
    const std::vector<Participant>& participants() const { return participants_; }
    const std::vector<KRMeetingParticipant>& metaData() const { return metaData_; }

private:
    std::shared_ptr<RtcPeerMetaData> peer(const std::string& id) const;
    const KRMeetingParticipant* record(const std::string& id) const;
    bool hasDeparted(const std::string& id) const;
    /// Merges `record` and `rtc` and stores the result; fires hooks when `sendEvent`.
    void merge(const KRMeetingParticipant& record, const RtcPeerMetaData& rtc, bool sendEvent);
    void storeRecord(const KRMeetingParticipant& data);
    /// Sets one flag of the participant's stored record and merges it as `how` says; nothing
    /// for a participant without a record.
    void changeRecord(const std::string& participantId, bool KRMeetingParticipant::*flag,
                      bool value, RecordMerge how);

    std::vector<std::shared_ptr<RtcPeerMetaData>> rtcParticipants_;
    std::vector<Participant> participants_;
    std::vector<std::shared_ptr<KRMeetingUser>> users_;
    std::vector<KRMeetingParticipant> metaData_;
    std::vector<std::shared_ptr<KRScreenShareTrack>> screenShareTracks_;
    std::vector<KRScreenShareInfo> shareInfos_;
    std::string currentParticipantId_;
    std::optional<std::string> loudestId_;
    /// Participants that left: the status poll, the room socket and the engine each report a
    /// leave, and a report sent before it (a poll reply, a mute) may arrive after it.
    std::vector<std::string> departedIds_;
};

}  // namespace kr
