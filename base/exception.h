// The framework's exception family: every error the program raises carries one message text.
#pragma once

#include <stdexcept>
#include <string>

class Exception : public std::runtime_error {
public:
    explicit Exception(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// Errors of the stream classes ("Seek error", "PutBack overflow", short reads and writes).
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A file that cannot be opened or created; the mail assembly reacts to this class in particular.
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
