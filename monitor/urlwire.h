// A URL as a browser puts it on the wire: the path and query in UTF-8 with every byte outside
// printable ASCII percent-escaped, the fragment left at home. The host's conversion to its
// ASCII (IDN) form is the platform's, so it is handed back apart for that step.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Longest URL, after escaping, that a probe sends; longer ones are refused.
constexpr std::size_t MaxWireUrlLength = 8192;

struct WireUrlParts {
    std::string head; // scheme, "://" and any user information with its "@", escaped
    std::string host; // as written: UTF-8 that still needs its IDN form when not ASCII
    std::string tail; // ":port", path and query, escaped; the fragment dropped
};

// The parts of a URL ready for the wire but for its host; nullopt for text that no request can
// carry: ill-formed UTF-8, a control character (CR and LF included), a scheme before "://" that
// is none (letters, digits, "+", "-", "." after a letter), or a result longer than
// MaxWireUrlLength. Escapes already present stay as they are; a "%" that starts no escape is
// sent as "%25". Text without "://" has no host: all of it is escaped as the tail.
std::optional<WireUrlParts> SplitWireUrl(std::string_view url);

// True for a host name in ASCII that a name lookup can carry: at most 253 characters, no label
// longer than 63, no empty label but a final one, nothing outside printable ASCII. A bracketed
// IPv6 literal passes on its length alone.
bool IsWireHost(std::string_view host);

// True when the text holds only 7-bit characters.
bool IsAscii(std::string_view text);
