#pragma once

#include <string>
#include <utility>

namespace kr {

/// The one already-uploaded file attached to a message being sent. The send request writes its
/// single address under "documentURL", "downloadURL" and "imageTrancodedURL". Plain value; no
/// checks: empty texts are sent as they are.
struct KRSendAttachmentInfo {
    KRSendAttachmentInfo(std::string fileIDText, std::string fileNameText,
                         std::string fileSizeText, std::string fileURLText)
        : fileID(std::move(fileIDText)),
          fileName(std::move(fileNameText)),
          fileSize(std::move(fileSizeText)),
          fileURL(std::move(fileURLText)) {}

    std::string fileID;
    std::string fileName;
    std::string fileSize;
    std::string fileURL;
};

}  // namespace kr
