#pragma once

#include <boost/json/value.hpp>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/ELKLoggingCredentials.h"
#include "KivRaneCoreSDK/Model/Response/KRVideoConfiguration.h"
#include "KivRaneCoreSDK/Model/Response/KRWebRtcAppId.h"
#include "KivRaneCoreSDK/Model/Response/Reactions.h"
#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// The service-wide settings of the configuration reply: media-engine app id, encoder
/// settings, polling interval, remote logging, feature flags and host-facing strings.
/// Plain value.
class KRConfiguration {
public:
    /// Fails when the value is not an object, "agoraAppID" is not a string, or "cloudLogging"
    /// is present and not an object. Every other key falls back to its default.
    static Result<KRConfiguration, JsonDecodingError> fromJson(const boost::json::value& v);

    const std::string& webRtcAppId() const noexcept { return webRtcAppId_; }
    /// 0.0 when absent; the facade then polls at its own default.
    double roomConnectionPollingTimeInSecs() const noexcept {
        return roomConnectionPollingTimeInSecs_;
    }
    /// The terms URL; absent when the text is empty or not a URL.
    std::optional<std::string> termsConditionUrl() const;

    const std::optional<KRVideoConfiguration>& videoConfiguration() const noexcept {
        return videoConfiguration_;
    }
    void setVideoConfiguration(std::optional<KRVideoConfiguration> value) {
        videoConfiguration_ = std::move(value);
    }
    const std::optional<KRVideoConfiguration>& lowQualityVideoConfiguration() const noexcept {
        return lowQualityVideoConfiguration_;
    }
    void setLowQualityVideoConfiguration(std::optional<KRVideoConfiguration> value) {
        lowQualityVideoConfiguration_ = std::move(value);
    }
    const std::optional<std::vector<KRWebRtcAppId>>& appIds() const noexcept { return appIds_; }
    void setAppIds(std::optional<std::vector<KRWebRtcAppId>> value) { appIds_ = std::move(value); }
    bool isGIFEnabled() const noexcept { return isGIFEnabled_; }
    void setIsGIFEnabled(bool value) noexcept { isGIFEnabled_ = value; }
    std::int64_t guestPartyJoiningLimit() const noexcept { return guestPartyJoiningLimit_; }
    void setGuestPartyJoiningLimit(std::int64_t value) noexcept { guestPartyJoiningLimit_ = value; }
    const std::optional<ELKLoggingCredentials>& elkLogginCredentials() const noexcept {
        return elkLogginCredentials_;
    }
    void setElkLogginCredentials(std::optional<ELKLoggingCredentials> value) {
        elkLogginCredentials_ = std::move(value);
    }
    bool mixPanelEventsEnabled() const noexcept { return mixPanelEventsEnabled_; }
    void setMixPanelEventsEnabled(bool value) noexcept { mixPanelEventsEnabled_ = value; }
    bool showNoInternetView() const noexcept { return showNoInternetView_; }
    void setShowNoInternetView(bool value) noexcept { showNoInternetView_ = value; }
    bool showSpeakingOnMuteView() const noexcept { return showSpeakingOnMuteView_; }
    void setShowSpeakingOnMuteView(bool value) noexcept { showSpeakingOnMuteView_ = value; }
    const std::optional<std::map<std::string, std::string>>& appStrings() const noexcept {
        return appStrings_;
    }
    void setAppStrings(std::optional<std::map<std::string, std::string>> value) {
        appStrings_ = std::move(value);
    }
    std::optional<bool> userActiveSpeakerCallback() const noexcept {
        return userActiveSpeakerCallback_;
    }
    void setUserActiveSpeakerCallback(std::optional<bool> value) noexcept {
        userActiveSpeakerCallback_ = value;
    }
    std::optional<bool> useLocalSpeakerSpeakingOnMuteCallback() const noexcept {
        return useLocalSpeakerSpeakingOnMuteCallback_;
    }
    void setUseLocalSpeakerSpeakingOnMuteCallback(std::optional<bool> value) noexcept {
        useLocalSpeakerSpeakingOnMuteCallback_ = value;
    }
    std::optional<std::int64_t> activeSpeakerCallbackInterval() const noexcept {
        return activeSpeakerCallbackInterval_;
    }
    void setActiveSpeakerCallbackInterval(std::optional<std::int64_t> value) noexcept {
        activeSpeakerCallbackInterval_ = value;
    }
    const std::optional<Reactions>& reactions() const noexcept { return reactions_; }
    void setReactions(std::optional<Reactions> value) { reactions_ = std::move(value); }

private:
    std::string termsConditionUrlString_;
    std::string webRtcAppId_;
    double roomConnectionPollingTimeInSecs_ = 0.0;
    std::optional<KRVideoConfiguration> videoConfiguration_;
    std::optional<KRVideoConfiguration> lowQualityVideoConfiguration_;
    std::optional<std::vector<KRWebRtcAppId>> appIds_;
    bool isGIFEnabled_ = false;
    std::int64_t guestPartyJoiningLimit_ = 4;
    std::optional<ELKLoggingCredentials> elkLogginCredentials_;
    bool mixPanelEventsEnabled_ = false;
    bool showNoInternetView_ = true;
    bool showSpeakingOnMuteView_ = true;
    std::optional<std::map<std::string, std::string>> appStrings_;
    std::optional<bool> userActiveSpeakerCallback_;
    std::optional<bool> useLocalSpeakerSpeakingOnMuteCallback_;
    std::optional<std::int64_t> activeSpeakerCallbackInterval_;
    std::optional<Reactions> reactions_;
};

}  // namespace kr
