#pragma once

#include <type_traits>
#include <utility>
#include <variant>

namespace kr {

/// Tag that builds the failure side of a `Result` (`return kr::Failure{error};`).
template <typename E>
struct Failure {
    E error;
};
template <typename E>
Failure(E) -> Failure<E>;

/// The outcome of a fallible operation: a value of type T or an error of type E.
/// Used in place of exceptions on every public path of the library.
template <typename T, typename E>
class [[nodiscard]] Result {
public:
    static_assert(!std::is_same_v<T, E>, "value and error types must differ");

    Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(implicit)
    template <typename F>
    Result(Failure<F> failure)  // NOLINT(implicit)
        : state_(std::in_place_index<1>, E(std::move(failure.error))) {}

    [[nodiscard]] bool ok() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }

    /// The value; only valid when ok().
    T& value() & { return std::get<0>(state_); }
    const T& value() const& { return std::get<0>(state_); }
    T&& value() && { return std::get<0>(std::move(state_)); }

    /// The error; only valid when !ok().
    E& error() & { return std::get<1>(state_); }
    const E& error() const& { return std::get<1>(state_); }
    E&& error() && { return std::get<1>(std::move(state_)); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

    template <typename U>
    T valueOr(U&& fallback) const& {
        return ok() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

private:
    std::variant<T, E> state_;
};

/// Success without a value.
struct Unit {
    friend bool operator==(Unit, Unit) = default;
};

}  // namespace kr
