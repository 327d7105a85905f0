#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatClientDelegate.h"
#include "KivRaneCoreSDK/Chat/KRChatMessageCache.h"
#include "KivRaneCoreSDK/Chat/KRChatMessageDestination.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Chat/Models/KRChatThread.h"
#include "KivRaneCoreSDK/Chat/Models/KRMeetingParticipant2.h"
#include "KivRaneCoreSDK/Chat/Models/KRSendAttachmentInfo.h"
#include "KivRaneCoreSDK/Chat/Models/KRThreadChatMessages.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiRequestError.h"
#include "platform/Common/Result.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/SequenceChecker.h"

namespace kr {

class KRNetworkClient;

/// The chat of one client: the meeting's main thread, private threads with single users, history
/// pages, sending (with one optional file), read marks, the main thread's members and leaving it.
/// Keeps every message it has seen (fetched, sent or pushed) once per id in insertion order, the
/// private thread of each other user, and the host's observers; all of it outlives a meeting.
///
/// Every operation with a request completes exactly once, later, on the manager's queue, never
/// inside the call: with the service's answer, or with `unKnown` when no network client is set,
/// when the main thread is not known yet (group send, members), or when no private thread is
/// known for the user (private messages). Only pushed messages (and those a socket that was away
/// missed, `fetchMissedMessages`) raise observer callbacks, after the cache and the private-thread
/// map have changed.
///
/// Threading: confined to its queue; call every method there (checked in debug builds).
class KRChatManager : public std::enable_shared_from_this<KRChatManager> {
public:
    using ThreadCompletion = std::function<void(Result<KRChatThread, KRApiRequestError>)>;
    using PageCompletion = std::function<void(Result<KRThreadChatMessages, KRApiRequestError>)>;
    using MessageCompletion = std::function<void(Result<KRChatMessage, KRApiRequestError>)>;
    using ReadCompletion = std::function<void(Result<KRAPISuccess, KRApiRequestError>)>;
    using MembersCompletion = std::function<void(std::vector<KRMeetingParticipant2>,
                                                 std::optional<KRApiRequestError>)>;
    using LeaveCompletion = std::function<void(bool)>;
    using FirstPageHook = std::function<void(const std::vector<KRChatMessage>&)>;

    /// A manager whose completions and callbacks run on `queue`.
    static std::shared_ptr<KRChatManager> create(std::shared_ptr<platform::DispatchQueue> queue);

    KRChatManager(const KRChatManager&) = delete;
    KRChatManager& operator=(const KRChatManager&) = delete;

    // ---- configuration ----

    /// The REST client of every later request; nullptr clears it.
    void assignNetworkClient(std::shared_ptr<KRNetworkClient> networkClient);
    /// Stores the meeting's ids, forgets the previous main thread and loads this meeting's main
    /// thread and its newest page (handed to the first-page hook, then cached).
    void setMeetingData(std::string meetingID, std::string meetingPIN, std::string roomID,
                        std::string currentUserParticipantID, std::string currentUserGuestID);
    /// Receives the normal messages of the main thread's first page after each `setMeetingData`,
    /// before they are cached.
    void setOnGetAllChatMessages(FirstPageHook hook);

    // ---- cache ----

    /// The cached messages of the main thread, in cache order: a list that later messages leave
    /// as it is, handed out without copying any message.
    KRChatMessageList getMainThreadChatMessages() const;

    // ---- operations with a request ----

    void getMainChatThread(ThreadCompletion completion);
    void getChatThreadMessages(const std::string& threadId, PageCompletion completion);
    /// Asks for (and records) the private thread with `userId`, even when one is recorded.
    void getPrivateChatThreadWithUser(const std::string& userId, ThreadCompletion completion);
    void getPrivateChatMessages(const std::string& with, PageCompletion comletion);
    void sendChatTextMessage(const std::string& message,
                             std::optional<KRSendAttachmentInfo> attachment,
                             KRChatMessageDestination destination, MessageCompletion completion);
    void markReadMessages(const std::string& lastMessageId, const std::string& threadId,
                          ReadCompletion completion);
    void getChatActiveParticipants(MembersCompletion completion);
    void leaveMainChatThread(LeaveCompletion completion);

    // ---- observers ----

    /// Registers `delegate` under `identifier` (replacing that identifier's entry, in place). The
    /// manager owns its observers until they are removed, so the host need not keep another
    /// reference. A null delegate keeps the identifier registered without calling anything.
    void addChatDelegate(const std::shared_ptr<KRChatClientDelegate>& delegate,
                         const std::string& identifier);
    void removeDelegate(const std::string& identifier);

    // ---- pushed messages ----

    /// The longest a thread's pushes wait for its catch-up page.
    static constexpr std::chrono::seconds kCatchUpHoldLimit{5};

    /// Merges one message pushed by the room socket and tells the observers: main-thread
    /// messages as new chat messages, others as private messages of the other recipient. While a
    /// page of `fetchMissedMessages` is out for the message's thread, the message is held back
    /// and handled after that page, so that the thread is reported and cached in its order.
    void addSocketChatMessage(const KRChatMessage& message);
    /// Asks for the newest page of the main thread (once known) and of each known private
    /// thread, and merges each message of it, oldest first, as a pushed one: what was pushed
    /// while the room socket was away is reported once, and nothing seen before again. Once a
    /// thread's last such page is in (or failed), the pushes held meanwhile follow, or after
    /// `kCatchUpHoldLimit` without it, when live chat goes on unheld (a late page then adds
    /// only what the cache has not seen); a later
    /// `setMeetingData` lets them go at once. A page is dropped when `stillWanted` says no (asked
    /// before each message) or a later `setMeetingData` came first; a failed one is dropped too.
    /// Held pushes go only while `stillWanted` says yes.
    void fetchMissedMessages(std::function<bool()> stillWanted);

    // ---- state, for the facade and tests ----

    const std::string& meetingID() const { return meetingID_; }
    const std::string& currentUserGuestID() const { return currentUserGuestID_; }
    /// Empty until this meeting's main thread is known.
    const std::string& mainChatThreadID() const { return mainChatThreadID_; }
    /// Other user's id -> private thread id.
    const std::map<std::string, std::string>& privateChatThreads() const {
        return privateChatThreads_;
    }
    KRChatMessageList allChatMessages() const { return cache_.messages(); }
    bool hasNetworkClient() const { return networkClient_ != nullptr; }

private:
    /// A thread whose missed-messages page is out, with the pushes that came meanwhile.
    struct CatchUp {
        int pagesOut = 0;
        std::vector<KRChatMessage> held;
        std::function<bool()> stillWanted;  // of the latest fetch
        bool holding = true;      // false once the latest fetch's hold ran out
        std::uint64_t fetch = 0;  // the number of the thread's latest fetch, for its hold's end
    };

    explicit KRChatManager(std::shared_ptr<platform::DispatchQueue> queue);

    template <class Request, class OnResult>
    void send(const Request& request, OnResult onResult);

    /// Marks each message incoming or not for `localGuestId` and keeps only normal messages.
    static std::vector<KRChatMessage> flagged(const std::vector<KRChatMessage>& messages,
                                              const std::string& localGuestId);
    void fetchPage(const std::string& threadId, PageCompletion completion);
    void sendToThread(const std::string& threadId, const std::string& message,
                      const std::optional<KRSendAttachmentInfo>& attachment,
                      MessageCompletion completion);
    /// Appends the normal messages not cached yet, flagged for `localGuestId`.
    void appendChatMessages(const std::vector<KRChatMessage>& messages,
                            const std::string& localGuestId);
    void fail(std::function<void()> completion);
    /// `addSocketChatMessage` without holding back.
    void reportSocketChatMessage(const KRChatMessage& message);
    /// One missed-messages page of `threadId` came back (`messages` null when it failed or is
    /// not wanted): merges it, and the held pushes once no other page of the thread is out.
    void finishCatchUp(const std::string& threadId, const std::vector<KRChatMessage>* messages);
    /// Merges the held pushes of `catchUp` if still wanted, and forgets them.
    void releaseHeld(CatchUp& catchUp);

    const std::shared_ptr<platform::DispatchQueue> queue_;
    platform::SequenceChecker checker_;

    std::shared_ptr<KRNetworkClient> networkClient_;
    std::string meetingID_;
    std::string meetingPIN_;
    std::string roomID_;
    std::string currentUserParticipantID_;
    std::string currentUserGuestID_;
    std::string mainChatThreadID_;
    /// Bumped by every `setMeetingData`; a main-thread load of an earlier meeting is ignored.
    std::uint64_t meetingGeneration_ = 0;
    KRChatMessageCache cache_;
    std::map<std::string, std::string> privateChatThreads_;
    /// Observers in registration order; an identifier keeps its place when replaced.
    std::vector<std::pair<std::string, std::shared_ptr<KRChatClientDelegate>>> delegates_;
    FirstPageHook onGetAllChatMessages_;
    /// Thread id -> its catch-up; of the current meeting only.
    std::map<std::string, CatchUp> catchUps_;
    std::uint64_t catchUpFetches_ = 0;  ///< thread fetches asked so far
};

}  // namespace kr
