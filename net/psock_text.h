// The socket client's portable pieces: its exception classes, the Winsock error texts, reply
// number parsing and the small text helpers. Nothing here needs Winsock, so both builds test it.
#pragma once

#include "base/exception.h"
#include "base/tstream.h"

#include <cstdint>
#include <string>

// Lookup, connection and Winsock failures of the socket client.
class ESockError : public Exception {
public:
    using Exception::Exception;
};

// A lookup, connect or accept that ran out of time; Connect passes it on instead of asking
// OnInvalidHost.
class ESockTimedOut : public ESockError {
public:
    using ESockError::ESockError;
};

// A lookup, connect or accept that was canceled; passed on by Connect like a time-out.
class ESockCanceled : public ESockError {
public:
    using ESockError::ESockError;
};

// A transfer that was canceled or ran out of time.
class EAbortError : public ESockError {
public:
    using ESockError::ESockError;
};

// A number that does not fit the field it is meant for.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

struct TWinsockMessage {
    int Number;
    const char* Text;
};

// The error table, in the order it is scanned.
extern const TWinsockMessage WinsockMessage[50];

// "10061:Connection refused", "Unknown Error No. 12345", or empty for 0.
std::string WinsockErrorText(int number);

// The number formed by the run of decimal digits (at most 10) that starts the reply; 0 when it
// starts with none. Raises ERangeError when the number does not fit in 16 bits.
std::int16_t ReplyNumberOf(const std::string& reply);

// The n-th field (from 1) of text split at every delimiter character; empty beyond the last.
std::string NthWord(const std::string& text, char delimiter, int n);

// The position (from 1) of the n-th occurrence of ch; the length + 1 when there are fewer
// occurrences or when the n-th one is the last character.
int NthPos(const std::string& text, char ch, int n);

void StreamLn(TStream& stream, const std::string& text);
