#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"

#include <utility>

namespace kr {

namespace {

struct IdentifierPath {
    std::string_view prefix;
    std::string_view suffix;
};

// Prefix and suffix around the identifier, for the endpoints that carry one.
IdentifierPath identifierPath(KRAPIPath::Case c) {
    using C = KRAPIPath::Case;
    switch (c) {
        case C::getChatThreadMessages:
        case C::sendChatMessage:
            return {"chat/thread/", "/messages"};
        case C::leaveChatThread:
            return {"chat/thread/", "/leave"};
        case C::startWhiteboard:
            return {"rooms/", "/whiteboard/startsharing"};
        case C::startRemoteWhiteboard:
            return {"rooms/", "/whiteboard"};
        case C::getInCallParticipantList:
            return {"chat/thread/", "/getsortedmembers/"};
        case C::markMessageAsRead:
            return {"chat/thread/", "/messages/markread"};
        default:
            return {};
    }
}

struct FixedPath {
    std::string_view text;
    bool hasGuestVariant;
};

FixedPath fixedPath(KRAPIPath::Case c) {
    using C = KRAPIPath::Case;
    switch (c) {
        case C::getConfiguration:
            return {"config", false};
        case C::getRoomDetails:
            return {"shorturl/roomdetails", false};
        case C::guestLogin:
            return {"roomconnectionstatus/login", false};
        case C::joinCall:
            return {"joinCall", true};
        case C::getRoomConnectionStatus:
            return {"roomconnectionstatus/get", true};
        case C::postRoomConnectionStatus:
            return {"roomconnectionstatus", true};
        case C::leaveMeeting:
            return {"leaveall", true};
        case C::muteUnmuteLocalAudio:
            return {"roomconnectionstatus/control/audio", true};
        case C::muteUnmuteLocalVideo:
            return {"roomconnectionstatus/control/video", true};
        case C::muteAllParticipants:
            return {"roomconnectionstatus/control/audioall", false};
        case C::hostActions:
            return {"roomconnectionstatus/hosts", false};
        case C::shareScreen:
            return {"roomconnectionstatus/sharescreen", false};
        case C::getChatThread:
            return {"chat/getThreadForChat/guest", false};
        case C::startRecording:
            return {"recording/start", false};
        case C::stopRecording:
            return {"recording/stop", false};
        case C::getPrivateChatThread:
            return {"chat/thread", false};
        case C::removeParticipant:
            return {"portal/removeparticipant", false};
        case C::changeUserRole:
            return {"roomconnectionstatus/control/participantType", false};
        case C::lockMeeting:
            return {"lock-room", false};
        case C::unLockMeeting:
            return {"unlock-room", false};
        case C::whiteboardUrl:
            return {"/conference/whiteboard/", false};
        default:
            return {};
    }
}

bool keepsInSegment(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) {
        return true;
    }
    // Unreserved marks, sub-delimiters, ':' and '@' are allowed inside a segment.
    return std::string_view("-._~!$&'()*+,;=:@").find(static_cast<char>(c)) !=
           std::string_view::npos;
}

}  // namespace

std::string percentEncode(std::string_view text, bool (*keep)(unsigned char)) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (keep(c)) {
            out.push_back(ch);
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0x0F]);
        }
    }
    return out;
}

std::string percentEncodePathSegment(std::string_view text) {
    // A segment made only of dots would be read as "this" or "parent" directory.
    const bool onlyDots = !text.empty() && text.find_first_not_of('.') == std::string_view::npos;
    if (onlyDots) {
        return percentEncode(text, [](unsigned char) { return false; });
    }
    return percentEncode(text, keepsInSegment);
}

KRAPIPath KRAPIPath::getChatThreadMessages(std::string threadId) {
    return KRAPIPath(Case::getChatThreadMessages, std::move(threadId));
}
KRAPIPath KRAPIPath::leaveChatThread(std::string id) {
    return KRAPIPath(Case::leaveChatThread, std::move(id));
}
KRAPIPath KRAPIPath::sendChatMessage(std::string threadId) {
    return KRAPIPath(Case::sendChatMessage, std::move(threadId));
}
KRAPIPath KRAPIPath::startWhiteboard(std::string meetingId) {
    return KRAPIPath(Case::startWhiteboard, std::move(meetingId));
}
KRAPIPath KRAPIPath::startRemoteWhiteboard(std::string meetingId) {
    return KRAPIPath(Case::startRemoteWhiteboard, std::move(meetingId));
}
KRAPIPath KRAPIPath::getInCallParticipantList(std::string threadId) {
    return KRAPIPath(Case::getInCallParticipantList, std::move(threadId));
}
KRAPIPath KRAPIPath::markMessageAsRead(std::string threadId) {
    return KRAPIPath(Case::markMessageAsRead, std::move(threadId));
}

bool KRAPIPath::hasIdentifier() const {
    return !identifierPath(case_).prefix.empty();
}

std::string KRAPIPath::build(bool isGuestUser, std::string_view identifierText) const {
    if (hasIdentifier()) {
        const auto parts = identifierPath(case_);
        std::string path(parts.prefix);
        path.append(identifierText);
        path.append(parts.suffix);
        return path;
    }
    const auto fixed = fixedPath(case_);
    std::string path(fixed.text);
    if (isGuestUser && fixed.hasGuestVariant) {
        path.append("/guest");
    }
    return path;
}

std::string KRAPIPath::getPath(bool isGuestUser) const {
    return build(isGuestUser, identifier_);
}

std::string KRAPIPath::getUrlPath(bool isGuestUser) const {
    return build(isGuestUser, percentEncodePathSegment(identifier_));
}

}  // namespace kr
