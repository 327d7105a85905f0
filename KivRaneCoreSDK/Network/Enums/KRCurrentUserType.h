#pragma once

namespace kr {

/// Whether the current user joined as a guest (guests use the "/guest" endpoint variants) or is
/// signed in.
enum class KRCurrentUserType { guest, loggedIn };

}  // namespace kr
