// Windows lifts an idle-priority thread that receives input; this does the same for any presenter,
// so a program ends promptly on a busy machine. A watcher thread waits on the display connection's
// descriptor and lets the GUI thread compete for the processor while input is waiting; the GUI
// thread drops back once it has handled it. Only the GUI thread's scheduling changes.
#ifndef WINPORT_INPUT_WATCH_H
#define WINPORT_INPUT_WATCH_H

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace winport::detail {

class InputWatch {
public:
    InputWatch() = default;
    InputWatch(const InputWatch &) = delete;
    InputWatch &operator=(const InputWatch &) = delete;
    ~InputWatch() { Stop(); }

    // Watches fd (never reading it) for the calling thread, the GUI thread; false if it cannot.
    bool Start(int fd);
    void Stop();
    // Whether the GUI thread is lifted now: input is waiting, to be taken at once.
    bool Lifted() const { return lifted_; }
    // On the GUI thread after it took input in: lifts it while input waits in its queue (also input
    // it read before the watcher woke to it), drops it back once that is handled.
    void Poll();

private:
    void Watch(int fd);
    bool Lift();
    void DropBack();

    pid_t guiThread_ = 0;
    std::thread watcher_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    int wakePipe_[2] = {-1, -1};  // ends the watcher's wait at once
    std::atomic<bool> lifted_{false};
};

}  // namespace winport::detail

#endif
