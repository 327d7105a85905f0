#pragma once

#include <boost/json/value.hpp>
#include <optional>
#include <string_view>

#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"

namespace kr {

/// The media engine a room uses: the library's own ("agora") or the host's ("kr-media").
enum class KRRoomMediaEngine {
    agora,
    krmedia,
};

/// The case with this exact raw text ("agora", "kr-media"); nullopt for any other text.
std::optional<KRRoomMediaEngine> krRoomMediaEngineFromRaw(std::string_view raw);
std::string_view rawValue(KRRoomMediaEngine value) noexcept;
/// The raw value as a JSON string.
boost::json::value toJsonValue(KRRoomMediaEngine value);

/// Decodes from a JSON string holding a raw value; anything else is an error.
template <>
struct JsonValueDecoder<KRRoomMediaEngine> {
    static Result<KRRoomMediaEngine, JsonDecodingError> decode(const boost::json::value& v);
};

}  // namespace kr
