#include "platform/Http/HttpTransport.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <deque>
#include <limits>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <utility>

namespace kr::platform {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

void ensureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

bool isSafeHeaderName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    return std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u < 0x7f && c != ':';
    });
}

HttpErrorCode mapCurlCode(CURLcode code) {
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT:
            return HttpErrorCode::timedOut;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return HttpErrorCode::cannotResolveHost;
        case CURLE_COULDNT_CONNECT:
            return HttpErrorCode::cannotConnect;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_ENGINE_INITFAILED:
            return HttpErrorCode::secureConnectionFailed;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM:
            return HttpErrorCode::connectionLost;
        case CURLE_TOO_MANY_REDIRECTS:
        case CURLE_UNSUPPORTED_PROTOCOL:  // only a redirect can lead away from https
            return HttpErrorCode::tooManyRedirects;
        case CURLE_URL_MALFORMAT:
            return HttpErrorCode::invalidRequest;
        case CURLE_FILESIZE_EXCEEDED:  // the announced length is already past the limit
            return HttpErrorCode::replyTooLarge;
        default:
            return HttpErrorCode::other;
    }
}

/// Checks that the URL parses and is https; curl's own parser decides, as it will send it.
bool isHttpsUrl(const std::string& url) {
    CURLU* handle = curl_url();
    if (handle == nullptr) {
        return false;
    }
    bool ok = false;
    if (curl_url_set(handle, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK) {
        char* scheme = nullptr;
        if (curl_url_get(handle, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK && scheme != nullptr) {
            ok = std::string_view(scheme) == "https";
            curl_free(scheme);
        }
    }
    curl_url_cleanup(handle);
    return ok;
}

}  // namespace

std::optional<std::string> findHeader(const HttpHeaders& headers, std::string_view name) {
    for (const auto& header : headers) {
        if (equalsIgnoreCase(header.name, name)) {
            return header.value;
        }
    }
    return std::nullopt;
}

// One transfer from `send` to its completion. Owned by the I/O thread once handed over.
struct Transfer {
    HttpRequest request;
    std::shared_ptr<DispatchQueue> queue;
    HttpCompletion completion;
    std::chrono::milliseconds timeout{};
    SteadyTime submitted;
    SteadyTime lastActivity;
    SteadyTime deadline;  // overall, set when the transfer is handed to curl
    std::size_t maxReplyBytes = 0;
    std::size_t headerBytes = 0;  // received so far, over every response of the transfer
    bool tooLarge = false;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    curl_slist* connectTo = nullptr;
    HttpResponse response;
    curl_off_t seenDown = 0;
    curl_off_t seenUp = 0;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    ~Transfer() {
        curl_slist_free_all(headerList);
        curl_slist_free_all(connectTo);
    }
};

class HttpTransport::Impl {
public:
    explicit Impl(HttpTransportSettings settings) : settings_(std::move(settings)) {
        ensureCurlGlobalInit();
        multi_ = curl_multi_init();
        curl_multi_setopt(multi_, CURLMOPT_MAX_HOST_CONNECTIONS, settings_.maxConnectionsPerHost);
        curl_multi_setopt(multi_, CURLMOPT_MAXCONNECTS,
                          std::max(4L, settings_.maxConnectionsPerHost * 4));
        share_ = curl_share_init();
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
        curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        thread_ = std::thread([this] { run(); });
    }

    ~Impl() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        curl_multi_wakeup(multi_);
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // cannot happen by design; never self-join
        } else if (thread_.joinable()) {
            thread_.join();
        }
        for (CURL* easy : idleHandles_) {
            curl_easy_cleanup(easy);
        }
        curl_multi_cleanup(multi_);
        curl_share_cleanup(share_);
    }

    const HttpTransportSettings& settings() const { return settings_; }

    void submit(std::unique_ptr<Transfer> transfer) {
        {
            std::lock_guard lock(mutex_);
            incoming_.push_back(std::move(transfer));
        }
        curl_multi_wakeup(multi_);
    }

private:
    void run() {
        std::vector<std::unique_ptr<Transfer>> arrived;
        for (;;) {
            {
                std::lock_guard lock(mutex_);
                if (stopping_) {
                    break;
                }
                arrived.swap(incoming_);
            }
            const auto now = std::chrono::steady_clock::now();
            for (auto& transfer : arrived) {
                waiting_.push_back(std::move(transfer));
            }
            arrived.clear();
            startWaitingTransfers(now);

            int running = 0;
            curl_multi_perform(multi_, &running);
            collectFinished();
            expireIdleTransfers(std::chrono::steady_clock::now());
            curl_multi_poll(multi_, nullptr, 0, pollTimeoutMs(), nullptr);
        }
        cancelEverything();
    }

    bool connected() const { return !settings_.isConnected || settings_.isConnected(); }

    // Hands waiting transfers to curl in arrival order while connected, keeping at most a few
    // per allowed connection inside curl (the rest wait here, cheaply), and fails those that have
    // waited longer than their time-out.
    void startWaitingTransfers(SteadyTime now) {
        if (waiting_.empty()) {
            return;
        }
        const bool online = connected();
        const std::size_t maxActive =
            static_cast<std::size_t>(std::max(1L, settings_.maxConnectionsPerHost)) * 4;
        while (online && !waiting_.empty() && active_.size() < maxActive) {
            auto transfer = std::move(waiting_.front());
            waiting_.pop_front();
            start(std::move(transfer));
        }
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (now - (*it)->submitted >= (*it)->timeout) {
                auto transfer = std::move(*it);
                it = waiting_.erase(it);
                finish(std::move(transfer),
                       HttpError{HttpErrorCode::timedOut,
                                 online ? "the request timed out"
                                        : "no network connection within the request time-out"});
            } else {
                ++it;
            }
        }
    }

    void start(std::unique_ptr<Transfer> transfer) {
        CURL* easy = acquireHandle();
        if (easy == nullptr) {
            finish(std::move(transfer), HttpError{HttpErrorCode::other, "cannot create a handle"});
            return;
        }
        transfer->easy = easy;
        configure(*transfer);
        transfer->lastActivity = std::chrono::steady_clock::now();
        transfer->deadline = transfer->lastActivity + settings_.totalTimeout;
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
            releaseHandle(*transfer);
            finish(std::move(transfer), HttpError{HttpErrorCode::other, "cannot start transfer"});
            return;
        }
        Transfer* raw = transfer.get();
        active_.emplace(raw, std::move(transfer));
    }

    void configure(Transfer& t) {
        CURL* easy = t.easy;
        const HttpRouting& routing = settings_.routing;
        const HttpRequest& request = t.request;

        curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_SHARE, share_);
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(t.timeout.count()));
        // Refuses at once a reply that announces a length past the limit; `onBody` catches the rest.
        const auto maxFileSize = std::min<std::size_t>(
            t.maxReplyBytes, static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max()));
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxFileSize));
        if (!routing.caFile.empty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, routing.caFile.c_str());
            curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        }
        for (const auto& entry : routing.connectTo) {
            t.connectTo = curl_slist_append(t.connectTo, entry.c_str());
        }
        if (t.connectTo != nullptr) {
            curl_easy_setopt(easy, CURLOPT_CONNECT_TO, t.connectTo);
        }
        if (!settings_.acceptEncoding.empty()) {
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, settings_.acceptEncoding.c_str());
        }

        if (request.body) {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body->size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body->data());
            if (request.method != "POST") {
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
        } else if (request.method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else if (request.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        } else if (request.method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }

        auto appendHeader = [&t](const HttpHeader& header) {
            // "Name;" is curl's way of sending a header with an empty value.
            const std::string line =
                header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
            t.headerList = curl_slist_append(t.headerList, line.c_str());
        };
        for (const auto& header : settings_.sessionHeaders) {
            appendHeader(header);
        }
        for (const auto& header : request.headers) {
            appendHeader(header);
        }
        // Never wait for a "100 Continue" round trip before sending a body.
        t.headerList = curl_slist_append(t.headerList, "Expect:");
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList);

        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, &Impl::onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &t);
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        if (size * count > t->maxReplyBytes - t->response.body.size()) {
            t->tooLarge = true;
            return 0;  // curl aborts the transfer with a write error
        }
        t->response.body.append(data, size * count);
        t->lastActivity = std::chrono::steady_clock::now();
        return size * count;
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        const std::string_view line(data, size * count);
        // Header lines count against the same limit: a server must not grow them without end
        // either.
        if (line.size() > t->maxReplyBytes - t->headerBytes) {
            t->tooLarge = true;
            return 0;  // curl aborts the transfer with a write error
        }
        t->headerBytes += line.size();
        t->lastActivity = std::chrono::steady_clock::now();
        if (line.rfind("HTTP/", 0) == 0) {
            // A new response starts (after a redirect or an interim reply): keep only its headers.
            t->response.headers.clear();
            return line.size();
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            t->response.headers.push_back(HttpHeader{std::string(trim(line.substr(0, colon))),
                                                     std::string(trim(line.substr(colon + 1)))});
        }
        return line.size();
    }

    static int onProgress(void* user, curl_off_t, curl_off_t dlnow, curl_off_t, curl_off_t ulnow) {
        auto* t = static_cast<Transfer*>(user);
        if (dlnow != t->seenDown || ulnow != t->seenUp) {
            t->seenDown = dlnow;
            t->seenUp = ulnow;
            t->lastActivity = std::chrono::steady_clock::now();
        }
        return 0;
    }

    void collectFinished() {
        int remaining = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &remaining)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            const CURLcode code = message->data.result;
            auto it = active_.find(transferOf(message->easy_handle));
            if (it == active_.end()) {
                continue;
            }
            auto transfer = std::move(it->second);
            active_.erase(it);
            if (code == CURLE_OK) {
                long status = 0;
                curl_easy_getinfo(transfer->easy, CURLINFO_RESPONSE_CODE, &status);
                transfer->response.status = status;
                releaseHandle(*transfer);
                HttpResponse response = std::move(transfer->response);
                finish(std::move(transfer), HttpResult(std::move(response)));
            } else if (transfer->tooLarge) {
                releaseHandle(*transfer);
                finish(std::move(transfer), HttpError{HttpErrorCode::replyTooLarge,
                                                      "the reply exceeded the size limit"});
            } else {
                std::string text = transfer->errorBuffer[0] != '\0'
                                       ? std::string(transfer->errorBuffer)
                                       : std::string(curl_easy_strerror(code));
                releaseHandle(*transfer);
                finish(std::move(transfer), HttpError{mapCurlCode(code), std::move(text)});
            }
        }
    }

    void expireIdleTransfers(SteadyTime now) {
        for (auto it = active_.begin(); it != active_.end();) {
            const Transfer& t = *it->second;
            const bool idle = now - t.lastActivity >= t.timeout;
            if (idle || now >= t.deadline) {
                auto transfer = std::move(it->second);
                it = active_.erase(it);
                releaseHandle(*transfer);
                finish(std::move(transfer),
                       HttpError{HttpErrorCode::timedOut,
                                 idle ? "the request timed out"
                                      : "the transfer exceeded its overall deadline"});
            } else {
                ++it;
            }
        }
    }

    int pollTimeoutMs() const {
        long curlTimeout = -1;
        curl_multi_timeout(multi_, &curlTimeout);
        long wait = curlTimeout < 0 ? 1000 : curlTimeout;
        const auto now = std::chrono::steady_clock::now();
        for (const auto& [raw, transfer] : active_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                std::min(transfer->lastActivity + transfer->timeout, transfer->deadline) - now);
            wait = std::min<long>(wait, std::max<long>(0, left.count() + 1));
        }
        if (!waiting_.empty()) {
            wait = std::min(wait, 50L);  // re-check the connectivity probe and waiting time-outs
        }
        return static_cast<int>(std::clamp(wait, 0L, 1000L));
    }

    static Transfer* transferOf(CURL* easy) {
        char* pointer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &pointer);
        return reinterpret_cast<Transfer*>(pointer);
    }

    CURL* acquireHandle() {
        if (!idleHandles_.empty()) {
            CURL* easy = idleHandles_.back();
            idleHandles_.pop_back();
            curl_easy_reset(easy);
            return easy;
        }
        return curl_easy_init();
    }

    void releaseHandle(Transfer& t) {
        if (t.easy == nullptr) {
            return;
        }
        curl_multi_remove_handle(multi_, t.easy);
        if (idleHandles_.size() < 16) {
            idleHandles_.push_back(t.easy);
        } else {
            curl_easy_cleanup(t.easy);
        }
        t.easy = nullptr;
    }

    static void finish(std::unique_ptr<Transfer> transfer, HttpError error) {
        finish(std::move(transfer), HttpResult(kr::Failure{std::move(error)}));
    }

    static void finish(std::unique_ptr<Transfer> transfer, HttpResult result) {
        // One allocation carries both to the queue; a task capturing only a shared_ptr fits in
        // std::function's small buffer.
        struct Delivery {
            HttpCompletion completion;
            HttpResult result;
        };
        auto queue = std::move(transfer->queue);
        auto delivery = std::make_shared<Delivery>(
            Delivery{std::move(transfer->completion), std::move(result)});
        transfer.reset();
        queue->post([delivery] { delivery->completion(std::move(delivery->result)); });
    }

    void cancelEverything() {
        std::vector<std::unique_ptr<Transfer>> all;
        {
            std::lock_guard lock(mutex_);
            for (auto& t : incoming_) {
                all.push_back(std::move(t));
            }
            incoming_.clear();
        }
        for (auto& t : waiting_) {
            all.push_back(std::move(t));
        }
        waiting_.clear();
        for (auto& [raw, t] : active_) {
            releaseHandle(*t);
            all.push_back(std::move(t));
        }
        active_.clear();
        for (auto& t : all) {
            finish(std::move(t), HttpError{HttpErrorCode::cancelled, "the transfer was cancelled"});
        }
    }

    const HttpTransportSettings settings_;
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    std::thread thread_;

    std::mutex mutex_;  // guards incoming_ and stopping_
    std::vector<std::unique_ptr<Transfer>> incoming_;
    bool stopping_ = false;

    // I/O thread only.
    std::deque<std::unique_ptr<Transfer>> waiting_;
    std::unordered_map<Transfer*, std::unique_ptr<Transfer>> active_;
    std::vector<CURL*> idleHandles_;
};

HttpTransport::HttpTransport(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

HttpTransport::~HttpTransport() = default;

std::shared_ptr<HttpTransport> HttpTransport::create(HttpTransportSettings settings) {
    return std::shared_ptr<HttpTransport>(
        new HttpTransport(std::make_unique<Impl>(std::move(settings))));
}

bool HttpTransport::isSafeHeaderValue(std::string_view value) {
    return value.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

kr::Result<kr::Unit, HttpError> HttpTransport::send(HttpRequest request,
                                                    std::shared_ptr<DispatchQueue> queue,
                                                    HttpCompletion completion) {
    if (!queue || !completion) {
        return kr::Failure{HttpError{HttpErrorCode::invalidRequest, "no queue or completion"}};
    }
    if (!isHttpsUrl(request.url)) {
        return kr::Failure{HttpError{HttpErrorCode::invalidRequest, "not an https URL"}};
    }
    const auto& session = impl_->settings().sessionHeaders;
    for (const HttpHeaders* list : {&session, static_cast<const HttpHeaders*>(&request.headers)}) {
        for (const auto& header : *list) {
            if (!isSafeHeaderName(header.name) || !isSafeHeaderValue(header.value)) {
                return kr::Failure{HttpError{HttpErrorCode::invalidRequest,
                                             "unsafe header \"" + header.name + "\""}};
            }
        }
    }
    if (!isSafeHeaderName(request.method)) {
        return kr::Failure{HttpError{HttpErrorCode::invalidRequest, "bad method"}};
    }
    auto transfer = std::make_unique<Transfer>();
    transfer->timeout = request.timeout;
    transfer->maxReplyBytes = impl_->settings().maxReplyBytes;
    if (const auto cap = impl_->settings().routing.maxTimeout) {
        transfer->timeout = std::min(transfer->timeout, *cap);
    }
    transfer->request = std::move(request);
    transfer->queue = std::move(queue);
    transfer->completion = std::move(completion);
    transfer->submitted = std::chrono::steady_clock::now();
    impl_->submit(std::move(transfer));
    return kr::Unit{};
}

}  // namespace kr::platform
