#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace kr {
namespace {

TEST(KRApiRequestErrorTest, FixedMessagesCodesAndStatuses) {
    struct Row {
        KRApiRequestError error;
        const char* message;
        const char* code;
    };
    const std::vector<Row> rows = {
        {KRApiRequestError::networkFailure(), "Please check your internet connection.",
         "NO_NETWORK"},
        {KRApiRequestError::networkFailure(
             platform::HttpError{platform::HttpErrorCode::timedOut, "late"}),
         "Please check your internet connection.", "NO_NETWORK"},
        {KRApiRequestError::decodeFailure("bad"), "Invalid API Response.", "DECODE_ERROR"},
        {KRApiRequestError::invalidUrlRequest(), "Invalid URL Request", "UNKNOWN_ERROR"},
        {KRApiRequestError::invalidData(), "Invalid Response Data.", "UNKNOWN_ERROR"},
        {KRApiRequestError::noData(), "Server did not return any Data.", "UNKNOWN_ERROR"},
        {KRApiRequestError::invalidResponse(), "Server did not repsonse.", "UNKNOWN_ERROR"},
        {KRApiRequestError::serverError(), "Server Error. Please try again after sometime.",
         "UNKNOWN_ERROR"},
        {KRApiRequestError::unKnown(), "Undefined Error.", "UNKNOWN_ERROR"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.message);
        EXPECT_EQ(row.error.getMessageString(), row.message);
        EXPECT_EQ(row.error.getErrorCode(), row.code);
        EXPECT_EQ(row.error.getStatusCode(), 500);
    }
    EXPECT_EQ(KRApiRequestError::failedApi(std::nullopt, 403).getStatusCode(), 403);
}

TEST(KRApiRequestErrorTest, ErrorBodiesToMessageAndCode) {
    struct Row {
        const char* name;
        std::optional<std::string> body;
        std::string message;
        std::string code;
    };
    const std::vector<Row> rows = {
        {"errors text wins, code from message", R"({"message":"ROOMLOCKED","errors":"Locked"})",
         "Locked", "ROOMLOCKED"},
        {"errors text wins over errorsArray",
         R"({"message":"C","errors":"E","errorsArray":[{"message":"A"}]})", "E", "C"},
        {"first element of errorsArray",
         R"({"message":"BAD","errorsArray":[{"message":"first"},{"message":"second"}]})", "first",
         "BAD"},
        {"element without a string message", R"({"message":"BAD","errorsArray":[{"message":7}]})",
         "", "BAD"},
        {"neither errors nor errorsArray", R"({"message":"BAD"})", "Unknown Error",
         "UNKNOWN_ERROR"},
        {"errors without message", R"({"errors":"Only text"})", "Only text", ""},
        {"numeric errors and empty errorsArray", R"({"message":"X","errors":5,"errorsArray":[]})",
         "Unknown Error", "UNKNOWN_ERROR"},
        {"errorsArray with a non-object", R"({"message":"X","errorsArray":[{"message":"a"},1]})",
         "Unknown Error", "UNKNOWN_ERROR"},
        {"errorsArray not an array", R"({"message":"X","errorsArray":{"message":"a"}})",
         "Unknown Error", "UNKNOWN_ERROR"},
        {"numeric code reads as empty", R"({"message":12,"errors":"E"})", "E", ""},
        {"no bytes", std::nullopt, "Unknown Error", "UNKNOWN_ERROR"},
        {"array at top level", R"([{"message":"X"}])", "Unknown Error", "UNKNOWN_ERROR"},
        {"string at top level", R"("text")", "Unknown Error", "UNKNOWN_ERROR"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto error = KRApiRequestError::failedApi(row.body, 404);
        EXPECT_EQ(error.getMessageString(), row.message);
        EXPECT_EQ(error.getErrorCode(), row.code);
        EXPECT_EQ(error.getStatusCode(), 404);
    }
}

TEST(KRApiRequestErrorTest, BodyThatIsNotJsonGivesTheParserTextAndUnknownCode) {
    for (const std::string body : {"<html>Bad Gateway</html>", ""}) {
        const auto error = KRApiRequestError::failedApi(body, 400);
        EXPECT_FALSE(error.getMessageString().empty());
        EXPECT_NE(error.getMessageString(), "Unknown Error");
        EXPECT_EQ(error.getErrorCode(), "UNKNOWN_ERROR");
    }
}

}  // namespace
}  // namespace kr
