#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatClientDelegate.h"
#include "KivRaneCoreSDK/Chat/KRChatManager.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr::test {

/// What an observer saw, one entry per callback: "main:<id>" or "private:<id>:<from user>".
struct RecordingChatObserver : KRChatClientDelegate {
    std::vector<std::string> seen;
    std::vector<bool> incoming;

    void didRecieveNewChatMessage(KRChatManager&, const KRChatMessage& message) override {
        seen.push_back("main:" + message.id);
        incoming.push_back(message.isIncomingMessage);
    }
    void didRecievePrivateChatMessage(KRChatManager&, const KRChatMessage& message,
                                      const std::string& fromUserId) override {
        seen.push_back("private:" + message.id + ":" + fromUserId);
        incoming.push_back(message.isIncomingMessage);
    }
};

/// A normal message written in the service's JSON form.
inline KRChatMessage chatMessage(const std::string& id, const std::string& threadId,
                                 const std::string& creator,
                                 const std::vector<std::string>& recipients = {},
                                 const std::string& type = "message") {
    std::string json = R"({"_id":")" + id + R"(","threadId":")" + threadId +
                       R"(","type":")" + type + R"(","createdBy":")" + creator +
                       R"(","messageComponent":{"text":"text of )" + id + R"("})";
    if (!recipients.empty()) {
        json += R"(,"recipients":[)";
        for (std::size_t i = 0; i < recipients.size(); ++i) {
            json += (i == 0 ? "" : ",") + std::string(R"({"userId":")") + recipients[i] + "\"}";
        }
        json += "]";
    }
    json += "}";
    return decodeJson<KRChatMessage>(json).value();
}

}  // namespace kr::test
