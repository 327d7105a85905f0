#pragma once

#include <string>
#include <utility>

namespace kr {

/// The role in which the local user joins: host (proved by a host token), speaker or audience.
/// Plain value.
class KRUserRole {
public:
    enum class Kind {
        host,
        speaker,
        audience,
    };

    static KRUserRole host(std::string hostToken) {
        return KRUserRole(Kind::host, std::move(hostToken));
    }
    static KRUserRole speaker() { return KRUserRole(Kind::speaker, {}); }
    static KRUserRole audience() { return KRUserRole(Kind::audience, {}); }

    Kind kind() const noexcept { return kind_; }
    /// The host token for a host; the empty string otherwise.
    const std::string& getToken() const noexcept { return hostToken_; }

    /// Same case, and for hosts the same token.
    friend bool operator==(const KRUserRole&, const KRUserRole&) = default;

private:
    KRUserRole(Kind kind, std::string hostToken) : kind_(kind), hostToken_(std::move(hostToken)) {}

    Kind kind_;
    std::string hostToken_;  // always empty unless kind_ is host
};

}  // namespace kr
