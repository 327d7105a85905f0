#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"

#include <cctype>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

namespace {

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

/// A URL reference in the strict sense: printable ASCII without the characters a URL may not
/// hold unescaped, and every "%" followed by two hex digits.
bool isUrlText(std::string_view text) {
    constexpr std::string_view kForbidden = " \"<>\\^`{|}";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c <= 0x20 || c >= 0x7F || kForbidden.find(text[i]) != std::string_view::npos) {
            return false;
        }
        if (text[i] == '%' &&
            (i + 2 >= text.size() || !isHexDigit(text[i + 1]) || !isHexDigit(text[i + 2]))) {
            return false;
        }
    }
    return true;
}

}  // namespace

Result<KRConfiguration, JsonDecodingError> KRConfiguration::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    KRConfiguration c;
    c.termsConditionUrlString_ = r.lenient<std::string>("termsConditionUrl", {});
    c.webRtcAppId_ = r.required<std::string>("agoraAppID");
    c.roomConnectionPollingTimeInSecs_ = r.lenient<double>("roomConnectionPollingTimeInSecs", 0.0);
    const JsonObjectReader bandwidth = r.lenientObject("agoraBandwidthConfig");
    c.videoConfiguration_ = bandwidth.lenientOptional<KRVideoConfiguration>("video");
    c.lowQualityVideoConfiguration_ =
        bandwidth.lenientOptional<KRVideoConfiguration>("lowQualityVideo");
    c.appIds_ = r.lenientOptional<std::vector<KRWebRtcAppId>>("agoraAppIdList");
    c.isGIFEnabled_ = r.lenient<bool>("isGIFEnabled", false);
    c.guestPartyJoiningLimit_ = r.lenient<std::int64_t>("guestPartyJoiningLimit", 4);
    c.elkLogginCredentials_ = r.optional<ELKLoggingCredentials>("cloudLogging");
    c.mixPanelEventsEnabled_ = r.lenient<bool>("mixPanelEventsEnabled", false);
    c.showNoInternetView_ = r.lenient<bool>("showNoInternetView", true);
    c.showSpeakingOnMuteView_ = r.lenient<bool>("showSpeakingOnMuteView", true);
    c.appStrings_ = r.lenientOptional<std::map<std::string, std::string>>("appstrings");
    c.userActiveSpeakerCallback_ = r.lenientOptional<bool>("userActiveSpeakerCallback");
    c.useLocalSpeakerSpeakingOnMuteCallback_ =
        r.lenientOptional<bool>("useLocalSpeakerSpeakingOnMuteCallback");
    c.activeSpeakerCallbackInterval_ =
        r.lenientOptional<std::int64_t>("activeSpeakerCallbackInterval");
    c.reactions_ = r.lenientOptional<Reactions>("reactions");
    return r.finish(std::move(c));
}

std::optional<std::string> KRConfiguration::termsConditionUrl() const {
    if (termsConditionUrlString_.empty() || !isUrlText(termsConditionUrlString_)) {
        return std::nullopt;
    }
    return termsConditionUrlString_;
}

}  // namespace kr
