#include "platform/Http/TlsSessionCache.h"

#include <openssl/ssl.h>

namespace kr::platform {

TlsSessionCache::~TlsSessionCache() {
    for (auto& [host, session] : sessions_) {
        SSL_SESSION_free(session);
    }
}

void TlsSessionCache::store(std::string_view host, SSL_SESSION* session) {
    if (host.empty() || session == nullptr || SSL_SESSION_is_resumable(session) != 1) {
        return;
    }
    SSL_SESSION_up_ref(session);
    SSL_SESSION* replaced = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = sessions_.try_emplace(std::string(host), session);
        if (!added) {
            replaced = it->second;
            it->second = session;
        }
    }
    if (replaced != nullptr) {
        SSL_SESSION_free(replaced);
    }
}

SSL_SESSION* TlsSessionCache::find(std::string_view host) const {
    std::lock_guard lock(mutex_);
    const auto it = sessions_.find(host);
    if (it == sessions_.end()) {
        return nullptr;
    }
    SSL_SESSION_up_ref(it->second);
    return it->second;
}

}  // namespace kr::platform
