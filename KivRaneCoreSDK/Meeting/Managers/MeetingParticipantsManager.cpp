#include "KivRaneCoreSDK/Meeting/Managers/MeetingParticipantsManager.h"

#include <algorithm>

#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipantType.h"

namespace kr {

namespace {

void applyToUser(KRMeetingUser& user, const Participant& p, const RtcPeerMetaData& rtc) {
    user.setUserId(p.userId);
    user.setDisplayName(p.displayName);
    user.setIsHost(p.isHost);
    user.setIsCoHost(p.isCoHost);
    user.setIsSpeaker(!p.isAudience);
    user.setIsHandRaised(p.isHandRaised);
    user.setIsLoudest(p.isLoudestVolume);
    user.setIsSharingScreen(p.isSharingScreen);
    user.audioTrack()->setIsMuted(p.isAudioMuted);
    user.audioTrack()->setIsLoudest(p.isLoudestVolume);
    user.videoTrack()->setIsMuted(p.isVideoMuted);
    if (const auto canvas = rtc.getVideoCanvas()) {
        user.videoTrack()->setStreamView(canvas->getVideoStreamView());
    }
}

std::shared_ptr<KRMeetingUser> makeUser(const Participant& p, const RtcPeerMetaData& rtc) {
    // The tracks carry the id; everything else is the merged participant's, as on every update.
    auto user = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = p.id,
        .audioTrack = std::make_shared<KRAudioTrack>(p.id, p.isAudioMuted),
        .videoTrack = std::make_shared<KRVideoTrack>(p.id, p.isVideoMuted, nullptr)});
    applyToUser(*user, p, rtc);
    return user;
}

/// A separate object with the same values, for a hook that outlives the store's entry.
std::shared_ptr<KRMeetingUser> copyOf(const KRMeetingUser& user) {
    auto audio = std::make_shared<KRAudioTrack>(user.id(), user.audioTrack()->isMuted());
    audio->setIsLoudest(user.audioTrack()->isLoudest());
    audio->setIsHardAudioMuted(user.audioTrack()->isHardAudioMuted());
    auto video = std::make_shared<KRVideoTrack>(user.id(), user.videoTrack()->isMuted(),
                                                user.videoTrack()->streamView());
    auto copy = std::make_shared<KRMeetingUser>(KRMeetingUser::Parameters{
        .id = user.id(),
        .userId = user.userId(),
        .audioTrack = std::move(audio),
        .videoTrack = std::move(video),
        .displayName = user.displayName(),
        .isSpeaker = user.isSpeaker(),
        .isCoHost = user.isCoHost(),
        .isHandRaised = user.isHandRaised(),
        .isSharingScreen = user.isSharingScreen(),
        .isHost = user.isHost()});
    copy->setIsLoudest(user.isLoudest());
    copy->setIsHardAudioMuted(user.isHardAudioMuted());
    copy->setVideoStreamView(user.videoStreamView());
    return copy;
}

}  // namespace

std::shared_ptr<RtcPeerMetaData> MeetingParticipantsManager::peer(const std::string& id) const {
    for (const auto& p : rtcParticipants_) {
        if (p && p->id() == id) {
            return p;
        }
    }
    return nullptr;
}

const KRMeetingParticipant* MeetingParticipantsManager::record(const std::string& id) const {
    for (const auto& r : metaData_) {
        if (r.participantId == id) {
            return &r;
        }
    }
    return nullptr;
}

void MeetingParticipantsManager::storeRecord(const KRMeetingParticipant& data) {
    for (auto& r : metaData_) {
        if (r.participantId == data.participantId) {
            r = data;
            return;
        }
    }
    metaData_.push_back(data);
}

void MeetingParticipantsManager::merge(const KRMeetingParticipant& rec, const RtcPeerMetaData& rtc,
                                       bool sendEvent) {
    Participant merged(rec, rtc);
    const auto it = std::find_if(participants_.begin(), participants_.end(),
                                 [&](const Participant& p) { return p.id == merged.id; });
    std::shared_ptr<KRMeetingUser> user = getMeetingUser(merged.id);
    if (!user) {
        user = makeUser(merged, rtc);
        users_.push_back(user);
    } else {
        applyToUser(*user, merged, rtc);
    }
    if (it != participants_.end()) {
        const auto changes = merged.getDataUpdateType(*it);
        *it = merged;
        if (sendEvent && onUserDataUpdated) {
            const auto hook = onUserDataUpdated;
            for (const auto change : changes) {
                hook(user, change);
            }
        }
        return;
    }
    participants_.push_back(merged);
    if (sendEvent && onNewUserJoined) {
        const auto hook = onNewUserJoined;
        hook(user);
    }
}

void MeetingParticipantsManager::addNewParticipantRtcData(
    const std::shared_ptr<RtcPeerMetaData>& data) {
    if (!data) {
        return;
    }
    std::erase(departedIds_, data->id());
    std::erase_if(rtcParticipants_, [&](const auto& p) { return p && p->id() == data->id(); });
    rtcParticipants_.push_back(data);
    KRMeetingParticipant fallback;
    fallback.participantId = data->id();
    const KRMeetingParticipant* rec = record(data->id());
    merge(rec ? *rec : fallback, *data, true);
}

void MeetingParticipantsManager::upsertParticipantRtcMetaData(
    const std::shared_ptr<RtcPeerMetaData>& data) {
    if (!data || hasDeparted(data->id())) {
        return;
    }
    if (const auto existing = peer(data->id()); existing && existing != data) {
        std::replace(rtcParticipants_.begin(), rtcParticipants_.end(), existing, data);
    } else if (!existing) {
        rtcParticipants_.push_back(data);
    }
    KRMeetingParticipant fallback;
    fallback.participantId = data->id();
    const KRMeetingParticipant* rec = record(data->id());
    merge(rec ? *rec : fallback, *data, true);
}

void MeetingParticipantsManager::upsertParticipantMetaData(const KRMeetingParticipant& data,
                                                           RecordMerge how) {
    if (how.keepRecord) {
        storeRecord(data);  // kept even for one who left: the server's word on who a stream is
    }
    if (hasDeparted(data.participantId)) {
        return;
    }
    const auto rtc = peer(data.participantId);
    const RtcPeerMetaData empty;
    merge(data, rtc ? *rtc : empty, how.reportChanges);
}

void MeetingParticipantsManager::removeParticipantData(const std::string& participantId,
                                                       bool isMovedToAudience,
                                                       const KRUserLeftReason& reason) {
    if (isMovedToAudience) {
        moveParticipantToAudience(participantId);
        return;
    }
    const auto user = getMeetingUser(participantId);
    if (!user || participantId == currentParticipantId_) {
        return;
    }
    departedIds_.push_back(participantId);
    std::erase_if(participants_, [&](const Participant& p) { return p.id == participantId; });
    std::erase(users_, user);
    std::erase_if(rtcParticipants_, [&](const auto& p) { return p && p->id() == participantId; });
    std::erase_if(metaData_, [&](const auto& r) { return r.participantId == participantId; });
    if (loudestId_ == participantId) {
        loudestId_.reset();
    }
    if (onUserLeft) {
        const auto hook = onUserLeft;
        hook(copyOf(*user), reason);
    }
}

void MeetingParticipantsManager::moveParticipantToAudience(const std::string& participantId) {
    std::erase_if(rtcParticipants_, [&](const auto& p) { return p && p->id() == participantId; });
    const KRMeetingParticipant* rec = record(participantId);
    if (rec == nullptr) {
        return;
    }
    KRMeetingParticipant moved = *rec;
    moved.participantType = KRMeetingParticipantType::audience;
    upsertParticipantMetaData(moved, RecordMerge{});
}

void MeetingParticipantsManager::moveParticipantBackFromAudience(
    const std::shared_ptr<RtcPeerMetaData>& data) {
    if (!data) {
        return;
    }
    // The record stays the audience's until the service says otherwise, and the peer alone
    // would merge with it: only broadcasters join the channel, so the engine's word wins.
    for (auto& r : metaData_) {
        if (r.participantId == data->id()) {
            r.participantType = KRMeetingParticipantType::speaker;
        }
    }
    addNewParticipantRtcData(data);
}

void MeetingParticipantsManager::moveLocalParticipantBackFromAudience() {
    const KRMeetingParticipant* rec = record(currentParticipantId_);
    if (rec == nullptr) {
        return;
    }
    KRMeetingParticipant back = *rec;
    back.participantType = KRMeetingParticipantType::speaker;
    upsertParticipantMetaData(back, RecordMerge{});
}

void MeetingParticipantsManager::addScreenShareTrack(
    const std::shared_ptr<KRScreenShareTrack>& track) {
    if (!track) {
        return;
    }
    std::erase_if(screenShareTracks_, [&](const auto& t) { return t && t->id() == track->id(); });
    screenShareTracks_.push_back(track);
}

void MeetingParticipantsManager::removeScreenShareTrack(const std::string& owner) {
    std::erase_if(screenShareTracks_,
                  [&](const auto& t) { return t && t->sharingUserId() == owner; });
}

void MeetingParticipantsManager::removeScreenShareTrackWithId(const std::string& trackId) {
    std::erase_if(screenShareTracks_, [&](const auto& t) { return t && t->id() == trackId; });
}

std::vector<std::shared_ptr<KRScreenShareTrack>> MeetingParticipantsManager::getScreenShareTracks()
    const {
    return screenShareTracks_;
}

void MeetingParticipantsManager::setScreenShareTrackInfos(std::vector<KRScreenShareInfo> infos) {
    shareInfos_ = std::move(infos);
}

bool MeetingParticipantsManager::isSharingScreen(const std::string& participantId) const {
    if (participantId.empty()) {
        return false;
    }
    if (const auto user = getMeetingUser(participantId); user && user->isSharingScreen()) {
        return true;
    }
    return std::any_of(screenShareTracks_.begin(), screenShareTracks_.end(), [&](const auto& t) {
        return t && t->sharingUserId() == participantId;
    });
}

void MeetingParticipantsManager::clearAllData() {
    rtcParticipants_.clear();
    participants_.clear();
    users_.clear();
    metaData_.clear();
    screenShareTracks_.clear();
    shareInfos_.clear();
    loudestId_.reset();
    departedIds_.clear();
}

bool MeetingParticipantsManager::hasDeparted(const std::string& id) const {
    return std::find(departedIds_.begin(), departedIds_.end(), id) != departedIds_.end();
}

std::shared_ptr<KRMeetingUser> MeetingParticipantsManager::getMeetingUser(
    const std::string& id) const {
    for (const auto& user : users_) {
        if (user->id() == id) {
            return user;
        }
    }
    return nullptr;
}

std::shared_ptr<KRMeetingUser> MeetingParticipantsManager::getLocalUser() const {
    if (auto user = getMeetingUser(currentParticipantId_)) {
        return user;
    }
    return std::make_shared<KRMeetingUser>();
}

void MeetingParticipantsManager::setLoudestParticipant(
    const std::optional<std::string>& participantId) {
    if (loudestId_ == participantId) {
        return;
    }
    const auto previous = loudestId_;
    loudestId_ = participantId;
    for (const auto& id : {previous, participantId}) {
        if (!id) {
            continue;
        }
        if (const auto rtc = peer(*id)) {
            rtc->setIsLoudest(id == participantId);
            upsertParticipantRtcMetaData(rtc);
        }
    }
}

void MeetingParticipantsManager::lowerAllParticipantsHands() {
    const auto records = metaData_;
    for (auto rec : records) {
        if (rec.isHandRaise) {
            rec.isHandRaise = false;
            upsertParticipantMetaData(rec, RecordMerge{});
        }
    }
}

void MeetingParticipantsManager::changeRecord(const std::string& participantId,
                                              bool KRMeetingParticipant::*flag, bool value,
                                              RecordMerge how) {
    const KRMeetingParticipant* rec = record(participantId);
    if (rec == nullptr) {
        return;
    }
    KRMeetingParticipant copy = *rec;
    copy.*flag = value;
    upsertParticipantMetaData(copy, how);
}

void MeetingParticipantsManager::updateParticipantHandRaiseStatus(const std::string& participantId,
                                                                  bool isHandRaised,
                                                                  bool reportChange) {
    changeRecord(participantId, &KRMeetingParticipant::isHandRaise, isHandRaised,
                 {.reportChanges = reportChange});
}

void MeetingParticipantsManager::updateParticipantCoHostRight(const std::string& participantId,
                                                              bool isCoHost) {
    changeRecord(participantId, &KRMeetingParticipant::isCoHost, isCoHost, RecordMerge{});
}

void MeetingParticipantsManager::updateParticipantsHardMuteStatus(bool isHardMuted) {
    for (const auto& user : users_) {
        user->setIsHardAudioMuted(isHardMuted);
        user->audioTrack()->setIsHardAudioMuted(isHardMuted);
    }
}

}  // namespace kr
