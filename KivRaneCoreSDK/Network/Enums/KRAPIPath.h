#pragma once

#include <string>
#include <string_view>

namespace kr {

/// The meeting service's REST endpoints. Seven endpoints carry one identifier (a thread or
/// meeting id); the others carry nothing. Six endpoints have a "/guest" variant used while the
/// current user is a guest.
///
/// A plain value; safe to copy between threads.
class KRAPIPath {
public:
    enum class Case {
        getChatThreadMessages,
        leaveChatThread,
        sendChatMessage,
        startWhiteboard,
        startRemoteWhiteboard,
        getInCallParticipantList,
        markMessageAsRead,
        getConfiguration,
        getRoomDetails,
        guestLogin,
        joinCall,
        getRoomConnectionStatus,
        postRoomConnectionStatus,
        leaveMeeting,
        muteUnmuteLocalAudio,
        muteUnmuteLocalVideo,
        muteAllParticipants,
        hostActions,
        shareScreen,
        getChatThread,
        startRecording,
        stopRecording,
        getPrivateChatThread,
        removeParticipant,
        changeUserRole,
        lockMeeting,
        unLockMeeting,
        whiteboardUrl,
    };

    // Endpoints with an identifier.
    static KRAPIPath getChatThreadMessages(std::string threadId);
    static KRAPIPath leaveChatThread(std::string id);
    static KRAPIPath sendChatMessage(std::string threadId);
    static KRAPIPath startWhiteboard(std::string meetingId);
    static KRAPIPath startRemoteWhiteboard(std::string meetingId);
    static KRAPIPath getInCallParticipantList(std::string threadId);
    static KRAPIPath markMessageAsRead(std::string threadId);

    // Endpoints without one.
    static KRAPIPath getConfiguration() { return KRAPIPath(Case::getConfiguration); }
    static KRAPIPath getRoomDetails() { return KRAPIPath(Case::getRoomDetails); }
    static KRAPIPath guestLogin() { return KRAPIPath(Case::guestLogin); }
    static KRAPIPath joinCall() { return KRAPIPath(Case::joinCall); }
    static KRAPIPath getRoomConnectionStatus() { return KRAPIPath(Case::getRoomConnectionStatus); }
    static KRAPIPath postRoomConnectionStatus() {
        return KRAPIPath(Case::postRoomConnectionStatus);
    }
    static KRAPIPath leaveMeeting() { return KRAPIPath(Case::leaveMeeting); }
    static KRAPIPath muteUnmuteLocalAudio() { return KRAPIPath(Case::muteUnmuteLocalAudio); }
    static KRAPIPath muteUnmuteLocalVideo() { return KRAPIPath(Case::muteUnmuteLocalVideo); }
    static KRAPIPath muteAllParticipants() { return KRAPIPath(Case::muteAllParticipants); }
    static KRAPIPath hostActions() { return KRAPIPath(Case::hostActions); }
    static KRAPIPath shareScreen() { return KRAPIPath(Case::shareScreen); }
    static KRAPIPath getChatThread() { return KRAPIPath(Case::getChatThread); }
    static KRAPIPath startRecording() { return KRAPIPath(Case::startRecording); }
    static KRAPIPath stopRecording() { return KRAPIPath(Case::stopRecording); }
    static KRAPIPath getPrivateChatThread() { return KRAPIPath(Case::getPrivateChatThread); }
    static KRAPIPath removeParticipant() { return KRAPIPath(Case::removeParticipant); }
    static KRAPIPath changeUserRole() { return KRAPIPath(Case::changeUserRole); }
    static KRAPIPath lockMeeting() { return KRAPIPath(Case::lockMeeting); }
    static KRAPIPath unLockMeeting() { return KRAPIPath(Case::unLockMeeting); }
    static KRAPIPath whiteboardUrl() { return KRAPIPath(Case::whiteboardUrl); }

    Case kind() const { return case_; }
    /// The identifier of the seven endpoints that carry one; empty for the others.
    const std::string& identifier() const { return identifier_; }
    /// True for the seven endpoints that carry an identifier.
    bool hasIdentifier() const;

    /// The endpoint's path without a leading slash ("/conference/whiteboard/" for `whiteboardUrl`),
    /// with the identifier inserted exactly as given.
    std::string getPath(bool isGuestUser) const;

    /// The same path ready for a URL: the identifier is percent-encoded as one path segment, so
    /// that "/", "?", "#", "%" or a dot segment inside it cannot address another endpoint.
    /// Ordinary identifiers (letters, digits, "-", "_", ".", "~" and the like) are unchanged.
    std::string getUrlPath(bool isGuestUser) const;

    friend bool operator==(const KRAPIPath&, const KRAPIPath&) = default;

private:
    explicit KRAPIPath(Case c, std::string identifier = {})
        : case_(c), identifier_(std::move(identifier)) {}

    std::string build(bool isGuestUser, std::string_view identifierText) const;

    Case case_;
    std::string identifier_;
};

/// Percent-encodes every byte of `text` for which `keep` is false, as "%" and two upper-case hex
/// digits.
std::string percentEncode(std::string_view text, bool (*keep)(unsigned char));

/// Percent-encodes `text` for use as exactly one URL path segment.
std::string percentEncodePathSegment(std::string_view text);

}  // namespace kr
