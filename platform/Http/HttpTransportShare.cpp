#include "platform/Http/HttpTransportShare.h"

#include "platform/Http/TlsSessionCache.h"

namespace kr::platform {

std::shared_ptr<HttpTransport> HttpTransportShare::transport(
    const HttpTransportSettings& settings) {
    std::lock_guard lock(mutex_);
    std::erase_if(transports_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : transports_) {
        // Locked before the settings are read: a transport that expired since the sweep above is
        // skipped rather than touched.
        if (auto live = weak.lock(); live && live->settings() == settings) {
            return live;
        }
    }
    auto made = HttpTransport::create(settings);
    transports_.push_back(made);
    return made;
}

std::shared_ptr<TlsSessionCache> HttpTransportShare::tlsSessions() {
    std::lock_guard lock(mutex_);
    if (!tlsSessions_) {
        tlsSessions_ = std::make_shared<TlsSessionCache>();
    }
    return tlsSessions_;
}

}  // namespace kr::platform
