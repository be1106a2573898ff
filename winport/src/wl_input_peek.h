// Whether a Wayland compositor has sent input, told without reading the connection: the input
// watcher's view of it. Frame callbacks and buffer releases share the connection with input, twice
// a frame per output; lifting the drawing thread for each let it draw ahead of the machine's other
// work. Reading them would take libwayland's lock, which the drawing thread holds at idle priority
// whenever it sends a request, so the watcher peeks at the messages' headers instead: input is a
// message to the seat's pointer or keyboard.
#ifndef WINPORT_WL_INPUT_PEEK_H
#define WINPORT_WL_INPUT_PEEK_H

#include <atomic>
#include <cstdint>

#include "input_watch.h"

namespace winport::detail {

class WlInputPeek : public InputSource {
public:
    explicit WlInputPeek(int fd) : fd_(fd) {}

    // The protocol ids of the seat's pointer and keyboard (0: none), set on the drawing thread.
    void SetInputObjects(uint32_t pointer, uint32_t keyboard);

    bool WaitForInput(int wake) override;
    bool InputPending() override { return Look() == Seen::Input; }

private:
    enum class Seen { Nothing, Other, Input };
    // What waits unread; a connection that failed counts as input, which its reader must learn of.
    Seen Look();

    int fd_;
    std::atomic<uint32_t> pointer_{0};
    std::atomic<uint32_t> keyboard_{0};
};

}  // namespace winport::detail

#endif
