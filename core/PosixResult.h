#pragma once

#include "core/PosixError.h"

#include <utility>
#include <variant>

// A value or the POSIX error that prevented it. Failures are ordinary results
// here (a missing attribute is the common case), so nothing is thrown.
template<typename T> class PosixResult
{
public:
    PosixResult(T value) : m_state(std::move(value)) {}
    PosixResult(PosixError error) : m_state(std::move(error)) {}

    bool hasValue() const { return m_state.index() == 0; }
    explicit operator bool() const { return hasValue(); }

    const T& value() const { return std::get<0>(m_state); }
    T& value() { return std::get<0>(m_state); }
    const T& operator*() const { return value(); }
    const T* operator->() const { return &value(); }

    const PosixError& error() const { return std::get<1>(m_state); }

private:
    std::variant<T, PosixError> m_state;
};
