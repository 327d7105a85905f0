#pragma once

#include <boost/json/object.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "KivRaneCoreSDK/Chat/KRChatManager.h"
#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRClientDelegate.h"
#include "KivRaneCoreSDK/Meeting/Protocols/KRParticipantsListUpdateDelegate.h"
#include "KivRaneCoreSDK/Meeting/ScreenShareExtensionNames.h"
#include "KivRaneCoreSDK/Model/Media/KRRemoteStreamQuality.h"
#include "KivRaneCoreSDK/Model/Media/KRRtcVideoEncoderConfig.h"
#include "KivRaneCoreSDK/Model/Media/KRUserLeftReason.h"
#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingConfig.h"
#include "KivRaneCoreSDK/Model/Meeting/KRJoinMeetingData.h"
#include "KivRaneCoreSDK/Model/Meeting/KRMeeting.h"
#include "KivRaneCoreSDK/Model/Meeting/KRUserRole.h"
#include "KivRaneCoreSDK/Network/Enums/KRApiServer.h"
#include "KivRaneCoreSDK/RTC/Protocols/RtcManagerProtocol.h"
#include "platform/Media/AudioSessionRouteDescription.h"
#include "platform/UI/View.h"

namespace kr {

class ClientCore;
class KRClientTestSeam;
class KRRtcManger;

/// The meeting client the host app creates, one per app: its settings, its delegates, the join
/// and the leave, and every operation of a meeting. What happens is reported through
/// `KRClientDelegate`.
///
/// Threading: every call is made on the queue of the client's dependencies (by default the
/// process main queue), and every report and completion arrives there. Completions and reports
/// that are due after the client is gone are dropped.
class KRClient : public ScreenShareExtensionNames {
public:
    /// A completion runs once, always after the call returned, and says whether the call was
    /// carried out: for a call the server carries out (the host controls, recording, the
    /// whiteboard), whether the server did it; for one that only tells the others, whether the
    /// messaging service took the message. A call made outside a meeting completes false.
    ///
    /// A mute, role change or removal of one participant: while the meeting goes on, true means
    /// the server did it and that participant was told (a refused message is sent again a few
    /// times; if it never goes out, also because the meeting ended while it waited to be sent
    /// again, false, and the log says why). When the server's answer comes after the meeting
    /// ended, the completion reports that answer alone.
    ///
    /// When the meeting the call was made in ended before the server's answer arrived (its
    /// leave finished, the engine ended it, or another join began), the completion still
    /// reports that answer, and the ended meeting stays as it ended: no message is sent, nobody
    /// is told, the client's record of the room does not change, and no delegate hears of it.
    using Completion = std::function<void(bool success)>;

    /// Gives every member of `dependencies` left empty its process-wide default.
    static std::shared_ptr<KRClient> create(KRDependencies dependencies = {});
    ~KRClient();
    KRClient(const KRClient&) = delete;
    KRClient& operator=(const KRClient&) = delete;

    // ---- Settings ----

    /// Reads the host app's settings (the keys are listed in the docs). A value of the wrong type
    /// is ignored and logged.
    void setParameters(const boost::json::object& params);
    /// Which media engine the next join uses: the one the room chooses (true) or the default one.
    /// A meeting keeps the engine its join picked.
    bool isMultiMediaEngineIntegration() const;
    void setMultiMediaEngineIntegration(bool value);
    /// The room-chosen engine: for a "kr-media" room the host app sets it before the join; for
    /// an "agora" room the client puts its own here at the join.
    const std::shared_ptr<RtcManagerProtocol>& rtcEngineManager() const;
    void setRtcEngineManager(std::shared_ptr<RtcManagerProtocol> engine);

    // ---- Delegates ----

    /// Extra delegates hear what the main delegate hears (except main-only reports), after it, in
    /// the order added. Adding an identifier again replaces that entry in place.
    void addDelegate(const std::string& identifier, std::weak_ptr<KRClientDelegate> delegate);
    void removeDelegate(std::string_view identifier);
    void setParticipantsListDelegate(std::weak_ptr<KRParticipantsListUpdateDelegate> delegate);

    // ---- Join and leave ----

    /// `delegate` becomes the main delegate. One meeting at a time: while a meeting is joined or
    /// being joined, the join fails at once (reported to `delegate` alone, as a task after this
    /// call returned, as `other` with `KRMeetingJoinError::kMeetingStillActive`) and the active meeting goes on untouched.
    /// A join asked while a meeting is being left starts once that leave finished, after its
    /// left report; a further join asked while one already waits for the leave fails the same way.
    /// A join asked from inside that left report (`didLocalUserLeftMeeting`) starts at once, and
    /// the join that was waiting is then refused the same way. A leave finishes within seconds,
    /// also when the server or the media engine does not answer it.
    /// The last call wins: a leave asked while a join waits for the leave under way (also from
    /// inside that leave's left report, before the join started) gives that join up. Its delegate
    /// alone hears it fail, as `other` with `KRMeetingJoinError::kJoinGivenUpForLeave`; nothing
    /// of it reaches the service or the engine; the leave under way goes on and is reported once.
    void joinMeeting(const KRJoinMeetingData& data, const KRJoinMeetingConfig& config,
                     std::weak_ptr<KRClientDelegate> delegate);
    void leaveMeeting(KRUserLeftReason reason);

    // ---- Local user ----

    /// The delegates hear the new state after the call returned, as a task of its own (also
    /// when the host's own engine answers inside the call; likewise for a role switch's mutes).
    void muteLocalAudio(bool isMute);
    void muteLocalVideo(bool isMute);
    void raiseHand();
    void lowerHand();
    /// Shows a reaction to everyone in the meeting.
    void sendReactionType(const std::string& type);
    /// Tells the host who asked that the local user keeps the microphone / camera off.
    void declineHostRequestToTurnOnAudio(const std::shared_ptr<KRMeetingUser>& host);
    void declineHostRequestToTurnOnVideo(const std::shared_ptr<KRMeetingUser>& host);

    // ---- Host controls: the server first; the others are told only after it agreed ----

    void lockMeeting(Completion completion = {});
    void unLockMeeting(Completion completion = {});
    void startRecording(Completion completion = {});
    void stopRecording(Completion completion = {});
    void hardMuteUnmuteUsersAudio(bool isMute, Completion completion = {});
    void hardMuteUnmuteParticipantsAudio(bool isMute, Completion completion = {}) {
        hardMuteUnmuteUsersAudio(isMute, std::move(completion));
    }
    void softMuteUsersAudio(Completion completion = {});
    void softMuteParticipantsAudio(Completion completion = {}) {
        softMuteUsersAudio(std::move(completion));
    }
    void lowerAllUsersHands(Completion completion = {});
    void lowerAllParticipantsHands(Completion completion = {}) {
        lowerAllUsersHands(std::move(completion));
    }
    void changeUserAudioState(const std::string& userId, bool isOn, Completion completion = {});
    void changeUserVideoState(const std::string& userId, bool isOn, Completion completion = {});
    void removeUserFromMeeting(const std::string& userId, Completion completion = {});
    void removeUserFromMeeting(const std::shared_ptr<KRMeetingUser>& user,
                               Completion completion = {});
    void changeUserRole(const std::string& userId, const KRUserRole& newRole,
                        Completion completion = {});
    void changeUserRole(const std::shared_ptr<KRMeetingUser>& user, const KRUserRole& newRole,
                        Completion completion = {});
    void updateUserCoHostRights(const std::shared_ptr<KRMeetingUser>& user, bool makeCoHost,
                                Completion completion = {});
    void stopUserScreenShare(const std::shared_ptr<KRMeetingUser>& user,
                             Completion completion = {});

    // ---- Local screen share (with the broadcast extension, see `ScreenShareExtensionNames`) ----

    /// Asks the server for the local share stream and hands its uid and token to the extension.
    /// A reply without a usable uid or token fails the start and tells the extension to stop.
    void shareScreenAPICall(Completion completion = {});
    /// Ends the local screen share: the server is told and the extension asked to stop; the
    /// share's stopped report follows as a task of its own.
    void stopLocalScreenShare();

    // ---- Whiteboard ----

    /// Opens the whiteboard: a remote one (someone else shares) or the local user's own. A
    /// remote board that stopped while its access was on the way stays closed; the completion
    /// still says what the server did.
    void startWhitebboard(bool remote, const std::string& userName, const std::string& userId,
                          Completion completion = {});
    void stopWhiteboard(Completion completion = {});
    /// The whiteboard's web address, empty while none is open.
    std::string whiteboardUrl() const;

    // ---- Queries ----

    KRMeeting getCurrentMeetingData() const;
    std::vector<std::shared_ptr<KRMeetingUser>> getMeetingUsers() const;
    std::shared_ptr<KRMeetingUser> getMeetingLocalUser() const;
    std::shared_ptr<KRMeetingUser> getUser(const std::string& id) const;
    KRApiServer getServerEnvironment() const;

    // ---- Media (the default engine, or the room's engine in a meeting that uses it) ----

    /// The default engine's wrapper, made with the client and kept for its whole life.
    const std::shared_ptr<KRRtcManger>& rtcManager() const;
    void setAudioFilePathForUserJoin(const std::string& filePath);
    void setAudioFilePathForUserLeft(const std::string& filePath);
    void setVideoConfiguration(const KRRtcVideoEncoderConfig& videoEncoderConfig);
    void setLowQualityVideoStream(const KRRtcVideoEncoderConfig& lowQualityVideoConfig);
    void setUpDualStream(bool enable);
    /// Kept for the next joins too; applied to the engine at once.
    void applyVirtualBackground(const KRVirtualBackgroundType& background);
    void startPreview();
    void stopPreview();
    void switchCamera();
    /// Shows the local camera in `placeholderView` and starts the preview.
    void getVideoPreview(const std::shared_ptr<platform::View>& placeholderView);
    void switchAudioDevice(KRAudioDeviceType type);
    /// Speaker or audience in the media channel; the host role changes nothing there.
    void switchLocalUserRole(const KRUserRole& newRole);
    void subscribeRemoteUserAudio(const std::string& id);
    void unsubscribeRemoteUserAudio(const std::string& id);
    void subscribeRemoteUserVideo(const std::string& id);
    void unsubscribeRemoteUserVideo(const std::string& id);
    void setVideoStreamQuality(KRRemoteStreamQuality quality, const std::string& uid);
    void setRemoteUsersVolume(int value);
    void blockRemoteAudioVideo(std::uint64_t uid);
    void removeBlockedRemoteAudioVideo(std::uint64_t uid);
    static bool hasHeadphones(const platform::AudioSessionRouteDescription& route);
    static bool hasBluetoothConnecte(const platform::AudioSessionRouteDescription& route);

    // ---- Chat: each call goes to `chatClient()` and completes as it does ----

    /// The client's one chat manager, for its whole life.
    const std::shared_ptr<KRChatManager>& chatClient() const;
    KRChatMessageList getMainChatThreadMessages() const;
    KRChatMessageList getMeetingChatMessages() const;
    void getMainChatThread(KRChatManager::ThreadCompletion completion);
    void getChatThreadMessages(const std::string& threadId,
                               KRChatManager::PageCompletion completion);
    void getPrivateChatThread(const std::string& with, KRChatManager::ThreadCompletion completion);
    void getPrivateChatMessages(const std::string& userId,
                                KRChatManager::PageCompletion completion);
    void sendChatTextMessage(const std::string& message,
                             KRChatManager::MessageCompletion completion);
    void sendPrivateChatTextMessage(const std::string& message, const std::string& userId,
                                    KRChatManager::MessageCompletion completion);
    void sendAttachmentMessage(const std::string& messageText, const std::string& fileID,
                               const std::string& fileName, const std::string& fileSize,
                               const std::string& fileURL,
                               KRChatManager::MessageCompletion completion);
    void markReadMessages(const std::string& lastMessageId, const std::string& threadId,
                          KRChatManager::ReadCompletion completion);
    void getAllActiveParticipants(KRChatManager::MembersCompletion completion);
    void addChatDelegate(const std::shared_ptr<KRChatClientDelegate>& delegate,
                         const std::string& identifier);
    void removeChatDelegate(const std::string& identifier);

private:
    /// Tests reach the client's insides through this one seam.
    friend class KRClientTestSeam;

    explicit KRClient(std::shared_ptr<ClientCore> core);

    std::shared_ptr<ClientCore> core_;
};

}  // namespace kr
