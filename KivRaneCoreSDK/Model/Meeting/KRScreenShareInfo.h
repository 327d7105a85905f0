#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace kr {

/// A running screen share: its engine stream id and the sharer's id and name. Immutable value.
class KRScreenShareInfo {
public:
    KRScreenShareInfo(std::uint64_t trackID, std::string sharingUserID, std::string sharingUserName)
        : trackID_(trackID),
          sharingUserID_(std::move(sharingUserID)),
          sharingUserName_(std::move(sharingUserName)) {}

    std::uint64_t trackID() const noexcept { return trackID_; }
    const std::string& sharingUserID() const noexcept { return sharingUserID_; }
    const std::string& sharingUserName() const noexcept { return sharingUserName_; }

private:
    std::uint64_t trackID_;
    std::string sharingUserID_;
    std::string sharingUserName_;
};

}  // namespace kr
