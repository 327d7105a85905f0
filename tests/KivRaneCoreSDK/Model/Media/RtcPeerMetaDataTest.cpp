#include "KivRaneCoreSDK/Model/Media/RtcPeerMetaData.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/UI/View.h"

namespace kr {
namespace {

/// Counts destroyView calls and detaches its view like a real canvas.
class CountingCanvas : public RtcVideoCanvas {
public:
    CountingCanvas(std::string id, VideoRenderMode) : id_(std::move(id)) {}
    std::string id() const override { return id_; }
    std::shared_ptr<platform::View> getVideoStreamView() const override { return view_; }
    void destroyView() override {
        ++destroyed;
        if (view_) {
            view_->removeFromSuperview();
        }
        view_.reset();
    }
    int destroyed = 0;

private:
    std::string id_;
    std::shared_ptr<platform::View> view_ = platform::View::create();
};
static_assert(RtcVideoCanvasType<CountingCanvas>);

TEST(RtcPeerMetaDataTest, DefaultsAndStateEquality) {
    const RtcPeerMetaData empty;
    EXPECT_EQ(empty.id(), "");
    EXPECT_TRUE(empty.isAudioMuted());
    EXPECT_TRUE(empty.isVideoMuted());
    EXPECT_FALSE(empty.isLoudest());
    EXPECT_FALSE(empty.getVideoCanvas());
    EXPECT_FALSE(empty.getAuxiliaryTrack());

    RtcPeerMetaData a("7", false, true, false);
    RtcPeerMetaData b("7", false, true, false);
    EXPECT_TRUE(a == b);
    b.setVideoCanvas(std::make_shared<CountingCanvas>("7", VideoRenderMode::scaleAspectFill));
    EXPECT_TRUE(a == b);
    struct Flip {
        void (RtcPeerMetaData::*set)(bool);
        bool value;  // differs from a's
    };
    const Flip flips[] = {
        {&RtcPeerMetaData::setIsAudioMuted, true},
        {&RtcPeerMetaData::setIsVideoMuted, false},
        {&RtcPeerMetaData::setIsLoudest, true},
        {&RtcPeerMetaData::setIsAudiencePeer, true},
        {&RtcPeerMetaData::setIsScreenShareTrack, true},
    };
    for (const auto& flip : flips) {
        RtcPeerMetaData c("7", false, true, false);
        (c.*flip.set)(flip.value);
        EXPECT_FALSE(a == c);
    }
    EXPECT_FALSE(a == RtcPeerMetaData("8", false, true, false));
}

TEST(RtcPeerMetaDataTest, CanvasAndAuxiliaryTrackLifecycle) {
    RtcPeerMetaData peer("7", false, false, false);
    auto superview = platform::View::create();
    auto first = std::make_shared<CountingCanvas>("7", VideoRenderMode::scaleToFill);
    superview->addSubview(first->getVideoStreamView());
    peer.setVideoCanvas(first);

    // Replacing does not destroy the old canvas's view.
    auto second = std::make_shared<CountingCanvas>("7", VideoRenderMode::scaleToFill);
    peer.setVideoCanvas(second);
    EXPECT_EQ(first->destroyed, 0);
    EXPECT_EQ(superview->subviews().size(), 1u);

    peer.destroyVideoCanvas();
    peer.destroyVideoCanvas();
    EXPECT_EQ(second->destroyed, 1);
    EXPECT_FALSE(peer.getVideoCanvas());

    auto track = std::make_shared<RtcAuxiliaryTrack>("s1", "7");
    auto trackCanvas = std::make_shared<CountingCanvas>("s1", VideoRenderMode::scaleToFill);
    track->setVideoCanvas(trackCanvas);
    peer.setAuxiliaryTrack(track);
    peer.setAuxiliaryTrack(nullptr);
    EXPECT_EQ(peer.getAuxiliaryTrack(), track);
    EXPECT_EQ(track->parentId(), "7");
    peer.destroyAuxiliaryTrack();
    EXPECT_EQ(trackCanvas->destroyed, 1);
    EXPECT_FALSE(track->getVideoCanvas());
    EXPECT_FALSE(peer.getAuxiliaryTrack());

    peer.setAuxiliaryTrack(std::make_shared<RtcAuxiliaryTrack>("s2", "7"));
    peer.destroyAuxiliaryTrack();  // a track without a canvas is only dropped
    EXPECT_FALSE(peer.getAuxiliaryTrack());
    EXPECT_TRUE(first->getRtcCanvas());
}

}  // namespace
}  // namespace kr
