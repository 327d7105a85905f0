#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/UI/View.h"

namespace kr {

/// The video state of one media source and the view the media engine renders it into.
/// Shared by reference (std::shared_ptr); holds its view strongly.
/// Not thread-safe: used on the main queue.
class KRVideoTrack {
public:
    /// Empty source id, not muted, no view.
    KRVideoTrack() = default;
    KRVideoTrack(std::string sourceId, bool isMuted, std::shared_ptr<platform::View> streamView);
    virtual ~KRVideoTrack() = default;

    KRVideoTrack(const KRVideoTrack&) = delete;
    KRVideoTrack& operator=(const KRVideoTrack&) = delete;

    /// Fixed at construction.
    const std::string& sourceId() const noexcept { return sourceId_; }

    virtual bool isMuted() const { return isMuted_; }
    virtual void setIsMuted(bool value) { isMuted_ = value; }
    virtual std::shared_ptr<platform::View> streamView() const { return streamView_; }
    virtual void setStreamView(std::shared_ptr<platform::View> view) {
        streamView_ = std::move(view);
    }

private:
    const std::string sourceId_;
    bool isMuted_ = false;
    std::shared_ptr<platform::View> streamView_;
};

}  // namespace kr
