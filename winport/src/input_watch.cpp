#include "input_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

#include "port.h"

namespace winport::detail {

namespace {

bool InputWaiting()
{
    const Queue &q = Port().queue;
    return !q.input.empty() || !q.posted.empty() || q.quitPosted;
}

}  // namespace

bool InputWatch::Start(int fd)
{
    if (watcher_.joinable())
        return true;
    if (fd < 0 || pipe2(wakePipe_, O_CLOEXEC) != 0)
        return false;
    guiThread_ = static_cast<pid_t>(syscall(SYS_gettid));
    stop_ = false;
    watcher_ = std::thread([this, fd] { Watch(fd); });
    return true;
}

void InputWatch::Stop()
{
    if (!watcher_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    char byte = 0;
    (void)!write(wakePipe_[1], &byte, 1);
    watcher_.join();
    close(wakePipe_[0]);
    close(wakePipe_[1]);
    wakePipe_[0] = wakePipe_[1] = -1;
}

// Runs on the watcher thread: it never reads the connection, it only notices that something
// arrived and lets the GUI thread compete for the processor until it has handled it.
void InputWatch::Watch(int fd)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stop_) {
        lock.unlock();
        pollfd p[2] = {{fd, POLLIN, 0}, {wakePipe_[0], POLLIN, 0}};
        int ready = poll(p, 2, -1);
        lock.lock();
        if (stop_)
            break;
        // Refused once, refused for good: the thread keeps its own priority from here on.
        if (ready > 0 && p[0].revents != 0 && !Lift())
            break;
        if (lifted_)
            wake_.wait_for(lock, std::chrono::milliseconds(100), [this] { return stop_ || !lifted_; });
    }
}

// Lets the GUI thread compete for the processor until the input that came is handled; false when refused.
bool InputWatch::Lift()
{
    // Applied each time, not only when the flag was down: a drop back racing with the watcher can
    // leave the thread at idle priority under a raised flag, and starved there on a busy machine.
    lifted_ = true;
    sched_param param{};
    if (sched_setscheduler(guiThread_, SCHED_OTHER, &param) == 0)
        return true;
    lifted_ = false;
    return false;
}

void InputWatch::DropBack()
{
    // The flag first: at idle priority this thread may not run again for long, and the watcher
    // must not wait on a flag it left raised.
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lifted_ = false;
    }
    wake_.notify_all();
    if (Port().threadPriority == THREAD_PRIORITY_IDLE && Port().idleIsSchedIdle) {
        sched_param param{};
        sched_setscheduler(0, SCHED_IDLE, &param);
    }
}

void InputWatch::Poll()
{
    if (!watcher_.joinable())
        return;
    // Input this thread read from the connection before the watcher woke to it is handled lifted all
    // the same: at idle priority on a busy machine it would wait a second or more. Lifted each time,
    // whatever the flag says: the watcher may have raised it just before this thread's drop back.
    if (InputWaiting())
        Lift();
    // Stay lifted through the quit, so the program also ends promptly.
    else if (lifted_)
        DropBack();
}

}  // namespace winport::detail
