#include "platform/udp_socket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>
#include <utility>

namespace lumora {
namespace {

std::string Dotted(const in_addr& address) {
    char buf[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address, buf, sizeof buf) ? std::string(buf) : std::string();
}

// First IPv4 address of this computer's host name; empty when none.
std::string HostNameAddress() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &list) != 0 || !list) return {};
    std::string out;
    for (addrinfo* a = list; a && out.empty(); a = a->ai_next)
        if (a->ai_family == AF_INET) out = Dotted(reinterpret_cast<sockaddr_in*>(a->ai_addr)->sin_addr);
    freeaddrinfo(list);
    return out;
}

}  // namespace

std::string FirstUpIPv4Address(const ifaddrs* list) {
    for (const ifaddrs* i = list; i; i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET) continue;
        if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK)) continue;
        return Dotted(reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr);
    }
    return {};
}

std::string LocalIPv4Address() {
    ifaddrs* list = nullptr;
    std::string out;
    if (getifaddrs(&list) == 0) {
        out = FirstUpIPv4Address(list);
        freeifaddrs(list);
    }
    return out.empty() ? HostNameAddress() : out;
}

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(other.fd_.exchange(-1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
    if (this != &other) {
        Close();
        fd_ = other.fd_.exchange(-1);
    }
    return *this;
}

bool UdpSocket::Create() {
    Close();
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return fd_ >= 0;
}

bool UdpSocket::Bind(uint16_t port, const std::string& address) {
    if (fd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1) return false;
    return ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

uint16_t UdpSocket::LocalPort() const {
    if (fd_ < 0) return 0;
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

int UdpSocket::SetReceiveBuffer(int bytes) {
    if (fd_ < 0) return 0;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
#ifdef SO_RCVBUFFORCE
    // Root may exceed the system's ceiling; harmless when refused.
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes);
#endif
    int granted = 0;
    socklen_t len = sizeof granted;
    ::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &len);
    return granted;
}

bool UdpSocket::SetReceiveTimeout(int milliseconds) {
    if (fd_ < 0) return false;
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) == 0;
}

bool UdpSocket::SetBroadcast(bool on) {
    if (fd_ < 0) return false;
    int v = on ? 1 : 0;
    return ::setsockopt(fd_, SOL_SOCKET, SO_BROADCAST, &v, sizeof v) == 0;
}

long UdpSocket::ReceiveFrom(void* buffer, size_t capacity, char* sourceIp, uint16_t* sourcePort) {
    int fd = fd_;
    if (fd < 0) return -1;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    // MSG_TRUNC makes the call report the datagram's true length, so an
    // oversized datagram is recognised and refused instead of cut silently.
    ssize_t n = ::recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 || static_cast<size_t>(n) > capacity) return -1;
    if (sourceIp) {
        if (!::inet_ntop(AF_INET, &from.sin_addr, sourceIp, INET_ADDRSTRLEN)) sourceIp[0] = '\0';
    }
    if (sourcePort) *sourcePort = ntohs(from.sin_port);
    return static_cast<long>(n);
}

long UdpSocket::Receive(void* buffer, size_t capacity, uint32_t* sourceAddr) {
    int fd = fd_;
    if (fd < 0) return -1;
    sockaddr_in from{};
    socklen_t fromLen = sizeof from;
    ssize_t n = ::recvfrom(fd, buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
    if (n < 0 || static_cast<size_t>(n) > capacity) return -1;
    if (sourceAddr) *sourceAddr = from.sin_addr.s_addr;
    return static_cast<long>(n);
}

int UdpSocket::ReceiveMany(uint8_t* const* buffers, size_t capacity, Datagram* out, int count) {
    int fd = fd_;
    if (fd < 0 || count <= 0) return -1;
    if (count > kMaxBatch) count = kMaxBatch;
    mmsghdr msgs[kMaxBatch];
    iovec iov[kMaxBatch];
    sockaddr_in from[kMaxBatch];
    std::memset(msgs, 0, sizeof(mmsghdr) * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        iov[i].iov_base = buffers[i];
        iov[i].iov_len = capacity;
        msgs[i].msg_hdr.msg_iov = &iov[i];
        msgs[i].msg_hdr.msg_iovlen = 1;
        msgs[i].msg_hdr.msg_name = &from[i];
        msgs[i].msg_hdr.msg_namelen = sizeof from[i];
    }
    int n = ::recvmmsg(fd, msgs, static_cast<unsigned>(count), MSG_WAITFORONE, nullptr);
    if (n <= 0) return -1;
    for (int i = 0; i < n; ++i) {
        const bool cut = (msgs[i].msg_hdr.msg_flags & MSG_TRUNC) != 0;
        out[i].length = cut ? -1 : static_cast<long>(msgs[i].msg_len);
        out[i].sourceAddr = from[i].sin_addr.s_addr;
    }
    return n;
}

void UdpSocket::Shutdown() {
    int fd = fd_;
    if (fd >= 0) ::shutdown(fd, SHUT_RDWR);
}

bool UdpSocket::SendTo(const void* data, size_t length, const std::string& ip, uint16_t port) {
    if (fd_ < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) return false;
    ssize_t n = ::sendto(fd_, data, length, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    return n == static_cast<ssize_t>(length);
}

void UdpSocket::Close() {
    int fd = fd_.exchange(-1);
    if (fd >= 0) {
        // shutdown wakes a thread blocked in recvfrom on Linux; close alone may not.
        ::shutdown(fd, SHUT_RDWR);
        ::close(fd);
    }
}

}  // namespace lumora
