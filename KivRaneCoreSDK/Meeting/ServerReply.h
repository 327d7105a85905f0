#pragma once

// How the meeting reads a server call's outcome.

#include <string>
#include <type_traits>

#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Model/Response/KRStartWhiteboard.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"
#include "platform/Common/Result.h"

namespace kr {

/// A reply counts as success when the request succeeded; an acknowledgement that says
/// {"success": false} is a refusal, not a success, whichever of the two acknowledgement forms
/// carries it. A whiteboard start that names no whiteboard opened none.
template <class T>
bool replySucceeded(const Result<T, KRApiRequestError>& result) {
    if (!result.ok()) return false;
    if constexpr (std::is_same_v<T, KRAPISuccess>) {
        return result.value().isSuccess();
    } else if constexpr (std::is_same_v<T, KRAPIStatus>) {
        return result.value().success.value_or(true);
    } else if constexpr (std::is_same_v<T, KRStartWhiteboard>) {
        return !result.value().whiteboardId().value_or("").empty();
    } else {
        return true;
    }
}

/// The message of a failed reply: the error's, or a refusal's.
template <class T>
std::string replyErrorMessage(const Result<T, KRApiRequestError>& result) {
    if (!result.ok()) {
        return result.error().getMessageString();
    }
    return "The server refused the request";
}

}  // namespace kr
