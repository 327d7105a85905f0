#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

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
    const auto* object = root.if_object();
    if (object == nullptr) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    std::string code;
    if (const auto* message = object->if_contains("message"); message && message->is_string()) {
        code = std::string(message->get_string());
    }
    if (const auto* errors = object->if_contains("errors"); errors && errors->is_string()) {
        return {std::string(errors->get_string()), code};
    }
    const auto* list = object->if_contains("errorsArray");
    if (list == nullptr || !list->is_array()) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    const auto& array = list->get_array();
    for (const auto& element : array) {
        if (!element.is_object()) {
            return {kUnknownErrorText, kUnknownErrorCode};
        }
    }
    if (array.empty()) {
        return {kUnknownErrorText, kUnknownErrorCode};
    }
    std::string text;
    if (const auto* message = array.front().get_object().if_contains("message");
        message && message->is_string()) {
        text = std::string(message->get_string());
    }
    return {text, code};
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
