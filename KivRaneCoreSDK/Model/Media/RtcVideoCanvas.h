#pragma once

#include <concepts>
#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Media/VideoRenderMode.h"
#include "platform/Media/VideoCanvas.h"
#include "platform/UI/View.h"

namespace kr {

/// One video view of the media engine (a peer's or a screen-share track's) together with the
/// engine's own canvas object. Implementations are held by std::shared_ptr and must be
/// constructible from (peer id, render mode); see `RtcVideoCanvasType`.
/// Not thread-safe: used on the main queue.
class RtcVideoCanvas {
public:
    virtual ~RtcVideoCanvas() = default;

    virtual std::string id() const = 0;
    /// The engine's own canvas object. By default a new canvas bound to no uid and no view.
    virtual std::shared_ptr<platform::VideoCanvas> getRtcCanvas();
    /// The view the video is rendered into, or none.
    virtual std::shared_ptr<platform::View> getVideoStreamView() const = 0;
    /// Releases the view.
    virtual void destroyView() = 0;

protected:
    RtcVideoCanvas() = default;
    RtcVideoCanvas(const RtcVideoCanvas&) = default;
    RtcVideoCanvas& operator=(const RtcVideoCanvas&) = default;
};

/// A canvas type as engines build it: from a peer id and a render mode.
template <class T>
concept RtcVideoCanvasType = std::derived_from<T, RtcVideoCanvas> &&
    std::constructible_from<T, std::string, VideoRenderMode>;

}  // namespace kr
