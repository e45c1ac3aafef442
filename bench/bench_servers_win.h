// Loopback HTTP servers for the probe benchmarks. Each runs on ONE thread of its own, so that
// hundreds of connections cost the measured process neither threads nor a pile of state
// (the test peer keeps a thread per connection until it is destroyed).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace bench {

inline SOCKET listenOnLoopback(int& port) {
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, SOMAXCONN);
    int length = sizeof address;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return listener;
}

class WinsockUser {
public:
    WinsockUser() {
        WSADATA data;
        ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockUser() { ::WSACleanup(); }
    WinsockUser(const WinsockUser&) = delete;
    WinsockUser& operator=(const WinsockUser&) = delete;
};

// Answers every request with 200 (or, as a redirect loop, with 302 to the same path) and
// closes, one connection after the other: the probes it serves come one after the other too.
class AnswerServer : WinsockUser {
public:
    explicit AnswerServer(bool redirectLoop = false)
        : redirectLoop_(redirectLoop), listener_(listenOnLoopback(port_)),
          thread_([this] { serve(); }) {}
    ~AnswerServer() {
        stopping_ = true;
        ::closesocket(listener_);
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    std::string HostPath(const std::string& path) const {
        return "127.0.0.1:" + std::to_string(port_) + path;
    }
    int Port() const { return port_; }
    int Requests() const { return requests_; }
    long long BytesSent() const { return sent_; }

private:
    void serve() {
        const std::string response =
            redirectLoop_ ? "HTTP/1.1 302 Found\r\nLocation: /loop\r\nContent-Length: 0\r\n"
                            "Connection: close\r\n\r\n"
                          : "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
                            "Content-Length: 3\r\nConnection: close\r\n\r\nOK\n";
        while (!stopping_) {
            SOCKET client = ::accept(listener_, nullptr, nullptr);
            if (client == INVALID_SOCKET)
                continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                request.append(buffer, static_cast<size_t>(n));
            }
            if (request.find("\r\n\r\n") != std::string::npos) {
                ++requests_;
                const int n = ::send(client, response.data(), static_cast<int>(response.size()), 0);
                sent_ += n > 0 ? n : 0;
                ::shutdown(client, SD_SEND);
            }
            ::closesocket(client);
        }
    }

    bool redirectLoop_;
    int port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::atomic<long long> sent_{0};
    std::thread thread_;
};

// Accepts, reads the request, never answers (or, as an endless server, answers with a status
// line and header lines without end, as fast as the client takes them); closes its end only
// when the client closes its own, so that its share of the process returns to nothing once
// the clients are gone. Every connection is held by the one thread's poll, so hundreds of
// silent ones cost a socket each and nothing more.
class SilentServer : WinsockUser {
public:
    explicit SilentServer(bool endless = false)
        : endless_(endless), listener_(listenOnLoopback(port_)), thread_([this] { serve(); }) {}
    ~SilentServer() {
        stopping_ = true;
        thread_.join();
        ::closesocket(listener_);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int Accepted() const { return accepted_; }
    // Request heads read (a head's end seen within one read: loopback requests come whole).
    int Requests() const { return requests_; }
    int Held() const { return held_; }
    long long BytesSent() const { return sent_; }

private:
    void serve() {
        std::vector<WSAPOLLFD> fds{{listener_, POLLRDNORM, 0}};
        char buffer[4096];
        std::string lines;
        for (int i = 0; i < 64; ++i)
            lines += "X-Filler-" + std::to_string(i) + ": " + std::string(40, 'x') + "\r\n";
        const SHORT watch = endless_ ? POLLRDNORM | POLLWRNORM : POLLRDNORM;
        while (!stopping_) {
            if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 100) <= 0)
                continue;
            std::vector<WSAPOLLFD> next{fds[0]};
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) {
                    const int n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                    if (n <= 0) {
                        offsets_.erase(fds[i].fd);
                        ::closesocket(fds[i].fd);
                        continue;
                    }
                    const std::string_view got(buffer, static_cast<size_t>(n));
                    for (size_t at = got.find("\r\n\r\n"); at != got.npos;
                         at = got.find("\r\n\r\n", at + 4))
                        ++requests_;
                }
                if (fds[i].revents & POLLWRNORM)
                    stream(fds[i].fd, lines);
                next.push_back({fds[i].fd, watch, 0});
            }
            if (fds[0].revents & POLLRDNORM) {
                SOCKET client = ::accept(listener_, nullptr, nullptr);
                if (client != INVALID_SOCKET) {
                    ++accepted_;
                    u_long nonBlocking = 1;
                    ::ioctlsocket(client, FIONBIO, &nonBlocking);
                    if (endless_)
                        ::send(client, "HTTP/1.1 200 OK\r\n", 17, 0);
                    next.push_back({client, watch, 0});
                }
            }
            fds = std::move(next);
            held_ = static_cast<int>(fds.size()) - 1;
        }
        for (size_t i = 1; i < fds.size(); ++i)
            ::closesocket(fds[i].fd);
    }

    // The header lines go out as one endless stream per client, cut wherever its buffer is full.
    void stream(SOCKET client, const std::string& lines) {
        size_t& at = offsets_[client];
        const int n = ::send(client, lines.data() + at, static_cast<int>(lines.size() - at), 0);
        if (n > 0) {
            sent_ += n;
            at = (at + static_cast<size_t>(n)) % lines.size();
        }
    }

    bool endless_;
    int port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stopping_{false};
    std::atomic<long long> sent_{0};
    std::map<SOCKET, size_t> offsets_; // serving thread only
    std::atomic<int> accepted_{0};
    std::atomic<int> requests_{0};
    std::atomic<int> held_{0};
    std::thread thread_;
};

} // namespace bench
