#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

namespace {
constexpr const char* kUnknownErrorText = "Unknown Error";
constexpr const char* kUnknownErrorCode = "UNKNOWN_ERROR";
}  // namespace

std::pair<std::string, std::string> KRApiRequestError::getErrorMessageAndCode(
    const std::optional<std::string>& data) {
    if (!data) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    boost::system::error_code ec;
    const boost::json::value root = boost::json::parse(*data, ec);
    if (ec) {
        return {ec.message(), kUnknownErrorCode};
    }
    JsonObjectReader body(root);
    if (!body.isObject()) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    std::string code = body.lenient<std::string>("message", {});
    if (auto errors = body.lenientOptional<std::string>("errors")) {
        return {std::move(*errors), std::move(code)};
    }
    // Read only when every element is an object; an empty list says nothing either.
    const auto list = body.lenientOptional<std::vector<boost::json::object>>("errorsArray");
    if (!list || list->empty()) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    const boost::json::value first(list->front());
    return {JsonObjectReader(first).lenient<std::string>("message", {}), std::move(code)};
}

std::string KRApiRequestError::getMessageString() const {
    switch (kind_) {
        case Kind::networkFailure:
            return "Please check your internet connection.";
        case Kind::decodeFailure:
            return "Invalid API Response.";
        case Kind::failedApi:
            return getErrorMessageAndCode(data_).first;
        case Kind::invalidUrlRequest:
            return "Invalid URL Request";
        case Kind::invalidData:
            return "Invalid Response Data.";
        case Kind::noData:
            return "Server did not return any Data.";
        case Kind::invalidResponse:
            return "Server did not repsonse.";
        case Kind::serverError:
            return "Server Error. Please try again after sometime.";
        case Kind::unKnown:
            return "Undefined Error.";
    }
    return "Undefined Error.";
}

std::string KRApiRequestError::getErrorCode() const {
    switch (kind_) {
        case Kind::networkFailure:
            return "NO_NETWORK";
        case Kind::decodeFailure:
            return "DECODE_ERROR";
        case Kind::failedApi:
            return getErrorMessageAndCode(data_).second;
        default:
            return kUnknownErrorCode;
    }
}

}  // namespace kr
