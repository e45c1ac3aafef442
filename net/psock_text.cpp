#include "net/psock_text.h"

const TWinsockMessage WinsockMessage[50] = {
    {10004, "Interrupted system call"},
    {10009, "Bad file number"},
    {10013, "Permission denied"},
    {10014, "Bad address"},
    {10022, "Invalid argument"},
    {10024, "Too many open files"},
    {10035, "Operation would block"},
    {10036, "Operation now in progress"},
    {10037, "Operation already in progress"},
    {10038, "Socket operation on non-socket"},
    {10039, "Destination address required"},
    {10040, "Message too long"},
    {10041, "Wrong protocol type for socket"},
    {10042, "Bad protocol option"},
    {10043, "Protocol not supported"},
    {10044, "Socket type not supported"},
    {10045, "Operation not supported on socket"},
    {10046, "Protocol family not supported"},
    {10047, "Address family not supported by protocol family"},
    {10048, "Address already in use"},
    {10049, "Can't assign requested address"},
    {10050, "Network is down"},
    {10051, "Network is unreachable"},
    {10052, "Network dropped connection or reset"},
    {10053, "Software caused connection abort"},
    {10054, "Connection reset by peer"},
    {10055, "No buffer space available"},
    {10056, "Socket is already connected"},
    {10057, "Socket is not connected"},
    {10058, "Can't send after socket shutdown"},
    {10059, "Too many references, can't splice"},
    {10060, "Connection timed out"},
    {10061, "Connection refused"},
    {10062, "Too many levels of symbolic links"},
    {10063, "File name too long"},
    {10064, "Host is down"},
    {10065, "No route to Host"},
    {10066, "Directory not empty"},
    {10067, "Too many processes"},
    {10068, "Too many users"},
    {10069, "Disc quota exceeded"},
    {10070, "Stale NFS file handle"},
    {10071, "Too many levels of remote in path"},
    {10091, "Network subsystem is unavailable"},
    {10092, "Incompatible version of WINSOCK.DLL"},
    {10093, "Successful WSAStartup not yet performed"},
    {11001, "Host not found"},
    {11002, "Non-Authoritative Host not found"},
    {11003, "Non-Recoverable error: FORMERR, REFUSED, NOTIMP"},
    {11004, "Valid name, no data record of requested type"},
};

std::string WinsockErrorText(int number) {
    if (number == 0)
        return "";
    for (const TWinsockMessage& row : WinsockMessage) {
        if (row.Number == number)
            return std::to_string(number) + ":" + row.Text;
    }
    return "Unknown Error No. " + std::to_string(number);
}

std::int16_t ReplyNumberOf(const std::string& reply) {
    std::size_t digits = 0;
    while (digits < reply.size() && digits < 10 && reply[digits] >= '0' && reply[digits] <= '9')
        ++digits;
    if (digits == 0)
        return 0;
    const long long value = std::stoll(reply.substr(0, digits));
    if (value > 32767)
        throw ERangeError("Range check error");
    return static_cast<std::int16_t>(value);
}

std::string NthWord(const std::string& text, char delimiter, int n) {
    if (n < 1)
        return "";
    std::size_t start = 0;
    for (int field = 1; field < n; ++field) {
        const std::size_t next = text.find(delimiter, start);
        if (next == std::string::npos)
            return "";
        start = next + 1;
    }
    const std::size_t end = text.find(delimiter, start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

int NthPos(const std::string& text, char ch, int n) {
    const int beyond = static_cast<int>(text.size()) + 1;
    int seen = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == ch && ++seen == n)
            return i + 1 == text.size() ? beyond : static_cast<int>(i) + 1;
    }
    return beyond;
}

void StreamLn(TStream& stream, const std::string& text) {
    const std::string line = text + "\r\n";
    stream.WriteBuffer(line.data(), static_cast<std::int32_t>(line.size()));
}
