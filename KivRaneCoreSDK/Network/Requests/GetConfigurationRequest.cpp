#include "KivRaneCoreSDK/Network/Requests/GetConfigurationRequest.h"

namespace kr {

GetConfigurationRequest::GetConfigurationRequest(std::string_view osType)
    : KRAPIRequest(KRAPIPath::getConfiguration(), KRHTTPMethod::get,
                   {{"os_type", boost::json::string(osType)}}) {}

}  // namespace kr
