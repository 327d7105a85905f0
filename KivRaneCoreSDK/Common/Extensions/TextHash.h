#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace kr {

/// The hash of a text, for maps keyed by `std::string`: transparent, so that with
/// `std::equal_to<>` a `std::string_view` finds an entry without building a string.
/// Stateless; safe from any thread.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept {
        return std::hash<std::string_view>{}(text);
    }
};

}  // namespace kr
