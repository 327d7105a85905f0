#include "KivRaneCoreSDK/Network/Manager/KRApiRequestManager.h"

#include <cassert>

#include "platform/Device/AppInfo.h"

namespace kr {

namespace {
constexpr const char* kEmptyReplySubstitute = R"({"success":true})";
constexpr long kMaxConnectionsPerHost = 15;
}  // namespace

KRApiRequestManager::KRApiRequestManager(KRDependencies dependencies)
    : queue_(std::move(dependencies.queue)) {
    assert(queue_);
    platform::HttpTransportSettings settings;
    settings.acceptEncoding = "gzip, deflate, br";
    settings.sessionHeaders = {{"Connection", "keep-alive"}, {"User-Agent", userAgent()}};
    settings.maxConnectionsPerHost = kMaxConnectionsPerHost;
    settings.routing = std::move(dependencies.routing);
    // Every manager built from one dependencies value asks with equal settings, so they all get
    // the same transport.
    session_ = dependencies.httpTransports ? dependencies.httpTransports->transport(settings)
                                           : platform::HttpTransport::create(std::move(settings));
}

KRApiRequestManager::~KRApiRequestManager() = default;

std::string KRApiRequestManager::userAgent() {
    using platform::AppInfo;
    std::string agent = AppInfo::executableName();
    agent += "/" + AppInfo::appVersion();
    agent += " (" + AppInfo::bundleIdentifier();
    agent += "; build:" + AppInfo::buildNumber();
    agent += "; " + AppInfo::osName() + " " + AppInfo::osVersion();
    agent += ") KivRaneNetwork/1.0";
    // The host supplies these texts; never let one break the header line.
    for (char& c : agent) {
        if (c == '\r' || c == '\n' || c == '\0') {
            c = ' ';
        }
    }
    return agent;
}

Result<std::string_view, KRApiRequestError> KRApiRequestManager::checkResponse(
    const platform::HttpResult& outcome) {
    if (!outcome) {
        return Failure{KRApiRequestError::networkFailure(outcome.error())};
    }
    const platform::HttpResponse& response = outcome.value();
    const long status = response.status;
    if (status >= 200 && status <= 299) {
        return response.body.empty() ? std::string_view(kEmptyReplySubstitute)
                                     : std::string_view(response.body);
    }
    if (status >= 400 && status <= 499) {
        return Failure{KRApiRequestError::failedApi(response.body, static_cast<int>(status))};
    }
    if (status >= 500 && status <= 600) {
        return Failure{KRApiRequestError::serverError()};
    }
    return Failure{KRApiRequestError::unKnown()};
}

bool KRApiRequestManager::start(platform::HttpRequest request, platform::HttpCompletion done) {
    return session_->send(std::move(request), queue_, std::move(done)).ok();
}

}  // namespace kr
