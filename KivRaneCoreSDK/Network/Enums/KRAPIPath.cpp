#include "KivRaneCoreSDK/Network/Enums/KRAPIPath.h"

#include <utility>

#include "KivRaneCoreSDK/Common/Enums/EnumTable.h"

namespace kr {

namespace {

using C = KRAPIPath::Case;

// Prefix and suffix around the identifier, for the endpoints that carry one.
struct IdentifierPath {
    std::string_view prefix;
    std::string_view suffix;
};
constexpr auto kIdentifierPaths = makeEnumTable<C, IdentifierPath>({
    {C::getChatThreadMessages, {"chat/thread/", "/messages"}},
    {C::sendChatMessage, {"chat/thread/", "/messages"}},
    {C::leaveChatThread, {"chat/thread/", "/leave"}},
    {C::startWhiteboard, {"rooms/", "/whiteboard/startsharing"}},
    {C::startRemoteWhiteboard, {"rooms/", "/whiteboard"}},
    {C::getInCallParticipantList, {"chat/thread/", "/getsortedmembers/"}},
    {C::markMessageAsRead, {"chat/thread/", "/messages/markread"}},
});

struct FixedPath {
    std::string_view text;
    bool hasGuestVariant;
};
constexpr auto kFixedPaths = makeEnumTable<C, FixedPath>({
    {C::getConfiguration, {"config", false}},
    {C::getRoomDetails, {"shorturl/roomdetails", false}},
    {C::guestLogin, {"roomconnectionstatus/login", false}},
    {C::joinCall, {"joinCall", true}},
    {C::getRoomConnectionStatus, {"roomconnectionstatus/get", true}},
    {C::postRoomConnectionStatus, {"roomconnectionstatus", true}},
    {C::leaveMeeting, {"leaveall", true}},
    {C::muteUnmuteLocalAudio, {"roomconnectionstatus/control/audio", true}},
    {C::muteUnmuteLocalVideo, {"roomconnectionstatus/control/video", true}},
    {C::muteAllParticipants, {"roomconnectionstatus/control/audioall", false}},
    {C::hostActions, {"roomconnectionstatus/hosts", false}},
    {C::shareScreen, {"roomconnectionstatus/sharescreen", false}},
    {C::getChatThread, {"chat/getThreadForChat/guest", false}},
    {C::startRecording, {"recording/start", false}},
    {C::stopRecording, {"recording/stop", false}},
    {C::getPrivateChatThread, {"chat/thread", false}},
    {C::removeParticipant, {"portal/removeparticipant", false}},
    {C::changeUserRole, {"roomconnectionstatus/control/participantType", false}},
    {C::lockMeeting, {"lock-room", false}},
    {C::unLockMeeting, {"unlock-room", false}},
    {C::whiteboardUrl, {"/conference/whiteboard/", false}},
});

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
    return kIdentifierPaths.contains(case_);
}

std::string KRAPIPath::build(bool isGuestUser, std::string_view identifierText) const {
    if (hasIdentifier()) {
        const auto& parts = kIdentifierPaths.toRaw(case_);
        std::string path(parts.prefix);
        path.append(identifierText);
        path.append(parts.suffix);
        return path;
    }
    const auto& fixed = kFixedPaths.toRaw(case_);
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
