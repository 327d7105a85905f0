#pragma once

#include <memory>
#include <string>
#include <utility>
#include <variant>

#include "KivRaneCoreSDK/Common/Enums/KRVirtaulBackgroundBlurIntensity.h"
#include "platform/UI/Color.h"

namespace kr {

/// The virtual background to apply to the local video: a blur of some strength, an image file, a
/// plain colour, or none. Copying a value copies the path or shares the colour object. It has no
/// equality and no JSON form. Plain value; the colour it shares is immutable.
class KRVirtualBackgroundType {
public:
    struct Blur {
        KRVirtaulBackgroundBlurIntensity intensity;
    };
    struct Image {
        std::string path;
    };
    struct Color {
        std::shared_ptr<platform::Color> color;  // never null
    };
    struct None {};
    using Value = std::variant<Blur, Image, Color, None>;

    static KRVirtualBackgroundType blur(KRVirtaulBackgroundBlurIntensity intensity) {
        return KRVirtualBackgroundType(Blur{intensity});
    }
    static KRVirtualBackgroundType image(std::string path) {
        return KRVirtualBackgroundType(Image{std::move(path)});
    }
    /// A colour background; a null colour gives `none` (there would be nothing to apply).
    static KRVirtualBackgroundType color(std::shared_ptr<platform::Color> color) {
        if (!color) {
            return none();
        }
        return KRVirtualBackgroundType(Color{std::move(color)});
    }
    static KRVirtualBackgroundType none() { return KRVirtualBackgroundType(None{}); }

    /// `none`.
    KRVirtualBackgroundType() = default;

    const Value& value() const { return value_; }

    const Blur* ifBlur() const { return std::get_if<Blur>(&value_); }
    const Image* ifImage() const { return std::get_if<Image>(&value_); }
    const Color* ifColor() const { return std::get_if<Color>(&value_); }
    bool isNone() const { return std::holds_alternative<None>(value_); }

private:
    explicit KRVirtualBackgroundType(Value value) : value_(std::move(value)) {}

    Value value_{None{}};
};

}  // namespace kr
