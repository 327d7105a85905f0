#pragma once

#include <cstddef>
#include <string_view>

namespace kr {

/// Names shared by the messaging manager and the host app: the two process notifications of the
/// host bridge and the user-info keys they carry. The notification names are part of the host
/// contract (keep their spelling).
struct KRRtmConstants {
    /// Posted by the host app to have a raw text sent; user info "type", "message",
    /// "targetParticipantId".
    static constexpr std::string_view sendRtmFromExternalSource =
        "kr_send_rtm_message_from_external_source";
    /// Posted by the manager for every text that arrives; user info "message".
    static constexpr std::string_view rtmMessageRecieved = "kr_client_rtm_message_recieved";

    static constexpr std::string_view typeKey = "type";
    static constexpr std::string_view messageKey = "message";
    static constexpr std::string_view targetParticipantIdKey = "targetParticipantId";

    /// Module name of the manager's log records.
    static constexpr std::string_view loggerModule = "KivRaneRTM";

    /// Received texts longer than this are not decoded (the service's own cap on one message).
    static constexpr std::size_t maxIncomingTextBytes = 32 * 1024;
};

}  // namespace kr
