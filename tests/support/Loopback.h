#ifndef VIDODERAVEV_TESTS_LOOPBACK_H
#define VIDODERAVEV_TESTS_LOOPBACK_H

// Sockets on 127.0.0.1 for the tests of the network outputs.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace Test {

inline sockaddr_in Loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    return address;
}

// A socket bound to the port (0: one the system picks, stored into port),
// listening with the backlog when it is a stream socket and backlog >= 0.
inline int BoundSocket(int type, int& port, int backlog = 16)
{
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0), one = 1;
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    if (type == SOCK_STREAM && backlog >= 0)
        ::listen(fd, backlog);
    return fd;
}

inline bool Readable(int fd, int milliseconds)
{
    pollfd state{fd, POLLIN, 0};
    return ::poll(&state, 1, milliseconds) > 0;
}

// A connection from the listener's queue, or -1 after ten seconds.
inline int AcceptOne(int listener) { return Readable(listener, 10000) ? ::accept(listener, nullptr, nullptr) : -1; }

// What the peer sends until it closes or stays quiet for the given time; closes fd.
inline std::string ReadAll(int fd, int quietMilliseconds = 10000)
{
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; Readable(fd, quietMilliseconds) && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    ::close(fd);
    return bytes;
}

} // namespace Test

#endif
