#include "KivRaneCoreSDK/Meeting/KRClientConstants.h"

#include <array>

#include "KivRaneCoreSDK/RTM/Constants/KRRtmConstants.h"

namespace kr {

namespace {
constexpr std::array kAll = {KRClientConstants::rtmMessageRecieved,
                             KRClientConstants::sendRtmFromExternalSource};
}  // namespace

std::string_view rawValue(KRClientConstants value) {
    switch (value) {
        case KRClientConstants::rtmMessageRecieved:
            return KRRtmConstants::rtmMessageRecieved;
        case KRClientConstants::sendRtmFromExternalSource:
            return KRRtmConstants::sendRtmFromExternalSource;
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
