#pragma once

namespace kr::platform {

/// A stand-in for a platform colour: red, green, blue and alpha components, nominally in 0...1
/// (values outside that range are kept as given; consumers decide how to treat them).
/// Immutable, so a colour shared through `std::shared_ptr` may be read from any thread.
class Color {
public:
    Color(double red, double green, double blue, double alpha = 1.0)
        : red_(red), green_(green), blue_(blue), alpha_(alpha) {}

    double red() const { return red_; }
    double green() const { return green_; }
    double blue() const { return blue_; }
    double alpha() const { return alpha_; }

private:
    double red_;
    double green_;
    double blue_;
    double alpha_;
};

}  // namespace kr::platform
