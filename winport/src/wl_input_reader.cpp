#include "wl_input_reader.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

namespace winport::detail {

WlInputReader::WlInputReader(wl_display *display, wl_event_queue *input)
    : display_(display), input_(input), none_(wl_display_create_queue(display)),
      read_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

WlInputReader::~WlInputReader()
{
    if (none_ != nullptr)
        wl_event_queue_destroy(none_);
    if (read_ >= 0)
        close(read_);
}

void WlInputReader::Signal()
{
    uint64_t one = 1;
    (void)!write(read_, &one, sizeof one);
}

void WlInputReader::Drain()
{
    uint64_t count = 0;
    (void)!read(read_, &count, sizeof count);
}

// Prepared on a queue that stays empty, so that input still waiting for the drawing thread does not
// keep it from reading on: it blocks only in poll.
bool WlInputReader::WaitForInput(int wake)
{
    for (;;) {
        if (failed_) {
            pollfd p{wake, POLLIN, 0};
            poll(&p, 1, -1);
            return false;
        }
        if (wl_display_prepare_read_queue(display_, none_) != 0)
            return false;
        pollfd p[2] = {{wl_display_get_fd(display_), POLLIN, 0}, {wake, POLLIN, 0}};
        int ready = poll(p, 2, -1);
        if (ready < 0 && errno == EINTR) {
            wl_display_cancel_read(display_);
            continue;
        }
        if (ready <= 0 || p[1].revents != 0) {
            wl_display_cancel_read(display_);
            return false;
        }
        // A connection that failed is the drawing thread's to report, promptly.
        if (wl_display_read_events(display_) < 0) {
            failed_ = true;
            Signal();
            return true;
        }
        Signal();
        if (InputPending())
            return true;
    }
}

bool WlInputReader::InputPending()
{
    if (wl_display_prepare_read_queue(display_, input_) != 0)
        return true;
    wl_display_cancel_read(display_);
    return false;
}

}  // namespace winport::detail
