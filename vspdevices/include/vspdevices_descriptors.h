// Sending a descriptor along with a message on a Unix socket (SCM_RIGHTS), and
// taking one: the line-state page to a program, the supervisor's filter to the
// launcher. Header-only, libc only, for the interposition library too.
#ifndef VSPDEVICES_DESCRIPTORS_H
#define VSPDEVICES_DESCRIPTORS_H

#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace vsp {

// Sends size bytes with fd (none when fd < 0); what sendmsg gives.
inline ssize_t sendWithDescriptor(int socket, const void* data, std::size_t size, int fd, int flags)
{
    iovec part{const_cast<void*>(data), size};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = space;
        message.msg_controllen = sizeof space;
        cmsghdr* header = CMSG_FIRSTHDR(&message);
        header->cmsg_level = SOL_SOCKET;
        header->cmsg_type = SCM_RIGHTS;
        header->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    }
    return ::sendmsg(socket, &message, flags | MSG_NOSIGNAL);
}

// Receives up to size bytes and the first descriptor that came with them (*fd, -1
// when none, or when the descriptors did not all fit); every other one is closed.
// What recvmsg gives.
inline ssize_t receiveWithDescriptor(int socket, void* data, std::size_t size, int* fd, int flags)
{
    iovec part{data, size};
    alignas(cmsghdr) char space[CMSG_SPACE(sizeof(int) * 4)];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = space;
    message.msg_controllen = sizeof space;
    *fd = -1;
    const ssize_t got = ::recvmsg(socket, &message, flags | MSG_CMSG_CLOEXEC);
    if (got < 0)
        return got;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS)
            continue;
        const std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int passed;
            std::memcpy(&passed, CMSG_DATA(c) + i * sizeof(int), sizeof passed);
            if (*fd < 0)
                *fd = passed;
            else
                ::close(passed);
        }
    }
    if ((message.msg_flags & MSG_CTRUNC) && *fd >= 0) {
        ::close(*fd);  // some were lost: believe none
        *fd = -1;
    }
    return got;
}

}  // namespace vsp

#endif
