// The input watcher's side of a Wayland connection. Frame callbacks and buffer releases come on
// the same connection as input, 120 times a second per output: lifting the drawing thread for each
// would let it draw ahead of the machine's other work. So the watcher reads the connection itself;
// libwayland sorts what comes into the seat's queue and the rest, only the former lifts the
// drawing thread, and the rest waits for it at its own pace.
#ifndef WINPORT_WL_INPUT_READER_H
#define WINPORT_WL_INPUT_READER_H

#include <wayland-client.h>

#include "input_watch.h"

namespace winport::detail {

class WlInputReader : public InputSource {
public:
    // Reads display for the drawing thread; input lands in `input`, the seat's queue.
    WlInputReader(wl_display *display, wl_event_queue *input);
    ~WlInputReader() override;
    WlInputReader(const WlInputReader &) = delete;
    WlInputReader &operator=(const WlInputReader &) = delete;

    bool WaitForInput(int wake) override;
    bool InputPending() override;
    bool Reads() const override { return true; }
    bool Usable() const { return none_ != nullptr && read_ >= 0; }

    // Readable once something was read (or the connection failed) since the last Drain: what the
    // drawing thread waits on instead of the connection.
    int ReadFd() const { return read_; }
    void Drain();

private:
    void Signal();

    wl_display *display_;
    wl_event_queue *input_;
    wl_event_queue *none_;  // never gets an event: preparing on it never fails
    int read_ = -1;
    bool failed_ = false;  // the connection failed: nothing more to read
};

}  // namespace winport::detail

#endif
