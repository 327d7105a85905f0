#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServerScheme.h"
#include "KivRaneCoreSDK/Network/Enums/KRHTTPMethod.h"

namespace kr {
namespace {

TEST(KRAPIPathTest, IdentifierIsOneSegmentInUrlsButRawInThePathText) {
    struct Row {
        std::string id;
        std::string encoded;
    };
    const std::vector<Row> rows = {
        {"abc-123_x.y~z", "abc-123_x.y~z"},
        {"room:1@host", "room:1@host"},
        {"../../config", "..%2F..%2Fconfig"},
        {"..", "%2E%2E"},
        {".", "%2E"},
        {"a?b#c", "a%3Fb%23c"},
        {"100%", "100%25"},
        {"with space", "with%20space"},
        {"caf\xC3\xA9", "caf%C3%A9"},
        {"", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.id);
        const auto path = KRAPIPath::leaveChatThread(row.id);
        EXPECT_EQ(path.getPath(true), path.getPath(false));
        EXPECT_EQ(path.getPath(false), "chat/thread/" + row.id + "/leave");
        EXPECT_EQ(path.getUrlPath(false), "chat/thread/" + row.encoded + "/leave");
    }
}

TEST(KRAPIPathTest, RawValuesRoundTripExactlyAndCaseSensitively) {
    EXPECT_EQ(krHTTPMethodFromRaw("POST"), KRHTTPMethod::post);
    EXPECT_EQ(krHTTPMethodFromRaw("DELETE"), KRHTTPMethod::delete_);
    EXPECT_EQ(krHTTPMethodFromRaw("post"), std::nullopt);
    EXPECT_EQ(krApiServerSchemeFromRaw("https"), KRApiServerScheme::https);
    EXPECT_EQ(krApiServerSchemeFromRaw("HTTPS"), std::nullopt);
    EXPECT_EQ(getUrlValue(KRApiServerScheme::http), "http://");
    for (auto server : kAllApiServers) {
        EXPECT_EQ(krApiServerFromRaw(rawValue(server)), server);
        EXPECT_EQ(getApiUrl(server), "https://" + std::string(rawValue(server)) + "/api");
    }
    // Not under "/api": the whiteboard page keeps its leading slash.
    EXPECT_EQ(KRAPIPath::whiteboardUrl().getPath(true), "/conference/whiteboard/");
    // The settings texts are not host names.
    EXPECT_EQ(krApiServerFromRaw("production"), std::nullopt);
}

}  // namespace
}  // namespace kr
