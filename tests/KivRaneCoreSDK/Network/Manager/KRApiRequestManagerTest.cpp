#include "KivRaneCoreSDK/Network/Manager/KRApiRequestManager.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"

namespace kr {
namespace {

using Kind = KRApiRequestError::Kind;

// A reply model whose members are all optional.
struct OptionalOnly {
    std::optional<std::string> note;
    static Result<OptionalOnly, JsonDecodingError> fromJson(const boost::json::value& v) {
        JsonObjectReader reader(v);
        OptionalOnly out;
        out.note = reader.optional<std::string>("note");
        return reader.finish(std::move(out));
    }
};

platform::HttpResult reply(long status, std::string body) {
    platform::HttpResponse response;
    response.status = status;
    response.body = std::move(body);
    return response;
}

TEST(KRApiRequestManagerTest, StatusMapping) {
    struct Row {
        long status;
        std::string body;
        std::optional<Kind> failure;  // nullopt: success
        bool successFlag = false;
    };
    const std::vector<Row> rows = {
        {200, R"({"success":true})", std::nullopt, true},
        {201, R"({"success":false})", std::nullopt, false},
        {204, "", std::nullopt, true},  // empty 2xx reads as {"success":true}
        {299, "", std::nullopt, true},
        {200, R"({"other":1})", Kind::unKnown},  // lacks a required member
        {200, "not json", Kind::unKnown},
        {199, R"({"success":true})", Kind::unKnown},
        {302, R"({"success":true})", Kind::unKnown},
        {400, R"({"message":"X"})", Kind::failedApi},
        {404, "", Kind::failedApi},
        {499, "", Kind::failedApi},
        {500, R"({"success":true})", Kind::serverError},
        {503, "", Kind::serverError},
        {600, "", Kind::serverError},
        {601, "", Kind::unKnown},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.status);
        const auto result =
            KRApiRequestManager::decodeRequestResponse<KRAPISuccess>(reply(row.status, row.body));
        if (!row.failure) {
            ASSERT_TRUE(result.ok());
            EXPECT_EQ(result.value().isSuccess(), row.successFlag);
        } else {
            ASSERT_FALSE(result.ok());
            EXPECT_EQ(result.error().kind(), *row.failure);
        }
    }
}

TEST(KRApiRequestManagerTest, FailedApiCarriesBodyAndStatus) {
    const auto result = KRApiRequestManager::decodeRequestResponse<KRAPISuccess>(
        reply(404, R"({"message":"ROOM_NOT_FOUND","errors":"No room"})"));
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().getStatusCode(), 404);
    EXPECT_EQ(result.error().data(), R"({"message":"ROOM_NOT_FOUND","errors":"No room"})");
    EXPECT_EQ(result.error().getErrorCode(), "ROOM_NOT_FOUND");
    EXPECT_EQ(result.error().getMessageString(), "No room");
}

TEST(KRApiRequestManagerTest, EmptyReplyDecodesAModelOfOptionalMembers) {
    const auto result = KRApiRequestManager::decodeRequestResponse<OptionalOnly>(reply(204, ""));
    ASSERT_TRUE(result.ok());
    EXPECT_EQ(result.value().note, std::nullopt);
}

TEST(KRApiRequestManagerTest, TransportErrorWinsAndKeepsItsCause) {
    const platform::HttpResult outcome(
        Failure{platform::HttpError{platform::HttpErrorCode::cancelled, "gone"}});
    const auto result = KRApiRequestManager::decodeRequestResponse<KRAPISuccess>(outcome);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().kind(), Kind::networkFailure);
    ASSERT_TRUE(result.error().transportError().has_value());
    EXPECT_EQ(result.error().transportError()->code, platform::HttpErrorCode::cancelled);
}

}  // namespace
}  // namespace kr
