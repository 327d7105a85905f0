#include "platform/Http/HttpTransport.h"

#include <curl/curl.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <deque>
#include <iterator>
#include <limits>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/Http/TlsSessionCache.h"

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

constexpr char kNoExpect[] = "Expect:";

// Appends one header line, NUL-terminated, as curl takes it from a header list.
void appendHeaderLine(std::string& text, std::string_view name, std::string_view value) {
    text.append(name);
    // "Name;" is curl's way of sending a header with an empty value.
    if (value.empty()) {
        text.push_back(';');
    } else {
        text.append(": ");
        text.append(value);
    }
    text.push_back('\0');
}

// Room for the header lines of a typical reply, so that collecting them grows the list once.
constexpr std::size_t kUsualHeaderCount = 12;

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

// One transfer from `send` to its completion. Owned by the I/O thread once handed over; while
// curl runs it, its handle's private pointer leads back to it.
struct Transfer {
    HttpRequest request;
    std::shared_ptr<DispatchQueue> queue;
    HttpCompletion completion;
    SteadyTime deadline;          // the whole exchange, from `send` to the completion
    bool boundByRequest = false;  // the deadline is the request's own time-out
    bool resendable = false;      // a safe method: curl may send it once more
    bool resent = false;          // ... which it did
    bool refusedResend = false;   // curl tried to send it again and was stopped
    bool tooLarge = false;
    TlsSessionCache* tlsSessions = nullptr;  // the routing's, which the transport holds
    bool tlsSessionKept = false;
    int requestsSent = 0;
    std::size_t maxReplyBytes = 0;
    std::size_t headerBytes = 0;        // received so far, over every response of the transfer
    std::size_t headerBytesAtSend = 0;  // ... when the latest request went out
    CURL* easy = nullptr;
    // Header lines, NUL-separated, and the list curl reads them through (curl never frees it).
    std::string headerText;
    std::vector<curl_slist> headerList;
    HttpResponse response;
    Transfer* previous = nullptr;  // neighbours among the transfers inside curl
    Transfer* next = nullptr;
    char errorBuffer[CURL_ERROR_SIZE] = {};

    // Links the lines of `headerText` into `headerList`; `headerText` must not change after.
    void linkHeaderList() {
        const auto lines =
            static_cast<std::size_t>(std::count(headerText.begin(), headerText.end(), '\0'));
        headerList.resize(lines);
        char* line = headerText.data();
        for (std::size_t i = 0; i < lines; ++i) {
            headerList[i].data = line;
            headerList[i].next = i + 1 < lines ? &headerList[i + 1] : nullptr;
            line += std::char_traits<char>::length(line) + 1;
        }
    }
};

// A finished transfer's completion with its result, on the way to the completion's queue.
struct Delivery {
    std::shared_ptr<DispatchQueue> queue;
    HttpCompletion completion;
    HttpResult result;
    // Freed with the delivery on the queue's thread, which made it: the I/O thread does not
    // hand its memory back across threads.
    std::unique_ptr<Transfer> spent;
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
        for (const auto& entry : settings_.routing.connectTo) {
            connectTo_ = curl_slist_append(connectTo_, entry.c_str());
        }
        for (const auto& header : settings_.sessionHeaders) {
            appendHeaderLine(sessionHeaderText_, header.name, header.value);
        }
        // The I/O thread starts with the first transfer: a transport nobody sends on costs none.
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
        curl_slist_free_all(connectTo_);
    }

    const HttpTransportSettings& settings() const { return settings_; }
    std::size_t idleHandleCount() const {
        return idleHandleCount_.load(std::memory_order_relaxed);
    }
    const std::string& sessionHeaderText() const { return sessionHeaderText_; }

    void submit(std::unique_ptr<Transfer> transfer) {
        bool wasEmpty = false;
        {
            std::lock_guard lock(mutex_);
            wasEmpty = incoming_.empty();
            incoming_.push_back(std::move(transfer));
            if (!thread_.joinable()) {
                thread_ = std::thread([this] { run(); });
            }
        }
        // A non-empty list has a wake-up on its way already: the I/O thread empties the list
        // only after it was woken for it.
        if (wasEmpty) {
            curl_multi_wakeup(multi_);
        }
    }

    void setConnected(bool connected) {
        {
            std::lock_guard lock(mutex_);
            reportedConnected_ = connected;
        }
        // Waiting transfers start as soon as the network is back, not at the next sweep.
        if (connected) {
            curl_multi_wakeup(multi_);
        }
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
                connectedAsTold_ = reportedConnected_;
            }
            for (auto& transfer : arrived) {
                nextWaitingDeadline_ = std::min(nextWaitingDeadline_, transfer->deadline);
                waiting_.push_back(std::move(transfer));
            }
            arrived.clear();
            startWaitingTransfers(std::chrono::steady_clock::now());

            int running = 0;
            curl_multi_perform(multi_, &running);
            const bool freedSlots = collectFinished();
            deliverFinished();
            // Transfers that finished made room for waiting ones: start them without sleeping.
            const int timeout = freedSlots && !waiting_.empty() ? 0 : pollTimeoutMs();
            curl_multi_poll(multi_, nullptr, 0, timeout, nullptr);
        }
        cancelEverything();
        deliverFinished();
    }

    // Hands waiting transfers to curl in arrival order while connected, no more at a time than
    // one host may have connections (the rest wait here, cheaply: a transfer curl must hold back
    // for a free connection costs it far more), and fails those whose deadline has passed.
    void startWaitingTransfers(SteadyTime now) {
        if (waiting_.empty()) {
            return;
        }
        const bool online = connectedAsTold_;
        const auto maxActive =
            static_cast<std::size_t>(std::max(1L, settings_.maxConnectionsPerHost));
        while (online && !waiting_.empty() && activeCount_ < maxActive) {
            auto transfer = std::move(waiting_.front());
            waiting_.pop_front();
            start(std::move(transfer), now);
        }
        // The list is only walked once its earliest deadline may have passed: a long list of
        // transfers waiting for a connection costs nothing per sweep.
        if (now < nextWaitingDeadline_) {
            return;
        }
        nextWaitingDeadline_ = SteadyTime::max();
        for (auto it = waiting_.begin(); it != waiting_.end();) {
            if (now < (*it)->deadline) {
                nextWaitingDeadline_ = std::min(nextWaitingDeadline_, (*it)->deadline);
                ++it;
                continue;
            }
            auto transfer = std::move(*it);
            it = waiting_.erase(it);
            finish(std::move(transfer),
                   HttpError{HttpErrorCode::timedOut,
                             online ? "the request timed out"
                                    : "no network connection within the request time-out"});
        }
    }

    void start(std::unique_ptr<Transfer> transfer, SteadyTime now) {
        // curl bounds the rest of the exchange; zero would mean no bound at all to it.
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(transfer->deadline - now).count();
        if (left <= 0) {
            finish(std::move(transfer), HttpError{HttpErrorCode::timedOut, timeoutText(*transfer)});
            return;
        }
        CURL* easy = acquireHandle();
        if (easy == nullptr) {
            finish(std::move(transfer), HttpError{HttpErrorCode::other, "cannot create a handle"});
            return;
        }
        transfer->easy = easy;
        configure(*transfer, static_cast<long>(left));
        if (curl_multi_add_handle(multi_, easy) != CURLM_OK) {
            releaseHandle(*transfer);
            finish(std::move(transfer), HttpError{HttpErrorCode::other, "cannot start transfer"});
            return;
        }
        link(transfer.release());
    }

    static const char* timeoutText(const Transfer& t) {
        return t.boundByRequest ? "the request timed out"
                                : "the transfer exceeded its overall deadline";
    }

    // What every transfer on a handle shares; set once per handle, as handles are reused.
    void configureHandle(CURL* easy) {
        const HttpRouting& routing = settings_.routing;
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_SHARE, share_);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(easy, CURLOPT_MAXREDIRS, 16L);
        curl_easy_setopt(easy, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
        curl_easy_setopt(easy, CURLOPT_TCP_KEEPALIVE, 1L);
        // Refuses at once a reply that announces a length past the limit; `onBody` catches the rest.
        const auto maxFileSize =
            std::min<std::size_t>(settings_.maxReplyBytes,
                                  static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max()));
        curl_easy_setopt(easy, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(maxFileSize));
        if (!routing.caFile.empty()) {
            curl_easy_setopt(easy, CURLOPT_CAINFO, routing.caFile.c_str());
            curl_easy_setopt(easy, CURLOPT_CAPATH, nullptr);
        }
        if (connectTo_ != nullptr) {
            curl_easy_setopt(easy, CURLOPT_CONNECT_TO, connectTo_);
        }
        if (!settings_.acceptEncoding.empty()) {
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, settings_.acceptEncoding.c_str());
        }
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(easy, CURLOPT_PREREQFUNCTION, &Impl::onRequestSent);
    }

    // What differs from one transfer to the next; every option a previous transfer on the same
    // handle may have set is set again here.
    static void configure(Transfer& t, long timeoutMs) {
        CURL* easy = t.easy;
        const HttpRequest& request = t.request;

        curl_easy_setopt(easy, CURLOPT_PRIVATE, &t);
        curl_easy_setopt(easy, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, t.errorBuffer);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeoutMs);
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, t.headerList.data());
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(easy, CURLOPT_PREREQDATA, &t);

        curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, nullptr);
        if (request.body) {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(request.body->size()));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, request.body->data());
            if (request.method != "POST") {
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
        } else if (request.method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(0));
            curl_easy_setopt(easy, CURLOPT_POSTFIELDS, "");
        } else if (request.method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
            if (request.method != "GET") {
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, request.method.c_str());
            }
        }
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
        auto* t = static_cast<Transfer*>(user);
        if (size * count > t->maxReplyBytes - t->response.body.size()) {
            t->tooLarge = true;
            return 0;  // curl aborts the transfer with a write error
        }
        t->response.body.append(data, size * count);
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
        if (line.rfind("HTTP/", 0) == 0) {
            if (t->tlsSessions != nullptr && !t->tlsSessionKept) {
                t->tlsSessionKept = true;
                keepTlsSession(t->easy, *t->tlsSessions);
            }
            // A new response starts (after a redirect or an interim reply): keep only its headers.
            t->response.headers.clear();
            t->response.headers.reserve(kUsualHeaderCount);
            return line.size();
        }
        const auto colon = line.find(':');
        if (colon != std::string_view::npos) {
            t->response.headers.push_back(HttpHeader{std::string(trim(line.substr(0, colon))),
                                                     std::string(trim(line.substr(colon + 1)))});
        }
        return line.size();
    }

    // Called by curl just before each request of the transfer goes out: the first, each one after
    // a redirect, and the one curl sends again on a new connection when a reused connection died
    // before any reply. That last one is told apart by the missing reply to the request before.
    static int onRequestSent(void* user, char*, char*, int, int) {
        auto* t = static_cast<Transfer*>(user);
        if (t->requestsSent > 0 && t->headerBytes == t->headerBytesAtSend) {
            // The request before may have reached the server: only a safe method goes again,
            // and only once.
            if (!t->resendable || t->resent) {
                t->refusedResend = true;
                return CURL_PREREQFUNC_ABORT;
            }
            t->resent = true;
        }
        ++t->requestsSent;
        t->headerBytesAtSend = t->headerBytes;
        return CURL_PREREQFUNC_OK;
    }

    // Hands the session of a connection the transfer opened to the shared cache, under the name
    // the connection asked for. Called on the first reply line: the connection is still the
    // transfer's, and the server's session tickets, which come before any reply, have been read.
    static void keepTlsSession(CURL* easy, TlsSessionCache& cache) {
        long opened = 0;
        if (curl_easy_getinfo(easy, CURLINFO_NUM_CONNECTS, &opened) != CURLE_OK || opened == 0) {
            return;
        }
        curl_tlssessioninfo* info = nullptr;
        if (curl_easy_getinfo(easy, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || info == nullptr ||
            info->backend != CURLSSLBACKEND_OPENSSL || info->internals == nullptr) {
            return;
        }
        auto* ssl = static_cast<SSL*>(info->internals);
        if (const char* host = SSL_get_servername(ssl, TLSEXT_NAMETYPE_host_name)) {
            cache.store(host, SSL_get0_session(ssl));
        }
    }

    // Finishes the transfers curl is done with; true when there were any.
    bool collectFinished() {
        bool any = false;
        int remaining = 0;
        while (CURLMsg* message = curl_multi_info_read(multi_, &remaining)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            const CURLcode code = message->data.result;
            std::unique_ptr<Transfer> transfer(transferOf(message->easy_handle));
            unlink(transfer.get());
            any = true;
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
            } else if (transfer->refusedResend) {
                releaseHandle(*transfer);
                finish(std::move(transfer),
                       HttpError{HttpErrorCode::connectionLost,
                                 "the connection closed before a reply; the request may have "
                                 "reached the server and was not sent again"});
            } else if (code == CURLE_OPERATION_TIMEDOUT) {
                releaseHandle(*transfer);
                const char* text = timeoutText(*transfer);
                finish(std::move(transfer), HttpError{HttpErrorCode::timedOut, text});
            } else {
                std::string text = transfer->errorBuffer[0] != '\0'
                                       ? std::string(transfer->errorBuffer)
                                       : std::string(curl_easy_strerror(code));
                releaseHandle(*transfer);
                finish(std::move(transfer), HttpError{mapCurlCode(code), std::move(text)});
            }
        }
        return any;
    }

    int pollTimeoutMs() const {
        long curlTimeout = -1;
        curl_multi_timeout(multi_, &curlTimeout);
        long wait = curlTimeout < 0 ? 1000 : curlTimeout;
        if (!waiting_.empty() && nextWaitingDeadline_ != SteadyTime::max()) {
            // A waiting transfer starts when the network comes back or a connection frees up,
            // both of which wake the thread; only its deadline needs a timed wake-up.
            const auto untilDeadline = std::chrono::ceil<std::chrono::milliseconds>(
                nextWaitingDeadline_ - std::chrono::steady_clock::now());
            const std::int64_t ms = std::max<std::int64_t>(0, untilDeadline.count());
            wait = std::min(wait, static_cast<long>(ms));
        }
        return static_cast<int>(std::clamp(wait, 0L, 1000L));
    }

    static Transfer* transferOf(CURL* easy) {
        char* pointer = nullptr;
        curl_easy_getinfo(easy, CURLINFO_PRIVATE, &pointer);
        return reinterpret_cast<Transfer*>(pointer);
    }

    void link(Transfer* t) {
        t->previous = nullptr;
        t->next = active_;
        if (active_ != nullptr) {
            active_->previous = t;
        }
        active_ = t;
        ++activeCount_;
    }

    void unlink(Transfer* t) {
        (t->previous != nullptr ? t->previous->next : active_) = t->next;
        if (t->next != nullptr) {
            t->next->previous = t->previous;
        }
        t->previous = t->next = nullptr;
        --activeCount_;
    }

    CURL* acquireHandle() {
        if (!idleHandles_.empty()) {
            CURL* easy = idleHandles_.back();
            idleHandles_.pop_back();
            idleHandleCount_.store(idleHandles_.size(), std::memory_order_relaxed);
            return easy;
        }
        CURL* easy = curl_easy_init();
        if (easy != nullptr) {
            configureHandle(easy);
        }
        return easy;
    }

    void releaseHandle(Transfer& t) {
        if (t.easy == nullptr) {
            return;
        }
        curl_multi_remove_handle(multi_, t.easy);
        if (idleHandles_.size() < kMaxIdleHandles) {
            idleHandles_.push_back(t.easy);
            idleHandleCount_.store(idleHandles_.size(), std::memory_order_relaxed);
        } else {
            curl_easy_cleanup(t.easy);
        }
        t.easy = nullptr;
    }

    void finish(std::unique_ptr<Transfer> transfer, HttpError error) {
        finish(std::move(transfer), HttpResult(kr::Failure{std::move(error)}));
    }

    // Completions wait in `finished_` until the end of the I/O thread's sweep, which hands them
    // over in `deliverFinished`.
    void finish(std::unique_ptr<Transfer> transfer, HttpResult result) {
        auto queue = std::move(transfer->queue);
        auto completion = std::move(transfer->completion);
        finished_.push_back(Delivery{std::move(queue), std::move(completion), std::move(result),
                                     std::move(transfer)});
    }

    // Posts the completions of one sweep: one task per run of completions bound for the same
    // queue, which runs them in the order their transfers ended. A busy transport thus wakes
    // its queue once per sweep rather than once per transfer.
    void deliverFinished() {
        std::size_t first = 0;
        while (first < finished_.size()) {
            std::size_t end = first + 1;
            while (end < finished_.size() && finished_[end].queue == finished_[first].queue) {
                ++end;
            }
            auto queue = finished_[first].queue;
            auto batch = std::make_shared<std::vector<Delivery>>();
            if (first == 0 && end == finished_.size()) {
                batch->swap(finished_);
            } else {
                batch->reserve(end - first);
                std::move(finished_.begin() + static_cast<std::ptrdiff_t>(first),
                          finished_.begin() + static_cast<std::ptrdiff_t>(end),
                          std::back_inserter(*batch));
            }
            // The task must not keep its own queue alive: a queue dropped with the task unrun
            // would otherwise never be freed, and neither would the batch.
            for (Delivery& delivery : *batch) {
                delivery.queue.reset();
            }
            queue->post([batch] {
                for (Delivery& delivery : *batch) {
                    delivery.completion(std::move(delivery.result));
                }
            });
            first = end;
        }
        finished_.clear();
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
        while (active_ != nullptr) {
            std::unique_ptr<Transfer> t(active_);
            unlink(t.get());
            releaseHandle(*t);
            all.push_back(std::move(t));
        }
        for (auto& t : all) {
            finish(std::move(t), HttpError{HttpErrorCode::cancelled, "the transfer was cancelled"});
        }
    }


    const HttpTransportSettings settings_;
    CURLM* multi_ = nullptr;
    CURLSH* share_ = nullptr;
    curl_slist* connectTo_ = nullptr;  // read by curl for every transfer; freed last
    std::string sessionHeaderText_;    // the session headers as NUL-separated header lines
    std::thread thread_;  // started by the first submit; joined by the destructor alone

    std::mutex mutex_;  // guards incoming_, stopping_, reportedConnected_ and starting thread_
    std::vector<std::unique_ptr<Transfer>> incoming_;
    bool stopping_ = false;
    bool reportedConnected_ = true;  // as told by setConnected

    // I/O thread only.
    bool connectedAsTold_ = true;  // reportedConnected_ as of the latest sweep
    std::deque<std::unique_ptr<Transfer>> waiting_;
    // No waiting transfer's deadline is earlier (one that already started may have had it).
    SteadyTime nextWaitingDeadline_ = SteadyTime::max();
    Transfer* active_ = nullptr;  // owned; the transfers inside curl, linked through `next`
    std::size_t activeCount_ = 0;
    std::vector<CURL*> idleHandles_;  // at most kMaxIdleHandles
    std::atomic<std::size_t> idleHandleCount_{0};  // idleHandles_.size(), for any thread
    std::vector<Delivery> finished_;  // completions of the current sweep, in the order they ended
};

HttpTransport::HttpTransport(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

HttpTransport::~HttpTransport() = default;

std::shared_ptr<HttpTransport> HttpTransport::create(HttpTransportSettings settings) {
    return std::shared_ptr<HttpTransport>(
        new HttpTransport(std::make_unique<Impl>(std::move(settings))));
}

void HttpTransport::setConnected(bool connected) {
    impl_->setConnected(connected);
}

const HttpTransportSettings& HttpTransport::settings() const {
    return impl_->settings();
}

std::size_t HttpTransport::idleHandleCount() const {
    return impl_->idleHandleCount();
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
    const HttpTransportSettings& settings = impl_->settings();
    auto transfer = std::make_unique<Transfer>();
    const auto now = std::chrono::steady_clock::now();
    auto timeout = request.timeout.value_or(settings.totalTimeout);
    transfer->boundByRequest = request.timeout.has_value();
    if (const auto cap = settings.routing.maxTimeout) {
        timeout = std::min(timeout, *cap);
    }
    transfer->deadline = now + timeout;
    transfer->maxReplyBytes = settings.maxReplyBytes;
    transfer->tlsSessions = settings.routing.tlsSessions.get();
    transfer->resendable =
        request.method == "GET" || request.method == "HEAD" || request.method == "OPTIONS";
    // The header lines are built here, on the caller's thread, so the I/O thread only hands
    // them to curl.
    std::string& text = transfer->headerText;
    std::size_t size = impl_->sessionHeaderText().size() + sizeof kNoExpect;
    for (const auto& header : request.headers) {
        size += header.name.size() + header.value.size() + 3;
    }
    text.reserve(size);
    text = impl_->sessionHeaderText();
    for (const auto& header : request.headers) {
        appendHeaderLine(text, header.name, header.value);
    }
    // Never wait for a "100 Continue" round trip before sending a body.
    text.append(kNoExpect, sizeof kNoExpect);
    transfer->linkHeaderList();
    transfer->request = std::move(request);
    transfer->queue = std::move(queue);
    transfer->completion = std::move(completion);
    impl_->submit(std::move(transfer));
    return kr::Unit{};
}

}  // namespace kr::platform
