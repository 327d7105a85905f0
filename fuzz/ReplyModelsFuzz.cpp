// Input: the body of a service reply. Every reply model reads it; none may crash, whatever the
// body, and a model that can also be written reads back what it wrote.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KivRaneCoreSDK/Model/Response/ELKLoggingCredentials.h"
#include "KivRaneCoreSDK/Model/Response/KRAPIStatus.h"
#include "KivRaneCoreSDK/Model/Response/KRAPISuccess.h"
#include "KivRaneCoreSDK/Model/Response/KRConfiguration.h"
#include "KivRaneCoreSDK/Model/Response/KRGuestLogin.h"
#include "KivRaneCoreSDK/Model/Response/KRJoinCall.h"
#include "KivRaneCoreSDK/Model/Response/KRLeaveChatThread.h"
#include "KivRaneCoreSDK/Model/Response/KRMeetingParticipant.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomDetails.h"
#include "KivRaneCoreSDK/Model/Response/KRRoomMediaEngine.h"
#include "KivRaneCoreSDK/Model/Response/KRStartRecording.h"
#include "KivRaneCoreSDK/Model/Response/KRStartShareScreen.h"
#include "KivRaneCoreSDK/Model/Response/KRStartWhiteboard.h"
#include "KivRaneCoreSDK/Model/Response/KRUser.h"
#include "KivRaneCoreSDK/Model/Response/KRVideoConfiguration.h"
#include "KivRaneCoreSDK/Model/Response/KRWebRtcAppId.h"
#include "KivRaneCoreSDK/Model/Response/Reactions.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kr;

template <class... Models>
void decodeEach(const boost::json::value& body) {
    (static_cast<void>(JsonValueDecoder<Models>::decode(body)), ...);
}

// The media engine is the one reply field the library also writes.
void mediaEngineReadsBack(KRRoomMediaEngine engine) {
    const auto again = JsonValueDecoder<KRRoomMediaEngine>::decode(toJsonValue(engine));
    KR_FUZZ_CHECK(again.ok() && again.value() == engine);
}

void connectionStatusIsConsistent(const KRRoomConnectionStatus& status) {
    KR_FUZZ_CHECK(!(status.isScreenShared && status.isWhiteBoardShared));
    KR_FUZZ_CHECK(status.isScreenOrWhiteboardShared ==
                  (status.isScreenShared || status.isWhiteBoardShared));
    if (!status.isScreenOrWhiteboardShared) {
        KR_FUZZ_CHECK(status.screenOrWhiteBoardSharingUserId.empty());
        KR_FUZZ_CHECK(status.screenOrWhiteBoardSharingUserName.empty());
    }
    static_cast<void>(status.screenSharedObjectUid());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto body = json_detail::parseJson(text);
    if (!body) {
        return 0;
    }
    decodeEach<ELKLoggingCredentials, KRAPIStatus, KRAPISuccess, KRGuestLogin, KRJoinCall,
               KRLeaveChatThread, KRMeetingParticipant, KRStartRecording, KRStartShareScreen,
               KRStartWhiteboard, KRUser, KRVideoConfiguration, KRWebRtcAppId, Reactions>(
        body.value());

    if (const auto configuration = KRConfiguration::fromJson(body.value())) {
        static_cast<void>(configuration.value().termsConditionUrl());
    }
    if (const auto details = KRRoomDetails::fromJson(body.value())) {
        mediaEngineReadsBack(details.value().mediaEngine());
    }
    if (const auto engine = JsonValueDecoder<KRRoomMediaEngine>::decode(body.value())) {
        mediaEngineReadsBack(engine.value());
    }
    if (const auto status = KRRoomConnectionStatus::fromJson(body.value())) {
        connectionStatusIsConsistent(status.value());
    }
    return 0;
}
