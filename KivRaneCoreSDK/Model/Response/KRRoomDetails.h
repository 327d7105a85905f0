#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Model/Response/KRRoomMediaEngine.h"
#include "KivRaneCoreSDK/Model/Response/KRUser.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// Reply of the room details request: credentials, room id, title, owner, participant limit,
/// media engine and the room's mute-on-join rules. Plain value.
class KRRoomDetails {
public:
    /// Fails when the value is not an object, "roomDetails" is not an object, or "roomID"
    /// inside it is not a string. Every other key falls back to its default.
    static Result<KRRoomDetails, JsonDecodingError> fromJson(const boost::json::value& v);

    const std::string& rtcToken() const noexcept { return rtcToken_; }
    /// "agoraUid" as text: a non-negative whole number in decimal, or a string unchanged.
    const std::string& rtcUID() const noexcept { return rtcUID_; }
    const std::string& rtcRTMToken() const noexcept { return rtcRTMToken_; }
    const std::string& roomID() const noexcept { return roomID_; }

    const std::string& topic() const noexcept { return topic_; }
    void setTopic(std::string value) { topic_ = std::move(value); }
    const std::string& userId() const noexcept { return userId_; }
    void setUserId(std::string value) { userId_ = std::move(value); }
    std::int64_t speakerCount() const noexcept { return speakerCount_; }
    void setSpeakerCount(std::int64_t value) noexcept { speakerCount_ = value; }
    /// The room's participant limit; 0 when the reply did not carry one.
    std::int64_t maxParticipants() const noexcept { return maxParticipants_.value_or(0); }
    void setMaxParticipants(std::int64_t value) noexcept { maxParticipants_ = value; }
    /// Whether the reply carried a usable "agoraMaxParticipants" (or one was set since). A
    /// missing limit is not a limit of 0: without it no join should be refused for being full.
    bool hasMaxParticipants() const noexcept { return maxParticipants_.has_value(); }
    KRRoomMediaEngine mediaEngine() const noexcept { return mediaEngine_; }
    void setMediaEngine(KRRoomMediaEngine value) noexcept { mediaEngine_ = value; }
    const std::optional<KRUser>& ownerDetails() const noexcept { return ownerDetails_; }
    void setOwnerDetails(std::optional<KRUser> value) { ownerDetails_ = std::move(value); }
    std::optional<bool> isWatermarkEnabled() const noexcept { return isWatermarkEnabled_; }
    void setIsWatermarkEnabled(std::optional<bool> value) noexcept { isWatermarkEnabled_ = value; }
    bool isHardAudioMute() const noexcept { return isHardAudioMute_; }
    void setIsHardAudioMute(bool value) noexcept { isHardAudioMute_ = value; }
    bool isParticipantAudioEnabledoOnJoin() const noexcept {
        return isParticipantAudioEnabledoOnJoin_;
    }
    void setIsParticipantAudioEnabledoOnJoin(bool value) noexcept {
        isParticipantAudioEnabledoOnJoin_ = value;
    }
    bool isParticipantVideoEnabledoOnJoin() const noexcept {
        return isParticipantVideoEnabledoOnJoin_;
    }
    void setIsParticipantVideoEnabledoOnJoin(bool value) noexcept {
        isParticipantVideoEnabledoOnJoin_ = value;
    }

private:
    std::string rtcToken_;
    std::string rtcUID_;
    std::string rtcRTMToken_;
    std::string roomID_;
    std::string topic_;
    std::string userId_;
    std::int64_t speakerCount_ = 0;
    std::optional<std::int64_t> maxParticipants_;
    KRRoomMediaEngine mediaEngine_ = KRRoomMediaEngine::agora;
    std::optional<KRUser> ownerDetails_;
    std::optional<bool> isWatermarkEnabled_;
    bool isHardAudioMute_ = false;
    bool isParticipantAudioEnabledoOnJoin_ = false;
    bool isParticipantVideoEnabledoOnJoin_ = false;
};

}  // namespace kr
