#pragma once

#include <string_view>

#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

namespace kr {

/// Fetches the server configuration for one client platform: a GET of "config" whose only
/// query item is "os_type", without a body.
/// A plain value: build it, send it once through the network client, read its outcome.
struct GetConfigurationRequest : KRAPIRequest<KRConfiguration> {
    explicit GetConfigurationRequest(std::string_view osType);
};

}  // namespace kr
