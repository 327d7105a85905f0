#pragma once

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Media/VideoRenderMode.h"
#include "KivRaneCoreSDK/Model/Media/RtcVideoCanvas.h"
#include "platform/UI/View.h"

namespace kr {

/// A canvas for a host-supplied engine: a peer id and a fresh view, nothing of the engine's own.
/// The library never builds one; it is there for host engines to use.
/// Not thread-safe: used on the main queue.
class KRMediaEngineVideoCanvas : public RtcVideoCanvas {
public:
    /// Keeps `id` and makes a new view; the render mode is the host engine's business.
    KRMediaEngineVideoCanvas(std::string id, VideoRenderMode renderMode);

    std::string id() const override { return id_; }
    void setId(std::string id) { id_ = std::move(id); }

    std::shared_ptr<platform::View> streamView() const { return streamView_; }
    void setStreamView(std::shared_ptr<platform::View> view) { streamView_ = std::move(view); }

    std::shared_ptr<platform::View> getVideoStreamView() const override { return streamView_; }
    /// Takes the view out of its superview and drops it; nothing once it is gone.
    void destroyView() override;

private:
    std::string id_;
    std::shared_ptr<platform::View> streamView_;
};

}  // namespace kr
