#include "KivRaneCoreSDK/Chat/Requests/SendChatMessageRequest.h"

#include <boost/json/array.hpp>
#include <string>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"

namespace kr {

SendChatMessageRequest::SendChatMessageRequest(
    std::string_view threadID, std::string_view kivraneId, std::string_view messageText,
    const std::optional<KRSendAttachmentInfo>& attachment)
    : KRAPIRequest(KRAPIPath::sendChatMessage(std::string(threadID)), KRHTTPMethod::post) {
    boost::json::array attachments;
    if (attachment) {
        const std::string url = JsonEncoding::toValidUtf8(attachment->fileURL);
        boost::json::object file;
        file["fileID"] = JsonEncoding::toValidUtf8(attachment->fileID);
        file["fileSize"] = JsonEncoding::toValidUtf8(attachment->fileSize);
        file["fileName"] = JsonEncoding::toValidUtf8(attachment->fileName);
        file["documentURL"] = url;
        file["downloadURL"] = url;
        file["imageTrancodedURL"] = url;
        attachments.push_back(std::move(file));
    }
    boost::json::object content;
    content["text"] = JsonEncoding::toValidUtf8(messageText);
    content["attachments"] = std::move(attachments);
    requestParameters["messageComponent"] = std::move(content);
    requestParameters["kivraneId"] = JsonEncoding::toValidUtf8(kivraneId);
}

}  // namespace kr
