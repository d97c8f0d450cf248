#pragma once
// A thin IPv4 UDP socket over POSIX sockets.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

struct ifaddrs;

namespace lumora {

// The IPv4 address, dotted, of the first interface in list that is up and not
// loopback; empty when there is none.
std::string FirstUpIPv4Address(const ifaddrs* list);
// This computer's address as the operator wants to see it: the first up,
// non-loopback interface's IPv4 address, else the first IPv4 address of the
// host name (on Linux usually 127.0.x.1); empty when neither is known.
std::string LocalIPv4Address();

class UdpSocket {
public:
    UdpSocket() = default;
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;
    UdpSocket(UdpSocket&& other) noexcept;
    UdpSocket& operator=(UdpSocket&& other) noexcept;

    // Creates the socket; false when the system refuses.
    bool Create();
    // Binds to 0.0.0.0 (or address) and port; port 0 lets the system choose.
    bool Bind(uint16_t port, const std::string& address = "0.0.0.0");
    // The port actually bound (useful after binding port 0); 0 on failure.
    uint16_t LocalPort() const;
    // Asks for a receive buffer of bytes; returns the size the system granted.
    int SetReceiveBuffer(int bytes);
    // Receive timeout for ReceiveFrom; 0 waits for ever.
    bool SetReceiveTimeout(int milliseconds);
    bool SetBroadcast(bool on);

    // Receives one datagram. Returns its length, or -1 on error, timeout, a
    // closed socket or a datagram longer than capacity (truncated datagrams
    // are never handed on as if whole). sourceIp gets the sender's dotted
    // address (at most 15 characters plus NUL), when not null.
    long ReceiveFrom(void* buffer, size_t capacity, char* sourceIp = nullptr, uint16_t* sourcePort = nullptr);
    // As ReceiveFrom, but gives the sender's IPv4 address as a number in
    // network byte order, leaving the text form to callers that need it.
    long Receive(void* buffer, size_t capacity, uint32_t* sourceAddr);
    // One datagram of a ReceiveMany batch: its length, or -1 when it was
    // longer than the buffer (never handed on cut); the sender's IPv4 address
    // in network byte order.
    struct Datagram {
        long length;
        uint32_t sourceAddr;
    };
    // Waits for at least one datagram, then takes up to count of those already
    // waiting, datagram i into buffers[i] (capacity bytes each). Returns how
    // many were taken, or -1 on error, timeout or a closed socket. count is at
    // most kMaxBatch.
    static constexpr int kMaxBatch = 64;
    int ReceiveMany(uint8_t* const* buffers, size_t capacity, Datagram* out, int count);
    // Sends one datagram to an IPv4 dotted address; false on error.
    bool SendTo(const void* data, size_t length, const std::string& ip, uint16_t port);

    // Wakes a thread blocked in ReceiveFrom (it returns at once) but keeps the
    // descriptor, so that it cannot be reused while that thread still holds
    // it; Close() afterwards releases it.
    void Shutdown();
    // Closing from another thread makes a pending ReceiveFrom return -1.
    void Close();
    bool IsOpen() const { return fd_.load() >= 0; }
    int Handle() const { return fd_.load(); }

private:
    // Atomic because Close() may run on another thread than ReceiveFrom().
    std::atomic<int> fd_{-1};
};

}  // namespace lumora
