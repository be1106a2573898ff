#include "wl_input_peek.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace winport::detail {

namespace {

// While what waits unread is not input the connection stays readable: the watcher looks again this
// often, until the drawing thread has read it.
constexpr int kLookAgainMs = 2;

}  // namespace

void WlInputPeek::SetInputObjects(uint32_t pointer, uint32_t keyboard)
{
    pointer_.store(pointer, std::memory_order_relaxed);
    keyboard_.store(keyboard, std::memory_order_relaxed);
}

bool WlInputPeek::WaitForInput(int wake)
{
    bool other = false;
    for (;;) {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = other ? poll(&p[1], 1, kLookAgainMs) : poll(p, 2, -1);
        if (ready < 0 && errno != EINTR)
            return false;
        if (p[1].revents != 0)
            return false;
        Seen seen = Look();
        if (seen == Seen::Input)
            return true;
        other = seen == Seen::Other;
    }
}

// Each message starts with the object's id and a word holding its size in the upper half, in the
// host's byte order; a message cut off by the end of what was peeked is left for the next look.
WlInputPeek::Seen WlInputPeek::Look()
{
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 0) < 0)
        return Seen::Nothing;
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return Seen::Input;
    if ((p.revents & POLLIN) == 0)
        return Seen::Nothing;
    unsigned char buffer[16384];  // the watcher and the GUI thread may look at once
    ssize_t n = recv(fd_, buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EINTR ? Seen::Nothing : Seen::Input;
    if (n == 0)
        return Seen::Input;
    const uint32_t pointer = pointer_.load(std::memory_order_relaxed);
    const uint32_t keyboard = keyboard_.load(std::memory_order_relaxed);
    for (size_t at = 0; at + 8 <= static_cast<size_t>(n);) {
        uint32_t header[2];
        std::memcpy(header, buffer + at, sizeof header);
        const uint32_t size = header[1] >> 16;
        if (size < 8)
            return Seen::Input;  // not a message as we know them: let the reader see
        if (header[0] != 0 && (header[0] == pointer || header[0] == keyboard))
            return Seen::Input;
        at += size;
    }
    return Seen::Other;
}

}  // namespace winport::detail
