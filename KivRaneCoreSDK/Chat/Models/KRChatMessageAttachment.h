#pragma once

#include <boost/json/value.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonDecodingError.h"
#include "platform/Common/Result.h"

namespace kr {

/// One uploaded file carried by a received chat message. The wire keys differ from the field
/// names in the case of "ID" and "URL"; "imageTrancodedURL" is spelled as the service spells it.
/// Plain value.
struct KRChatMessageAttachment {
    std::string fileId;             // "fileID"
    std::string fileName;           // "fileName"
    std::string fileSize;           // "fileSize" (text; a JSON number gives "")
    std::string downloadUrl;        // "downloadURL"
    std::string imageTrancodedURL;  // "imageTrancodedURL"
    std::string streamingUrl;       // "streamingURL"
    std::string documentUrl;        // "documentURL"

    /// The attachment's identity: its file id.
    const std::string& id() const noexcept { return fileId; }

    /// Every key is lenient; fails only when the value is not an object.
    static Result<KRChatMessageAttachment, JsonDecodingError> fromJson(const boost::json::value& v);
};

}  // namespace kr
