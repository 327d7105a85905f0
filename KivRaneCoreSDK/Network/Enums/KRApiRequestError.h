#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/Http/HttpTransport.h"

namespace kr {

/// Every way a REST call can fail, as one type. A refusal carries the server's JSON error body,
/// which is parsed on demand; each case can be shown as text, matched by code and given a
/// status number.
///
/// A plain value; safe to copy between threads.
class KRApiRequestError {
public:
    enum class Kind {
        networkFailure,     ///< the transfer failed; may carry the transport error
        decodeFailure,      ///< carries a description; not produced by the REST layer itself
        failedApi,          ///< status 400-499; carries the reply bytes and the status
        invalidUrlRequest,  ///< no request could be built; nothing was sent
        invalidData,
        noData,
        invalidResponse,
        serverError,  ///< status 500-600
        unKnown,      ///< any other status, an undecodable 2xx reply, or no outcome yet
    };

    static KRApiRequestError networkFailure(std::optional<platform::HttpError> error = {}) {
        KRApiRequestError e(Kind::networkFailure);
        e.transportError_ = std::move(error);
        return e;
    }
    static KRApiRequestError decodeFailure(std::string description) {
        KRApiRequestError e(Kind::decodeFailure);
        e.description_ = std::move(description);
        return e;
    }
    static KRApiRequestError failedApi(std::optional<std::string> data, int statusCode) {
        KRApiRequestError e(Kind::failedApi);
        e.data_ = std::move(data);
        e.httpStatus_ = statusCode;
        return e;
    }
    static KRApiRequestError invalidUrlRequest() {
        return KRApiRequestError(Kind::invalidUrlRequest);
    }
    static KRApiRequestError invalidData() { return KRApiRequestError(Kind::invalidData); }
    static KRApiRequestError noData() { return KRApiRequestError(Kind::noData); }
    static KRApiRequestError invalidResponse() { return KRApiRequestError(Kind::invalidResponse); }
    static KRApiRequestError serverError() { return KRApiRequestError(Kind::serverError); }
    static KRApiRequestError unKnown() { return KRApiRequestError(Kind::unKnown); }

    Kind kind() const { return kind_; }
    /// Payload of `networkFailure`.
    const std::optional<platform::HttpError>& transportError() const { return transportError_; }
    /// Payload of `decodeFailure`.
    const std::string& description() const { return description_; }
    /// Reply bytes carried by `failedApi`.
    const std::optional<std::string>& data() const { return data_; }

    /// The user-facing message.
    std::string getMessageString() const;
    /// The machine-readable code ("NO_NETWORK", "UNKNOWN_ERROR", or the service's own code).
    std::string getErrorCode() const;
    /// A refusal's own status; the others all count as 500.
    int getStatusCode() const { return kind_ == Kind::failedApi ? httpStatus_ : 500; }

private:
    explicit KRApiRequestError(Kind kind) : kind_(kind) {}

    /// (message, code) read from a 4xx error body.
    static std::pair<std::string, std::string> getErrorMessageAndCode(
        const std::optional<std::string>& data);

    Kind kind_;
    std::optional<platform::HttpError> transportError_;
    std::string description_;
    std::optional<std::string> data_;
    int httpStatus_ = 0;
};

}  // namespace kr
