#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <utility>
#include <vector>

// Sockets of one test, closed at its end.
struct TestSockets {
    std::vector<int> fds;
    ~TestSockets()
    {
        for (int fd : fds)
            ::close(fd);
    }

    // Closes one of them before the test ends.
    void close(int fd)
    {
        std::erase(fds, fd);
        ::close(fd);
    }

    // A socket bound to `port` (0: an ephemeral one) of the loopback or the any-address; TCP ones
    // listen. Returns {fd, port}; port 0 when that failed (no IPv6, for one).
    std::pair<int, int> open(int domain, int type, bool loopback, int port = 0, bool v6only = false)
    {
        const int fd = ::socket(domain, type | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return {-1, 0};
        fds.push_back(fd);
        const int flag = v6only;
        if (domain == AF_INET6)
            ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &flag, sizeof flag);
        sockaddr_storage address{};
        address.ss_family = static_cast<sa_family_t>(domain);
        auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
        if (domain == AF_INET) {
            v4->sin_addr.s_addr = htonl(loopback ? INADDR_LOOPBACK : INADDR_ANY);
            v4->sin_port = htons(static_cast<uint16_t>(port));
        } else {
            v6->sin6_addr = loopback ? in6addr_loopback : in6addr_any;
            v6->sin6_port = htons(static_cast<uint16_t>(port));
        }
        socklen_t length = domain == AF_INET6 ? sizeof(sockaddr_in6) : sizeof(sockaddr_in);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            (type == SOCK_STREAM && ::listen(fd, 4) != 0))
            return {fd, 0};
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        return {fd, ntohs(domain == AF_INET6 ? v6->sin6_port : v4->sin_port)};
    }
};
