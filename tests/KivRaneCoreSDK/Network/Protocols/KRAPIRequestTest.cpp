#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <string>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"

namespace kr {
namespace {

using platform::HttpHeader;
using platform::HttpHeaders;

struct SampleRequest : KRAPIRequest<KRAPISuccess> {
    using KRAPIRequest::KRAPIRequest;
};

const std::string kHost(rawValue(KRApiServer::staging));

platform::HttpRequest build(const SampleRequest& request, std::string_view deviceId = "DEV",
                            std::string_view jwt = "", bool guest = false) {
    auto built = request.createUrlRequest(KRApiServer::staging, deviceId, jwt, guest);
    EXPECT_TRUE(built.ok());
    return built.ok() ? built.value() : platform::HttpRequest{};
}

TEST(KRAPIRequestTest, UrlPathAndQuery) {
    struct Row {
        const char* name;
        SampleRequest request;
        bool guest;
        std::string url;
    };
    const std::vector<Row> rows = {
        {"no query, no question mark",
         {KRAPIPath::getConfiguration(), KRHTTPMethod::get},
         false,
         "https://" + kHost + "/api/config"},
        {"one string item",
         {KRAPIPath::getConfiguration(), KRHTTPMethod::get, {{"os_type", "ios"}}},
         false,
         "https://" + kHost + "/api/config?os_type=ios"},
        {"items in insertion order, numbers and booleans as text",
         {KRAPIPath::getRoomConnectionStatus(),
          KRHTTPMethod::get,
          {{"z", 20}, {"a", true}, {"m", false}, {"d", 1.5}}},
         false,
         "https://" + kHost + "/api/roomconnectionstatus/get?z=20&a=true&m=false&d=1.5"},
        {"names and values percent-encoded",
         {KRAPIPath::getRoomDetails(), KRHTTPMethod::get, {{"a b", "x&y=z+1/?#"}}},
         false,
         "https://" + kHost + "/api/shorturl/roomdetails?a%20b=x%26y%3Dz%2B1%2F%3F%23"},
        {"guest variant",
         {KRAPIPath::joinCall(), KRHTTPMethod::post},
         true,
         "https://" + kHost + "/api/joinCall/guest"},
        {"identifier cannot climb out of its segment",
         {KRAPIPath::startWhiteboard("../../recording/stop?x=1"), KRHTTPMethod::post},
         false,
         "https://" + kHost +
             "/api/rooms/..%2F..%2Frecording%2Fstop%3Fx=1/whiteboard/startsharing"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto built = build(row.request, "DEV", "", row.guest);
        EXPECT_EQ(built.url, row.url);
        EXPECT_EQ(built.timeout, std::chrono::seconds(60));
    }
}

TEST(KRAPIRequestTest, BodyOnlyForPostWithParameters) {
    const boost::json::object body = {{"meetingId", "m1"}, {"audio", true}, {"count", 3}};
    struct Row {
        KRHTTPMethod method;
        boost::json::object body;
        std::optional<std::string> expected;
    };
    const std::vector<Row> rows = {
        {KRHTTPMethod::post, body, R"({"meetingId":"m1","audio":true,"count":3})"},
        {KRHTTPMethod::post, {}, std::nullopt},
        {KRHTTPMethod::get, body, std::nullopt},
        {KRHTTPMethod::put, body, std::nullopt},
        {KRHTTPMethod::delete_, body, std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(rawValue(row.method)));
        const auto built = build(SampleRequest(KRAPIPath::hostActions(), row.method, {}, row.body));
        EXPECT_EQ(built.method, rawValue(row.method));
        EXPECT_EQ(built.body, row.expected);
        // Content-Type goes with every request, body or not.
        EXPECT_EQ(platform::findHeader(built.headers, "Content-Type"), "application/json");
    }
}

TEST(KRAPIRequestTest, BodyWithInvalidUtf8IsRepairedNotDropped) {
    const auto built = build(
        SampleRequest(KRAPIPath::hostActions(), KRHTTPMethod::post, {}, {{"name", "bad\xFF"}}));
    ASSERT_TRUE(built.body.has_value());
    const auto parsed = boost::json::parse(*built.body);
    EXPECT_EQ(parsed.at("name").as_string(), "bad\xEF\xBF\xBD");
}

TEST(KRAPIRequestTest, PerRequestHeaders) {
    struct Row {
        const char* name;
        std::string deviceId;
        std::string jwt;
        HttpHeaders headers;
    };
    const std::vector<Row> rows = {
        {"token sent verbatim in lower-case header",
         "DEV-1",
         "eyJ.abc.def",
         {{"Content-Type", "application/json"},
          {"deviceId", "DEV-1"},
          {"authorization", "eyJ.abc.def"}}},
        {"empty token: no authorization, empty device id still sent",
         "",
         "",
         {{"Content-Type", "application/json"}, {"deviceId", ""}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto built = build(SampleRequest(KRAPIPath::getConfiguration(), KRHTTPMethod::get),
                                 row.deviceId, row.jwt);
        EXPECT_EQ(built.headers, row.headers);
    }
}

TEST(KRAPIRequestTest, HeaderValuesThatCouldSplitTheHeaderAreRefused) {
    const SampleRequest request(KRAPIPath::getConfiguration(), KRHTTPMethod::get);
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"DEV\r\nX-Evil: 1", "jwt"},
        {"DEV", "jwt\nHost: elsewhere"},
        {std::string("DEV\0X", 5), "jwt"},
        {"DEV", std::string("jwt\0", 4)},
        {"DEV\r", ""},
    };
    for (const auto& [deviceId, jwt] : rows) {
        const auto built = request.createUrlRequest(KRApiServer::production, deviceId, jwt, true);
        ASSERT_FALSE(built.ok());
        EXPECT_EQ(built.error().kind(), KRApiRequestError::Kind::invalidUrlRequest);
    }
}

TEST(KRAPIRequestTest, OutcomeOfAFreshRequestIsUnknown) {
    SampleRequest request(KRAPIPath::lockMeeting(), KRHTTPMethod::post);
    EXPECT_EQ(request.getResult().error().kind(), KRApiRequestError::Kind::unKnown);
    request.response = SampleRequest::ResultType(Failure{KRApiRequestError::serverError()});
    EXPECT_EQ(request.getResult().error().kind(), KRApiRequestError::Kind::serverError);
}

}  // namespace
}  // namespace kr
