#include "KivRaneCoreSDK/Network/Requests/StartWhiteboardRequest.h"

#include <string>

namespace kr {

StartWhiteboardRequest::StartWhiteboardRequest(std::string_view kivraneId,
                                               std::string_view participantUri,
                                               std::string_view historyId, bool remote)
    : KRAPIRequest(remote ? KRAPIPath::startRemoteWhiteboard(std::string(kivraneId))
                          : KRAPIPath::startWhiteboard(std::string(kivraneId)),
                   remote ? KRHTTPMethod::get : KRHTTPMethod::post) {
    if (!remote) {
        requestParameters["participantUri"] = participantUri;
        requestParameters["historyId"] = historyId;
    }
}

}  // namespace kr
