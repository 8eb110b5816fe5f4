#pragma once

#include <optional>
#include <utility>
#include <variant>

namespace corvex {

// The error side of a Result, so that a call site says which one it returns:
// `return Failure { UploadError::NotASet };`.
template<typename E>
struct Failure {
    E error;
};
// Spelled out for compilers without deduction for aggregates (clang before 17, which
// the fuzz build uses).
template<typename E>
Failure(E) -> Failure<E>;

// A value, or the reason there is none, for callers that must tell the user why.
template<typename T, typename E>
class [[nodiscard]] Result {
public:
    Result(T value)
        : m_state(std::in_place_index<0>, std::move(value))
    {
    }
    Result(Failure<E> failure)
        : m_state(std::in_place_index<1>, std::move(failure.error))
    {
    }

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    T& value() { return std::get<0>(m_state); }
    const T& value() const { return std::get<0>(m_state); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const E& error() const { return std::get<1>(m_state); }

    // As std::optional's: equal to a value when it holds that value.
    friend bool operator==(const Result& result, const T& value) { return result.hasValue() && result.value() == value; }

    // As std::optional's, for callers to whom a failure and a default are one.
    template<typename U>
    T value_or(U&& fallback) const&
    {
        return hasValue() ? value() : static_cast<T>(std::forward<U>(fallback));
    }

private:
    std::variant<T, E> m_state;
};

// Success with nothing to hand back, or the reason it failed.
template<typename E>
class [[nodiscard]] Result<void, E> {
public:
    Result() = default;
    Result(Failure<E> failure)
        : m_error(std::move(failure.error))
    {
    }

    bool hasValue() const { return !m_error; }
    explicit operator bool() const { return hasValue(); }

    const E& error() const { return *m_error; }

private:
    std::optional<E> m_error;
};

} // namespace corvex
