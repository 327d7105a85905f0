#pragma once

#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"
#include "platform/Dispatch/MainQueue.h"
#include "testing/LocalMeetingService/LocalMeetingService.h"

namespace kr::test {

/// Sends `request` through `client` and runs the client's queue (a main queue) until its
/// completion arrived.
/// Returns the completed copy (or the request unchanged, with a test failure, on time-out).
template <KRAPIRequestType R>
R sendAndWait(KRNetworkClient& client, const R& request,
              std::chrono::seconds timeout = std::chrono::seconds(20)) {
    std::optional<R> done;
    client.sendAPIRequest<R>(request, [&done](R completed) { done.emplace(std::move(completed)); });
    const auto queue = std::dynamic_pointer_cast<platform::MainQueue>(client.queue());
    EXPECT_TRUE(queue && queue->runUntil([&] { return done.has_value(); }, timeout))
        << "no completion";
    return done ? std::move(*done) : request;
}

/// Expects the latest request the service handled for `route` to be `request` exactly as the
/// client built it: method, path (guest variant or not) with its query, JSON body, and the token.
template <KRAPIRequestType R>
void expectServiceSaw(const LocalMeetingService& service, MeetingServiceRoute route,
                      const R& request, bool guest, const std::string& token) {
    const auto seen = service.requests(route);
    ASSERT_FALSE(seen.empty()) << routeName(route);
    const RecordedRequest& last = seen.back();
    auto built = request.createUrlRequest(KRApiServer::production, "", token, guest);
    ASSERT_TRUE(built.ok());
    const std::string& url = built.value().url;
    EXPECT_EQ(last.method, built.value().method) << routeName(route);
    EXPECT_EQ(last.target, url.substr(url.find("/api/"))) << routeName(route);
    if (built.value().body) {
        EXPECT_EQ(boost::json::parse(last.body), boost::json::parse(*built.value().body))
            << routeName(route);
    } else {
        EXPECT_TRUE(last.body.empty()) << routeName(route);
    }
    EXPECT_EQ(last.header("authorization").value_or(""), token) << routeName(route);
    EXPECT_EQ(last.header("Content-Type"), "application/json") << routeName(route);
}

}  // namespace kr::test
