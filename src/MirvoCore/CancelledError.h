#pragma once

#include <exception>

namespace mirvo {

// Thrown when the caller asked an operation to stop. It is deliberately not a MirvoError:
// a stop is never reported as a failure.
class CancelledError : public std::exception {
public:
    const char* what() const noexcept override { return "operation cancelled"; }
};

} // namespace mirvo
