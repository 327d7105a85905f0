#pragma once

#include <string>

namespace kr {

/// The audio state of one media source (a participant or a screen share). Shared by
/// reference (std::shared_ptr) between the user or share that holds it and the host app.
/// Not thread-safe: used on the main queue.
class KRAudioTrack {
public:
    /// Empty source id, all flags false.
    KRAudioTrack() = default;
    KRAudioTrack(std::string sourceId, bool isMuted);
    virtual ~KRAudioTrack() = default;

    KRAudioTrack(const KRAudioTrack&) = delete;
    KRAudioTrack& operator=(const KRAudioTrack&) = delete;

    /// Fixed at construction.
    const std::string& sourceId() const noexcept { return sourceId_; }

    virtual bool isMuted() const { return isMuted_; }
    virtual void setIsMuted(bool value) { isMuted_ = value; }
    virtual bool isHardAudioMuted() const { return isHardAudioMuted_; }
    virtual void setIsHardAudioMuted(bool value) { isHardAudioMuted_ = value; }
    virtual bool isLoudest() const { return isLoudest_; }
    virtual void setIsLoudest(bool value) { isLoudest_ = value; }

private:
    const std::string sourceId_;
    bool isMuted_ = false;
    bool isHardAudioMuted_ = false;
    bool isLoudest_ = false;
};

}  // namespace kr
