#pragma once

#include <string>
#include <string_view>

namespace kr {

/// Why a JSON reply could not be decoded. `key` is the path of the offending value inside the
/// document ("roomDetails.roomID", "participants[3].micStatus"); empty for the document itself.
/// Plain value; no threading concerns.
struct JsonDecodingError {
    std::string key;
    std::string message;

    /// "roomDetails.roomID: is missing", or "<root>: ..." for the document itself.
    std::string describe() const;

    /// The same error seen from a parent: `parentKey` is put in front of the path.
    JsonDecodingError under(std::string_view parentKey) const&;
    JsonDecodingError under(std::string_view parentKey) &&;

    /// Joins two path segments: "a" + "b" -> "a.b", "a" + "[2]" -> "a[2]", "" + "b" -> "b".
    static std::string joinPath(std::string_view parent, std::string_view child);

    friend bool operator==(const JsonDecodingError&, const JsonDecodingError&) = default;
};

}  // namespace kr
