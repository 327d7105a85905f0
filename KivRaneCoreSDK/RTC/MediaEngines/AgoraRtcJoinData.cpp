#include "KivRaneCoreSDK/RTC/MediaEngines/AgoraRtcJoinData.h"

#include <cstdint>
#include <memory>

#include "KivRaneCoreSDK/Common/Extensions/Conversions.h"
#include "platform/UI/Color.h"

namespace kr {

namespace {

std::string textAt(const boost::json::object& data, const char* key, std::string fallback) {
    const auto* value = data.if_contains(key);
    if (value && value->is_string()) {
        return std::string(value->get_string());
    }
    return fallback;
}

bool flagAt(const boost::json::object& data, const char* key) {
    const auto* value = data.if_contains(key);
    return value && value->is_bool() && value->get_bool();
}

std::optional<std::uint64_t> unsignedOf(const boost::json::value& value) {
    if (value.is_uint64()) {
        return value.get_uint64();
    }
    if (value.is_int64() && value.get_int64() >= 0) {
        return static_cast<std::uint64_t>(value.get_int64());
    }
    return std::nullopt;
}

}  // namespace

AgoraRtcJoinData AgoraRtcJoinData::read(const boost::json::object& data) {
    AgoraRtcJoinData out;
    out.channelId = textAt(data, kChannelId, "");
    out.userUid = textAt(data, kUserUid, "0");
    out.rtcToken = textAt(data, kRtcToken, "");
    out.rtmToken = textAt(data, kRtmToken, "");
    if (const auto* role = data.if_contains(kUserRole)) {
        out.role = roleFrom(*role);
    }
    if (const auto* background = data.if_contains(kVirtualBackground)) {
        out.virtualBackground = backgroundFrom(*background);
    }
    out.initialAudioOn = flagAt(data, kInitialAudioOn);
    out.initialVideoOn = flagAt(data, kInitialVideoOn);
    return out;
}

boost::json::object AgoraRtcJoinData::toObject() const {
    boost::json::object out;
    out[kChannelId] = channelId;
    out[kUserUid] = userUid;
    out[kRtcToken] = rtcToken;
    out[kRtmToken] = rtmToken;
    if (role) {
        out[kUserRole] = roleValue(*role);
    }
    out[kInitialAudioOn] = initialAudioOn;
    out[kInitialVideoOn] = initialVideoOn;
    if (virtualBackground) {
        out[kVirtualBackground] = backgroundValue(*virtualBackground);
    }
    return out;
}

std::string AgoraRtcJoinData::readAppId(const boost::json::object& data) {
    return textAt(data, kAppId, "");
}

bool AgoraRtcJoinData::audioOnAtJoin(bool requested, bool isHardMuteEnabled,
                                     const KRUserRole& role) {
    if (isHardMuteEnabled && role.kind() != KRUserRole::Kind::host) {
        return false;
    }
    return requested;
}

boost::json::value AgoraRtcJoinData::roleValue(const KRUserRole& role) {
    switch (role.kind()) {
        case KRUserRole::Kind::host:
            return "host";
        case KRUserRole::Kind::speaker:
            return "speaker";
        case KRUserRole::Kind::audience:
            return "audience";
    }
    return "speaker";
}

std::optional<KRUserRole> AgoraRtcJoinData::roleFrom(const boost::json::value& value) {
    if (!value.is_string()) {
        return std::nullopt;
    }
    const auto& text = value.get_string();
    if (text == "audience") {
        return KRUserRole::audience();
    }
    if (text == "speaker") {
        return KRUserRole::speaker();
    }
    if (text == "host") {
        // The host token never travels in the join dictionary; the engine only needs the case.
        return KRUserRole::host("");
    }
    return std::nullopt;
}

boost::json::value AgoraRtcJoinData::backgroundValue(const KRVirtualBackgroundType& background) {
    boost::json::object out;
    if (const auto* blur = background.ifBlur()) {
        out["type"] = "blur";
        out["intensity"] = rawValue(blur->intensity);
    } else if (const auto* image = background.ifImage()) {
        out["type"] = "image";
        out["path"] = image->path;
    } else if (const auto* color = background.ifColor()) {
        out["type"] = "color";
        out["rgb"] = hexa(*color->color);
    } else {
        out["type"] = "none";
    }
    return out;
}

std::optional<KRVirtualBackgroundType> AgoraRtcJoinData::backgroundFrom(
    const boost::json::value& value) {
    const auto* object = value.if_object();
    if (!object) {
        return std::nullopt;
    }
    const std::string type = textAt(*object, "type", "");
    if (type == "none") {
        return KRVirtualBackgroundType::none();
    }
    if (type == "image") {
        const auto* path = object->if_contains("path");
        if (path && path->is_string()) {
            return KRVirtualBackgroundType::image(std::string(path->get_string()));
        }
        return std::nullopt;
    }
    if (type == "blur") {
        const auto* raw = object->if_contains("intensity");
        const auto number = raw ? unsignedOf(*raw) : std::nullopt;
        const auto intensity =
            number ? krVirtualBackgroundBlurIntensityFromRaw(*number) : std::nullopt;
        if (intensity) {
            return KRVirtualBackgroundType::blur(*intensity);
        }
        return std::nullopt;
    }
    if (type == "color") {
        const auto* raw = object->if_contains("rgb");
        const auto rgb = raw ? unsignedOf(*raw) : std::nullopt;
        if (!rgb || *rgb > 0xFFFFFF) {
            return std::nullopt;
        }
        const auto component = [&](int shift) {
            // Centred in its step, so the colour's own 0xRRGGBB gives the same number back.
            return (static_cast<double>((*rgb >> shift) & 0xFF) + 0.5) / 255.0;
        };
        return KRVirtualBackgroundType::color(
            std::make_shared<platform::Color>(component(16), component(8), component(0)));
    }
    return std::nullopt;
}

}  // namespace kr
