#include "KivRaneCoreSDK/Meeting/ControlMessages/ControlMessageTable.h"

#include <algorithm>
#include <array>

#include "KivRaneCoreSDK/Meeting/ControlMessages/IncomingControlMessages.h"

namespace kr {

namespace {

using E = KRRtmMessageEvent;
using A = ControlMessageAuthority;
constexpr auto channel = ControlMessageRoute::channel;
constexpr auto peer = ControlMessageRoute::peer;
constexpr ControlMessageRule ignored{};

}  // namespace

std::span<const ControlMessageRow> IncomingControlMessages::rows() {
    using C = IncomingControlMessages;
    // clang-format off
    static const std::array table{
        //                 event                          route    default backend                                            room engine backend
        ControlMessageRow{E::hardMuteEnabled,             channel, {A::hostOrCoHost, &C::onHardMuteInRoomStore},              {A::hostOrCoHost, &C::onHardMuteInMerge}},
        ControlMessageRow{E::hardMuteDisabled,            channel, {A::hostOrCoHost, &C::onHardUnmuteInRoomStore},            {A::hostOrCoHost, &C::onHardUnmuteInMerge}},
        ControlMessageRow{E::softMuteEnabled,             channel, {A::hostOrCoHost, &C::onSoftMuteToEveryDelegate},          {A::hostOrCoHost, &C::onSoftMuteToMainDelegate}},
        ControlMessageRow{E::hostLowerAllHands,           channel, {A::hostOrCoHost, &C::onLowerAllHandsInRoomStore},         {A::hostOrCoHost, &C::onLowerAllHandsInMerge}},
        ControlMessageRow{E::participantRaiseHand,        channel, {A::anyone,       &C::onHandInRoomStore},                  {A::anyone,       &C::onHandInMerge}},
        ControlMessageRow{E::lowerParticipantHand,        channel, {A::anyone,       &C::onHandInRoomStore},                  {A::anyone,       &C::onHandInMerge}},
        ControlMessageRow{E::participantStartScreenShare, channel, {A::anyone,       &C::onRemoteShareStopsLocalWhiteboard},  {A::anyone,       &C::onRemoteShareAnnounced}},
        ControlMessageRow{E::recordingStarted,            channel, {A::hostOrCoHost, &C::onRecordingMessage},                 {A::hostOrCoHost, &C::onRecordingMessage}},
        ControlMessageRow{E::recordingStopped,            channel, {A::hostOrCoHost, &C::onRecordingMessage},                 {A::hostOrCoHost, &C::onRecordingMessage}},
        ControlMessageRow{E::lockMeeting,                 channel, {A::hostOrCoHost, &C::onMeetingLockMessage},               {A::hostOrCoHost, &C::onMeetingLockMessage}},
        ControlMessageRow{E::unLockMeeting,               channel, {A::hostOrCoHost, &C::onMeetingLockMessage},               {A::hostOrCoHost, &C::onMeetingLockMessage}},
        ControlMessageRow{E::makeCoHost,                  channel, {A::hostOrCoHost, &C::onCoHostRightToEveryDelegate},       {A::hostOrCoHost, &C::onCoHostRightInMerge}},
        ControlMessageRow{E::removeCoHost,                channel, {A::hostOrCoHost, &C::onCoHostRightToEveryDelegate},       {A::hostOrCoHost, &C::onCoHostRightInMerge}},
        ControlMessageRow{E::startWhiteboard,             channel, {A::anyone,       &C::onWhiteboardStartStopsLocalShare},   {A::anyone,       &C::onWhiteboardStartOverridesShare}},
        ControlMessageRow{E::stopwhiteboard,              channel, {A::anyone,       &C::onWhiteboardStopMessage},            {A::anyone,       &C::onWhiteboardStopMessage}},
        ControlMessageRow{E::reactionShare,               channel, {A::anyone,       &C::onReaction},                         ignored},
        ControlMessageRow{E::stopParticipantAudio,        peer,    {A::anyone,       &C::onAudioVideoRequestMessage},         {A::hostOrCoHost, &C::onAudioVideoRequestMessage}},
        ControlMessageRow{E::stopParticipantVideo,        peer,    {A::anyone,       &C::onAudioVideoRequestMessage},         {A::hostOrCoHost, &C::onAudioVideoRequestMessage}},
        ControlMessageRow{E::requestToStartAudio,         peer,    {A::anyone,       &C::onAudioVideoRequestMessage},         {A::hostOrCoHost, &C::onAudioVideoRequestMessage}},
        ControlMessageRow{E::requestToStartVideo,         peer,    {A::anyone,       &C::onAudioVideoRequestMessage},         {A::hostOrCoHost, &C::onAudioVideoRequestMessage}},
        ControlMessageRow{E::micDecline,                  peer,    {A::anyone,       &C::onAudioVideoDeclineMessage},         {A::anyone,       &C::onAudioVideoDeclineMessage}},
        ControlMessageRow{E::videoDecline,                peer,    {A::anyone,       &C::onAudioVideoDeclineMessage},         {A::anyone,       &C::onAudioVideoDeclineMessage}},
        ControlMessageRow{E::hostRemoveParticipant,       peer,    {A::hostOrCoHost, &C::onRemovalMessage},                   {A::hostOrCoHost, &C::onRemovalMessage}},
        ControlMessageRow{E::participantStopScreenShare,  peer,    {A::hostOrCoHostWhileSharingScreen, &C::onStopShareOrWhiteboard}, {A::hostOrCoHost, &C::onForceStopShare}},
        ControlMessageRow{E::participantDowngradeToAudience, peer, {A::hostOrCoHost, &C::onRoleInDefaultEngine},              {A::hostOrCoHost, &C::onRoleInRoomEngine}},
        ControlMessageRow{E::audienceUpgradeToParticipant,   peer, {A::anyone,       &C::onRoleInDefaultEngine},              {A::hostOrCoHost, &C::onRoleInRoomEngine}},
    };
    // clang-format on
    return table;
}

const ControlMessageRow* IncomingControlMessages::find(ControlMessageRoute route,
                                                       KRRtmMessageEvent event) {
    const auto all = rows();
    const auto row = std::find_if(all.begin(), all.end(), [&](const ControlMessageRow& r) {
        return r.event == event && r.route == route;
    });
    return row == all.end() ? nullptr : &*row;
}

}  // namespace kr
