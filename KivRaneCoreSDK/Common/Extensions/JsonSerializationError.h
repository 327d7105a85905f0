#pragma once

#include <string>

namespace kr {

/// Why a dictionary could not be written as JSON (for instance a NaN or infinite number).
/// Plain value.
struct JsonSerializationError {
    std::string message;

    friend bool operator==(const JsonSerializationError&, const JsonSerializationError&) = default;
};

}  // namespace kr
