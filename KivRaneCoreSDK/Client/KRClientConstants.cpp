#include "KivRaneCoreSDK/Client/KRClientConstants.h"

#include <array>

namespace kr {

namespace {
constexpr std::array kAll = {KRClientConstants::rtmMessageRecieved,
                             KRClientConstants::sendRtmFromExternalSource};
}  // namespace

std::string_view rawValue(KRClientConstants value) {
    switch (value) {
        case KRClientConstants::rtmMessageRecieved:
            return "kr_client_rtm_message_recieved";
        case KRClientConstants::sendRtmFromExternalSource:
            return "kr_send_rtm_message_from_external_source";
    }
    return {};
}

std::optional<KRClientConstants> krClientConstantsFromRaw(std::string_view raw) {
    for (auto value : kAll) {
        if (rawValue(value) == raw) {
            return value;
        }
    }
    return std::nullopt;
}

}  // namespace kr
