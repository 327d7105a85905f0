#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "KivRaneCoreSDK/Common/Enums/KRAudioDeviceType.h"
#include "KivRaneCoreSDK/Common/Enums/KRAudioVideoErrorType.h"
#include "KivRaneCoreSDK/Common/Enums/KRConnectionState.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtaulBackgroundBlurIntensity.h"
#include "KivRaneCoreSDK/Common/Enums/KRVirtualBackgroundType.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "KivRaneCoreSDK/Common/Protocols/KRVBGViewProtocol.h"

namespace kr {
namespace {

// Checks every listed case both ways, and that the raw values around them give nothing.
template <class E, class Raw>
void expectRawTable(std::optional<E> (*fromRaw)(Raw),
                    std::initializer_list<std::pair<E, Raw>> table,
                    std::initializer_list<Raw> invalid) {
    for (const auto& [value, raw] : table) {
        EXPECT_EQ(rawValue(value), raw);
        EXPECT_EQ(fromRaw(raw), value) << raw;
    }
    for (Raw raw : invalid) {
        EXPECT_EQ(fromRaw(raw), std::nullopt) << raw;
    }
}

TEST(SharedEnumsTest, RawValueTables) {
    using CS = KRConnectionState;
    expectRawTable<CS, std::int64_t>(krConnectionStateFromRaw,
                                     {{CS::disconnected, 0},
                                      {CS::connecting, 1},
                                      {CS::connected, 2},
                                      {CS::reconnecting, 3},
                                      {CS::failed, 4}},
                                     {5, -1, std::int64_t{1} << 32});
    using AD = KRAudioDeviceType;
    expectRawTable<AD, std::int64_t>(
        krAudioDeviceTypeFromRaw, {{AD::speaker, 0}, {AD::device, 1}, {AD::audioOff, 2}}, {3, -1});
    using AV = KRAudioVideoErrorType;
    expectRawTable<AV, std::int64_t>(krAudioVideoErrorTypeFromRaw,
                                     {{AV::reconnectError, 0},
                                      {AV::deviceBusyError, 1},
                                      {AV::permissionError, 2},
                                      {AV::multipleAppsOrBackground, 3},
                                      {AV::ok, 4},
                                      {AV::unknown, 5}},
                                     {6, -1});
    using BI = KRVirtaulBackgroundBlurIntensity;
    expectRawTable<BI, std::uint64_t>(krVirtualBackgroundBlurIntensityFromRaw,
                                      {{BI::low, 1}, {BI::medium, 2}, {BI::high, 3}},
                                      {0, 4, UINT64_MAX});
}

TEST(SharedEnumsTest, BlurIntensityJsonIsTheBareNumber) {
    EXPECT_EQ(boost::json::serialize(toJson(KRVirtaulBackgroundBlurIntensity::high)), "3");
    EXPECT_EQ(boost::json::serialize(toJson(KRVirtaulBackgroundBlurIntensity::low)), "1");

    struct Case {
        const char* json;
        std::optional<KRVirtaulBackgroundBlurIntensity> decoded;
    };
    const Case cases[] = {
        {"1", KRVirtaulBackgroundBlurIntensity::low},
        {"2", KRVirtaulBackgroundBlurIntensity::medium},
        {"3", KRVirtaulBackgroundBlurIntensity::high},
        {"3.0", KRVirtaulBackgroundBlurIntensity::high},
        {"0", std::nullopt},
        {"4", std::nullopt},
        {"-1", std::nullopt},
        {"2.5", std::nullopt},
        {"\"2\"", std::nullopt},
        {"true", std::nullopt},
        {"null", std::nullopt},
    };
    for (const Case& c : cases) {
        auto result = decodeJsonValue<KRVirtaulBackgroundBlurIntensity>(boost::json::parse(c.json));
        EXPECT_EQ(result.ok(), c.decoded.has_value()) << c.json;
        if (result.ok() && c.decoded) {
            EXPECT_EQ(result.value(), *c.decoded) << c.json;
        }
    }

    // Through a model reader the failure names its key.
    const auto doc = boost::json::parse(R"({"blur":4})");
    JsonObjectReader reader(doc);
    reader.required<KRVirtaulBackgroundBlurIntensity>("blur");
    ASSERT_FALSE(reader.ok());
    EXPECT_EQ(reader.error()->key, "blur");
}

TEST(KRVirtualBackgroundTypeTest, ColourIsSharedAndKeptAlive) {
    std::weak_ptr<platform::Color> watch;
    KRVirtualBackgroundType copy;
    {
        auto color = std::make_shared<platform::Color>(1.0, 0.0, 0.0);
        watch = color;
        const auto original = KRVirtualBackgroundType::color(color);
        copy = original;
        ASSERT_TRUE(copy.ifColor());
        EXPECT_EQ(copy.ifColor()->color, original.ifColor()->color);  // shared, not copied
    }
    EXPECT_FALSE(watch.expired());
    copy = KRVirtualBackgroundType::none();
    EXPECT_TRUE(watch.expired());
    EXPECT_TRUE(KRVirtualBackgroundType::color(nullptr).isNone());  // nothing to apply
}

struct HostPicker {
    static void presentView(std::shared_ptr<platform::View>, KRClient*, std::function<void()>) {}
};
struct InstancePicker {
    void presentView(std::shared_ptr<platform::View>, KRClient*, std::function<void()>) {}
};
struct WrongArguments {
    static void presentView(std::shared_ptr<platform::View>, std::function<void()>) {}
};
static_assert(KRVBGViewProtocol<HostPicker>);
static_assert(!KRVBGViewProtocol<InstancePicker>);
static_assert(!KRVBGViewProtocol<WrongArguments>);

}  // namespace
}  // namespace kr
