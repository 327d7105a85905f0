#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"

#include <boost/json/value.hpp>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "platform/Common/JsonNumbers.h"

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
    const boost::json::value root = platform::parseJson(*data, ec);
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

namespace {
using Kind = KRApiRequestError::Kind;
// The fixed texts shown for each kind; a refusal's text comes from the server instead.
constexpr auto kMessages = makeEnumTable<Kind, std::string_view>({
    {Kind::unKnown, "Undefined Error."},
    {Kind::networkFailure, "Please check your internet connection."},
    {Kind::decodeFailure, "Invalid API Response."},
    {Kind::invalidUrlRequest, "Invalid URL Request"},
    {Kind::invalidData, "Invalid Response Data."},
    {Kind::noData, "Server did not return any Data."},
    {Kind::invalidResponse, "Server did not repsonse."},
    {Kind::serverError, "Server Error. Please try again after sometime."},
});
constexpr auto kCodes = makeEnumTable<Kind, std::string_view>({
    {Kind::unKnown, kUnknownErrorCode},
    {Kind::networkFailure, "NO_NETWORK"},
    {Kind::decodeFailure, "DECODE_ERROR"},
});
}  // namespace

std::string KRApiRequestError::getMessageString() const {
    if (kind_ == Kind::failedApi) {
        return getErrorMessageAndCode(data_).first;
    }
    return std::string(kMessages.toRaw(kind_));
}

std::string KRApiRequestError::getErrorCode() const {
    if (kind_ == Kind::failedApi) {
        return getErrorMessageAndCode(data_).second;
    }
    return std::string(kCodes.toRaw(kind_));
}

}  // namespace kr
