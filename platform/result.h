// Errors as values: a Result<T> holds either a T or an Error.
//
// An Error carries the code the interface reports (a Win32 or Windows Sockets
// code, or a code of the library at hand) and a text for the log that names
// the object and the operation and keeps the raw numbers.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace lumarc {

struct Error {
    uint32_t code = 0;
    std::string text;
};

template <class T> class [[nodiscard]] Result {
public:
    Result(T v) : m_state(std::in_place_index<0>, std::move(v)) {}
    Result(Error e) : m_state(std::in_place_index<1>, std::move(e)) {}

    bool ok() const { return m_state.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_state); }
    const T& value() const& { return std::get<0>(m_state); }
    T&& value() && { return std::get<0>(std::move(m_state)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T&& operator*() && { return std::move(*this).value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(m_state); }

    // The value, or fallback when this holds an error.
    T valueOr(T fallback) const& { return ok() ? value() : std::move(fallback); }

private:
    std::variant<T, Error> m_state;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error e) : m_error(std::move(e)), m_failed(true) {}

    bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    const Error& error() const { return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};

using Status = Result<void>;

} // namespace lumarc
