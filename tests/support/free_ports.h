#pragma once
// Ports nobody uses at this moment, for a listener the test starts or lets a
// program start. The system hands them out, so tests running side by side do
// not meet.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace lumora::test {

inline uint16_t FreePort(int type) {
    const int fd = ::socket(AF_INET, type, 0);
    if (fd < 0) return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

inline uint16_t FreeUdpPort() { return FreePort(SOCK_DGRAM); }
inline uint16_t FreeTcpPort() { return FreePort(SOCK_STREAM); }

}  // namespace lumora::test
