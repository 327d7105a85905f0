#pragma once

// Internal to the client's sources: how a server call's reply gets back onto the client.

#include <string>
#include <type_traits>
#include <utility>

#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Meeting/ServerReply.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

namespace kr {

template <class Request, class OnResult>
void ClientCore::send(const Request& request, OnResult onResult) {
    std::weak_ptr<ClientCore> weak = weak_from_this();
    networkClient_->sendAPIRequest<Request>(
        request, [weak, onResult = std::move(onResult)](Request answered) mutable {
            // Replies arrive on the client's queue, which the network client shares.
            if (auto self = weak.lock()) {
                onResult(*self, answered.getResult());
            }
        });
}

template <class T>
void ClientCore::failJoinAt(KRJoinStep step, const char* action,
                          const Result<T, KRApiRequestError>& result) {
    logger_.error(std::string(action) + " Error ::: " + replyErrorMessage(result));
    // A refused connected status left the service listing nobody: no leave to tell it of.
    if (step == KRJoinStep::statusPost) connectedStatusSent_ = false;
    failJoin(result.ok() ? KRMeetingJoinError::other(replyErrorMessage(result))
                         : joinErrorFor(step, result.error()));
}

template <class Request, class OnReply>
void ClientCore::sendJoinCall(const Request& request, KRJoinStep step, const char* action,
                              OnReply onReply) {
    const SessionToken session = sessionToken();
    send(request, [session, step, action, onReply = std::move(onReply)](ClientCore& client,
                                                                         const auto& result) mutable {
        if (!session.live() || !client.isJoining()) return;
        if (!replySucceeded(result)) {
            client.failJoinAt(step, action, result);
            return;
        }
        client.logger_.info(std::string(action) + " API Successfull");
        onReply(client, result.value());
    });
}

template <class Request, class OnSuccess, class OnFailure>
void ClientCore::sendHostRequest(const Request& request, const char* action, Completion completion,
                                 OnSuccess onSuccess, OnFailure onFailure) {
    const SessionToken session = sessionToken();
    send(request, [session, action = std::string(action), completion = std::move(completion),
                   onSuccess = std::move(onSuccess),
                   onFailure = std::move(onFailure)](ClientCore& client, const auto& result) mutable {
        // The completion reports what the server did, whenever its answer comes; the meeting is
        // changed only while the one the call was made in goes on: after it ended the others are
        // no longer ours to tell, and nothing is reported any more. So a success step that tells
        // a target (and completes itself) runs only then; after the end, the completion gets
        // the server's answer alone.
        const bool ok = replySucceeded(result);
        if (!ok) {
            const std::string message = replyErrorMessage(result);
            client.logger_.error(action + " Error ::: " + message);
            if (session.live()) onFailure(client, message);
        } else {
            client.logger_.info(action + " API Successfull");
            if (session.live()) {
                if constexpr (std::is_invocable_v<OnSuccess&, ClientCore&, Completion&&>) {
                    // The success step finishes the call itself.
                    onSuccess(client, std::move(completion));
                    return;
                } else if constexpr (std::is_invocable_v<OnSuccess&, ClientCore&>) {
                    onSuccess(client);
                } else {
                    onSuccess(client, result.value());
                }
            }
        }
        if (completion) completion(ok);
    });
}

}  // namespace kr
