#include "monitor/urlwire.h"

#include "base/utf.h"

#include <cctype>

namespace {

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Bytes a browser escapes in a path or query: everything outside printable ASCII, and the few
// printable ones that servers read as delimiters of the request line or refuse outright.
bool needsEscape(unsigned char c) {
    return c >= 0x80 || c == ' ' || c == '"' || c == '<' || c == '>' || c == '`' || c == '{' ||
           c == '}';
}

void escapeInto(std::string& out, std::string_view text) {
    static const char digits[] = "0123456789ABCDEF";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool strayPercent =
            c == '%' && !(i + 2 < text.size() && isHex(text[i + 1]) && isHex(text[i + 2]));
        if (needsEscape(c) || strayPercent) {
            out += '%';
            out += digits[c >> 4];
            out += digits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
}

bool isScheme(std::string_view text) {
    if (text.empty() || !std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

bool hasControl(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return true;
    return false;
}

} // namespace

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

std::optional<WireUrlParts> SplitWireUrl(std::string_view url) {
    if (hasControl(url) || !IsUtf8(url))
        return std::nullopt;
    WireUrlParts parts;
    std::string_view rest = url;
    const std::size_t scheme = url.find("://");
    if (scheme != std::string_view::npos) {
        if (!isScheme(url.substr(0, scheme)))
            return std::nullopt;
        const std::size_t authorityStart = scheme + 3;
        std::size_t authorityEnd = url.find_first_of("/?#", authorityStart);
        if (authorityEnd == std::string_view::npos)
            authorityEnd = url.size();
        std::string_view authority = url.substr(authorityStart, authorityEnd - authorityStart);
        const std::size_t at = authority.rfind('@');
        parts.head.assign(url.substr(0, authorityStart));
        if (at != std::string_view::npos) {
            escapeInto(parts.head, authority.substr(0, at + 1));
            authority.remove_prefix(at + 1);
        }
        // A port follows the host, after the closing bracket of an IPv6 literal.
        const std::size_t bracket = authority.rfind(']');
        std::size_t colon = authority.rfind(':');
        if (colon != std::string_view::npos && bracket != std::string_view::npos && colon < bracket)
            colon = std::string_view::npos;
        parts.host.assign(authority.substr(0, colon));
        if (colon != std::string_view::npos)
            escapeInto(parts.tail, authority.substr(colon));
        rest = url.substr(authorityEnd);
    }
    // The fragment names a place inside the page; a browser never sends it.
    escapeInto(parts.tail, rest.substr(0, rest.find('#')));
    if (parts.head.size() + parts.host.size() + parts.tail.size() > MaxWireUrlLength)
        return std::nullopt;
    return parts;
}

bool IsWireHost(std::string_view host) {
    if (host.size() > 253 || !IsAscii(host) || hasControl(host))
        return false;
    if (!host.empty() && host.front() == '[')
        return true;
    std::size_t label = 0;
    for (std::size_t i = 0; i < host.size(); ++i) {
        if (host[i] != '.') {
            if (++label > 63 || host[i] == ' ')
                return false;
            continue;
        }
        if (label == 0)
            return false;
        label = 0;
    }
    return true;
}
