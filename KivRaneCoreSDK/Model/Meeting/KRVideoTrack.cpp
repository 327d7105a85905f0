#include "KivRaneCoreSDK/Model/Meeting/KRVideoTrack.h"

#include <utility>

namespace kr {

KRVideoTrack::KRVideoTrack(std::string sourceId, bool isMuted,
                           std::shared_ptr<platform::View> streamView)
    : sourceId_(std::move(sourceId)), isMuted_(isMuted), streamView_(std::move(streamView)) {}

}  // namespace kr
