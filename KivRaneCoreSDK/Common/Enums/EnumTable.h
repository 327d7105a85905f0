#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <utility>

namespace kr {

/// An enum's cases paired with what stands for them outside the program (a raw value, a name, a
/// path): one list read both ways, so the two directions cannot drift apart the way a pair of
/// hand-written switches can. Lookups are linear; tables are a handful of entries.
template <class Enum, class Raw, std::size_t N>
class EnumTable {
public:
    using Entry = std::pair<Enum, Raw>;

    constexpr explicit EnumTable(std::array<Entry, N> entries) : entries_(entries) {}

    /// The case `raw` stands for; nullopt for anything not in the table (exact comparison).
    template <class Key>
    constexpr std::optional<Enum> fromRaw(const Key& raw) const {
        for (const auto& [value, text] : entries_) {
            if (text == raw) {
                return value;
            }
        }
        return std::nullopt;
    }

    /// What `value` stands for; the first entry's for a value outside the table.
    constexpr const Raw& toRaw(Enum value) const {
        for (const auto& entry : entries_) {
            if (entry.first == value) {
                return entry.second;
            }
        }
        return entries_.front().second;
    }

    constexpr bool contains(Enum value) const {
        return std::any_of(entries_.begin(), entries_.end(),
                           [value](const Entry& e) { return e.first == value; });
    }

    constexpr const std::array<Entry, N>& entries() const { return entries_; }

private:
    std::array<Entry, N> entries_;
};

/// `makeEnumTable<KRHTTPMethod, std::string_view>({{KRHTTPMethod::get, "GET"}, ...})`.
template <class Enum, class Raw, std::size_t N>
constexpr EnumTable<Enum, Raw, N> makeEnumTable(const std::pair<Enum, Raw> (&entries)[N]) {
    std::array<std::pair<Enum, Raw>, N> copy{};
    std::copy(std::begin(entries), std::end(entries), copy.begin());
    return EnumTable<Enum, Raw, N>(copy);
}

/// A table for an enum whose raw values are its underlying integers: only the listed cases are
/// valid raw values.
template <class Raw, class Enum, std::size_t N>
constexpr EnumTable<Enum, Raw, N> makeIntegerEnumTable(const Enum (&cases)[N]) {
    std::array<std::pair<Enum, Raw>, N> entries{};
    for (std::size_t i = 0; i < N; ++i) {
        entries[i] = {cases[i], static_cast<Raw>(cases[i])};
    }
    return EnumTable<Enum, Raw, N>(entries);
}

}  // namespace kr
