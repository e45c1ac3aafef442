// Loopback HTTP servers for the probe benchmarks. Each runs on ONE thread of its own, so that
// hundreds of connections cost the measured process neither threads nor a pile of state
// (the test peer keeps a thread per connection until it is destroyed).
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <atomic>
#include <string>
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

// Answers every request with 200 and closes, one connection after the other: the probes
// it serves come one after the other too.
class AnswerServer : WinsockUser {
public:
    AnswerServer() : listener_(listenOnLoopback(port_)), thread_([this] { serve(); }) {}
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
    int Requests() const { return requests_; }

private:
    void serve() {
        static const std::string response = "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
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
                ::send(client, response.data(), static_cast<int>(response.size()), 0);
                ::shutdown(client, SD_SEND);
            }
            ::closesocket(client);
        }
    }

    int port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    std::thread thread_;
};

// Accepts, reads the request, never answers; closes its end only when the client closes
// its own, so that its share of the process returns to nothing once the clients are gone.
class SilentServer : WinsockUser {
public:
    SilentServer() : listener_(listenOnLoopback(port_)), thread_([this] { serve(); }) {}
    ~SilentServer() {
        stopping_ = true;
        thread_.join();
        ::closesocket(listener_);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int Accepted() const { return accepted_; }
    int Held() const { return held_; }

private:
    void serve() {
        std::vector<WSAPOLLFD> fds{{listener_, POLLRDNORM, 0}};
        char buffer[4096];
        while (!stopping_) {
            if (::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 100) <= 0)
                continue;
            std::vector<WSAPOLLFD> next{fds[0]};
            for (size_t i = 1; i < fds.size(); ++i) {
                if (fds[i].revents & (POLLRDNORM | POLLHUP | POLLERR)) {
                    const int n = ::recv(fds[i].fd, buffer, sizeof buffer, 0);
                    if (n <= 0) {
                        ::closesocket(fds[i].fd);
                        continue;
                    }
                }
                next.push_back({fds[i].fd, POLLRDNORM, 0});
            }
            if (fds[0].revents & POLLRDNORM) {
                SOCKET client = ::accept(listener_, nullptr, nullptr);
                if (client != INVALID_SOCKET) {
                    ++accepted_;
                    next.push_back({client, POLLRDNORM, 0});
                }
            }
            fds = std::move(next);
            held_ = static_cast<int>(fds.size()) - 1;
        }
        for (size_t i = 1; i < fds.size(); ++i)
            ::closesocket(fds[i].fd);
    }

    int port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::atomic<int> held_{0};
    std::thread thread_;
};

} // namespace bench
