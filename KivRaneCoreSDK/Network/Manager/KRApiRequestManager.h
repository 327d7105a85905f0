#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/Network/Protocols/KRAPIRequest.h"
#include "platform/Common/Result.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Http/HttpTransport.h"

namespace kr {

/// Performs the HTTP exchange of every REST request over one HTTPS transport with the session
/// headers ("Accept-Encoding", "Connection", "User-Agent"), at most 15 connections per host and a
/// 60 s time-out on the whole exchange; validates the status and decodes the reply on the main
/// queue. A POST whose connection dies before a reply is not sent again: it fails with
/// `networkFailure` and the caller decides. The transport is the dependencies' shared one
/// (`KRDependencies::httpTransports`), used by every manager built from the same value.
///
/// Every send completes exactly once, on the dependencies' queue and never inside `sendRequest`:
/// with `invalidUrlRequest` when no request can be built, otherwise in the order the transfers
/// finish. The completion never touches the manager, so a transfer still in flight when the
/// manager is destroyed completes harmlessly: with its outcome while another manager keeps the
/// shared transport, with `networkFailure` when the transport went with this manager.
///
/// Threading: `sendRequest` and `setConnected` may be called from any thread; the transport's I/O
/// thread is the only other thread involved and it only posts to the queue.
class KRApiRequestManager {
public:
    /// Uses the queue (required) and the HTTPS routing of `dependencies`.
    explicit KRApiRequestManager(KRDependencies dependencies);
    ~KRApiRequestManager();
    KRApiRequestManager(const KRApiRequestManager&) = delete;
    KRApiRequestManager& operator=(const KRApiRequestManager&) = delete;

    template <KRAPIRequestType R>
    void sendRequest(const R& request, KRApiServer serverEnvironment, std::string_view deviceID,
                     std::string_view jwtToken, bool isGuestUser,
                     std::function<void(typename R::ResultType)> completion) {
        using T = typename R::ReturnDataType;
        auto shared =
            std::make_shared<std::function<void(typename R::ResultType)>>(std::move(completion));
        auto built = request.createUrlRequest(serverEnvironment, deviceID, jwtToken, isGuestUser);
        if (!built) {
            fail(std::move(built).error(), shared);
            return;
        }
        const bool started =
            start(std::move(built).value(), [shared](platform::HttpResult outcome) {
                (*shared)(decodeRequestResponse<T>(outcome));
            });
        if (!started) {
            // The transport refused the request before sending it: it could not be built.
            fail(KRApiRequestError::invalidUrlRequest(), shared);
        }
    }

    /// Whether the network is reachable (it is until told otherwise). While it is not, a send
    /// waits for it, at most its 60 s time-out, and then fails with `networkFailure`. Any thread;
    /// a send made after this returns sees the new value. The state is the transport's, so it
    /// holds for every manager sharing it, including one built after it was told.
    void setConnected(bool isConnected) { session_->setConnected(isConnected); }

    /// The queue every completion runs on.
    const std::shared_ptr<platform::DispatchQueue>& queue() const { return queue_; }

    /// The outcome of an exchange as the request's result: a transport error gives
    /// `networkFailure`; 2xx decodes the model (an empty reply as {"success":true}); 4xx gives
    /// `failedApi`; 500-600 `serverError`; anything else, or a reply that does not decode, gives
    /// `unKnown`.
    template <class T>
    static Result<T, KRApiRequestError> decodeRequestResponse(const platform::HttpResult& outcome) {
        auto text = checkResponse(outcome);
        if (!text) {
            return Failure{std::move(text).error()};
        }
        auto decoded = decodeJson<T>(text.value());
        if (!decoded) {
            return Failure{KRApiRequestError::unKnown()};
        }
        return std::move(decoded).value();
    }

    /// The JSON text to decode for a 2xx reply (a view of the reply body, valid while `outcome`
    /// is), or the error the outcome stands for.
    static Result<std::string_view, KRApiRequestError> checkResponse(
        const platform::HttpResult& outcome);

    /// executable "/" version " (" bundle id "; build:" build "; " os " " os version ") "
    /// "KivRaneNetwork/1.0", with "Unknown" for what the host application has not said.
    static std::string userAgent();

private:
    /// Hands the request to the transport; false (and `done` dropped) when it was refused.
    /// `done` alone is kept by the transfer, so it stays valid after the manager is gone.
    bool start(platform::HttpRequest request, platform::HttpCompletion done);

    /// Completes with `error` from the queue, as a later task: a caller never sees its completion
    /// run inside its own call, whatever went wrong.
    template <class ResultType>
    void fail(KRApiRequestError error,
              const std::shared_ptr<std::function<void(ResultType)>>& completion) {
        queue_->post([completion, error = std::move(error)] {
            (*completion)(Failure{error});
        });
    }

    std::shared_ptr<platform::DispatchQueue> queue_;
    std::shared_ptr<platform::HttpTransport> session_;
};

}  // namespace kr
