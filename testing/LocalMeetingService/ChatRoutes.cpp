#include "testing/LocalMeetingService/ChatRoutes.h"

#include <string>

#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"

namespace kr::test {

std::vector<MeetingServiceEndpoint> chatFixedEndpoints() {
    using R = MeetingServiceRoute;
    return {
        {R::chatMainThread, "POST", "/api/chat/getThreadForChat/guest"},
        {R::chatPrivateThread, "POST", "/api/chat/thread"},
    };
}

std::vector<MeetingServiceEndpoint> chatThreadEndpoints(std::string_view threadId) {
    using R = MeetingServiceRoute;
    const std::string thread = "/api/chat/thread/" + percentEncodePathSegment(threadId);
    return {
        {R::chatThreadMessages, "GET", thread + "/messages"},
        {R::chatSendMessage, "POST", thread + "/messages"},
        {R::chatMarkRead, "POST", thread + "/messages/markread"},
        {R::chatMembers, "GET", thread + "/getsortedmembers/"},
    };
}

}  // namespace kr::test
