#include "KivRaneCoreSDK/Chat/Models/KRChatMessageAttachment.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<KRChatMessageAttachment, JsonDecodingError> KRChatMessageAttachment::fromJson(
    const boost::json::value& v) {
    const JsonObjectReader r(v);
    KRChatMessageAttachment a;
    a.fileId = r.lenient<std::string>("fileID", "");
    a.fileName = r.lenient<std::string>("fileName", "");
    a.fileSize = r.lenient<std::string>("fileSize", "");
    a.downloadUrl = r.lenient<std::string>("downloadURL", "");
    a.imageTrancodedURL = r.lenient<std::string>("imageTrancodedURL", "");
    a.streamingUrl = r.lenient<std::string>("streamingURL", "");
    a.documentUrl = r.lenient<std::string>("documentURL", "");
    return r.finish(std::move(a));
}

}  // namespace kr
