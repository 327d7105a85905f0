#pragma once

namespace kr::platform {

/// Options of a send. The stand-in delivers only to receivers that are online, so there is
/// nothing to set; the type keeps the calls in the shape the library makes them.
struct MessagingSendOptions {};

}  // namespace kr::platform
