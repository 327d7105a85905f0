#include "KivRaneCoreSDK/Chat/KRChatManager.h"

#include <algorithm>

#include "KivRaneCoreSDK/Chat/Requests/GetChatMessagesRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetChatThreadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetParticipantsRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/GetPrivateChatThreadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/MessageMarkReadRequest.h"
#include "KivRaneCoreSDK/Chat/Requests/SendChatMessageRequest.h"
#include "KivRaneCoreSDK/Network/Requests/LeaveChatThreadRequest.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

namespace kr {

std::shared_ptr<KRChatManager> KRChatManager::create(
    std::shared_ptr<platform::DispatchQueue> queue) {
    return std::shared_ptr<KRChatManager>(new KRChatManager(std::move(queue)));
}

KRChatManager::KRChatManager(std::shared_ptr<platform::DispatchQueue> queue)
    : queue_(std::move(queue)) {}

template <class Request, class OnResult>
void KRChatManager::send(const Request& request, OnResult onResult) {
    using ResultType = typename Request::ResultType;
    auto queue = queue_;
    if (!networkClient_) {
        // Nothing can be asked; answer anyway so that no caller waits forever.
        queue->post([onResult = std::move(onResult)]() mutable {
            onResult(ResultType(Failure{KRApiRequestError::unKnown()}));
        });
        return;
    }
    // The client may answer at once (a request it cannot build) or on another queue; every
    // answer is moved onto this manager's queue as a task of its own. The queue is held weakly:
    // an answer waiting on the queue must not keep the queue itself alive.
    networkClient_->sendAPIRequest<Request>(
        request, [weakQueue = std::weak_ptr<platform::DispatchQueue>(queue),
                  onResult = std::move(onResult)](Request done) {
            if (auto target = weakQueue.lock()) {
                target->post([onResult, result = done.getResult()]() mutable {
                    onResult(std::move(result));
                });
            }
        });
}

void KRChatManager::fail(std::function<void()> completion) {
    queue_->post(std::move(completion));
}

void KRChatManager::assignNetworkClient(std::shared_ptr<KRNetworkClient> networkClient) {
    KR_DCHECK_RUN_ON(checker_);
    networkClient_ = std::move(networkClient);
}

void KRChatManager::setOnGetAllChatMessages(FirstPageHook hook) {
    KR_DCHECK_RUN_ON(checker_);
    onGetAllChatMessages_ = std::move(hook);
}

void KRChatManager::setMeetingData(std::string meetingID, std::string meetingPIN,
                                   std::string roomID, std::string currentUserParticipantID,
                                   std::string currentUserGuestID) {
    KR_DCHECK_RUN_ON(checker_);
    // The pushes held for pages of the meeting that ends here go now, under its thread ids.
    std::map<std::string, CatchUp> catchUps = std::move(catchUps_);
    catchUps_.clear();
    for (auto& entry : catchUps) {
        releaseHeld(entry.second);
    }
    meetingID_ = std::move(meetingID);
    meetingPIN_ = std::move(meetingPIN);
    roomID_ = std::move(roomID);
    currentUserParticipantID_ = std::move(currentUserParticipantID);
    currentUserGuestID_ = std::move(currentUserGuestID);
    // The previous meeting's threads must not take this meeting's messages, nor be caught up on
    // in it: its private threads belong to the user the client was there.
    mainChatThreadID_.clear();
    privateChatThreads_.clear();
    const std::uint64_t generation = ++meetingGeneration_;

    std::weak_ptr<KRChatManager> weak = weak_from_this();
    send(GetChatThreadRequest(meetingID_),
         [weak, generation](Result<KRChatThread, KRApiRequestError> result) {
             auto self = weak.lock();
             if (!self || !result.ok() || self->meetingGeneration_ != generation) {
                 return;
             }
             self->mainChatThreadID_ = result.value().id;
             self->fetchPage(self->mainChatThreadID_,
                             [weak, generation](Result<KRThreadChatMessages, KRApiRequestError> page) {
                                 auto owner = weak.lock();
                                 if (!owner || !page.ok() || !page.value().messages ||
                                     owner->meetingGeneration_ != generation ||
                                     !owner->onGetAllChatMessages_) {
                                     return;
                                 }
                                 // A copy: the hook may replace itself.
                                 const FirstPageHook hook = owner->onGetAllChatMessages_;
                                 hook(*page.value().messages);
                             });
         });
}

KRChatMessageList KRChatManager::getMainThreadChatMessages() const {
    KR_DCHECK_RUN_ON(checker_);
    return cache_.messagesOfThread(mainChatThreadID_);
}

std::vector<KRChatMessage> KRChatManager::flagged(const std::vector<KRChatMessage>& messages,
                                                  const std::string& localGuestId) {
    std::vector<KRChatMessage> out;
    out.reserve(messages.size());
    for (const KRChatMessage& message : messages) {
        if (message.messageType != KRChatMessageType::normal) {
            continue;
        }
        out.push_back(message);
        out.back().isIncomingMessage = message.creatorId != localGuestId;
    }
    return out;
}

void KRChatManager::appendChatMessages(const std::vector<KRChatMessage>& messages,
                                       const std::string& localGuestId) {
    cache_.merge(messages, localGuestId);
}

void KRChatManager::fetchPage(const std::string& threadId, PageCompletion completion) {
    // Whether a message is incoming is decided for the user who asked, even if the manager has
    // moved on to another meeting or is gone when the reply lands.
    const std::string localGuestId = currentUserGuestID_;
    std::weak_ptr<KRChatManager> weak = weak_from_this();
    send(GetChatMessagesRequest(threadId),
         [weak, localGuestId, completion = std::move(completion)](
             Result<KRThreadChatMessages, KRApiRequestError> result) {
             if (!result.ok()) {
                 completion(std::move(result));
                 return;
             }
             KRThreadChatMessages page = std::move(result).value();
             std::vector<KRChatMessage> normal;
             if (page.messages) {
                 normal = flagged(*page.messages, localGuestId);
                 page.messages = normal;
             }
             completion(std::move(page));
             if (auto self = weak.lock()) {
                 self->appendChatMessages(normal, localGuestId);
             }
         });
}

void KRChatManager::getMainChatThread(ThreadCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    send(GetChatThreadRequest(meetingID_), std::move(completion));
}

void KRChatManager::getChatThreadMessages(const std::string& threadId, PageCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    fetchPage(threadId, std::move(completion));
}

void KRChatManager::getPrivateChatThreadWithUser(const std::string& userId,
                                                 ThreadCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    std::weak_ptr<KRChatManager> weak = weak_from_this();
    send(GetPrivateChatThreadRequest(userId, currentUserGuestID_),
         [weak, userId, generation = meetingGeneration_, completion = std::move(completion)](
             Result<KRChatThread, KRApiRequestError> result) {
             if (result.ok()) {
                 auto self = weak.lock();
                 if (self && self->meetingGeneration_ == generation) {
                     self->privateChatThreads_[userId] = result.value().id;
                 }
             }
             completion(std::move(result));
         });
}

void KRChatManager::getPrivateChatMessages(const std::string& with, PageCompletion comletion) {
    KR_DCHECK_RUN_ON(checker_);
    const auto thread = privateChatThreads_.find(with);
    if (thread == privateChatThreads_.end()) {
        fail([comletion = std::move(comletion)] {
            comletion(Failure{KRApiRequestError::unKnown()});
        });
        return;
    }
    fetchPage(thread->second, std::move(comletion));
}

void KRChatManager::sendChatTextMessage(const std::string& message,
                                        std::optional<KRSendAttachmentInfo> attachment,
                                        KRChatMessageDestination destination,
                                        MessageCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (destination.isGroup()) {
        if (mainChatThreadID_.empty()) {
            fail([completion = std::move(completion)] {
                completion(Failure{KRApiRequestError::unKnown()});
            });
            return;
        }
        sendToThread(mainChatThreadID_, message, attachment, std::move(completion));
        return;
    }
    const std::string& userId = destination.userId();
    if (const auto thread = privateChatThreads_.find(userId); thread != privateChatThreads_.end()) {
        sendToThread(thread->second, message, attachment, std::move(completion));
        return;
    }
    std::weak_ptr<KRChatManager> weak = weak_from_this();
    send(GetPrivateChatThreadRequest(userId, currentUserGuestID_),
         [weak, userId, message, generation = meetingGeneration_, attachment = std::move(attachment),
          completion = std::move(completion)](Result<KRChatThread, KRApiRequestError> thread) {
             if (!thread.ok()) {
                 // The message cannot go anywhere: say so instead of dropping it silently.
                 completion(Failure{std::move(thread).error()});
                 return;
             }
             auto self = weak.lock();
             if (!self) {
                 completion(Failure{KRApiRequestError::unKnown()});
                 return;
             }
             if (self->meetingGeneration_ == generation) {
                 self->privateChatThreads_[userId] = thread.value().id;
             }
             self->sendToThread(thread.value().id, message, attachment, completion);
         });
}

void KRChatManager::sendToThread(const std::string& threadId, const std::string& message,
                                 const std::optional<KRSendAttachmentInfo>& attachment,
                                 MessageCompletion completion) {
    const std::string localGuestId = currentUserGuestID_;
    std::weak_ptr<KRChatManager> weak = weak_from_this();
    send(SendChatMessageRequest(threadId, meetingID_, message, attachment),
         [weak, localGuestId, completion = std::move(completion)](
             Result<KRChatMessage, KRApiRequestError> result) {
             if (result.ok()) {
                 if (auto self = weak.lock()) {
                     self->appendChatMessages({result.value()}, localGuestId);
                 }
             }
             completion(std::move(result));
         });
}

void KRChatManager::markReadMessages(const std::string& lastMessageId, const std::string& threadId,
                                     ReadCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    send(MessageMarkReadRequest(lastMessageId, threadId), std::move(completion));
}

void KRChatManager::getChatActiveParticipants(MembersCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (mainChatThreadID_.empty()) {
        fail([completion = std::move(completion)] {
            completion({}, KRApiRequestError::unKnown());
        });
        return;
    }
    send(GetParticipantsRequest(meetingID_, mainChatThreadID_),
         [completion = std::move(completion)](
             Result<std::vector<KRMeetingParticipant2>, KRApiRequestError> result) {
             if (result.ok()) {
                 completion(std::move(result).value(), std::nullopt);
             } else {
                 completion({}, std::move(result).error());
             }
         });
}

void KRChatManager::leaveMainChatThread(LeaveCompletion completion) {
    KR_DCHECK_RUN_ON(checker_);
    if (mainChatThreadID_.empty()) {
        fail([completion = std::move(completion)] { completion(false); });
        return;
    }
    send(LeaveChatThreadRequest(mainChatThreadID_),
         [completion = std::move(completion)](Result<KRLeaveChatThread, KRApiRequestError> result) {
             completion(result.ok());
         });
}

void KRChatManager::addChatDelegate(const std::shared_ptr<KRChatClientDelegate>& delegate,
                                    const std::string& identifier) {
    KR_DCHECK_RUN_ON(checker_);
    for (auto& entry : delegates_) {
        if (entry.first == identifier) {
            entry.second = delegate;
            return;
        }
    }
    delegates_.emplace_back(identifier, delegate);
}

void KRChatManager::removeDelegate(const std::string& identifier) {
    KR_DCHECK_RUN_ON(checker_);
    std::erase_if(delegates_, [&](const auto& entry) { return entry.first == identifier; });
}

void KRChatManager::addSocketChatMessage(const KRChatMessage& message) {
    KR_DCHECK_RUN_ON(checker_);
    if (const auto catchUp = catchUps_.find(message.threadId);
        catchUp != catchUps_.end() && catchUp->second.holding) {
        // The thread's missed messages are older than this one: it waits for them.
        catchUp->second.held.push_back(message);
        return;
    }
    reportSocketChatMessage(message);
}

void KRChatManager::reportSocketChatMessage(const KRChatMessage& message) {
    const KRChatMessage* stored = cache_.admit(message, currentUserGuestID_);
    if (stored == nullptr) {
        return;
    }
    // The cache keeps every message for the manager's life, and `self` below keeps the manager.
    const KRChatMessage& added = *stored;

    // Observers are taken once per message: one added or removed inside a callback takes effect
    // from the next message on.
    std::vector<std::shared_ptr<KRChatClientDelegate>> observers;
    observers.reserve(delegates_.size());
    for (const auto& entry : delegates_) {
        if (entry.second) {
            observers.push_back(entry.second);
        }
    }
    const auto self = shared_from_this();  // an observer may drop the last owner

    if (!mainChatThreadID_.empty() && added.threadId == mainChatThreadID_) {
        for (const auto& observer : observers) {
            observer->didRecieveNewChatMessage(*self, added);
        }
        return;
    }

    std::string otherUserId;
    if (added.reciepients) {
        const auto other = std::find_if(
            added.reciepients->begin(), added.reciepients->end(),
            [&](const KRChatMessageRecipient& r) { return r.userId != currentUserGuestID_; });
        if (other != added.reciepients->end()) {
            otherUserId = other->userId;
        }
    }
    // Only a message known not to be the group's, with a known partner, names a private thread;
    // anything else would let a later private send land in the group or the wrong thread.
    if (!mainChatThreadID_.empty() && !otherUserId.empty()) {
        privateChatThreads_[otherUserId] = added.threadId;
    }
    for (const auto& observer : observers) {
        observer->didRecievePrivateChatMessage(*self, added, otherUserId);
    }
}

void KRChatManager::fetchMissedMessages(std::function<bool()> stillWanted) {
    KR_DCHECK_RUN_ON(checker_);
    std::vector<std::string> threads;
    if (!mainChatThreadID_.empty()) {
        threads.push_back(mainChatThreadID_);
    }
    for (const auto& entry : privateChatThreads_) {
        threads.push_back(entry.second);
    }
    const std::uint64_t generation = meetingGeneration_;
    std::weak_ptr<KRChatManager> weak = weak_from_this();
    for (const std::string& threadId : threads) {
        CatchUp& catchUp = catchUps_[threadId];
        ++catchUp.pagesOut;
        catchUp.stillWanted = stillWanted;
        catchUp.holding = true;
        const std::uint64_t fetch = catchUp.fetch = ++catchUpFetches_;
        // A slow page must not stall the thread's live chat for as long as a request may take.
        queue_->postAfter(kCatchUpHoldLimit, [weak, generation, threadId, fetch] {
            auto self = weak.lock();
            if (!self || self->meetingGeneration_ != generation) return;
            const auto waiting = self->catchUps_.find(threadId);
            if (waiting == self->catchUps_.end() || waiting->second.fetch != fetch) return;
            waiting->second.holding = false;
            CatchUp released;
            released.held = std::exchange(waiting->second.held, {});
            released.stillWanted = waiting->second.stillWanted;
            self->releaseHeld(released);
        });
        send(GetChatMessagesRequest(threadId),
             [weak, generation, threadId](Result<KRThreadChatMessages, KRApiRequestError> page) {
                 auto self = weak.lock();
                 // A later meeting has let this one's held pushes go already.
                 if (!self || self->meetingGeneration_ != generation) {
                     return;
                 }
                 const bool usable = page.ok() && page.value().messages;
                 self->finishCatchUp(threadId, usable ? &*page.value().messages : nullptr);
             });
    }
}

void KRChatManager::finishCatchUp(const std::string& threadId,
                                  const std::vector<KRChatMessage>* messages) {
    const std::uint64_t generation = meetingGeneration_;
    std::function<bool()> stillWanted;
    if (const auto catchUp = catchUps_.find(threadId); catchUp != catchUps_.end()) {
        stillWanted = catchUp->second.stillWanted;
    }
    if (messages) {
        // A page comes newest first; the cache leaves out what was seen already.
        for (auto message = messages->rbegin(); message != messages->rend(); ++message) {
            if (meetingGeneration_ != generation) {
                return;  // an observer moved to another meeting, which let the held pushes go
            }
            if (stillWanted && !stillWanted()) {
                break;
            }
            reportSocketChatMessage(*message);
        }
    }
    const auto catchUp = catchUps_.find(threadId);
    if (meetingGeneration_ != generation || catchUp == catchUps_.end() ||
        --catchUp->second.pagesOut > 0) {
        return;  // another page of the thread is out: the held pushes wait for it
    }
    CatchUp done = std::move(catchUp->second);
    catchUps_.erase(catchUp);
    releaseHeld(done);
}

void KRChatManager::releaseHeld(CatchUp& catchUp) {
    const std::uint64_t generation = meetingGeneration_;
    for (const KRChatMessage& message : catchUp.held) {
        if ((catchUp.stillWanted && !catchUp.stillWanted()) || meetingGeneration_ != generation) {
            break;
        }
        // Should an observer have started another catch-up of the thread, the rest waits for it.
        addSocketChatMessage(message);
    }
    catchUp.held.clear();
}

}  // namespace kr
