#pragma once

// Internal to the client's sources: how a server call's reply gets back onto the client.

#include <string>
#include <utility>

#include "KivRaneCoreSDK/Meeting/ClientCore.h"
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

template <class Request, class OnSuccess>
void ClientCore::sendHostRequest(const Request& request, const char* action, Completion completion,
                               OnSuccess onSuccess) {
    const SessionToken session = sessionToken();
    send(request, [session, action = std::string(action), completion = std::move(completion),
                   onSuccess = std::move(onSuccess)](ClientCore& client, const auto& result) mutable {
        if (!replySucceeded(result)) {
            client.logger_.error(action + " Error ::: " + replyErrorMessage(result));
            if (completion) completion(false);
            return;
        }
        client.logger_.info(action + " API Successfull");
        // After a leave the others are no longer ours to tell, and nothing is reported any more.
        if (session.live()) {
            onSuccess(client);
        }
        if (completion) completion(true);
    });
}

}  // namespace kr
