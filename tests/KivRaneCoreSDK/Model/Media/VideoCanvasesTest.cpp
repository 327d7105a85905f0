#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "KivRaneCoreSDK/Model/Media/AgoraEngineVideoCanvas.h"
#include "KivRaneCoreSDK/Model/Media/KRMediaEngineVideoCanvas.h"
#include "platform/Media/MediaCodes.h"
#include "platform/UI/View.h"

namespace kr {
namespace {

static_assert(RtcVideoCanvasType<AgoraEngineVideoCanvas>);
static_assert(RtcVideoCanvasType<KRMediaEngineVideoCanvas>);

TEST(VideoCanvasesTest, TheEngineCanvasBindsTheParsedUidToTheCanvasViewWithTheEngineMode) {
    struct Case {
        std::string id;
        VideoRenderMode mode;
        std::uint64_t uid;
        int engineMode;
    };
    using platform::MediaCodes;
    const Case cases[] = {
        {"1234", VideoRenderMode::scaleAspectFit, 1234, MediaCodes::kRenderFit},
        {"18446744073709551615", VideoRenderMode::scaleToFill, 18446744073709551615u,
         MediaCodes::kRenderFill},
        {"abc", VideoRenderMode::scaleAspectFill, 0, MediaCodes::kRenderHidden},
        {"123456789012345678901", VideoRenderMode::scaleAspectFill, 0, MediaCodes::kRenderHidden},
        {"", VideoRenderMode::scaleAspectFill, 0, MediaCodes::kRenderHidden},
        {"-5", VideoRenderMode::scaleAspectFill, 0, MediaCodes::kRenderHidden},
        {"12a", VideoRenderMode::scaleAspectFill, 0, MediaCodes::kRenderHidden},
    };
    for (const Case& c : cases) {
        AgoraEngineVideoCanvas canvas(c.id, c.mode);
        EXPECT_EQ(canvas.uid(), c.uid) << c.id;
        EXPECT_EQ(canvas.id(), std::to_string(c.uid)) << c.id;
        const auto& engine = canvas.engineCanvas();
        ASSERT_TRUE(engine);
        EXPECT_EQ(engine->uid, c.uid) << c.id;
        EXPECT_EQ(engine->renderMode, c.engineMode) << c.id;
        ASSERT_TRUE(canvas.getVideoStreamView());
        EXPECT_EQ(engine->view, canvas.getVideoStreamView()) << c.id;
        EXPECT_EQ(std::static_pointer_cast<void>(canvas.getRtcCanvas()),
                  std::static_pointer_cast<void>(engine))
            << "the interface hands out the same engine canvas";
    }
}

TEST(VideoCanvasesTest, DestroyingAViewTakesItOutOfItsSuperviewOnce) {
    auto parent = platform::View::create();

    AgoraEngineVideoCanvas engineCanvas("7", VideoRenderMode::scaleAspectFill);
    auto engineView = engineCanvas.getVideoStreamView();
    parent->addSubview(engineView);
    engineCanvas.destroyView();
    EXPECT_FALSE(engineCanvas.getVideoStreamView());
    EXPECT_FALSE(engineView->superview());
    EXPECT_EQ(engineCanvas.engineCanvas()->view, engineView) << "the engine's binding stays";
    engineCanvas.destroyView();
    EXPECT_FALSE(engineCanvas.getVideoStreamView());

    KRMediaEngineVideoCanvas hostCanvas("host-7", VideoRenderMode::scaleToFill);
    EXPECT_EQ(hostCanvas.id(), "host-7");
    EXPECT_TRUE(hostCanvas.getRtcCanvas()) << "a fresh empty engine object";
    auto hostView = hostCanvas.getVideoStreamView();
    ASSERT_TRUE(hostView);
    parent->addSubview(hostView);
    EXPECT_EQ(parent->subviews().size(), 1u);
    hostCanvas.destroyView();
    EXPECT_TRUE(parent->subviews().empty());
    EXPECT_FALSE(hostCanvas.streamView());
    hostCanvas.destroyView();  // nothing left to release

    KRMediaEngineVideoCanvas neverShown("x", VideoRenderMode::scaleToFill);
    neverShown.destroyView();
    EXPECT_FALSE(neverShown.getVideoStreamView());
}

}  // namespace
}  // namespace kr
