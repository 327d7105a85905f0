#include "KivRaneCoreSDK/Network/Utils/ReachabilityFlags.h"

namespace kr {

std::string ReachabilityFlags::description() const {
    std::string text;
    text.reserve(10);
    text += has(isWWAN) ? 'W' : '-';
    text += has(reachable) ? 'R' : '-';
    text += ' ';
    text += has(connectionRequired) ? 'c' : '-';
    text += has(transientConnection) ? 't' : '-';
    text += has(interventionRequired) ? 'i' : '-';
    text += has(connectionOnTraffic) ? 'C' : '-';
    text += has(connectionOnDemand) ? 'D' : '-';
    text += has(isLocalAddress) ? 'l' : '-';
    text += has(isDirect) ? 'd' : '-';
    return text;
}

}  // namespace kr
