#include "platform/Http/HttpTransportShare.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "platform/Http/TlsSessionCache.h"

namespace kr::platform {
namespace {

using namespace std::chrono_literals;

HttpTransportSettings clientSettings() {
    HttpTransportSettings settings;
    settings.sessionHeaders = {{"Connection", "keep-alive"}, {"User-Agent", "Tester/1"}};
    settings.routing.connectTo = {"api.example.test:443:127.0.0.1:40123"};
    settings.routing.caFile = "/tmp/ca.pem";
    return settings;
}

// Whatever one user configured differently must never reach another user's requests.
TEST(HttpTransportShareTest, OnlyEqualSettingsShareATransport) {
    const std::vector<std::function<void(HttpTransportSettings&)>> differences = {
        [](auto& s) { s.routing.connectTo = {"api.example.test:443:127.0.0.1:40124"}; },
        [](auto& s) { s.routing.caFile = "/tmp/other-ca.pem"; },
        [](auto& s) { s.routing.maxTimeout = 300ms; },
        [](auto& s) { s.routing.tlsSessions = std::make_shared<TlsSessionCache>(); },
        [](auto& s) { s.sessionHeaders.back().value = "Tester/2"; },
        [](auto& s) { s.acceptEncoding.clear(); },
        [](auto& s) { s.maxConnectionsPerHost = 4; },
        [](auto& s) { s.maxReplyBytes = 1024; },
        [](auto& s) { s.totalTimeout = 1s; },
    };
    HttpTransportShare share;
    const auto first = share.transport(clientSettings());
    EXPECT_EQ(share.transport(clientSettings()), first);
    for (std::size_t i = 0; i < differences.size(); ++i) {
        SCOPED_TRACE(i);
        HttpTransportSettings other = clientSettings();
        differences[i](other);
        const auto own = share.transport(other);
        EXPECT_NE(own, first);
        EXPECT_EQ(own->settings(), other);
        EXPECT_EQ(share.transport(other), own);  // shared in turn by those asking like it
    }
}

TEST(HttpTransportShareTest, TransportLivesOnlyWhileAUserKeepsIt) {
    HttpTransportShare share;
    auto a = share.transport(clientSettings());
    auto b = share.transport(clientSettings());
    const std::weak_ptr<HttpTransport> watch = a;
    a.reset();
    EXPECT_FALSE(watch.expired());  // the other user still sends on it
    b.reset();
    EXPECT_TRUE(watch.expired());  // the share alone does not keep it
    const auto next = share.transport(clientSettings());
    EXPECT_TRUE(next);
    EXPECT_TRUE(watch.expired());
}

TEST(HttpTransportShareTest, OneTlsSessionCacheForEveryUser) {
    HttpTransportShare share;
    const auto cache = share.tlsSessions();
    ASSERT_TRUE(cache);
    EXPECT_EQ(share.tlsSessions(), cache);
    EXPECT_NE(HttpTransportShare().tlsSessions(), cache);
}

}  // namespace
}  // namespace kr::platform
