// The Wine floor for bench/smtp_delivery.sh: the same dialogue and message as one report mail,
// spoken by a plain blocking Winsock client with no component, window or timer around it.
// smtp_bare PORT COUNT MESSAGEFILE prints the mean milliseconds per mail.
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

// Reads one reply, continuation lines included; false when the peer closed or failed.
bool readReply(SOCKET s, std::string& pending) {
    for (;;) {
        std::size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            const std::string line = pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            if (line.size() < 4 || line[3] != '-')
                return true;
        }
        char buffer[4096];
        const int n = recv(s, buffer, sizeof buffer, 0);
        if (n <= 0)
            return false;
        pending.append(buffer, n);
    }
}

bool sendAll(SOCKET s, const std::string& text) {
    for (std::size_t done = 0; done < text.size();) {
        const int n = send(s, text.data() + done, static_cast<int>(text.size() - done), 0);
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool deliver(unsigned short port, const std::string& message) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET)
        return false;
    const BOOL noDelay = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = inet_addr("127.0.0.1");
    std::string pending;
    bool ok =
        connect(s, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 && readReply(s, pending);
    for (const char* command : {"HELO bench\r\n", "RSET\r\n", "MAIL FROM:<watch@example.com>\r\n",
                                "RCPT TO:<ops@example.com>\r\n", "DATA\r\n"})
        ok = ok && sendAll(s, command) && readReply(s, pending);
    ok = ok && sendAll(s, message) && sendAll(s, ".\r\n") && readReply(s, pending);
    ok = ok && sendAll(s, "QUIT\r\n") && readReply(s, pending);
    closesocket(s);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: smtp_bare PORT COUNT MESSAGEFILE\n");
        return 2;
    }
    std::ifstream file(argv[3], std::ios::binary);
    std::stringstream content;
    content << file.rdbuf();
    std::string message = content.str();
    if (message.size() < 2 || message.compare(message.size() - 2, 2, "\r\n") != 0)
        message += "\r\n";
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int count = std::atoi(argv[2]);
    WSADATA data;
    WSAStartup(0x0101, &data);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (int i = 0; i < count; ++i) {
        if (!deliver(port, message)) {
            std::fprintf(stderr, "delivery %d failed\n", i + 1);
            return 1;
        }
    }
    QueryPerformanceCounter(&end);
    WSACleanup();
    const double ms = 1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) /
                      static_cast<double>(frequency.QuadPart);
    std::printf("%.3f\n", ms / count);
    return 0;
}
