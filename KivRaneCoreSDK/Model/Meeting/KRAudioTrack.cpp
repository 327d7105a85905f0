#include "KivRaneCoreSDK/Model/Meeting/KRAudioTrack.h"

#include <utility>

namespace kr {

KRAudioTrack::KRAudioTrack(std::string sourceId, bool isMuted)
    : sourceId_(std::move(sourceId)), isMuted_(isMuted) {}

}  // namespace kr
