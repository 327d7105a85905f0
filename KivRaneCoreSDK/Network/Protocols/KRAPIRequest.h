#pragma once

#include <concepts>
#include <optional>
#include <string_view>
#include <utility>

#include <boost/json/object.hpp>

#include "platform/Common/Result.h"
#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Enums/KRHTTPMethod.h"
#include "platform/Http/HttpTransport.h"

namespace kr {

/// Builds the HTTPS request of a REST call: "https://" + host + "/api/" + path (identifier
/// percent-encoded as one segment), the query items in map order (names and values
/// percent-encoded), the method, a compact JSON body for a POST with a non-empty body map, the
/// headers "Content-Type", "deviceId" (also when empty) and "authorization" (only when the token
/// is not empty), and a 60 s time-out. Fails with `invalidUrlRequest` when the device id or token
/// holds CR, LF or NUL, or when the body cannot be serialised. Pure; any thread.
Result<platform::HttpRequest, KRApiRequestError> buildUrlRequest(
    const KRAPIPath& path, KRHTTPMethod method, const boost::json::object& queryParameters,
    const boost::json::object& requestParameters, KRApiServer serverEnvironment,
    std::string_view deviceID, std::string_view jwtToken, bool isGuestUser);

/// The text a query value is sent as: a string as it is, integers in decimal, booleans as
/// "true"/"false", other numbers in their shortest form, anything else as compact JSON.
std::string queryValueText(const boost::json::value& value);

/// Percent-encodes `text` as one query name or value (everything but unreserved characters).
std::string percentEncodeQueryComponent(std::string_view text);

/// Base of every REST request value: the endpoint, the method, the query and body maps and the
/// slot for the typed outcome. Each server operation is one struct deriving from it, named after
/// the operation, whose constructor sets the first four members and leaves `response` empty.
/// `ReturnData` is the reply model, decoded with the JSON kit (`static fromJson` or a decoder
/// specialisation).
///
/// A plain value; the network client hands the caller back a copy with `response` filled in.
template <class ReturnData>
struct KRAPIRequest {
    using ReturnDataType = ReturnData;
    using ResultType = Result<ReturnData, KRApiRequestError>;

    KRAPIRequest(KRAPIPath p, KRHTTPMethod m, boost::json::object query = {},
                 boost::json::object body = {})
        : path(std::move(p)),
          method(m),
          queryParameters(std::move(query)),
          requestParameters(std::move(body)) {}

    KRAPIPath path;
    KRHTTPMethod method;
    boost::json::object queryParameters;    ///< query items, in insertion order
    boost::json::object requestParameters;  ///< the JSON body; only sent with POST
    std::optional<ResultType> response;     ///< empty until the request has completed

    /// The HTTPS request for this value (see `buildUrlRequest`).
    Result<platform::HttpRequest, KRApiRequestError> createUrlRequest(KRApiServer serverEnvironment,
                                                                      std::string_view deviceID,
                                                                      std::string_view jwtToken,
                                                                      bool isGuestUser) const {
        return buildUrlRequest(path, method, queryParameters, requestParameters, serverEnvironment,
                               deviceID, jwtToken, isGuestUser);
    }

    /// The stored outcome, or failure `unKnown` while there is none.
    ResultType getResult() const {
        if (response) {
            return *response;
        }
        return Failure{KRApiRequestError::unKnown()};
    }
};

/// A request type usable with the request manager and the network client.
template <class R>
concept KRAPIRequestType = requires {
    typename R::ReturnDataType;
}
&&std::derived_from<R, KRAPIRequest<typename R::ReturnDataType>>&& std::copy_constructible<R>;

}  // namespace kr
