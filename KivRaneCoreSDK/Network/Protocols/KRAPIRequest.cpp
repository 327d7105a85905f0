#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"

namespace kr {

namespace {

constexpr auto kRequestTimeout = std::chrono::seconds(60);

bool isUnreserved(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

}  // namespace

std::string percentEncodeQueryComponent(std::string_view text) {
    return percentEncode(text, isUnreserved);
}

std::string queryValueText(const boost::json::value& value) {
    if (const boost::json::string* text = value.if_string()) {
        return std::string(*text);
    }
    // Numbers and booleans are spelled as in JSON: decimal integers, shortest round-trip doubles.
    return serializeJson(value);
}

Result<platform::HttpRequest, KRApiRequestError> buildUrlRequest(
    const KRAPIPath& path, KRHTTPMethod method, const boost::json::object& queryParameters,
    const boost::json::object& requestParameters, KRApiServer serverEnvironment,
    std::string_view deviceID, std::string_view jwtToken, bool isGuestUser) {
    // A header value that could end the header line early would let a value smuggle in
    // headers or a body of its own: refuse to build such a request at all.
    if (!platform::HttpTransport::isSafeHeaderValue(deviceID) ||
        !platform::HttpTransport::isSafeHeaderValue(jwtToken)) {
        return Failure{KRApiRequestError::invalidUrlRequest()};
    }

    platform::HttpRequest request;
    request.url = getUrlValue(KRApiServerScheme::https);
    request.url += rawValue(serverEnvironment);
    request.url += "/api/";
    request.url += path.getUrlPath(isGuestUser);
    if (!queryParameters.empty()) {
        char separator = '?';
        for (const auto& item : queryParameters) {
            request.url.push_back(separator);
            separator = '&';
            request.url += percentEncodeQueryComponent(item.key());
            request.url.push_back('=');
            request.url += percentEncodeQueryComponent(queryValueText(item.value()));
        }
    }
    request.method = std::string(rawValue(method));
    request.timeout = kRequestTimeout;

    if (method == KRHTTPMethod::post && !requestParameters.empty()) {
        std::string body = serializeJson(requestParameters);
        if (body.empty()) {
            // Never send a POST without the body it was meant to carry.
            return Failure{KRApiRequestError::invalidUrlRequest()};
        }
        request.body = std::move(body);
    }

    request.headers.push_back({"Content-Type", "application/json"});
    request.headers.push_back({"deviceId", std::string(deviceID)});
    if (!jwtToken.empty()) {
        request.headers.push_back({"authorization", std::string(jwtToken)});
    }
    return request;
}

}  // namespace kr
